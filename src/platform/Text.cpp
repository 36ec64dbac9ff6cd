#include "platform/Text.hpp"

#include <unicode/ubrk.h>
#include <unicode/ustring.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <climits>

namespace qz::text {

namespace {

// Byte offsets of character boundaries in ASCII text: every byte is one character
// except that "\r\n" is one.
template <class Fn>
void asciiBoundaries(std::string_view s, Fn&& fn) {
    for (size_t i = 0; i < s.size();) {
        size_t next = (s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n') ? i + 2 : i + 1;
        fn(next);
        i = next;
    }
}

// One character-break iterator per thread (opening one is costly).
struct BreakIterator {
    UBreakIterator* it = nullptr;
    BreakIterator() {
        UErrorCode status = U_ZERO_ERROR;
        it = ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &status);
        if (U_FAILURE(status)) it = nullptr;
    }
    ~BreakIterator() {
        if (it) ubrk_close(it);
    }
};

UBreakIterator* threadIterator() {
    thread_local BreakIterator holder;
    return holder.it;
}

std::u16string toUTF16(std::string_view utf8) {
    std::u16string out;
    if (utf8.empty() || utf8.size() > INT_MAX / 2) return out;
    out.resize(utf8.size());
    int32_t length = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &length, utf8.data(),
                         static_cast<int32_t>(utf8.size()), 0xFFFD, nullptr, &status);
    if (U_FAILURE(status)) return {};
    out.resize(static_cast<size_t>(length));
    return out;
}

std::string toUTF8(const char16_t* s, int32_t length) {
    std::string out;
    if (length <= 0) return out;
    out.resize(static_cast<size_t>(length) * 3);
    int32_t written = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &written, s, length, 0xFFFD,
                       nullptr, &status);
    if (U_FAILURE(status)) return {};
    out.resize(static_cast<size_t>(written));
    return out;
}

// Calls fn(offset) for each character boundary after the start of `s` (UTF-16 offsets).
// Falls back to code points when no break iterator is available.
template <class Fn>
void boundaries(const std::u16string& s, Fn&& fn) {
    UBreakIterator* it = threadIterator();
    UErrorCode status = U_ZERO_ERROR;
    if (it) ubrk_setText(it, s.data(), static_cast<int32_t>(s.size()), &status);
    if (!it || U_FAILURE(status)) {
        for (int32_t i = 0; i < static_cast<int32_t>(s.size());) {
            U16_FWD_1(s.data(), i, static_cast<int32_t>(s.size()));
            fn(i);
        }
        return;
    }
    ubrk_first(it);
    for (int32_t b = ubrk_next(it); b != UBRK_DONE; b = ubrk_next(it)) fn(b);
    ubrk_setText(it, nullptr, 0, &status);
}

}  // namespace

bool isAscii(std::string_view bytes) {
    // No early exit: the loop vectorises, which beats stopping early on short texts.
    unsigned char any = 0;
    for (char c : bytes) any |= static_cast<unsigned char>(c);
    return any < 0x80;
}

std::vector<std::string_view> splitAscii(std::string_view ascii, size_t maxCharacters) {
    std::vector<std::string_view> pieces;
    if (maxCharacters == 0) maxCharacters = 1;
    if (ascii.find('\r') == std::string_view::npos) {  // one byte, one character
        for (size_t at = 0; at < ascii.size(); at += maxCharacters)
            pieces.push_back(ascii.substr(at, maxCharacters));
        return pieces;
    }
    size_t inPiece = 0, start = 0;
    asciiBoundaries(ascii, [&](size_t b) {
        if (++inPiece == maxCharacters) {
            pieces.push_back(ascii.substr(start, b - start));
            start = b;
            inPiece = 0;
        }
    });
    if (start < ascii.size()) pieces.push_back(ascii.substr(start));
    return pieces;
}

bool isValidUTF8(std::string_view bytes) {
    if (isAscii(bytes)) return true;
    const auto* s = reinterpret_cast<const uint8_t*>(bytes.data());
    int64_t length = static_cast<int64_t>(bytes.size());
    for (int64_t i = 0; i < length;) {
        UChar32 c;
        U8_NEXT(s, i, length, c);
        if (c < 0) return false;
    }
    return true;
}

std::string sanitizeUTF8(std::string_view bytes) {
    if (isValidUTF8(bytes)) return std::string(bytes);
    std::string out;
    out.reserve(bytes.size() + 8);
    const auto* s = reinterpret_cast<const uint8_t*>(bytes.data());
    int64_t length = static_cast<int64_t>(bytes.size());
    for (int64_t i = 0; i < length;) {
        int64_t start = i;
        UChar32 c;
        U8_NEXT(s, i, length, c);
        if (c < 0) {
            out += "\xEF\xBF\xBD";
        } else {
            out.append(bytes.data() + start, static_cast<size_t>(i - start));
        }
    }
    return out;
}

size_t characterCount(std::string_view utf8) {
    size_t count = 0;
    if (isAscii(utf8)) {
        asciiBoundaries(utf8, [&](size_t) { ++count; });
        return count;
    }
    boundaries(toUTF16(utf8), [&](int32_t) { ++count; });
    return count;
}

std::vector<std::string> split(std::string_view utf8, size_t maxCharacters) {
    std::vector<std::string> pieces;
    if (maxCharacters == 0) maxCharacters = 1;
    size_t inPiece = 0;
    if (isAscii(utf8)) {
        for (auto piece : splitAscii(utf8, maxCharacters)) pieces.emplace_back(piece);
        return pieces;
    }
    std::u16string s = toUTF16(utf8);
    int32_t start = 0;
    boundaries(s, [&](int32_t b) {
        if (++inPiece == maxCharacters) {
            pieces.push_back(toUTF8(s.data() + start, b - start));
            start = b;
            inPiece = 0;
        }
    });
    if (start < static_cast<int32_t>(s.size()))
        pieces.push_back(toUTF8(s.data() + start, static_cast<int32_t>(s.size()) - start));
    return pieces;
}

}  // namespace qz::text
