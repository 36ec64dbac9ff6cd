// The reply classifier: the first byte picks the framing and the display form told, the second
// the service asked, the third the answer's first byte, its record layout and the address asked
// for, the fourth where the reply is cut; the rest is the sensor's reply text. The properties
// are those of the standards (ISO 14229, ISO 15765-2, ISO 14230/9141, SAE J1850) and of the
// display: the messages are the input's bytes in its order, an answer begins with its positive
// byte and holds its records, pending carries 78 and busy its codes, every negative answer
// needs a 7F, the sensor's notices, CR LF line ends and a trailing prompt change nothing, a reply
// printed without blanks reads as with them, a reply of the module's bytes is never the sensor's
// words nor silence, and an answer stopped, cut or damaged anywhere (in its first bytes too,
// printed with blanks or without) is never silence, the sensor's words nor a whole answer.

#include <algorithm>
#include <cctype>

#include "FuzzTarget.hpp"
#include "lib/Decoders/QZEModuleReply.hpp"
#include "lib/Decoders/QZEReplyText.hpp"

using namespace qz;

namespace {

constexpr QZEFraming kFramings[] = {QZEFraming::can, QZEFraming::canExtended, QZEFraming::kLine,
                                    QZEFraming::j1850, QZEFraming::message};
const QZERecordLayout kLayouts[] = {{},
                                    QZERecordLayout::kwp2000(),
                                    QZERecordLayout::uds(),
                                    QZERecordLayout::toyota(),
                                    {1, -1, 2, 1},
                                    QZERecordLayout::toyotaKLine()};
const std::vector<std::string> kAddresses[] = {{}, {"7E8"}, {"10"}, {"07E9", "5E8"}, {"12"}};

std::string upper(std::string_view text) {
    std::string out;
    for (char c : text) out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

// The hex digits of the text, upper-cased.
std::string digitsOf(std::string_view text) {
    std::string out;
    for (char c : upper(text))
        if (std::isxdigit(static_cast<unsigned char>(c))) out += c;
    return out;
}

bool isSubsequence(std::string_view part, std::string_view whole) {
    size_t at = 0;
    for (char c : whole)
        if (at < part.size() && part[at] == c) ++at;
    return at == part.size();
}

bool sameReading(const QZEModuleReply& a, const QZEModuleReply& b) {
    return a.kind == b.kind && a.messages == b.messages && a.whole == b.whole && a.code == b.code;
}

// Records as many as the count gives (Toyota's count of none: none or one; past those, filler
// of 00; without a count, whole ones), at least the least. A Toyota K-line message of odd length
// holds no count.
bool recordsHeld(const QZEMessageBytes& m, const QZERecordLayout& layout) {
    using Count = QZERecordLayout::Count;
    const bool uncounted = layout.count == Count::evenLength && m.size() % 2;
    const size_t head = uncounted ? 1 : layout.head;
    if (m.size() < head) return false;
    if (layout.size == 0) return true;
    const size_t records = (m.size() - head) / layout.size;
    if ((m.size() - head) % layout.size != 0) return false;
    if (!uncounted && layout.countAt >= 0 && static_cast<size_t>(layout.countAt) < m.size()) {
        const auto count =
            static_cast<size_t>(reply::byteValue(m[static_cast<size_t>(layout.countAt)]));
        const bool none = layout.count == Count::oneAtLeast && count == 0 && records <= 1;
        // Toyota: records past those the count reads whose bytes are all 00 are filler.
        const size_t reads = layout.count == Count::oneAtLeast ? std::max<size_t>(count, 1) : count;
        bool filler = layout.count != Count::exact && records > reads;
        for (size_t at = head + reads * layout.size; filler && at < m.size(); ++at)
            filler = reply::byteValue(m[at]) == 0;
        if (records != count && !none && !filler) return false;
    }
    return records >= layout.least;
}

bool isData(std::string_view token) {
    return reply::isHexToken(token) || reply::isFrameMarker(token);
}

// Whether the text holds a line of the module's bytes: hex only (frame markers aside), where
// every address is the module's.
bool holdsModuleBytes(std::string_view text, const QZEAsked& asked) {
    if (!asked.from.empty()) return false;
    for (auto line : reply::lines(text)) {
        const auto t = reply::tokens(line);
        if (!t.empty() && std::all_of(t.begin(), t.end(), isData) &&
            std::any_of(t.begin(), t.end(), reply::isHexToken))
            return true;
    }
    return false;
}

bool nothing(const QZEModuleReply& r) {
    return r.kind == QZEReplyKind::silence || r.kind == QZEReplyKind::sensorWord;
}

std::string replaced(std::string_view text, char from, std::string_view to) {
    std::string out;
    for (char c : text) out += c == from ? std::string(to) : std::string(1, c);
    return out;
}

// The text with the blanks taken out of each line of bytes that the display would print so:
// bytes (a byte cut in half last, a frame number first), four digits or more (three on K-line and
// J1850, where no identifier stands first); with headers told
// on, lines of whole bytes behind an identifier of the size told (a 29-bit one as diagnostic
// identifiers begin). None when the form told leaves such a line ambiguous.
std::optional<std::string> unspaced(std::string_view text, const QZEAsked& asked) {
    const bool can = asked.framing != QZEFraming::kLine && asked.framing != QZEFraming::j1850;
    if (can && !asked.display.headers) return std::nullopt;
    const bool headers = can && asked.display.headers == true;
    const auto idDigits = static_cast<size_t>(asked.display.identifierDigits);
    if (headers && idDigits == 0) return std::nullopt;
    std::string out;
    bool first = true;
    for (auto line : reply::lines(text)) {
        if (!first) out += '\r';
        first = false;
        const auto t = reply::tokens(line);
        if (t.empty() || !std::all_of(t.begin(), t.end(), [](std::string_view token) {
                return reply::isHexToken(token) || reply::isFrameMarker(token);
            })) {
            out += line;
            continue;
        }
        size_t digits = 0;
        bool bytes = t.size() >= 2;
        for (size_t i = 0; i < t.size() && bytes; ++i) {
            const bool last = i + 1 == t.size();
            if (headers && i == 0) {
                bytes = t[0].size() == idDigits && reply::isHexToken(t[0]);
                if (bytes && idDigits == 8) {
                    const int priority = reply::byteValue(t[0].substr(0, 2));
                    bytes = priority >= 0x08 && priority <= 0x1F &&
                            reply::byteValue(t[0].substr(2, 2)) >= 0xC0;
                }
            } else if (headers) {
                bytes = reply::isByte(t[i]);
            } else {
                bytes = reply::isByte(t[i]) || (last && t[i].size() == 1) ||
                        (i == 0 && reply::isFrameMarker(t[i]));
            }
            if (!reply::isFrameMarker(t[i])) digits += t[i].size();
        }
        // Data that cannot be told apart once its blanks are gone.
        if (!bytes || digits < (can ? 4u : 3u)) {
            if (headers) return std::nullopt;
            out += line;
            continue;
        }
        for (auto token : t) out += token;
    }
    return out;
}

}  // namespace

QZ_FUZZ_TARGET(module_reply) {
    fuzz::QuietEngineLog quiet;
    if (size < 4) return;
    QZEAsked asked;
    asked.framing = kFramings[data[0] % std::size(kFramings)];
    const int form = (data[0] / 5) % 5;  // not told; headers off; on, 11-bit; on, 29-bit; on
    if (form > 0) asked.display.headers = form > 1;
    asked.display.identifierDigits = form == 2 ? 3 : form == 3 ? 8 : 0;
    asked.service = data[1] == 0xFF ? -1 : data[1];
    asked.positive = (data[2] & 3) == 3 ? QZEAsked::kAnyByte : (data[2] & 3) == 2 ? 0x81 : -1;
    asked.records = kLayouts[(data[2] >> 2) % std::size(kLayouts)];
    asked.from = kAddresses[(data[2] >> 5) % std::size(kAddresses)];
    asked.pairedFrames = data[2] & 0x80;
    const std::string_view text = fuzz::textOf(data + 4, size - 4);
    const size_t cutAt = size > 4 ? data[3] % (text.size() + 1) : 0;

    const QZEModuleReply r = QZEModuleReply::classify(text, asked);
    fuzz::require(r.messages.size() == r.whole.size(), "one wholeness per message");

    // Every message's bytes come from the input, in its order.
    const std::string digits = digitsOf(text);
    for (const auto& m : r.messages) {
        std::string bytes;
        for (const auto& b : m) {
            fuzz::require(reply::isByte(b), "a message holds whole bytes");
            bytes += upper(b);
        }
        fuzz::require(isSubsequence(bytes, digits), "a message's bytes come from the input");
    }
    // An answer begins with the positive byte and holds its records; a negative answer needs a
    // 7F, pending carries 78 and busy its codes.
    const int positive = asked.positiveByte();
    switch (r.kind) {
        case QZEReplyKind::answer:
            fuzz::require(!r.messages.empty(), "an answer has messages");
            for (size_t i = 0; i < r.messages.size(); ++i) {
                const int first = reply::byteValue(r.messages[i][0]);
                fuzz::require(positive == QZEAsked::kAnyByte ? first != 0x7F : first == positive,
                              "an answer begins with the positive byte");
                fuzz::require(r.whole[i] && recordsHeld(r.messages[i], asked.records),
                              "an answer holds its records");
            }
            break;
        case QZEReplyKind::pending:
            fuzz::require(r.code == 0x78, "pending carries 78");
            [[fallthrough]];
        case QZEReplyKind::busy:
            fuzz::require(r.kind == QZEReplyKind::pending || isBusyCode(r.code),
                          "busy carries a busy code");
            [[fallthrough]];
        case QZEReplyKind::refusal:
            fuzz::require(digits.find("7F") != std::string::npos, "a negative answer needs a 7F");
            fuzz::require(r.messages.empty(), "a negative answer has no messages");
            break;
        case QZEReplyKind::silence:
        case QZEReplyKind::sensorWord:
        case QZEReplyKind::elsewhere:
            fuzz::require(r.messages.empty(), "no answer has no messages");
            break;
        default:
            break;
    }
    if (r.kind == QZEReplyKind::elsewhere)
        fuzz::require(!r.setAside.empty(), "another address's answer names the address");

    // The sensor's notice first, CR LF line ends, a trailing prompt: the same reading.
    const std::string asString(text);
    fuzz::require(sameReading(r, QZEModuleReply::classify("SEARCHING...\r" + asString, asked)),
                  "a SEARCHING... line changes nothing");
    fuzz::require(sameReading(r, QZEModuleReply::classify(replaced(text, '\r', "\r\n"), asked)),
                  "CR LF line ends change nothing");
    fuzz::require(sameReading(r, QZEModuleReply::classify(asString + "\r>", asked)),
                  "a trailing prompt changes nothing");

    // Printed without blanks, the same reading, where the form told makes it one.
    if (auto without = unspaced(text, asked))
        fuzz::require(sameReading(r, QZEModuleReply::classify(*without, asked)),
                      "a reply without blanks reads as with them");

    // A reply of the module's bytes is never nothing.
    if (holdsModuleBytes(text, asked))
        fuzz::require(!nothing(r), "a reply of the module's bytes is never the sensor's words");

    // Stopped before its prompt: never silence nor a whole answer; cut short or damaged where
    // the module's bytes had come.
    const std::string part(text.substr(0, cutAt));
    const auto stopped = QZEModuleReply::classify(part, asked, true);
    fuzz::require(stopped.kind != QZEReplyKind::answer && stopped.kind != QZEReplyKind::silence,
                  "a stopped reply is no answer and no silence");
    if (!QZEModuleReply::classify(part, asked).messages.empty())
        fuzz::require(
            stopped.kind == QZEReplyKind::cutShort || stopped.kind == QZEReplyKind::damaged,
            "a stopped answer is cut short");

    // An answer cut anywhere, stopped or printed so, with blanks or without (lines of every
    // length), or damaged anywhere, is never silence nor the sensor's words once a byte of the
    // module came.
    if (r.answered()) {
        auto neverNothing = [&](const std::string& whole, const char* what) {
            const std::string cut = whole.substr(0, cutAt % (whole.size() + 1));
            if (!holdsModuleBytes(cut, asked)) return;
            fuzz::require(!nothing(QZEModuleReply::classify(cut, asked, true)), what);
            fuzz::require(!nothing(QZEModuleReply::classify(cut + "\r>", asked)), what);
        };
        neverNothing(asString, "an answer cut anywhere is never nothing");
        if (auto without = unspaced(text, asked))
            neverNothing(*without, "an answer without blanks cut anywhere is never nothing");
        const size_t lineEnd = std::min(text.find('\r', cutAt), text.size());
        const std::string flagged =
            asString.substr(0, lineEnd) + " <RX ERROR" + asString.substr(lineEnd);
        const auto damaged = QZEModuleReply::classify(flagged, asked);
        fuzz::require(damaged.kind != QZEReplyKind::silence &&
                          damaged.kind != QZEReplyKind::sensorWord &&
                          damaged.kind != QZEReplyKind::elsewhere,
                      "a damaged answer is never silence nor the sensor's words");
    }
}
