#include "api/Communication/SensorTextDecoder.hpp"

#include "api/Utils/StringXor.hpp"
#include "platform/Text.hpp"

namespace qz {

namespace {

// The bytes of the UTF-8 sequence that `lead` begins; 0 for a byte that begins none.
size_t sequenceLength(uint8_t lead) {
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

// Where the character that `text` ends in the middle of begins, or npos when it ends whole.
size_t incompleteTail(const std::string& text) {
    const size_t size = text.size();
    for (size_t back = 1; back <= 3 && back <= size; ++back) {
        const auto byte = static_cast<uint8_t>(text[size - back]);
        if ((byte & 0xC0) == 0x80) continue;  // a continuation byte: look further back
        const size_t length = sequenceLength(byte);
        return length > back ? size - back : std::string::npos;
    }
    return std::string::npos;
}

}  // namespace

SensorTextDecoder::Text SensorTextDecoder::decode(const Data& chunk, bool scrambled) {
    std::string plain(chunk.begin(), chunk.end());
    if (scrambled) plain = xorString(plain);
    std::lock_guard lock(mutex_);
    std::string text = std::move(pending_) + plain;
    pending_.clear();
    if (plain.find('>') == std::string::npos) {
        const size_t cut = incompleteTail(text);
        if (cut != std::string::npos) {
            pending_ = text.substr(cut);
            text.resize(cut);
        }
    }
    if (text::isValidUTF8(text)) return {std::move(text), false};
    return {text::sanitizeUTF8(text), true};
}

void SensorTextDecoder::reset() {
    std::lock_guard lock(mutex_);
    pending_.clear();
}

}  // namespace qz
