#pragma once

#include "platform/Result.hpp"

namespace qz {

enum class CryptoError {
    invalidKeyLength,  // key is not 32 bytes
    invalidIvLength,   // iv is not 16 bytes
    invalidInput,      // ciphertext length is not a multiple of the block size
    badPadding,        // PKCS7 padding check failed on decryption
    backendFailure,    // the cipher library reported an error
};

const char* describe(CryptoError error);

// AES with a 256-bit key and PKCS7 padding, over OpenSSL EVP. Thread-safe.
class AES256 {
  public:
    static constexpr size_t keyLength = 32;
    static constexpr size_t ivLength = 16;
    static constexpr size_t blockLength = 16;

    static Result<Data, CryptoError> encryptCBC(const Data& key, const Data& iv, const Data& data);
    static Result<Data, CryptoError> decryptCBC(const Data& key, const Data& iv, const Data& data);
    static Result<Data, CryptoError> encryptECB(const Data& key, const Data& data);
    static Result<Data, CryptoError> decryptECB(const Data& key, const Data& data);

    // Length of the ciphertext for `plainLength` bytes of input.
    static constexpr size_t encryptedLength(size_t plainLength) {
        return (plainLength / blockLength + 1) * blockLength;
    }
};

}  // namespace qz
