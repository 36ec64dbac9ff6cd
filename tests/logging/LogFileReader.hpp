#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/Result.hpp"

namespace qz::testing {

// One record of a log file or archive.
struct LogRecord {
    size_t length = 0;  // the length field
    Data ciphertext;
};

inline Data readFileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Splits bytes into records; `rest` receives what is left after the last
// complete record (plain failure texts, if any).
inline std::vector<LogRecord> parseRecords(const Data& bytes, Data* rest = nullptr) {
    std::vector<LogRecord> out;
    size_t i = 0;
    while (i + 3 <= bytes.size() && bytes[i] == 0xBD) {
        size_t n = (size_t{bytes[i + 1]} << 8) | bytes[i + 2];
        if (i + 3 + n > bytes.size()) break;
        out.push_back({n, Data(bytes.begin() + i + 3, bytes.begin() + i + 3 + n)});
        i += 3 + n;
    }
    if (rest) *rest = Data(bytes.begin() + i, bytes.end());
    return out;
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

// Decrypts one ciphertext with the openssl command-line tool.
inline std::string opensslDecrypt(const Data& ciphertext, const std::string& key,
                                  const std::string& iv, const std::filesystem::path& scratch) {
    {
        std::ofstream f(scratch, std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char*>(ciphertext.data()),
                static_cast<std::streamsize>(ciphertext.size()));
    }
    int status = 0;
    std::string out = runCommand("openssl enc -d -aes-256-cbc -K " + key + " -iv " + iv + " -in '" +
                                     scratch.string() + "' 2>/dev/null",
                                 &status);
    return status == 0 ? out : "<openssl failed>";
}

// Every record's plaintext, decrypted by openssl.
inline std::vector<std::string> decryptAll(const Data& bytes, const std::string& key,
                                           const std::string& iv,
                                           const std::filesystem::path& scratch) {
    std::vector<std::string> out;
    for (const auto& r : parseRecords(bytes))
        out.push_back(opensslDecrypt(r.ciphertext, key, iv, scratch));
    return out;
}

}  // namespace qz::testing
