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
    if (key.size() != AES256::keyLength || iv.size() != AES256::ivLength) return;
    std::memcpy(iv_, iv.data(), sizeof iv_);
    // The IV decrypted (one ECB block): the start of every rewinding block.
    EVP_CIPHER_CTX* ecb = EVP_CIPHER_CTX_new();
    int n = 0;
    const bool ok =
        ecb && EVP_DecryptInit_ex2(ecb, cipher(false), key.data(), nullptr, nullptr) == 1 &&
        EVP_CIPHER_CTX_set_padding(ecb, 0) == 1 &&
        EVP_DecryptUpdate(ecb, rewind_, &n, iv_, sizeof iv_) == 1 && n == sizeof rewind_;
    EVP_CIPHER_CTX_free(ecb);
    if (!ok) return;
    key_ = key;
    start(key_);
}

AES256CBCEncryptor::~AES256CBCEncryptor() {
    EVP_CIPHER_CTX_free(static_cast<EVP_CIPHER_CTX*>(ctx_));
}

bool AES256CBCEncryptor::start(const Data& key) {
    EVP_CIPHER_CTX_free(static_cast<EVP_CIPHER_CTX*>(ctx_));
    ctx_ = nullptr;
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    if (!ctx || EVP_EncryptInit_ex2(ctx, cipher(true), key.data(), iv_, nullptr) != 1 ||
        EVP_CIPHER_CTX_set_padding(ctx, 0) != 1) {
        EVP_CIPHER_CTX_free(ctx);
        return false;
    }
    std::memcpy(chain_, iv_, sizeof chain_);
    ctx_ = ctx;
    return true;
}

size_t AES256CBCEncryptor::encrypt(std::string_view first, std::string_view second, Data& out,
                                   size_t at) {
    auto* ctx = static_cast<EVP_CIPHER_CTX*>(ctx_);
    const size_t total = first.size() + second.size();
    if (!ctx || total > static_cast<size_t>(INT32_MAX) - 2 * AES256::blockLength) return 0;
    // PKCS7 padding, done here: the context runs without it and is never finished, so it
    // needs no new set-up (costly in OpenSSL 3) between messages.
    const size_t padding = AES256::blockLength - total % AES256::blockLength;
    uint8_t pad[AES256::blockLength];
    std::memset(pad, static_cast<int>(padding), sizeof pad);
    out.resize(at + total + padding);
    uint8_t* dst = out.data() + at;
    int written = 0;
    bool ok = true;
    // Each message starts from the IV: one block whose ciphertext is the IV, thrown away,
    // sets the chaining value back.
    if (std::memcmp(chain_, iv_, sizeof chain_) != 0) {
        uint8_t block[AES256::blockLength], ignored[2 * AES256::blockLength];
        for (size_t k = 0; k < sizeof block; ++k) block[k] = rewind_[k] ^ chain_[k];
        int n = 0;
        ok = EVP_EncryptUpdate(ctx, ignored, &n, block, sizeof block) == 1 &&
             n == static_cast<int>(sizeof block);
    }
    const std::string_view parts[] = {
        first, second, std::string_view(reinterpret_cast<const char*>(pad), padding)};
    for (std::string_view part : parts) {
        if (!ok || part.empty()) continue;
        int n = 0;
        ok = EVP_EncryptUpdate(ctx, dst + written, &n,
                               reinterpret_cast<const unsigned char*>(part.data()),
                               static_cast<int>(part.size())) == 1;
        written += n;
    }
    if (!ok || static_cast<size_t>(written) != total + padding) {
        start(key_);  // whatever state the failure left, the next message starts afresh
        return 0;
    }
    std::memcpy(chain_, dst + written - AES256::blockLength, sizeof chain_);
    return static_cast<size_t>(written);
}

}  // namespace qz
