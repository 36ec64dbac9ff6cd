#include "api/Logging/AES256Encryption.hpp"

#include <algorithm>
#include <string>

#include "platform/Crypto.hpp"

namespace qz {

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

Data keyBytes(std::string_view hexKey) {
    Data k = AES256Encryption::fillDataArray(33, hexKey);
    k.resize(AES256::keyLength);
    return k;
}

Data ivBytes(std::string_view hexIV) {
    Data v = AES256Encryption::fillDataArray(17, hexIV);
    v.resize(AES256::ivLength);
    return v;
}

}  // namespace

Data AES256Encryption::dataFromHexString(std::string_view hex) {
    std::string s(hex);
    std::transform(s.begin(), s.end(), s.begin(), [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    });
    Data out;
    out.reserve(s.size() / 2);
    size_t i = 0;
    while (s.size() > 0 && i < s.size() - 1) {
        int hi = hexDigit(s[i]);
        if (hi < 0) {
            ++i;
            continue;
        }
        int lo = hexDigit(s[i + 1]);
        out.push_back(static_cast<uint8_t>(lo < 0 ? hi : hi * 16 + lo));
        i += 2;
    }
    return out;
}

Data AES256Encryption::fillDataArray(size_t length, std::string_view hex) {
    Data decoded = dataFromHexString(hex);
    Data out(length + 1, 0);
    std::copy_n(decoded.begin(), std::min(decoded.size(), out.size()), out.begin());
    return out;
}

std::optional<Data> AES256Encryption::encryptedDataWithHexKey(const Data& data,
                                                              std::string_view hexKey,
                                                              std::string_view hexIV) {
    if (AES256::encryptedLength(data.size()) > kMaxCiphertext) return std::nullopt;
    auto cipher = AES256::encryptCBC(keyBytes(hexKey), ivBytes(hexIV), data);
    if (!cipher || cipher->size() > kMaxCiphertext) return std::nullopt;
    const size_t n = cipher->size();
    Data record;
    record.reserve(n + 3);
    record.push_back(kRecordMarker);
    record.push_back(static_cast<uint8_t>((n >> 8) & 0xFF));
    record.push_back(static_cast<uint8_t>(n & 0xFF));
    record.insert(record.end(), cipher->begin(), cipher->end());
    return record;
}

std::optional<Data> AES256Encryption::originalDataWithHexKey(const Data& ciphertext,
                                                             std::string_view hexKey,
                                                             std::string_view hexIV) {
    auto plain = AES256::decryptCBC(keyBytes(hexKey), ivBytes(hexIV), ciphertext);
    if (!plain) return std::nullopt;
    return std::move(*plain);
}

AES256Encryption::RecordEncryptor::RecordEncryptor(std::string_view hexKey, std::string_view hexIV)
    : cipher_(std::make_unique<AES256CBCEncryptor>(keyBytes(hexKey), ivBytes(hexIV))) {}

AES256Encryption::RecordEncryptor::~RecordEncryptor() = default;

bool AES256Encryption::RecordEncryptor::encrypt(std::string_view text, std::string_view suffix,
                                                Data& record) {
    if (AES256::encryptedLength(text.size() + suffix.size()) > kMaxCiphertext) return false;
    const size_t n = cipher_->encrypt(text, suffix, record, 3);
    if (n == 0 || n > kMaxCiphertext) return false;
    record[0] = kRecordMarker;
    record[1] = static_cast<uint8_t>((n >> 8) & 0xFF);
    record[2] = static_cast<uint8_t>(n & 0xFF);
    return true;
}

}  // namespace qz
