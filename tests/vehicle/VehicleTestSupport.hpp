#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "lib/Utils/DataAES256.hpp"
#include "platform/FileSystem.hpp"
#include "platform/Result.hpp"

namespace qz::vehicletest {

inline void writeBytes(const std::filesystem::path& path, const Data& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
}

inline void writeText(const std::filesystem::path& path, const std::string& text) {
    writeBytes(path, Data(text.begin(), text.end()));
}

inline Data readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Data(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::string text(const Data& data) {
    return std::string(data.begin(), data.end());
}

inline bool run(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

inline std::string hex(const Data& data) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (auto b : data) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

// Writes `plain` encrypted as a definition file.
inline void writeDefinitionFile(const std::filesystem::path& path, const std::string& plain) {
    auto encrypted = DataAES256::encryptedWithKey(Data(plain.begin(), plain.end()),
                                                  DataAES256::definitionFileKey());
    writeBytes(path, *encrypted);
}

// A fresh folder under the system's temporary folder, removed afterwards.
class TempDir {
  public:
    TempDir() : path_(*Paths::makeUniqueDirectory("qz-vehicle-test")) {}
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

}  // namespace qz::vehicletest
