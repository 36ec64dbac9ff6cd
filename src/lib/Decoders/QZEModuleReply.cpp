#include "lib/Decoders/QZEModuleReply.hpp"

#include <algorithm>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <utility>

#include "lib/Decoders/QZEReplyText.hpp"
#include "lib/Facades/QZEAdapters.hpp"

namespace qz {

namespace {

using reply::byteValue;
using reply::isByte;
using reply::Tokens;

constexpr int kNegative = 0x7F;
constexpr int kResponsePending = 0x78;
constexpr size_t kNone = static_cast<size_t>(-1);

// A byte cut in half: the last digit of a line whose end was lost ("7F 1").
bool isHalfByte(std::string_view token) {
    return token.size() == 1 && reply::isHexToken(token);
}

bool isData(std::string_view token) {
    return reply::isHexToken(token) || reply::isFrameMarker(token);
}

// One message as the display showed it.
struct Message {
    std::string address;  // the identifier, address byte or source byte shown; empty: none
    QZEMessageBytes bytes;
    bool whole = true;
    // A frame of it flagged damaged, or holding a token that is no byte: the bytes kept are
    // those of its frames before that one.
    bool damaged = false;
    int shown = -1;  // a damaged message's first byte as shown, when no byte of it is kept
};

// What the lines of a reply held.
struct Lines {
    std::vector<Message> messages;
    bool damaged = false;     // a line flagged damaged (an assembled message)
    bool words = false;       // the sensor's words (NO DATA aside) or junk
    bool noData = false;      // "NO DATA"
    bool endedEarly = false;  // the reply stopped before its prompt
};

// A line of bytes: where a flag, or a token that is no byte, stands (kNone: a frame read
// whole).
struct Row {
    Tokens t;
    size_t flag = kNone;

    bool damaged() const { return flag != kNone; }
    // The tokens before the flag.
    Tokens shown() const {
        return damaged() ? Tokens(t.begin(), t.begin() + static_cast<std::ptrdiff_t>(flag)) : t;
    }
};

// Appends the whole bytes of [begin, end), at most `most`; false when a token that is no whole
// byte (half a byte, junk) ended them.
bool takeBytes(Tokens::const_iterator begin, Tokens::const_iterator end, size_t most,
               QZEMessageBytes& into) {
    for (auto it = begin; it != end && most > 0; ++it, --most) {
        if (!isByte(*it)) return false;
        into.emplace_back(*it);
    }
    return true;
}

bool bytesOnly(const Tokens& t) {
    if (t.empty()) return false;
    for (size_t i = 0; i < t.size(); ++i)
        if (!isByte(t[i]) && !(i + 1 == t.size() && isHalfByte(t[i]))) return false;
    return true;
}

std::string joined(const Tokens& t, size_t count) {
    std::string out;
    for (size_t i = 0; i < count && i < t.size(); ++i) out += t[i];
    return out;
}

// The message a damaged line stands in: its bytes are not kept, its first one tells its kind.
Message damagedMessage(Message m) {
    m.damaged = true;
    m.whole = false;
    if (!m.bytes.empty() && isByte(m.bytes[0])) m.shown = byteValue(m.bytes[0]);
    m.bytes.clear();
    return m;
}

// ISO-TP frames of the CAN display, followed per sender.
class CanFrames {
  public:
    CanFrames(Lines& out, bool extended, QZEDisplayForm display)
        : out_(out),
          extended_(extended),
          headers_(display.headers),
          headersOn_(display.headers == true),
          identifiers_(display.identifierDigits != 3) {}

    void line(const Tokens& row, const Tokens* next) {
        Tokens t = row;
        if (extended_) return extendedLine(t);
        // Headers off, multi-frame: the length line, then "N:" frames.
        if (headers_ != true && t.size() == 1 && t[0].size() == 3 && reply::isHexToken(t[0]) &&
            next && !next->empty() && reply::isFrameMarker((*next)[0])) {
            close("");
            skipping_.erase("");
            open_[""] = Open{{}, lengthOf(t[0]), 0, true, true};
            return;
        }
        if (reply::isFrameMarker(t[0])) {
            // The rest of a message a flagged frame broke is lost with it.
            if (skipping_.contains("")) return;
            consecutive("", byteValue(t[0].substr(0, 1)), t.begin() + 1, t.end(), true);
            return;
        }
        skipping_.erase("");
        if (const size_t id = identifier(t)) {
            // Shown once, the identifier stands for the lines after it too.
            headersOn_ = true;
            sender_ = joined(t, id);
            t.erase(t.begin(), t.begin() + static_cast<std::ptrdiff_t>(id));
            if (t.empty()) return;
        }
        if (headersOn_) return frame(sender_, t.begin(), t.end());
        // Headers off: a single frame's data, or a frame with its PCI byte shown (a response
        // byte is never 01 to 07), padded to 8 bytes or not.
        close("");
        const int first = isByte(t[0]) ? byteValue(t[0]) : 0;
        const size_t size = t.size();
        if (first >= 1 && first <= 7 &&
            (size == static_cast<size_t>(first) + 1 || (size == 8 && first < 8)))
            return frame("", t.begin(), t.end());
        plain("", t.begin(), t.end());
    }

    // A line flagged damaged, or holding junk after bytes: the message of its sender is lost
    // from there.
    void lost(const Tokens& shown) {
        std::string sender = extended_ ? std::string() : sender_;
        int first = -1;
        if (extended_) {
            size_t at = 0;
            if (const size_t id = identifier(shown)) {
                identifier_ = joined(shown, id);
                at = id;
            }
            if (at < shown.size() && isByte(shown[at])) {
                sender = extendedSender(shown[at]);
                first = dataAfterPci(shown, at + 1);
            }
        } else if (!shown.empty() && reply::isFrameMarker(shown[0])) {
            sender.clear();  // a frame of the headers-off display
        } else if (shown.size() == 1 && !headersOn_) {
            sender.clear();  // the length line of the headers-off display
        } else {
            size_t at = 0;
            if (const size_t id = identifier(shown); id > 0 && id < shown.size()) {
                headersOn_ = true;
                sender_ = joined(shown, id);
                sender = sender_;
                at = id;
            }
            if (headersOn_) {
                first = dataAfterPci(shown, at);
            } else if (at < shown.size() && isByte(shown[at])) {
                const int value = byteValue(shown[at]);
                first = value >= 1 && value <= 7 ? dataAt(shown, at + 1) : value;
            }
        }
        broken(sender, true, first);
        skipping_.insert(sender);
    }

    void finish() {
        std::vector<std::string> senders;
        for (const auto& [sender, open] : open_) senders.push_back(sender);
        for (const auto& sender : senders) close(sender);
    }

  private:
    struct Open {
        QZEMessageBytes bytes;
        size_t expected = 0;
        int next = 0;
        bool markers = false;
        bool lengthKnown = true;
    };

    static size_t lengthOf(std::string_view digits) {
        size_t value = 0;
        for (char c : digits) value = value * 16 + static_cast<size_t>(byteValue({&c, 1}));
        return value;
    }

    static int dataAt(const Tokens& t, size_t at) {
        return at < t.size() && isByte(t[at]) ? byteValue(t[at]) : -1;
    }

    // The first data byte of a frame shown from its PCI byte at `at` (-1: none shown, or a
    // consecutive frame).
    static int dataAfterPci(const Tokens& t, size_t at) {
        if (at >= t.size() || !isByte(t[at])) return -1;
        switch (byteValue(t[at]) >> 4) {
            case 0:
                return dataAt(t, at + 1);
            case 1:
                return dataAt(t, at + 2);
            case 2:
            case 3:
                return -1;
            default:  // a raw frame
                return byteValue(t[at]);
        }
    }

    // How many tokens at the start of the line are its identifier, where the display shows
    // headers.
    size_t identifier(const Tokens& t) {
        if (headers_ == false || t.empty()) return 0;
        return identifiers_.at(t);
    }

    // The sender of an extended frame: its address byte, behind the identifier shown (once or
    // on every line) as "<identifier> <address>".
    std::string extendedSender(std::string_view address) const {
        if (identifier_.empty()) return std::string(address);
        return identifier_ + " " + std::string(address);
    }

    void extendedLine(Tokens& t) {
        if (const size_t id = identifier(t)) {
            identifier_ = joined(t, id);
            t.erase(t.begin(), t.begin() + static_cast<std::ptrdiff_t>(id));
        }
        for (size_t at = 0; at < t.size(); at += 8) {
            const auto begin = t.begin() + static_cast<std::ptrdiff_t>(at);
            const auto end = t.begin() + static_cast<std::ptrdiff_t>(std::min(at + 8, t.size()));
            const std::string sender = extendedSender(*begin);
            if (!isByte(*begin) || end - begin < 2) {
                cut(sender);
                continue;
            }
            frame(sender, begin + 1, end);
        }
    }

    // One frame with its PCI byte.
    void frame(const std::string& sender, Tokens::const_iterator begin,
               Tokens::const_iterator end) {
        if (!isByte(*begin)) return cut(sender);
        const int pci = byteValue(*begin);
        if ((pci >> 4) != 2) skipping_.erase(sender);
        switch (pci >> 4) {
            case 0: {
                close(sender);
                const auto length = static_cast<size_t>(pci & 15);
                Message m{sender, {}, true};
                m.whole = length > 0 && takeBytes(begin + 1, end, length, m.bytes) &&
                          m.bytes.size() == length;
                out_.messages.push_back(std::move(m));
                return;
            }
            case 1: {
                close(sender);
                if (end - begin < 2 || !isByte(begin[1])) return cut(sender);
                Open o{{},
                       static_cast<size_t>(((pci & 15) << 8) | byteValue(begin[1])),
                       1,
                       false,
                       true};
                open_[sender] = std::move(o);
                append(sender, begin + 2, end);
                return;
            }
            case 2:
                if (skipping_.contains(sender)) return;
                return consecutive(sender, pci & 15, begin + 1, end, false);
            case 3:  // flow control
                return;
            default:  // a raw frame (GMLAN), or a line shown without its frame
                plain(sender, begin, end);
        }
    }

    void consecutive(const std::string& sender, int sequence, Tokens::const_iterator begin,
                     Tokens::const_iterator end, bool markers) {
        auto it = open_.find(sender);
        if (it == open_.end() && markers && sequence == 0) {
            // The first frame without its length line: the message begins, its length unknown.
            open_[sender] = Open{{}, 0, 1, true, false};
            append(sender, begin, end);
            return;
        }
        if (it == open_.end() || it->second.markers != markers || it->second.next != sequence) {
            // Frames without their beginning, or one lost before this one.
            broken(sender);
            return;
        }
        it->second.next = (sequence + 1) & 15;
        append(sender, begin, end);
    }

    void append(const std::string& sender, Tokens::const_iterator begin,
                Tokens::const_iterator end) {
        Open& o = open_[sender];
        const size_t room = !o.lengthKnown                ? static_cast<size_t>(end - begin)
                            : o.expected > o.bytes.size() ? o.expected - o.bytes.size()
                                                          : 0;
        if (!takeBytes(begin, end, room, o.bytes)) return broken(sender);
        if (o.lengthKnown && o.bytes.size() >= o.expected) {
            out_.messages.push_back(Message{sender, std::move(o.bytes), true});
            open_.erase(sender);
        }
    }

    // The bytes of a line as one message.
    void plain(const std::string& sender, Tokens::const_iterator begin,
               Tokens::const_iterator end) {
        Message m{sender, {}, true};
        m.whole = takeBytes(begin, end, static_cast<size_t>(end - begin), m.bytes);
        out_.messages.push_back(std::move(m));
    }

    // An open message ends: whole only when all its bytes came.
    void close(const std::string& sender) {
        auto it = open_.find(sender);
        if (it == open_.end()) return;
        const bool whole = it->second.lengthKnown && it->second.bytes.size() >= it->second.expected;
        out_.messages.push_back(Message{sender, std::move(it->second.bytes), whole});
        open_.erase(it);
    }

    // The sender's message ends short (damaged, with the first byte shown where none came
    // before).
    void broken(const std::string& sender, bool damaged = false, int first = -1) {
        Message m{sender, {}, false, damaged, first};
        if (auto it = open_.find(sender); it != open_.end()) {
            m.bytes = std::move(it->second.bytes);
            open_.erase(it);
        }
        if (!m.bytes.empty()) m.shown = -1;
        out_.messages.push_back(std::move(m));
    }

    // A message of which nothing readable came.
    void cut(const std::string& sender) { out_.messages.push_back(Message{sender, {}, false}); }

    Lines& out_;
    bool extended_;
    std::optional<bool> headers_;  // as the display form tells
    bool headersOn_ = false;
    std::string sender_;      // the identifier shown last
    std::string identifier_;  // the same, with extended addressing
    reply::Identifiers identifiers_;
    std::map<std::string, Open> open_;
    std::set<std::string> skipping_;  // senders whose message a flagged frame broke
};

// Whether a K-line line's length byte and checksum agree with it.
bool checksumAgrees(const Tokens& t, size_t head, size_t length) {
    if (head + length + 1 != t.size() || !std::all_of(t.begin(), t.end(), isByte)) return false;
    int sum = 0;
    for (size_t i = 0; i + 1 < t.size(); ++i) sum += byteValue(t[i]);
    return (sum & 0xFF) == byteValue(t.back());
}

// A K-line message with its header: <format> [<target> <source>] [<length>] <data> <checksum>,
// or ISO 9141's 48 6B <source> <data> <checksum>. Told that headers are shown, the checksum
// ends a whole message.
Message headedKLine(const Tokens& t, bool told) {
    Message m;
    const int format = byteValue(t[0]);
    if (t.size() >= 2 && format == 0x48 && isByte(t[1]) && byteValue(t[1]) == 0x6B) {
        if (t.size() >= 3) m.address = std::string(t[2]);
        m.whole = t.size() >= 4 && isByte(t.back()) &&
                  takeBytes(t.begin() + 3, t.end() - 1, t.size() - 4, m.bytes);
        return m;
    }
    const bool addressed = !told || (format & 0xC0) != 0;
    size_t head = addressed ? 3 : 1;
    size_t length = static_cast<size_t>(format & 0x3F);
    const bool lengthByte = length == 0;
    if (addressed && t.size() >= 3) m.address = std::string(t[2]);
    if (lengthByte) {
        if (t.size() <= head || !isByte(t[head])) {
            m.whole = false;  // the length byte lost
            return m;
        }
        length = static_cast<size_t>(byteValue(t[head]));
        ++head;
    }
    const auto begin = t.begin() + static_cast<std::ptrdiff_t>(std::min(head, t.size()));
    m.whole = takeBytes(begin, t.end(), length, m.bytes) && m.bytes.size() == length;
    if (told) m.whole = m.whole && t.size() > head + length && isByte(t[head + length]);
    return m;
}

Message kLineMessage(const Tokens& t, std::optional<bool> headers) {
    if (headers == true) return headedKLine(t, true);
    Message m;
    if (headers == false) {
        m.whole = takeBytes(t.begin(), t.end(), t.size(), m.bytes);
        return m;
    }
    // Not told: a header when the line begins as one does (a format byte, then the tester as
    // target, or a length and checksum that agree; ISO 9141's 48 6B).
    const int format = byteValue(t[0]);
    const bool iso9141 = t.size() >= 4 && format == 0x48 && byteValue(t[1]) == 0x6B;
    size_t head = 3;
    size_t length = static_cast<size_t>(format & 0x3F);
    if (length == 0 && t.size() >= 4 && isByte(t[3])) {
        head = 4;
        length = static_cast<size_t>(byteValue(t[3]));
    }
    const bool headed = (format & 0x80) && t.size() >= 3 && isByte(t[1]) &&
                        (byteValue(t[1]) == 0xF1 || checksumAgrees(t, head, length));
    if (iso9141 || headed) return headedKLine(t, false);
    m.whole = takeBytes(t.begin(), t.end(), t.size(), m.bytes);
    return m;
}

// A J1850 message: <priority> <target> <source> <data> <crc> with headers, the data without.
Message j1850Message(const Tokens& t, int positive, std::optional<bool> headers) {
    bool headed = false;
    if (headers) {
        headed = *headers;
    } else if (isByte(t.back()) && t.size() >= 5) {
        // Not told: a header when the line begins as one does.
        const int first = byteValue(t[0]);
        const int fourth = byteValue(t[3]);
        if (positive >= 0)
            headed = first != positive && first != kNegative &&
                     (fourth == positive || fourth == kNegative);
        else
            headed = reply::j1850Crc(t.begin(), t.end() - 1) == byteValue(t.back());
    }
    Message m;
    if (!headed) {
        m.whole = takeBytes(t.begin(), t.end(), t.size(), m.bytes);
        return m;
    }
    if (t.size() >= 3) m.address = std::string(t[2]);
    m.whole = t.size() >= 5 && isByte(t.back()) &&
              takeBytes(t.begin() + 3, t.end() - 1, t.size() - 4, m.bytes);
    if (!m.whole && t.size() > 3) {
        m.bytes.clear();
        takeBytes(t.begin() + 3, t.end(), t.size() - 3, m.bytes);
    }
    return m;
}

// Lines printed without blanks ("7E8037F0422", "486B10447F") as the bytes they hold: a CAN
// identifier first where the display shows one, then two digits a byte, an odd digit left
// being a byte cut in half, a pair holding junk no byte ("5902FF1G" is "59 02 FF 1G"); a frame
// of the headers-off display keeps its marker ("1:08C10000" is "1: 08 C1 00 00"); a flag or
// words after the run stay behind it. Lines that do not begin with two bytes (one after a
// marker) stand as they are.
class Unspaced {
  public:
    explicit Unspaced(const QZEAsked& asked)
        : can_(asked.framing != QZEFraming::kLine && asked.framing != QZEFraming::j1850),
          display_(asked.display) {}

    std::string_view line(std::string_view line, std::string& storage) {
        const auto t = reply::tokens(line);
        // A run followed by words only ("7E8037F1922 <RX ERROR"): the run is respaced, the words
        // stay behind it.
        const bool wordsAfter = t.size() > 1 && std::none_of(t.begin() + 1, t.end(), isData);
        if (t.size() != 1 && !wordsAfter) {
            seen(t);
            return line;
        }
        const std::string_view run = t[0];
        const std::string_view rest = line.substr(static_cast<size_t>(run.end() - line.begin()));
        if (run.size() > 3 && reply::isFrameMarker(run.substr(0, 2)) &&
            leadsWithHex(run.substr(2), 2)) {
            storage = std::string(run.substr(0, 2));
            for (size_t at = 2; at < run.size(); at += 2) {
                storage += ' ';
                storage += run.substr(at, 2);
            }
            storage += rest;
            return storage;
        }
        if (!leadsWithHex(run, 4)) {
            seen(t);
            return line;
        }
        const size_t id = can_ ? identifierDigits(run) : 0;
        if (id > 0) identifiers_.insert(std::string(run.substr(0, id)));
        firstLine_ = false;
        storage = std::string(run.substr(0, id));
        for (size_t at = id; at < run.size(); at += 2) {
            if (!storage.empty()) storage += ' ';
            storage += run.substr(at, 2);
        }
        storage += rest;
        return storage;
    }

  private:
    static bool leadsWithHex(std::string_view run, size_t digits) {
        return run.size() >= digits && reply::isHexToken(run.substr(0, digits));
    }

    // A spaced line's identifier is a token of its own.
    void seen(const Tokens& t) {
        if (t.empty() || !std::all_of(t.begin(), t.end(), isData)) return;
        if (t[0].size() >= 3 && reply::isHexToken(t[0])) identifiers_.insert(std::string(t[0]));
        firstLine_ = false;
    }

    static bool widePrefix(std::string_view run) {
        if (run.size() < 10) return false;
        const int priority = byteValue(run.substr(0, 2));
        const int format = byteValue(run.substr(2, 2));
        return priority >= 0x08 && priority <= 0x1F && format >= 0xC0;
    }

    bool startsWithSeen(std::string_view run, size_t digits) const {
        return run.size() > digits && identifiers_.contains(std::string(run.substr(0, digits)));
    }

    size_t identifierDigits(std::string_view run) const {
        if (display_.headers == false) return 0;
        if (display_.headers == true && display_.identifierDigits == 3) {
            // An 11-bit identifier makes the count odd; a line cut short keeps one seen.
            if (run.size() % 2 || firstLine_ || startsWithSeen(run, 3)) return 3;
            return 0;
        }
        if (display_.headers == true && display_.identifierDigits == 8) {
            if (firstLine_ || startsWithSeen(run, 8) || widePrefix(run)) return 8;
            return 0;
        }
        // Not told: the shape of the line decides.
        if (run.size() % 2) return 3;
        return widePrefix(run) ? 8 : 0;
    }

    bool can_;
    QZEDisplayForm display_;
    bool firstLine_ = true;
    std::set<std::string> identifiers_;
};

// What a line holds: bytes, bytes up to a flag or a token that is no byte (`at`), or the
// sensor's words. A token that is no byte makes a frame damaged after data; the line is the
// sensor's words when it begins with one, or after one byte when it holds the sensor's error
// words ("FB ERROR", "?").
struct LineShape {
    enum { bytes, flagged, words } kind = bytes;
    size_t at = kNone;
};

LineShape shapeOf(const Tokens& t, std::string_view line) {
    for (size_t i = 0; i < t.size(); ++i) {
        if (reply::isDamageFlag(t[i])) return {LineShape::flagged, i};
        if (isData(t[i])) continue;
        if (i == 0 || (i == 1 && (reply::holdsSensorError(line) || reply::holdsNoData(line))))
            return {LineShape::words};
        return {LineShape::flagged, i};
    }
    return {};
}

// The lines of a reply read in the question's framing and display form.
Lines readLines(std::string_view text, const QZEAsked& asked) {
    Lines out;
    std::vector<Row> rows;
    std::deque<std::string> storage;  // lines respaced
    Unspaced unspaced(asked);
    for (auto printed : reply::lines(text)) {
        if (reply::isNotice(printed)) continue;
        if (isCutShortLine(printed)) {
            out.endedEarly = true;
            continue;
        }
        storage.emplace_back();
        const std::string_view line = unspaced.line(printed, storage.back());
        auto t = reply::tokens(line);
        if (t.empty()) continue;
        const LineShape shape = shapeOf(t, line);
        if (shape.kind != LineShape::words) {
            rows.push_back(Row{std::move(t), shape.at});
        } else if (reply::holdsNoData(line) && !reply::holdsSensorError(line)) {
            out.noData = true;
        } else {
            out.words = true;
        }
    }
    if (asked.framing == QZEFraming::message) {
        Message m;
        reply::Identifiers identifiers;
        for (const auto& row : rows) {
            if (row.damaged()) {
                out.damaged = true;
                continue;
            }
            size_t id = asked.display.headers == false ? 0 : identifiers.at(row.t);
            if (id > 0) m.address = joined(row.t, id);
            m.whole = takeBytes(row.t.begin() + static_cast<std::ptrdiff_t>(id), row.t.end(),
                                row.t.size() - id, m.bytes) &&
                      m.whole;
        }
        if (!m.bytes.empty() || !m.whole) out.messages.push_back(std::move(m));
        return out;
    }
    const bool can = asked.framing == QZEFraming::can || asked.framing == QZEFraming::canExtended;
    CanFrames frames(out, asked.framing == QZEFraming::canExtended, asked.display);
    for (size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        if (can) {
            if (row.damaged())
                frames.lost(row.shown());
            else
                frames.line(row.t, i + 1 < rows.size() ? &rows[i + 1].t : nullptr);
            continue;
        }
        const Tokens t = row.shown();
        if (t.empty()) {
            out.messages.push_back(damagedMessage({}));
            continue;
        }
        if (!row.damaged() && !bytesOnly(t)) {
            out.words = true;
            continue;
        }
        Message m = asked.framing == QZEFraming::kLine
                        ? kLineMessage(t, asked.display.headers)
                        : j1850Message(t, asked.positiveByte(), asked.display.headers);
        out.messages.push_back(row.damaged() ? damagedMessage(std::move(m)) : std::move(m));
    }
    if (can) frames.finish();
    return out;
}

std::optional<unsigned long> hexNumber(std::string_view text) {
    if (text.empty() || text.size() > 8 || !reply::isHexToken(text)) return std::nullopt;
    return std::stoul(std::string(text), nullptr, 16);
}

bool sameAddress(std::string_view a, std::string_view b) {
    auto x = hexNumber(a);
    auto y = hexNumber(b);
    return x && y ? *x == *y : a == b;
}

// The identifier and address byte of a sender shown as "<identifier> <address>".
std::pair<std::string_view, std::string_view> senderParts(std::string_view sender) {
    if (const size_t blank = sender.find(' '); blank != std::string_view::npos)
        return {sender.substr(0, blank), sender.substr(blank + 1)};
    return {{}, sender};
}

bool fromModule(const Message& m, const QZEAsked& asked) {
    if (asked.from.empty() || m.address.empty()) return true;
    const auto [identifier, address] = senderParts(m.address);
    auto named = [&](auto&& is) { return std::any_of(asked.from.begin(), asked.from.end(), is); };
    if (asked.framing == QZEFraming::canExtended && sameAddress(address, QZEAsked::kTester)) {
        // Frames to the tester: the identifier shown names the module (its address as the
        // identifier's low byte, 612 for 12), where there is one.
        const auto id = hexNumber(identifier);
        if (!id) return true;
        return named([&](const std::string& a) {
            const auto x = hexNumber(a);
            return x && (*x == *id || *x == (*id & 0xFF));
        });
    }
    if (asked.pairedFrames) {
        const auto id = hexNumber(address);
        if (id && named([&](const std::string& a) {
                const auto x = hexNumber(a);
                return x && *id == (0x500 | (*x & 0xFF));
            }))
            return true;
    }
    return named([&](const std::string& a) { return sameAddress(a, address); });
}

// The address of a message set aside, as the log names it: the identifier of a frame to the
// tester, else the address shown.
std::string shownAddress(const Message& m) {
    const auto [identifier, address] = senderParts(m.address);
    if (!identifier.empty() && sameAddress(address, QZEAsked::kTester))
        return std::string(identifier);
    return std::string(address);
}

bool holdsItsRecords(const QZEMessageBytes& m, const QZERecordLayout& layout) {
    if (m.size() < layout.head) return false;
    if (layout.size == 0) return true;
    const size_t records = (m.size() - layout.head) / layout.size;
    if (layout.countAt >= 0 && static_cast<size_t>(layout.countAt) < m.size())
        return records >= static_cast<size_t>(byteValue(m[static_cast<size_t>(layout.countAt)]));
    return (m.size() - layout.head) % layout.size == 0;
}

QZEModuleReply classifyLines(Lines lines, const QZEAsked& asked) {
    QZEModuleReply out;
    const int positive = asked.positiveByte();
    auto isPositive = [&](int first) {
        return asked.positive == QZEAsked::kAnyByte ? first != kNegative : first == positive;
    };
    // Whether the bytes answer the question: its positive answer, or a negative one to it.
    auto answersIt = [&](const Message& m) {
        if (m.damaged || m.bytes.empty()) return false;
        const int first = byteValue(m.bytes[0]);
        if (first != kNegative) return isPositive(first);
        return m.bytes.size() < 2 || asked.service < 0 || byteValue(m.bytes[1]) == asked.service;
    };
    bool anyCut = false;  // a positive message, or one that cannot be told, cut short
    bool damaged = lines.damaged;
    bool positiveDamaged = false;  // a damaged message that was a positive one
    bool refused = false;
    bool others = false;  // bytes that answer nothing asked
    std::optional<QZEReplyKind> waiting;
    bool waitingAfterAnswer = false;  // a pending or busy answer after the last positive one
    int refusalCode = -1;
    int waitingCode = -1;
    for (auto& m : lines.messages) {
        if (!fromModule(m, asked)) {
            // Another address's answer: not the module's, noted as set aside.
            if (const std::string address = shownAddress(m);
                answersIt(m) &&
                std::find(out.setAside.begin(), out.setAside.end(), address) == out.setAside.end())
                out.setAside.push_back(address);
            continue;
        }
        if (m.damaged) {
            // A damaged message spoils an answer when it was a positive one itself.
            damaged = true;
            const int first = m.bytes.empty() ? m.shown : byteValue(m.bytes[0]);
            if (first >= 0 && isPositive(first)) {
                positiveDamaged = true;
                if (!m.bytes.empty()) {
                    out.messages.push_back(std::move(m.bytes));
                    out.whole.push_back(false);
                }
            }
            continue;
        }
        if (m.bytes.empty()) {
            if (!m.whole) anyCut = true;
            continue;
        }
        const int first = byteValue(m.bytes[0]);
        if (first == kNegative) {
            // "7F", the service asked, the response code; any of them may be cut off.
            if (m.bytes.size() >= 2 && asked.service >= 0 &&
                byteValue(m.bytes[1]) != asked.service) {
                others = true;  // the answer to another request
                continue;
            }
            const int code = m.bytes.size() >= 3 ? byteValue(m.bytes[2]) : -1;
            if (code == kResponsePending || isBusyCode(code)) {
                waiting = code == kResponsePending ? QZEReplyKind::pending : QZEReplyKind::busy;
                waitingCode = code;
                waitingAfterAnswer = !out.messages.empty();
            } else {
                refused = true;
                refusalCode = code;
            }
            continue;
        }
        if (!isPositive(first)) {
            if (!m.whole)
                anyCut = true;  // a message that cannot be told
            else
                others = true;
            continue;
        }
        const bool whole = m.whole && holdsItsRecords(m.bytes, asked.records);
        anyCut = anyCut || !whole;
        out.messages.push_back(std::move(m.bytes));
        out.whole.push_back(whole);
        waitingAfterAnswer = false;
    }
    out.withRefusal = refused || waitingAfterAnswer;
    if (!out.messages.empty()) {
        if (positiveDamaged || lines.damaged || lines.words)
            out.kind = QZEReplyKind::damaged;
        else if (anyCut || lines.endedEarly)
            out.kind = QZEReplyKind::cutShort;
        else
            out.kind = QZEReplyKind::answer;
        return out;
    }
    if (damaged) {
        out.kind = QZEReplyKind::damaged;
    } else if (anyCut) {
        out.kind = QZEReplyKind::cutShort;
    } else if (refused) {
        // A refusal whose reply stopped before its prompt: what followed it is unknown.
        out.kind = lines.endedEarly ? QZEReplyKind::cutShort : QZEReplyKind::refusal;
        out.code = refusalCode;
    } else if (waiting) {
        out.kind = *waiting;
        out.code = waitingCode;
    } else if (!out.setAside.empty()) {
        out.kind = QZEReplyKind::elsewhere;
    } else if (others || lines.words || lines.noData || lines.endedEarly) {
        out.kind = QZEReplyKind::sensorWord;
    } else {
        out.kind = QZEReplyKind::silence;
    }
    return out;
}

}  // namespace

bool isCutShortLine(std::string_view line) {
    return reply::tokens(line) == reply::tokens(QZVehicleCommunicationProtocol::kCutShortLine);
}

bool isBusyCode(int code) {
    return std::find(kBusyCodes.begin(), kBusyCodes.end(), code) != kBusyCodes.end();
}

const char* replyKindName(QZEReplyKind kind) {
    switch (kind) {
        case QZEReplyKind::answer:
            return "answer";
        case QZEReplyKind::refusal:
            return "refusal";
        case QZEReplyKind::pending:
            return "response pending";
        case QZEReplyKind::busy:
            return "busy";
        case QZEReplyKind::cutShort:
            return "cut short";
        case QZEReplyKind::damaged:
            return "damaged";
        case QZEReplyKind::sensorWord:
            return "the sensor's words";
        case QZEReplyKind::silence:
            return "silence";
        case QZEReplyKind::elsewhere:
            return "another address's answer";
    }
    return "";
}

QZEAsked QZEAsked::of(std::string_view request, QZEFraming framing, QZEDisplayForm display) {
    QZEAsked asked;
    asked.framing = framing;
    asked.display = display;
    const auto t = reply::tokens(request);
    if (!t.empty()) {
        // "1902FF" and "19 02 FF" alike.
        asked.service = byteValue(t[0].substr(0, 2));
    }
    return asked;
}

int QZEAsked::positiveByte() const {
    if (positive >= 0 || positive == kAnyByte) return positive;
    if (service < 0) return -1;
    return (service + 0x40) & 0xFF;
}

bool QZEModuleReply::unreadable() const {
    switch (kind) {
        case QZEReplyKind::cutShort:
        case QZEReplyKind::damaged:
        case QZEReplyKind::pending:
        case QZEReplyKind::busy:
        case QZEReplyKind::elsewhere:
            return true;
        default:
            return false;
    }
}

bool QZEModuleReply::readAgain() const {
    return kind == QZEReplyKind::cutShort || kind == QZEReplyKind::damaged ||
           kind == QZEReplyKind::elsewhere;
}

QZEModuleReply QZEModuleReply::classify(std::string_view reply, const QZEAsked& asked,
                                        bool cutShort) {
    Lines lines = readLines(reply, asked);
    lines.endedEarly = lines.endedEarly || cutShort;
    QZEModuleReply out = classifyLines(std::move(lines), asked);
    out.text = std::string(reply);
    return out;
}

std::vector<std::string> QZEModuleReply::spacedLines(std::string_view reply,
                                                     const QZEAsked& asked) {
    std::vector<std::string> out;
    Unspaced unspaced(asked);
    for (auto printed : reply::lines(reply)) {
        std::string storage;
        out.emplace_back(unspaced.line(printed, storage));
    }
    return out;
}

QZEModuleReply QZEModuleReply::classifyMessage(const QZEMessageBytes& message, bool whole,
                                               const QZEAsked& asked, bool damaged) {
    Lines lines;
    lines.damaged = damaged;
    Message m;
    m.bytes = message;
    m.whole = whole && std::all_of(message.begin(), message.end(),
                                   [](const std::string& b) { return isByte(b); });
    if (!m.bytes.empty() || !m.whole) lines.messages.push_back(std::move(m));
    QZEModuleReply out = classifyLines(std::move(lines), asked);
    for (const auto& byte : message) out.text += byte + " ";
    return out;
}

}  // namespace qz
