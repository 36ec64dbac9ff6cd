#include "platform/UUID.hpp"

#include <openssl/rand.h>

#include <random>

namespace qz {

UUID UUID::random() {
    Bytes b{};
    if (RAND_bytes(b.data(), static_cast<int>(b.size())) != 1) {
        std::random_device rd;
        for (auto& byte : b) byte = static_cast<uint8_t>(rd());
    }
    b[6] = static_cast<uint8_t>((b[6] & 0x0F) | 0x40);  // version 4
    b[8] = static_cast<uint8_t>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
    return UUID(b);
}

std::optional<UUID> UUID::fromString(const std::string& text) {
    if (text.size() != 36) return std::nullopt;
    Bytes b{};
    size_t byte = 0;
    for (size_t i = 0; i < text.size();) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i] != '-') return std::nullopt;
            ++i;
            continue;
        }
        auto hex = [](char c) -> int {
            if (c >= '0' && c <= '9') return c - '0';
            if (c >= 'a' && c <= 'f') return c - 'a' + 10;
            if (c >= 'A' && c <= 'F') return c - 'A' + 10;
            return -1;
        };
        int hi = hex(text[i]), lo = hex(text[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        b[byte++] = static_cast<uint8_t>(hi * 16 + lo);
        i += 2;
    }
    return UUID(b);
}

std::string UUID::uuidString() const {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    out.reserve(36);
    for (size_t i = 0; i < bytes_.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
        out += digits[bytes_[i] >> 4];
        out += digits[bytes_[i] & 0x0F];
    }
    return out;
}

}  // namespace qz

size_t std::hash<qz::UUID>::operator()(const qz::UUID& uuid) const noexcept {
    size_t h = 1469598103934665603ull;
    for (auto b : uuid.bytes()) h = (h ^ b) * 1099511628211ull;
    return h;
}
