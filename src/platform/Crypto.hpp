#pragma once

#include <string_view>

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

// AES-256-CBC encryption (PKCS7 padding) with a key schedule set up once, for many short
// messages under one key and IV. Each message starts again from the IV. Not thread-safe: one
// user at a time.
class AES256CBCEncryptor {
  public:
    // Unusable (valid() false) when the key is not 32 bytes, the IV not 16, or the cipher
    // library fails.
    AES256CBCEncryptor(const Data& key, const Data& iv);
    ~AES256CBCEncryptor();
    AES256CBCEncryptor(const AES256CBCEncryptor&) = delete;
    AES256CBCEncryptor& operator=(const AES256CBCEncryptor&) = delete;

    bool valid() const { return ctx_ != nullptr; }

    // The ciphertext of first + second (read as one message) written to `out` from offset
    // `at` on (`out` is resized to fit); its length, or 0 when encryption fails.
    size_t encrypt(std::string_view first, std::string_view second, Data& out, size_t at);

  private:
    bool start(const Data& key);

    void* ctx_ = nullptr;  // EVP_CIPHER_CTX, padding off, chaining on from the last message
    uint8_t iv_[AES256::ivLength] = {};
    // The chaining value after the last message, and the block that brings any chaining value
    // c back to the IV: encrypting rewind_ ^ c gives the IV (rewind_ is the IV decrypted).
    uint8_t chain_[AES256::blockLength] = {};
    uint8_t rewind_[AES256::blockLength] = {};
    Data key_;
};

}  // namespace qz
