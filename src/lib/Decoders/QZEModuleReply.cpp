#include "lib/Decoders/QZEModuleReply.hpp"

#include <algorithm>
#include <deque>
#include <map>
#include <optional>
#include <set>

#include "lib/Decoders/QZEReplyText.hpp"

namespace qz {

namespace {

using reply::byteValue;
using reply::isByte;
using reply::Tokens;

constexpr int kNegative = 0x7F;
constexpr int kResponsePending = 0x78;

bool isBusyCode(int code) {
    return code == 0x21 || code == 0x37 || code == 0x10 || code == 0x23;
}

// A byte cut in half: the last digit of a line whose end was lost ("7F 1").
bool isHalfByte(std::string_view token) {
    return token.size() == 1 && reply::isHexToken(token);
}

// One message as the display showed it.
struct Message {
    std::string address;  // the identifier, address byte or source byte shown; empty: none
    QZEMessageBytes bytes;
    bool whole = true;
};

// What the lines of a reply held.
struct Lines {
    std::vector<Message> messages;
    bool damaged = false;  // a line flagged damaged
    bool words = false;    // the sensor's words (NO DATA aside) or junk
    bool noData = false;   // "NO DATA"
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

// ISO-TP frames of the CAN display, followed per sender.
class CanFrames {
  public:
    CanFrames(Lines& out, bool extended) : out_(out), extended_(extended) {}

    void line(const Tokens& row, const Tokens* next) {
        Tokens t = row;
        if (extended_) return extendedLine(t);
        // Headers off, multi-frame: the length line, then "N:" frames.
        if (t.size() == 1 && t[0].size() == 3 && reply::isHexToken(t[0]) && next &&
            !next->empty() && reply::isFrameMarker((*next)[0])) {
            close("");
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
        if (const size_t id = identifiers_.at(t)) {
            // Shown once, the identifier stands for the lines after it too.
            headersOn_ = true;
            sender_.clear();
            for (size_t i = 0; i < id; ++i) sender_ += t[i];
            t.erase(t.begin(), t.begin() + static_cast<std::ptrdiff_t>(id));
            if (t.empty()) return;
        }
        if (headersOn_) return frame(sender_, t.begin(), t.end());
        // Headers off: a single frame's data, its PCI byte shown or not (a response byte is never
        // 01 to 07).
        close("");
        const int first = isByte(t[0]) ? byteValue(t[0]) : 0;
        if (first >= 1 && first <= 7 && t.size() == static_cast<size_t>(first) + 1)
            return frame("", t.begin(), t.end());
        plain("", t.begin(), t.end());
    }

    // A line flagged damaged: the message of its sender is lost from there.
    void lost(const Tokens& t) {
        std::string sender = extended_ ? std::string() : sender_;
        const size_t bytes =
            static_cast<size_t>(std::find_if(t.begin(), t.end(), reply::isDamageFlag) - t.begin());
        if (bytes > 0) {
            if (extended_) {
                const size_t id = identifiers_.at(t);
                if (id > 0) {
                    identifier_.clear();
                    for (size_t i = 0; i < id; ++i) identifier_ += t[i];
                }
                if (id < bytes && isByte(t[id])) sender = extendedSender(t[id]);
            } else if (bytes == 1 && !headersOn_) {
                sender.clear();  // the length line of the headers-off display
            } else if (const size_t id = identifiers_.at(t); id > 0 && id < bytes) {
                headersOn_ = true;
                sender_.clear();
                for (size_t i = 0; i < id; ++i) sender_ += t[i];
                sender = sender_;
            }
        }
        broken(sender);
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

    // The sender of an extended frame: its address byte, behind the identifier shown (once or
    // on every line) as "<identifier> <address>".
    std::string extendedSender(std::string_view address) const {
        if (identifier_.empty()) return std::string(address);
        return identifier_ + " " + std::string(address);
    }

    void extendedLine(Tokens& t) {
        if (const size_t id = identifiers_.at(t)) {
            identifier_.clear();
            for (size_t i = 0; i < id; ++i) identifier_ += t[i];
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
            if (it != open_.end())
                broken(sender);
            else
                cut(sender);
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

    void broken(const std::string& sender) {
        auto it = open_.find(sender);
        if (it == open_.end()) return cut(sender);
        out_.messages.push_back(Message{sender, std::move(it->second.bytes), false});
        open_.erase(it);
    }

    // A message of which nothing readable came.
    void cut(const std::string& sender) { out_.messages.push_back(Message{sender, {}, false}); }

    Lines& out_;
    bool extended_;
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

void kLineLine(const Tokens& t, Lines& out) {
    if (!bytesOnly(t)) {
        out.words = true;
        return;
    }
    const int format = byteValue(t[0]);
    // ISO 9141-2 headers: 48 6B <source> <data> <checksum>, no length.
    if (t.size() >= 4 && format == 0x48 && isByte(t[1]) && byteValue(t[1]) == 0x6B) {
        Message m;
        m.address = std::string(t[2]);
        m.whole = isByte(t.back()) && takeBytes(t.begin() + 3, t.end() - 1, t.size() - 4, m.bytes);
        out.messages.push_back(std::move(m));
        return;
    }
    size_t head = 3;
    size_t length = static_cast<size_t>(format & 0x3F);
    if (length == 0 && t.size() >= 4 && isByte(t[3])) {
        head = 4;
        length = static_cast<size_t>(byteValue(t[3]));
    }
    // A header: a format byte, then the tester as target (or a length and checksum that agree).
    const bool headed = (format & 0x80) && t.size() >= 3 && isByte(t[1]) &&
                        (byteValue(t[1]) == 0xF1 || checksumAgrees(t, head, length));
    Message m;
    if (!headed) {
        m.whole = takeBytes(t.begin(), t.end(), t.size(), m.bytes);
    } else {
        m.address = std::string(t[2]);
        if ((format & 0x3F) == 0 && head == 3) {
            m.whole = false;  // the length byte lost
        } else {
            const auto begin = t.begin() + static_cast<std::ptrdiff_t>(std::min(head, t.size()));
            m.whole = takeBytes(begin, t.end(), length, m.bytes) && m.bytes.size() == length;
        }
    }
    out.messages.push_back(std::move(m));
}

void j1850Line(const Tokens& t, int positive, Lines& out) {
    if (!bytesOnly(t)) {
        out.words = true;
        return;
    }
    const bool whole = isByte(t.back());
    bool headed = false;
    if (whole && t.size() >= 5) {
        const int first = byteValue(t[0]);
        const int fourth = byteValue(t[3]);
        if (positive >= 0)
            headed = first != positive && first != kNegative &&
                     (fourth == positive || fourth == kNegative);
        else
            headed = reply::j1850Crc(t.begin(), t.end() - 1) == byteValue(t.back());
    }
    Message m;
    if (headed) {
        m.address = std::string(t[2]);
        takeBytes(t.begin() + 3, t.end() - 1, t.size() - 4, m.bytes);
    } else {
        m.whole = takeBytes(t.begin(), t.end(), t.size(), m.bytes);
    }
    out.messages.push_back(std::move(m));
}

// A line printed without blanks ("7E8037F0422", "486B10447F") as the bytes it holds: a CAN
// identifier first (three digits when the count is odd, eight when they begin as diagnostic
// identifiers do), then two digits a byte; a frame of the headers-off display keeps its marker
// ("1:08C10000" is "1: 08 C1 00 00"). Other lines as they stand.
std::string_view spaced(std::string_view line, std::string& storage) {
    const auto t = reply::tokens(line);
    if (t.size() != 1) return line;
    if (t[0].size() > 3 && reply::isFrameMarker(t[0].substr(0, 2)) &&
        reply::isHexToken(t[0].substr(2))) {
        storage = std::string(t[0].substr(0, 2));
        // GCC 12 sees an overlap in std::string's inlined copy here that cannot occur (a false
        // warning).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wrestrict"
        for (size_t at = 2; at < t[0].size(); at += 2)
            storage += " " + std::string(t[0].substr(at, 2));
#pragma GCC diagnostic pop
        return storage;
    }
    if (t[0].size() < 4 || !reply::isHexToken(t[0])) return line;
    const std::string_view run = t[0];
    size_t id = run.size() % 2 ? 3 : 0;
    if (id == 0 && run.size() >= 10) {
        const int priority = byteValue(run.substr(0, 2));
        const int format = byteValue(run.substr(2, 2));
        if (priority >= 0x08 && priority <= 0x1F && format >= 0xC0) id = 8;
    }
    storage = std::string(run.substr(0, id));
    for (size_t at = id; at < run.size(); at += 2) {
        if (!storage.empty()) storage += ' ';
        storage += run.substr(at, 2);
    }
    return storage;
}

// The lines of a reply read in the question's framing.
Lines readLines(std::string_view text, const QZEAsked& asked) {
    Lines out;
    std::vector<Tokens> rows;
    std::deque<std::string> storage;  // lines respaced
    for (auto printed : reply::lines(text)) {
        if (reply::isNotice(printed)) continue;
        storage.emplace_back();
        const std::string_view line = spaced(printed, storage.back());
        auto t = reply::tokens(line);
        if (t.empty()) continue;
        const bool data = std::all_of(t.begin(), t.end(), [](std::string_view token) {
            return reply::isHexToken(token) || reply::isFrameMarker(token);
        });
        if (data || reply::isDamagedLine(t)) {
            rows.push_back(std::move(t));
        } else if (reply::holdsNoData(line) && !reply::holdsSensorError(line)) {
            out.noData = true;
        } else {
            out.words = true;
        }
    }
    if (asked.framing == QZEFraming::message) {
        Message m;
        for (const auto& row : rows) {
            if (reply::isDamagedLine(row)) {
                out.damaged = true;
                continue;
            }
            m.whole = takeBytes(row.begin(), row.end(), row.size(), m.bytes) && m.whole;
        }
        if (!m.bytes.empty() || !m.whole) out.messages.push_back(std::move(m));
        return out;
    }
    const bool can = asked.framing == QZEFraming::can || asked.framing == QZEFraming::canExtended;
    CanFrames frames(out, asked.framing == QZEFraming::canExtended);
    for (size_t i = 0; i < rows.size(); ++i) {
        const Tokens& t = rows[i];
        if (reply::isDamagedLine(t)) {
            out.damaged = true;
            if (can) frames.lost(t);
            continue;
        }
        if (can)
            frames.line(t, i + 1 < rows.size() ? &rows[i + 1] : nullptr);
        else if (asked.framing == QZEFraming::kLine)
            kLineLine(t, out);
        else
            j1850Line(t, asked.positiveByte(), out);
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

bool fromModule(const Message& m, const QZEAsked& asked) {
    if (asked.from.empty() || m.address.empty()) return true;
    std::string_view address = m.address;
    std::string_view identifier;
    if (const size_t blank = address.find(' '); blank != std::string_view::npos) {
        identifier = address.substr(0, blank);
        address = address.substr(blank + 1);
    }
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
    return named([&](const std::string& a) { return sameAddress(a, address); });
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
    bool anyCut = false;  // a positive message, or one that cannot be told, cut short
    bool refused = false;
    bool others = false;  // bytes that answer nothing asked
    std::optional<QZEReplyKind> waiting;
    bool waitingAfterAnswer = false;  // a pending or busy answer after the last positive one
    int refusalCode = -1;
    int waitingCode = -1;
    for (auto& m : lines.messages) {
        if (!fromModule(m, asked)) continue;  // another module's answer
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
        const bool isPositive = asked.positive == QZEAsked::kAnyByte ? true : first == positive;
        if (!isPositive) {
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
        if (lines.damaged || lines.words)
            out.kind = QZEReplyKind::damaged;
        else if (anyCut)
            out.kind = QZEReplyKind::cutShort;
        else
            out.kind = QZEReplyKind::answer;
        return out;
    }
    if (lines.damaged) {
        out.kind = QZEReplyKind::damaged;
    } else if (anyCut) {
        out.kind = QZEReplyKind::cutShort;
    } else if (refused) {
        out.kind = QZEReplyKind::refusal;
        out.code = refusalCode;
    } else if (waiting) {
        out.kind = *waiting;
        out.code = waitingCode;
    } else if (others || lines.words || lines.noData) {
        out.kind = QZEReplyKind::sensorWord;
    } else {
        out.kind = QZEReplyKind::silence;
    }
    return out;
}

}  // namespace

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
    }
    return "";
}

QZEAsked QZEAsked::of(std::string_view request, QZEFraming framing) {
    QZEAsked asked;
    asked.framing = framing;
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
            return true;
        default:
            return false;
    }
}

QZEModuleReply QZEModuleReply::classify(std::string_view reply, const QZEAsked& asked) {
    QZEModuleReply out = classifyLines(readLines(reply, asked), asked);
    out.text = std::string(reply);
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
