#include "platform/Crypto.hpp"

#include <openssl/evp.h>

namespace qz {

const char* describe(CryptoError error) {
    switch (error) {
        case CryptoError::invalidKeyLength:
            return "invalidKeyLength";
        case CryptoError::invalidIvLength:
            return "invalidIvLength";
        case CryptoError::invalidInput:
            return "invalidInput";
        case CryptoError::badPadding:
            return "badPadding";
        case CryptoError::backendFailure:
            return "backendFailure";
    }
    return "unknown";
}

namespace {

// Ciphers fetched once (fetching per call is costly in OpenSSL 3); deliberately leaked.
const EVP_CIPHER* cipher(bool cbc) {
    static const EVP_CIPHER* cbcCipher = EVP_CIPHER_fetch(nullptr, "AES-256-CBC", nullptr);
    static const EVP_CIPHER* ecbCipher = EVP_CIPHER_fetch(nullptr, "AES-256-ECB", nullptr);
    return cbc ? cbcCipher : ecbCipher;
}

// One cipher context per thread, reused across calls.
struct ContextHolder {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    ~ContextHolder() { EVP_CIPHER_CTX_free(ctx); }
};

EVP_CIPHER_CTX* threadContext() {
    thread_local ContextHolder holder;
    return holder.ctx;
}

Result<Data, CryptoError> run(bool encrypt, bool cbc, const Data& key, const Data* iv,
                              const Data& input) {
    if (key.size() != AES256::keyLength) return std::unexpected(CryptoError::invalidKeyLength);
    if (cbc && (!iv || iv->size() != AES256::ivLength))
        return std::unexpected(CryptoError::invalidIvLength);
    if (!encrypt && input.size() % AES256::blockLength != 0)
        return std::unexpected(CryptoError::invalidInput);
    if (!encrypt && input.empty()) return std::unexpected(CryptoError::badPadding);

    const EVP_CIPHER* c = cipher(cbc);
    EVP_CIPHER_CTX* ctx = threadContext();
    if (!c || !ctx) return std::unexpected(CryptoError::backendFailure);

    auto fail = [ctx](CryptoError e) {
        EVP_CIPHER_CTX_reset(ctx);
        return std::unexpected(e);
    };
    if (EVP_CipherInit_ex2(ctx, c, key.data(), cbc ? iv->data() : nullptr, encrypt ? 1 : 0,
                           nullptr) != 1)
        return fail(CryptoError::backendFailure);

    Data out(input.size() + AES256::blockLength);
    int written = 0;
    if (!input.empty() && EVP_CipherUpdate(ctx, out.data(), &written, input.data(),
                                           static_cast<int>(input.size())) != 1)
        return fail(CryptoError::backendFailure);
    int last = 0;
    if (EVP_CipherFinal_ex(ctx, out.data() + written, &last) != 1)
        return fail(encrypt ? CryptoError::backendFailure : CryptoError::badPadding);
    out.resize(static_cast<size_t>(written + last));
    return out;
}

}  // namespace

Result<Data, CryptoError> AES256::encryptCBC(const Data& key, const Data& iv, const Data& data) {
    return run(true, true, key, &iv, data);
}

Result<Data, CryptoError> AES256::decryptCBC(const Data& key, const Data& iv, const Data& data) {
    return run(false, true, key, &iv, data);
}

Result<Data, CryptoError> AES256::encryptECB(const Data& key, const Data& data) {
    return run(true, false, key, nullptr, data);
}

Result<Data, CryptoError> AES256::decryptECB(const Data& key, const Data& data) {
    return run(false, false, key, nullptr, data);
}

}  // namespace qz
