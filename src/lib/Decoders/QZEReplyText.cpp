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

int markerValue(std::string_view token) {
    return byteValue(token.substr(0, 1));
}

// The length line of the headers-off multi-frame display.
bool isLengthLine(const Tokens& line) {
    return line.size() == 1 && line[0].size() == 3 && isHex(line[0]);
}

int lengthValue(std::string_view token) {
    int value = 0;
    for (char c : token) value = value * 16 + byteValue(std::string_view(&c, 1));
    return value;
}

// Builds the messages of one reply.
class CanReader {
  public:
    std::vector<Tokens> read(std::string_view text) {
        std::vector<Tokens> rows;
        for (auto line : lines(text)) {
            auto t = tokens(line);
            if (!t.empty()) rows.push_back(std::move(t));
        }
        for (size_t i = 0; i < rows.size(); ++i) {
            Tokens& row = rows[i];
            if (isDamagedLine(row)) {
                // A flagged frame is lost, and so is the rest of its message.
                if (!isMarker(row[0]) && identifiers_.at(row) > 0) headersOn_ = true;
                finish();
                skipping_ = true;
                continue;
            }
            if (isLengthLine(row) && i + 1 < rows.size() && isMarker(rows[i + 1][0])) {
                startMultiFrame(lengthValue(row[0]), Tokens{}, Mode::markers);
                continue;
            }
            if (isMarker(row[0])) {
                // After a lost frame the rest of that message is skipped.
                if (skipping_) continue;
                if (mode_ != Mode::markers) startMultiFrame(-1, Tokens{}, Mode::markers);
                if (markerValue(row[0]) != nextSequence_) {
                    finish();
                    skipping_ = true;
                    continue;
                }
                nextSequence_ = (nextSequence_ + 1) & 15;
                append(row.begin() + 1, row.end());
                continue;
            }
            skipping_ = false;
            if (mode_ == Mode::markers) finish();
            if (size_t id = identifiers_.at(row)) {
                headersOn_ = true;
                row.erase(row.begin(), row.begin() + static_cast<std::ptrdiff_t>(id));
                if (row.empty()) continue;
            }
            if (headersOn_ && frame(row)) continue;
            finish();
            messages_.push_back(std::move(row));
        }
        finish();
        return std::move(messages_);
    }

  private:
    enum class Mode { none, frames, markers };

    void startMultiFrame(int length, Tokens first, Mode mode) {
        finish();
        mode_ = mode;
        expected_ = length;
        nextSequence_ = mode == Mode::frames ? 1 : 0;
        skipping_ = false;
        current_.clear();
        append(first.begin(), first.end());
    }

    template <class It>
    void append(It begin, It end) {
        for (auto it = begin; it != end; ++it) {
            if (expected_ >= 0 && static_cast<int>(current_.size()) >= expected_) break;
            current_.push_back(*it);
        }
        if (expected_ >= 0 && static_cast<int>(current_.size()) >= expected_) finish();
    }

    void finish() {
        if (mode_ != Mode::none && !current_.empty()) messages_.push_back(std::move(current_));
        current_.clear();
        mode_ = Mode::none;
        expected_ = -1;
    }

    // One ISO-TP frame of the headers-on display; false when the row is not one.
    bool frame(const Tokens& row) {
        if (row[0].size() != 2 || !isHex(row[0])) return false;
        int pci = byteValue(row[0]);
        switch (pci >> 4) {
            case 0: {  // single frame
                finish();
                size_t length = std::min<size_t>(pci & 15, row.size() - 1);
                if (length > 0) messages_.emplace_back(row.begin() + 1, row.begin() + 1 + length);
                return true;
            }
            case 1: {  // first frame: 12-bit length
                if (row.size() < 2) {
                    finish();
                    return true;
                }
                int length = ((pci & 15) << 8) | byteValue(row[1]);
                startMultiFrame(length, Tokens(row.begin() + 2, row.end()), Mode::frames);
                return true;
            }
            case 2:  // consecutive frame
                if (mode_ != Mode::frames) return true;
                if ((pci & 15) != nextSequence_) {
                    finish();
                    return true;
                }
                nextSequence_ = (nextSequence_ + 1) & 15;
                append(row.begin() + 1, row.end());
                return true;
            case 3:  // flow control
                return true;
            default:
                return false;
        }
    }

    Identifiers identifiers_;
    std::vector<Tokens> messages_;
    Tokens current_;
    Mode mode_ = Mode::none;
    int expected_ = -1;
    int nextSequence_ = 0;
    bool skipping_ = false;
    bool headersOn_ = false;
};

}  // namespace

Tokens tokens(std::string_view text) {
    Tokens out;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && isSpace(text[i])) ++i;
        size_t start = i;
        while (i < text.size() && !isSpace(text[i])) ++i;
        if (i > start) {
            auto token = text.substr(start, i - start);
            if (token != ">") out.push_back(token);
        }
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

size_t Identifiers::at(const Tokens& line) {
    if (line.empty()) return 0;
    if (isIdentifier(line[0])) {
        oneToken_ = true;
        return 1;
    }
    if (line.size() < 4 || !std::all_of(line.begin(), line.begin() + 4, isByte)) return 0;
    const int priority = byteValue(line[0]);
    const int format = byteValue(line[1]);
    if (priority_ >= 0) return priority == priority_ && format == format_ ? 4 : 0;
    if (oneToken_ || priority < 0x08 || priority > 0x1F || format < 0xC0) return 0;
    priority_ = priority;
    format_ = format;
    return 4;
}

std::optional<std::string> withJoinedIdentifier(std::string_view text) {
    Identifiers identifiers;
    std::string out;
    size_t copied = 0;
    for (auto line : lines(text)) {
        auto t = tokens(line);
        if (identifiers.at(t) != 4) continue;
        const auto offset = [&](std::string_view token) {
            return static_cast<size_t>(token.data() - text.data());
        };
        out += text.substr(copied, offset(t[0]) - copied);
        for (size_t i = 0; i < 4; ++i) out += t[i];
        copied = offset(t[3]) + t[3].size();
    }
    if (copied == 0) return std::nullopt;
    out += text.substr(copied);
    return out;
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

bool isNotice(std::string_view line) {
    const std::string s = squeezed(line);
    return (s.starts_with("SEARCHING") || s.starts_with("BUSINIT:")) && !holds(s, "NODATA") &&
           !holdsError(s);
}

std::string withoutNotices(std::string_view text) {
    std::string out;
    bool first = true;
    for (auto line : lines(text)) {
        if (isNotice(line)) continue;
        if (!first) out += '\r';
        out += line;
        first = false;
    }
    return out;
}

bool isNegative(const Tokens& message) {
    return !message.empty() && isByte(message[0]) && byteValue(message[0]) == 0x7F;
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

std::vector<Tokens> canMessages(std::string_view text) {
    return CanReader().read(text);
}

std::vector<Tokens> extendedMessages(std::string_view text) {
    std::vector<Tokens> out;
    Tokens current;
    size_t expected = 0;
    int sequence = 0;
    auto finish = [&] {
        if (!current.empty()) out.push_back(std::move(current));
        current.clear();
        expected = 0;
    };
    auto frame = [&](Tokens::const_iterator begin, Tokens::const_iterator end) {
        // <address> <PCI> <data...>
        if (end - begin < 2 || !isByte(begin[1])) return;
        const int pci = byteValue(begin[1]);
        switch (pci >> 4) {
            case 0: {
                finish();
                auto length = std::min<std::ptrdiff_t>(pci & 15, end - begin - 2);
                if (length > 0) out.emplace_back(begin + 2, begin + 2 + length);
                break;
            }
            case 1:
                finish();
                if (end - begin < 3) break;
                expected =
                    (static_cast<size_t>(pci & 15) << 8) | static_cast<size_t>(byteValue(begin[2]));
                current.assign(begin + 3, end);
                sequence = 1;
                break;
            case 2:
                if (expected == 0 || (pci & 15) != sequence) {
                    finish();
                    break;
                }
                sequence = (sequence + 1) & 15;
                current.insert(current.end(), begin + 2, end);
                break;
            default:
                break;
        }
        if (expected > 0 && current.size() >= expected) {
            current.resize(expected);
            finish();
        }
    };
    Identifiers identifiers;
    for (auto line : lines(text)) {
        auto t = tokens(line);
        t.erase(t.begin(), t.begin() + static_cast<std::ptrdiff_t>(identifiers.at(t)));
        if (isDamagedLine(t)) {
            finish();  // the message's later frames are out of sequence from here
            continue;
        }
        for (size_t at = 0; at < t.size(); at += 8)
            frame(t.begin() + static_cast<std::ptrdiff_t>(at),
                  t.begin() + static_cast<std::ptrdiff_t>(std::min(at + 8, t.size())));
    }
    finish();
    return out;
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

std::optional<Tokens> j1850Message(const Tokens& line, int positive) {
    if (line.empty() || !std::all_of(line.begin(), line.end(), isByte)) return std::nullopt;
    const bool mayHaveHeaders = line.size() >= 5;
    auto headed = [&] { return Tokens(line.begin() + 3, line.end() - 1); };
    if (positive >= 0) {
        if (byteValue(line[0]) == positive) return line;
        if (mayHaveHeaders && (byteValue(line[3]) == positive || byteValue(line[3]) == 0x7F) &&
            byteValue(line[0]) != 0x7F)
            return headed();
        return line;
    }
    if (mayHaveHeaders && j1850Crc(line.begin(), line.end() - 1) == byteValue(line.back()))
        return headed();
    return line;
}

}  // namespace qz::reply
