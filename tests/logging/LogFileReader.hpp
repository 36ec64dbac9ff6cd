#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "api/Logging/AES256Encryption.hpp"
#include "api/Logging/FileLog.hpp"
#include "api/Logging/Log.hpp"
#include "platform/Result.hpp"
#include "support/TestSupport.hpp"

namespace qz::testing {

using testsupport::readFileBytes;
using testsupport::runCommand;
using testsupport::writeFileBytes;

// One record of a log file or archive.
struct LogRecord {
    size_t length = 0;  // the length field
    Data ciphertext;
};

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

// Decrypts one ciphertext with the openssl command-line tool.
inline std::string opensslDecrypt(const Data& ciphertext, const std::string& key,
                                  const std::string& iv, const std::filesystem::path& scratch) {
    writeFileBytes(scratch, ciphertext);
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

// The lines of the library log's current file, decrypted in process; records that do not
// decrypt are left out.
inline std::vector<std::string> libraryLogLines() {
    auto log = Log::fileLogger();
    std::vector<std::string> out;
    for (const auto& r : parseRecords(readFileBytes(log->currentPath()))) {
        auto plain = AES256Encryption::originalDataWithHexKey(r.ciphertext, log->key(), log->iv());
        if (plain) out.emplace_back(plain->begin(), plain->end());
    }
    return out;
}

// libraryLogLines() joined (a long line is stored in several records), carriage returns
// dropped.
inline std::string libraryLogText() {
    std::string text;
    for (const auto& line : libraryLogLines()) text += line;
    std::erase(text, '\r');
    return text;
}

}  // namespace qz::testing
