#include "lib/Decoders/QZEReplyFrames.hpp"

#include <algorithm>
#include <utility>

namespace qz::reply {

int hexByte(std::string_view token) {
    return static_cast<int>(leadingHex(token.substr(0, 2)));
}

namespace {

using It = Tokens::const_iterator;
using Bytes = std::vector<std::string_view>;

constexpr int kNegative = 0x7F;
constexpr size_t kCanFrame = 8;  // bytes of a CAN frame, its PCI byte included

// Appends the whole bytes of [begin, end), at most `most`; false when a token that is no whole
// byte (half a byte, junk) ended them.
bool takeBytes(It begin, It end, size_t most, Bytes& into) {
    for (auto it = begin; it != end && most > 0; ++it, --most) {
        if (!isByte(*it)) return false;
        into.push_back(*it);
    }
    return true;
}

int dataAt(It at, It end) {
    return at < end && isByte(*at) ? hexByte(*at) : -1;
}

// The first data byte of a frame shown from its PCI byte (-1: none shown, or a consecutive
// frame).
int dataAfterPci(It pci, It end) {
    if (pci >= end || !isByte(*pci)) return -1;
    switch (hexByte(*pci) >> 4) {
        case 0:
            return dataAt(pci + 1, end);
        case 1:
            return dataAt(pci + 2, end);
        case 2:
        case 3:
            return -1;
        default:  // a raw frame
            return hexByte(*pci);
    }
}

// The sender of a K-line or J1850 message: its source byte, when it came whole.
Sender addressed(std::string_view token) {
    Sender s;
    if (!isByte(token)) return s;
    s.address = hexByte(token);
    s.shownAddress = token;
    return s;
}

// The CAN identifier in front of a line. One cut in its digits (fewer than the display shows,
// nothing after it) tells nothing of whose the line is.
Sender identified(const Lines& lines, const Line& line, int digits) {
    Sender s;
    if (line.identifier == 0) return s;
    const It at = lines.begin(line);
    if (line.identifier == 1 && line.size() == 1 && at->size() < static_cast<size_t>(digits))
        return s;
    if (line.identifier == 4) {
        s.id = (int64_t{hexByte(at[0])} << 24) | (hexByte(at[1]) << 16) | (hexByte(at[2]) << 8) |
               hexByte(at[3]);
        s.shownId = std::string_view(
            at[0].data(), static_cast<size_t>(at[3].data() + at[3].size() - at[0].data()));
        return s;
    }
    uint64_t value = 0;
    for (char c : *at) value = value * 16 + static_cast<uint64_t>(hexByte({&c, 1}));
    s.id = static_cast<int64_t>(value & 0x7FFFFFFFFFFFFFFF);
    s.shownId = *at;
    return s;
}

// ISO-TP frames of the CAN display, followed per sender.
class CanFrames {
  public:
    CanFrames(const Lines& lines, const QZEAsked& asked, std::vector<Message>& out)
        : lines_(lines),
          out_(out),
          extended_(asked.framing == QZEFraming::canExtended),
          headersOn_(asked.display.headers == true),
          digits_(asked.display.identifierDigits) {}

    void run() {
        for (const Line& line : lines_.lines) {
            if (extended_)
                line.flagged ? lostExtended(line) : extendedLine(line);
            else
                line.flagged ? lost(line) : plainLine(line);
        }
        for (auto& o : open_) out_.push_back(closed(o));
        open_.clear();
    }

  private:
    struct Open {
        Sender sender;
        Bytes bytes;
        size_t expected = 0;
        int next = 0;
        bool markers = false;
        bool lengthKnown = true;
    };

    void plainLine(const Line& line) {
        It begin = lines_.begin(line);
        const It end = lines_.end(line);
        const Sender none;
        if (line.lengthLine) {
            // Headers off, multi-frame: the length line, then "N:" frames.
            close(none);
            unskip(none);
            size_t length = 0;
            for (char c : *begin) length = length * 16 + static_cast<size_t>(hexByte({&c, 1}));
            open(none, length, 0, true, true);
            return;
        }
        if (isFrameMarker(*begin)) {
            // The rest of a message a flagged frame broke is lost with it.
            if (skipping(none)) return;
            consecutive(none, hexByte(begin->substr(0, 1)), begin + 1, end, true);
            return;
        }
        unskip(none);
        if (line.identifier > 0) {
            // Shown once, the identifier stands for the lines after it too.
            headersOn_ = true;
            sender_ = identified(lines_, line, digits_);
            begin += line.identifier;
            // Nothing after it: the frame stopped in its first bytes.
            if (begin == end) return cut(sender_);
        }
        if (headersOn_) return frame(sender_, begin, end, line.whole);
        // Headers off: a single frame's data, or a frame with its PCI byte shown (a response
        // byte is never 01 to 07), padded to 8 bytes or not.
        close(none);
        const int first = isByte(*begin) ? hexByte(*begin) : 0;
        const auto size = static_cast<size_t>(end - begin);
        if (first >= 1 && first <= 7 &&
            (size == static_cast<size_t>(first) + 1 || size == kCanFrame))
            return frame(none, begin, end, line.whole);
        plain(none, begin, end, line.whole);
    }

    // A line flagged damaged, or holding junk after bytes: the message of its sender is lost
    // from there.
    void lost(const Line& line) {
        const It begin = lines_.begin(line);
        const It end = lines_.end(line);
        const auto size = static_cast<size_t>(end - begin);
        Sender sender = sender_;
        int first = -1;
        if (size > 0 && isFrameMarker(*begin)) {
            sender = {};  // a frame of the headers-off display
        } else if (size == 1 && !headersOn_) {
            sender = {};  // the length line of the headers-off display
        } else {
            size_t at = 0;
            if (line.identifier > 0 && line.identifier < size) {
                headersOn_ = true;
                sender_ = identified(lines_, line, digits_);
                sender = sender_;
                at = line.identifier;
            }
            if (headersOn_) {
                first = dataAfterPci(begin + static_cast<std::ptrdiff_t>(at), end);
            } else if (at < size && isByte(begin[static_cast<std::ptrdiff_t>(at)])) {
                const int value = hexByte(begin[static_cast<std::ptrdiff_t>(at)]);
                first = value >= 1 && value <= 7
                            ? dataAt(begin + static_cast<std::ptrdiff_t>(at) + 1, end)
                            : value;
            }
        }
        broken(sender, true, first);
        skip(sender);
    }

    // The sender of an extended frame: its address byte, behind the identifier shown (once or
    // on every line).
    Sender extendedSender(std::string_view address) const {
        Sender s = identifier_;
        if (isByte(address)) {
            s.address = hexByte(address);
            s.shownAddress = address;
        } else {
            s = {};  // cut inside its address: nothing tells whose it is
        }
        return s;
    }

    // The first byte after the line's identifier, which is kept for its frames.
    It afterIdentifier(const Line& line) {
        if (line.identifier == 0) return lines_.begin(line);
        identifier_ = identified(lines_, line, digits_);
        return lines_.begin(line) + line.identifier;
    }

    void extendedLine(const Line& line) {
        const It begin = afterIdentifier(line);
        const It end = lines_.end(line);
        if (line.identifier > 0 && begin == end) return cut({});
        // A line of more than 8 bytes holds several frames.
        for (It at = begin; at < end; at += std::min<std::ptrdiff_t>(kCanFrame, end - at))
            extendedFrame(at, at + std::min<std::ptrdiff_t>(kCanFrame, end - at), line.whole);
    }

    void extendedFrame(It at, It stop, bool whole) {
        const Sender sender = extendedSender(*at);
        if (!isByte(*at) || stop - at < 2) return cut(sender);
        frame(sender, at + 1, stop, whole);
    }

    // The frames of the line before the last came whole; the flag stands in the last.
    void lostExtended(const Line& line) {
        It at = afterIdentifier(line);
        const It end = lines_.end(line);
        for (; end - at > static_cast<std::ptrdiff_t>(kCanFrame); at += kCanFrame)
            extendedFrame(at, at + kCanFrame, true);
        Sender sender;
        int first = -1;
        if (at < end && isByte(*at)) {
            sender = extendedSender(*at);
            first = dataAfterPci(at + 1, end);
        }
        broken(sender, true, first);
        skip(sender);
    }

    // One frame with its PCI byte.
    void frame(const Sender& sender, It begin, It end, bool whole) {
        if (!isByte(*begin)) return cut(sender);
        // More bytes than a CAN frame holds: the end of another answer ran into it.
        if (static_cast<size_t>(end - begin) > kCanFrame)
            return tooLong(sender, dataAfterPci(begin, end));
        const int pci = hexByte(*begin);
        if ((pci >> 4) != 2) unskip(sender);
        switch (pci >> 4) {
            case 0: {
                close(sender);
                const auto length = static_cast<size_t>(pci & 15);
                Message m;
                m.sender = sender;
                m.bytes.reserve(length);
                m.whole = length > 0 && takeBytes(begin + 1, end, length, m.bytes) &&
                          m.bytes.size() == length;
                out_.push_back(std::move(m));
                return;
            }
            case 1: {
                close(sender);
                if (end - begin < 2 || !isByte(begin[1])) return cut(sender);
                open(sender, static_cast<size_t>(((pci & 15) << 8) | hexByte(begin[1])), 1, false,
                     true);
                append(sender, begin + 2, end);
                return;
            }
            case 2:
                if (skipping(sender)) return;
                return consecutive(sender, pci & 15, begin + 1, end, false);
            case 3: {  // flow control: no message, and no part of one
                Message m;
                m.sender = sender;
                m.control = true;
                out_.push_back(std::move(m));
                return;
            }
            default:  // a raw frame (GMLAN), or a line shown without its frame
                plain(sender, begin, end, whole);
        }
    }

    void consecutive(const Sender& sender, int sequence, It begin, It end, bool markers) {
        Open* o = find(sender);
        // The headers-off display shows 6 bytes behind a message's first marker, 7 behind the
        // others.
        const auto size = static_cast<size_t>(end - begin);
        if (!o && markers && sequence == 0) {
            // The first frame without its length line: the message begins, its length unknown.
            if (size > kCanFrame - 2) return tooLong(sender, dataAt(begin, end));
            open(sender, 0, 1, true, false);
            append(sender, begin, end);
            return;
        }
        if (!o || o->markers != markers || o->next != sequence) {
            // Frames without their beginning, or one lost before this one.
            broken(sender);
            return;
        }
        // Data bytes of a whole frame: behind the first marker, behind any other marker or PCI
        // byte, behind an address byte and the PCI byte.
        const size_t whole =
            (markers && o->bytes.empty()) || extended_ ? kCanFrame - 2 : kCanFrame - 1;
        if (markers && size > whole)
            return tooLong(sender, o->bytes.empty() ? dataAt(begin, end) : -1);
        // The last frame is as long as the message's last bytes, or padded to a whole frame:
        // bytes past the message's end in a shorter one are another answer run into it.
        if (o->lengthKnown && size > o->expected - o->bytes.size() && size != whole)
            return tooLong(sender, o->bytes.empty() ? dataAt(begin, end) : -1);
        o->next = (sequence + 1) & 15;
        append(sender, begin, end);
    }

    void open(const Sender& sender, size_t expected, int next, bool markers, bool lengthKnown) {
        Open o{sender, {}, expected, next, markers, lengthKnown};
        o.bytes.reserve(lengthKnown ? expected : kCanFrame);
        open_.push_back(std::move(o));
    }

    void append(const Sender& sender, It begin, It end) {
        Open* o = find(sender);
        const size_t room = !o->lengthKnown                 ? static_cast<size_t>(end - begin)
                            : o->expected > o->bytes.size() ? o->expected - o->bytes.size()
                                                            : 0;
        if (!takeBytes(begin, end, room, o->bytes)) return broken(sender);
        if (o->lengthKnown && o->bytes.size() >= o->expected) {
            Message m;
            m.sender = sender;
            m.bytes = std::move(o->bytes);
            out_.push_back(std::move(m));
            erase(o);
        }
    }

    // The bytes of a line as one message; a raw frame shown with headers holds 8 at most.
    void plain(const Sender& sender, It begin, It end, bool whole) {
        if (headersOn_ && static_cast<size_t>(end - begin) > kCanFrame)
            return tooLong(sender, isByte(*begin) ? hexByte(*begin) : -1);
        Message m;
        m.sender = sender;
        m.whole = takeBytes(begin, end, static_cast<size_t>(end - begin), m.bytes) && whole;
        out_.push_back(std::move(m));
    }

    static Message closed(Open& o) {
        Message m;
        m.sender = o.sender;
        m.whole = o.lengthKnown && o.bytes.size() >= o.expected;
        m.bytes = std::move(o.bytes);
        return m;
    }

    // An open message ends: whole only when all its bytes came.
    void close(const Sender& sender) {
        if (Open* o = find(sender)) {
            out_.push_back(closed(*o));
            erase(o);
        }
    }

    // The sender's message ends short (damaged, with the first byte shown where none came
    // before).
    void broken(const Sender& sender, bool damaged = false, int first = -1) {
        Message m;
        m.sender = sender;
        m.whole = false;
        m.damaged = damaged;
        m.shown = first;
        if (Open* o = find(sender)) {
            m.bytes = std::move(o->bytes);
            erase(o);
        }
        if (!m.bytes.empty()) m.shown = -1;
        out_.push_back(std::move(m));
    }

    // A frame too long for its framing: damaged, and its sender's message lost from there.
    void tooLong(const Sender& sender, int first) {
        broken(sender, true, first);
        skip(sender);
    }

    // A message of which nothing readable came.
    void cut(const Sender& sender) {
        Message m;
        m.sender = sender;
        m.whole = false;
        out_.push_back(std::move(m));
    }

    Open* find(const Sender& sender) {
        for (auto& o : open_)
            if (o.sender == sender) return &o;
        return nullptr;
    }
    void erase(Open* o) { open_.erase(open_.begin() + (o - open_.data())); }

    bool skipping(const Sender& sender) const {
        return std::find(skipping_.begin(), skipping_.end(), sender) != skipping_.end();
    }
    void skip(const Sender& sender) {
        if (!skipping(sender)) skipping_.push_back(sender);
    }
    void unskip(const Sender& sender) {
        if (skipping_.empty()) return;
        skipping_.erase(std::remove(skipping_.begin(), skipping_.end(), sender), skipping_.end());
    }

    const Lines& lines_;
    std::vector<Message>& out_;
    bool extended_;
    bool headersOn_;
    int digits_;         // of the identifiers the display shows; 0: not known
    Sender sender_;      // the identifier shown last
    Sender identifier_;  // the same, with extended addressing
    std::vector<Open> open_;
    std::vector<Sender> skipping_;  // senders whose message a damaged frame broke
};

// Whether a K-line line's length byte and checksum agree with it.
bool checksumAgrees(It begin, It end, size_t head, size_t length) {
    if (head + length + 1 != static_cast<size_t>(end - begin) || !std::all_of(begin, end, isByte))
        return false;
    int sum = 0;
    for (It it = begin; it + 1 < end; ++it) sum += hexByte(*it);
    return (sum & 0xFF) == hexByte(end[-1]);
}

// A K-line message with its header: <format> [<target> <source>] [<length>] <data> <checksum>,
// or ISO 9141's 48 6B <source> <data> <checksum>. Told that headers are shown, the checksum
// ends a whole message. A line that did not come to its end holds no checksum.
Message headedKLine(It begin, It end, bool told, bool whole) {
    Message m;
    const auto size = static_cast<size_t>(end - begin);
    const int format = hexByte(*begin);
    if (format == 0x48) {
        if (size >= 3) m.sender = addressed(begin[2]);
        m.whole = false;
        if (size <= 3) return m;
        // The checksum last, when the line came whole and to its last digit; without a data
        // byte before it, no byte is known to be data.
        const bool checksum = whole && isByte(end[-1]);
        if (checksum && size < 5) return m;
        m.whole = takeBytes(begin + 3, checksum ? end - 1 : end, size, m.bytes) && checksum;
        return m;
    }
    const bool addressing = !told || (format & 0xC0) != 0;
    size_t head = addressing ? 3 : 1;
    size_t length = static_cast<size_t>(format & 0x3F);
    if (addressing && size >= 3) m.sender = addressed(begin[2]);
    if (length == 0) {
        if (size <= head || !isByte(begin[static_cast<std::ptrdiff_t>(head)])) {
            m.whole = false;  // the length byte lost
            return m;
        }
        length = static_cast<size_t>(hexByte(begin[static_cast<std::ptrdiff_t>(head)]));
        ++head;
    }
    if (size > head + length + 1) {
        // Longer than its length: the end of another answer ran into it.
        m.damaged = true;
        m.whole = false;
        m.shown = length > 0 ? dataAt(begin + static_cast<std::ptrdiff_t>(head), end) : -1;
        return m;
    }
    const It data = begin + static_cast<std::ptrdiff_t>(std::min(head, size));
    m.bytes.reserve(length);
    m.whole = takeBytes(data, end, length, m.bytes) && m.bytes.size() == length && whole;
    if (told) m.whole = m.whole && size > head + length && isByte(data[length]);
    return m;
}

// The bytes of a line as one message.
Message plainMessage(It begin, It end, bool whole) {
    Message m;
    m.bytes.reserve(static_cast<size_t>(end - begin));
    m.whole = takeBytes(begin, end, static_cast<size_t>(end - begin), m.bytes) && whole;
    return m;
}

Message kLineMessage(It begin, It end, std::optional<bool> headers, bool whole) {
    const auto size = static_cast<size_t>(end - begin);
    if (!isByte(*begin)) {
        Message m;
        m.whole = false;  // half of its first byte
        return m;
    }
    const int format = hexByte(*begin);
    const bool iso9141 =
        format == 0x48 && (size < 2 || !isByte(begin[1]) || hexByte(begin[1]) == 0x6B);
    if (headers == true) {
        if ((format & 0x80) || iso9141) return headedKLine(begin, end, true, whole);
        // Printed without its header: nothing tells where it ends but its own bytes.
        Message m = plainMessage(begin, end, whole);
        m.unframed = true;
        return m;
    }
    if (headers == false) return plainMessage(begin, end, whole);
    // Not told: a header when the line begins as one does (a format byte, then the tester as
    // target, or a length and checksum that agree; ISO 9141's 48 6B).
    size_t head = 3;
    size_t length = static_cast<size_t>(format & 0x3F);
    if (length == 0 && size >= 4 && isByte(begin[3])) {
        head = 4;
        length = static_cast<size_t>(hexByte(begin[3]));
    }
    const bool headed = (format & 0x80) && size >= 3 && isByte(begin[1]) &&
                        (hexByte(begin[1]) == 0xF1 || checksumAgrees(begin, end, head, length));
    if ((iso9141 && size >= 2) || headed) return headedKLine(begin, end, false, whole);
    return plainMessage(begin, end, whole);
}

// A J1850 message: <priority> <target> <source> <data> <crc> with headers, the data without.
Message j1850Message(It begin, It end, int positive, std::optional<bool> headers, bool whole) {
    const auto size = static_cast<size_t>(end - begin);
    bool headed = false;
    if (headers) {
        headed = *headers;
    } else if (isByte(end[-1]) && size >= 5) {
        // Not told: a header when the line begins as one does.
        const int first = hexByte(begin[0]);
        const int fourth = hexByte(begin[3]);
        if (positive >= 0)
            headed = first != positive && first != kNegative &&
                     (fourth == positive || fourth == kNegative);
        else
            headed = j1850Crc(begin, end - 1) == hexByte(end[-1]);
    }
    if (!headed) return plainMessage(begin, end, whole);
    Message m;
    if (size >= 3) m.sender = addressed(begin[2]);
    m.whole = whole && size >= 5 && isByte(end[-1]);
    if (m.whole) {
        takeBytes(begin + 3, end - 1, size - 4, m.bytes);
    } else if (size > 3) {
        // No CRC known: the bytes after the header.
        takeBytes(begin + 3, end, size - 3, m.bytes);
    }
    return m;
}

// The message a damaged line stands in: its bytes are not kept, its first one tells its kind.
Message damagedMessage(Message m) {
    if (!m.damaged && !m.bytes.empty()) m.shown = hexByte(m.bytes[0]);
    m.damaged = true;
    m.whole = false;
    m.bytes.clear();
    return m;
}

}  // namespace

Messages frameMessages(const Lines& lines, const QZEAsked& asked) {
    Messages out;
    switch (asked.framing) {
        case QZEFraming::can:
        case QZEFraming::canExtended:
            CanFrames(lines, asked, out.messages).run();
            return out;
        case QZEFraming::message: {
            Message m;
            for (const Line& line : lines.lines) {
                if (line.flagged) {
                    out.damaged = true;
                    continue;
                }
                It begin = lines.begin(line);
                const It end = lines.end(line);
                if (line.identifier > 0) {
                    m.sender = identified(lines, line, asked.display.identifierDigits);
                    begin += line.identifier;
                    if (begin == end) m.whole = false;  // the frame stopped after its identifier
                }
                m.whole = takeBytes(begin, end, static_cast<size_t>(end - begin), m.bytes) &&
                          m.whole && line.whole;
            }
            m.bounded = false;
            if (!m.bytes.empty() || !m.whole) out.messages.push_back(std::move(m));
            return out;
        }
        case QZEFraming::kLine:
        case QZEFraming::j1850:
            break;
    }
    const int positive = asked.positiveByte();
    for (const Line& line : lines.lines) {
        const It begin = lines.begin(line);
        const It end = lines.end(line);
        if (begin == end) {
            out.messages.push_back(damagedMessage({}));
            continue;
        }
        Message m = asked.framing == QZEFraming::kLine
                        ? kLineMessage(begin, end, asked.display.headers, line.whole)
                        : j1850Message(begin, end, positive, asked.display.headers, line.whole);
        out.messages.push_back(line.flagged ? damagedMessage(std::move(m)) : std::move(m));
    }
    return out;
}

}  // namespace qz::reply
