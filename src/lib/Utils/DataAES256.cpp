#include "lib/Utils/DataAES256.hpp"

#include <algorithm>
#include <array>
#include <cstdio>

#include "platform/Crypto.hpp"

namespace qz {

namespace {

constexpr std::size_t kKeySize = 32;

// Status text of the system-log line for each failure of the cipher.
const char* statusText(CryptoError error) {
    switch (error) {
        case CryptoError::invalidKeyLength:
        case CryptoError::invalidIvLength:
            return "Param error";
        case CryptoError::invalidInput:
            return "Alignment error";
        case CryptoError::badPadding:
            return "Decode error";
        case CryptoError::backendFailure:
            break;
    }
    return "Unknown error";
}

}  // namespace

std::optional<Data> DataAES256::makeCryptedVersionWithKeyData(const Data& data,
                                                              const uint8_t* keyData,
                                                              int32_t length, bool decrypt) {
    Data key(kKeySize, 0);
    if (keyData && length > 0) {
        std::copy_n(keyData, std::min<std::size_t>(kKeySize, static_cast<std::size_t>(length)),
                    key.begin());
    }
    auto result = decrypt ? AES256::decryptECB(key, data) : AES256::encryptECB(key, data);
    if (result) return std::move(*result);
    std::fprintf(stderr, "Error: Could not %s data: %s\n", decrypt ? "decrypt" : "encrypt",
                 statusText(result.error()));
    return std::nullopt;
}

std::optional<Data> DataAES256::decryptedWithKey(const Data& data, const Data& key) {
    return makeCryptedVersionWithKeyData(data, key.data(), static_cast<int32_t>(key.size()), true);
}

std::optional<Data> DataAES256::encryptedWithKey(const Data& data, const Data& key) {
    return makeCryptedVersionWithKeyData(data, key.data(), static_cast<int32_t>(key.size()), false);
}

Data DataAES256::definitionFileKey() {
    return Data(kDefinitionFileKey.begin(), kDefinitionFileKey.end());
}

}  // namespace qz
