#include "lib/Decoders/QZEReplyText.hpp"

#include <algorithm>
#include <cctype>
#include <utility>

#include "lib/Utils/QZEnhancedUtils.hpp"

namespace qz::reply {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

bool isHex(std::string_view token) {
    return !token.empty() && std::all_of(token.begin(), token.end(), isHexDigit);
}

// A frame marker of the headers-off multi-frame display: one hex digit and a colon.
bool isMarker(std::string_view token) {
    return token.size() == 2 && isHexDigit(token[0]) && token[1] == ':';
}

}  // namespace

Tokens tokens(std::string_view text) {
    Tokens out;
    appendTokens(text, out);
    return out;
}

void appendTokens(std::string_view text, Tokens& out) {
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && isSpace(text[i])) ++i;
        const size_t start = i;
        while (i < text.size() && !isSpace(text[i])) ++i;
        if (i > start) {
            const auto token = text.substr(start, i - start);
            if (token != ">") out.push_back(token);
        }
    }
}

std::string joinedTokens(const Tokens& t) {
    std::string out;
    for (auto token : t) {
        if (!out.empty()) out += ' ';
        out += token;
    }
    return out;
}

std::vector<std::string_view> lines(std::string_view text) {
    std::vector<std::string_view> out;
    size_t start = 0;
    while (true) {
        size_t end = text.find('\r', start);
        if (end == std::string_view::npos) {
            out.push_back(text.substr(start));
            return out;
        }
        out.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

uint64_t leadingHex(std::string_view text) {
    uint64_t value = 0;
    for (char c : text) {
        const int digit = hexDigit(c);
        if (digit < 0) break;
        value = value * 16 + static_cast<uint64_t>(digit);
    }
    return value;
}

bool isHexToken(std::string_view token) {
    return isHex(token);
}

bool isFrameMarker(std::string_view token) {
    return isMarker(token);
}

bool isIdentifier(std::string_view token) {
    return token.size() >= 3 && isHex(token);
}

bool isByte(std::string_view token) {
    return token.size() == 2 && isHex(token);
}

size_t Identifiers::at(Tokens::const_iterator begin, Tokens::const_iterator end) {
    if (begin == end) return 0;
    if (isIdentifier(*begin)) {
        oneToken_ = true;
        return 1;
    }
    if (!fourBytes_ || end - begin < 4 || !std::all_of(begin, begin + 4, isByte)) return 0;
    const int priority = byteValue(begin[0]);
    const int format = byteValue(begin[1]);
    if (priority_ >= 0) return priority == priority_ && format == format_ ? 4 : 0;
    if (oneToken_ || priority < 0x08 || priority > 0x1F || format < 0xC0) return 0;
    priority_ = priority;
    format_ = format;
    return 4;
}

bool isDamageFlag(std::string_view token) {
    return !token.empty() && token.front() == '<';
}

bool isDamagedLine(const Tokens& line) {
    return std::any_of(line.begin(), line.end(), isDamageFlag);
}

bool holdsDamagedFrame(std::string_view text) {
    for (auto line : lines(text))
        if (isDamagedLine(tokens(line))) return true;
    return false;
}

namespace {

// The text upper-cased, without white space.
std::string squeezed(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text)
        if (!isSpace(c)) out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool holds(const std::string& squeezedText, std::string_view word) {
    return squeezedText.find(word) != std::string::npos;
}

constexpr std::string_view kErrorWords[] = {"ERR",     "UNABLETOCONNECT", "BUSBUSY", "BUFFERFULL",
                                            "STOPPED", "ALERT",           "LVRESET"};

bool holdsError(const std::string& s) {
    if (holds(s, "?")) return true;
    return std::any_of(std::begin(kErrorWords), std::end(kErrorWords),
                       [&](std::string_view word) { return holds(s, word); });
}

}  // namespace

bool holdsNoData(std::string_view text) {
    return holds(squeezed(text), "NODATA");
}

bool holdsSensorError(std::string_view text) {
    return holdsError(squeezed(text));
}

bool isAccepted(std::string_view text) {
    const std::string s = squeezed(text);
    return holds(s, "OK") && !holds(s, "NODATA") && !holdsError(s);
}

std::string_view withoutEcho(std::string_view reply, std::string_view command) {
    size_t start = 0;
    while (start < reply.size() && isSpace(reply[start])) ++start;
    const size_t end = std::min(reply.find('\r', start), reply.size());
    const std::string echo = squeezed(command);
    if (echo.empty() || end == reply.size() || squeezed(reply.substr(start, end - start)) != echo)
        return reply;
    return reply.substr(end + 1);
}

bool isNotice(std::string_view line) {
    const std::string s = squeezed(line);
    return (s.starts_with("SEARCHING") || s.starts_with("BUSINIT:")) && !holds(s, "NODATA") &&
           !holdsError(s);
}

int byteValue(std::string_view token) {
    return QZEnhancedUtils::hexStringToInt(token);
}

std::string j2012Code(int64_t a, int64_t b) {
    static constexpr char letters[] = "PCBU";
    std::string code(5, ' ');
    if (a >= 0 && a < 256) code[0] = letters[a >> 6];
    code[1] = static_cast<char>('0' + ((a >> 4) & 3));
    code[2] = QZEnhancedUtils::hex2ascii(static_cast<uint8_t>(a & 15));
    code[3] = QZEnhancedUtils::hex2ascii(static_cast<uint8_t>((b >> 4) & 15));
    code[4] = QZEnhancedUtils::hex2ascii(static_cast<uint8_t>(b & 15));
    return code;
}

namespace {

void addWord(std::string& text, const char* word) {
    if (!text.empty()) text += '/';
    text += word;
}

}  // namespace

std::string udsStatusText(int64_t status) {
    std::string out;
    if (status & 0x80) addWord(out, "MIL");
    if (status & 0x08) addWord(out, "CONFIRMED");
    if (status & 0x04) addWord(out, "PENDING");
    return out;
}

std::string kwp2000StatusText(uint8_t status, int64_t make) {
    std::string out;
    if (make == 9 || make == 10) {  // Mercedes, Hyundai: bit 7 and bits 6-5
        if (status & 0x80) addWord(out, "MIL");
        switch ((status >> 5) & 3) {
            case 1:
                addWord(out, "NOT PRESENT");
                break;
            case 2:
                addWord(out, "INTERMITTENT");
                break;
            case 3:
                addWord(out, "PRESENT");
                break;
        }
        return out;
    }
    switch (status) {  // every other make: exact values only
        case 0x80:
            return "MIL";
        case 0xA0:
            return "STORED/MIL";
        case 0xC0:
            return "PENDING/MIL";
        case 0xE0:
            return "ACTIVE/MIL";
        case 0x20:
            return "STORED";
        case 0x40:
            return "PENDING";
        case 0x60:
            return "ACTIVE";
        default:
            return "";
    }
}

int j1850Crc(Tokens::const_iterator begin, Tokens::const_iterator end) {
    unsigned crc = 0xFF;
    for (auto it = begin; it != end; ++it) {
        crc ^= static_cast<unsigned>(byteValue(*it));
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80) ? ((crc << 1) ^ 0x1D) & 0xFF : (crc << 1) & 0xFF;
    }
    return static_cast<int>(~crc & 0xFF);
}

}  // namespace qz::reply
