#include "platform/Crypto.hpp"

#include <openssl/evp.h>

#include <cstring>

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

AES256CBCEncryptor::AES256CBCEncryptor(const Data& key, const Data& iv) {
    const EVP_CIPHER* c = cipher(true);
    if (!c || key.size() != AES256::keyLength || iv.size() != AES256::ivLength) return;
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    if (!ctx) return;
    if (EVP_EncryptInit_ex2(ctx, c, key.data(), iv.data(), nullptr) != 1) {
        EVP_CIPHER_CTX_free(ctx);
        return;
    }
    std::memcpy(iv_, iv.data(), sizeof iv_);
    ctx_ = ctx;
}

AES256CBCEncryptor::~AES256CBCEncryptor() {
    EVP_CIPHER_CTX_free(static_cast<EVP_CIPHER_CTX*>(ctx_));
}

size_t AES256CBCEncryptor::encrypt(std::string_view first, std::string_view second, Data& out,
                                   size_t at) {
    auto* ctx = static_cast<EVP_CIPHER_CTX*>(ctx_);
    const size_t total = first.size() + second.size();
    if (!ctx || total > static_cast<size_t>(INT32_MAX) - AES256::blockLength) return 0;
    // A new message from the IV; the key schedule stays.
    if (EVP_EncryptInit_ex2(ctx, nullptr, nullptr, iv_, nullptr) != 1) return 0;
    out.resize(at + total + AES256::blockLength);
    uint8_t* dst = out.data() + at;
    int written = 0;
    for (std::string_view part : {first, second}) {
        if (part.empty()) continue;
        int n = 0;
        if (EVP_EncryptUpdate(ctx, dst + written, &n,
                              reinterpret_cast<const unsigned char*>(part.data()),
                              static_cast<int>(part.size())) != 1)
            return 0;
        written += n;
    }
    int last = 0;
    if (EVP_EncryptFinal_ex(ctx, dst + written, &last) != 1) return 0;
    const size_t n = static_cast<size_t>(written + last);
    out.resize(at + n);
    return n;
}

}  // namespace qz
