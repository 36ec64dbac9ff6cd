#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/Result.hpp"

namespace qz {

// AES-256-ECB with PKCS7 padding over a whole buffer, the cipher of the definition files.
// The key is zero-padded (or cut) to 32 bytes. Failures write one line to the system log
// (stderr) and answer nullopt.
struct DataAES256 {
    // Key text of the definition files (used as its ASCII bytes).
    static constexpr std::string_view kDefinitionFileKey = "Quillmarsh";

    static std::optional<Data> decryptedWithKey(const Data& data, const Data& key);
    static std::optional<Data> encryptedWithKey(const Data& data, const Data& key);
    static std::optional<Data> makeCryptedVersionWithKeyData(const Data& data,
                                                             const uint8_t* keyData, int32_t length,
                                                             bool decrypt);

    // The definition-file key text as key bytes.
    static Data definitionFileKey();
};

}  // namespace qz
