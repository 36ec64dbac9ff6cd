#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/Result.hpp"

namespace qz::platformtest {

inline void writeBytes(const std::filesystem::path& path, const Data& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
}

inline Data readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Data(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs `command` through the shell; true when it exits with status 0.
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

inline Data bytes(const std::string& s) {
    return Data(s.begin(), s.end());
}

}  // namespace qz::platformtest
