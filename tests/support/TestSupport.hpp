#pragma once

#include <cstdio>
#include <cstdlib>
#include <expected>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <system_error>

#include "platform/FileSystem.hpp"
#include "platform/Result.hpp"

// Helpers shared by the test suites: files, bytes and shell commands.
namespace qz::testsupport {

// The error `r` holds, or nothing when it holds a value: `EXPECT_EQ(errorOf(r), E::x)` fails on
// a success (printed "(nullopt)") instead of reading an error that is not there.
template <class T, class E>
std::optional<E> errorOf(const std::expected<T, E>& r) {
    if (r) return std::nullopt;
    return r.error();
}

inline Data readFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Data(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFileBytes(const std::filesystem::path& path, const Data& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
}

inline Data bytes(const std::string& s) {
    return Data(s.begin(), s.end());
}

inline std::string text(const Data& data) {
    return std::string(data.begin(), data.end());
}

inline void writeText(const std::filesystem::path& path, const std::string& text) {
    writeFileBytes(path, bytes(text));
}

// Lower-case hexadecimal, two digits a byte.
inline std::string hex(const Data& data) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (auto b : data) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

// Runs `command` through the shell; true when it exits with status 0.
inline bool run(const std::string& command) {
    return std::system(command.c_str()) == 0;
}

// Runs a shell command and returns its standard output; `status` gets its exit code.
inline std::string runCommand(const std::string& command, int* status = nullptr) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
    int rc = ::pclose(pipe);
    if (status) *status = rc;
    return out;
}

// A fresh folder under the system's temporary folder, removed afterwards.
class TempDir {
  public:
    explicit TempDir(const std::string& prefix = "qz-test")
        : path_(Paths::makeUniqueDirectory(prefix).value()) {}
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

}  // namespace qz::testsupport
