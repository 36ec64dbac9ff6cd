#include "lib/Decoders/QZEReplyMeaning.hpp"

#include <algorithm>
#include <optional>
#include <string>

namespace qz::reply {

namespace {

constexpr int kNegative = 0x7F;
constexpr int kResponsePending = 0x78;

std::optional<int64_t> hexNumber(std::string_view text) {
    if (text.empty() || text.size() > 8 || !isHexToken(text)) return std::nullopt;
    int64_t value = 0;
    for (char c : text) value = value * 16 + hexByte({&c, 1});
    return value;
}

// The addresses the module answers from, as numbers.
class Addresses {
  public:
    explicit Addresses(const QZEAsked& asked) : asked_(asked) {
        for (const auto& a : asked.from)
            if (auto x = hexNumber(a)) values_.push_back(*x);
    }

    bool any() const { return !asked_.from.empty(); }

    // Whether a message shown from `s` is the module's: every message where no address is asked
    // for or none is shown.
    bool module(const Sender& s) const {
        if (!any() || !s.known()) return true;
        if (asked_.framing == QZEFraming::canExtended) {
            if (s.address < 0) return true;
            if (s.address == kTester) {
                // Frames to the tester: the identifier shown names the module (its address as
                // the identifier's low byte, 612 for 12), where there is one.
                if (s.id < 0) return true;
                return named([&](int64_t x) { return x == s.id || x == (s.id & 0xFF); });
            }
        }
        const int64_t shown = s.address >= 0 ? s.address : s.id;
        // GMLAN: the module's unacknowledged frames on the 5xx identifier paired with its own.
        if (asked_.pairedFrames && named([&](int64_t x) { return shown == (0x500 | (x & 0xFF)); }))
            return true;
        return named([&](int64_t x) { return x == shown; });
    }

  private:
    static constexpr int kTester = 0xF1;

    template <class Is>
    bool named(Is&& is) const {
        return std::any_of(values_.begin(), values_.end(), is);
    }

    const QZEAsked& asked_;
    std::vector<int64_t> values_;
};

// The address of a message set aside, as the log names it: the identifier of a frame to the
// tester, else the address shown.
std::string shownAddress(const Sender& s) {
    if (s.address >= 0 && !(s.id >= 0 && s.address == 0xF1)) return std::string(s.shownAddress);
    std::string out;
    for (char c : s.shownId)
        if (c != ' ') out += c;
    return out;
}

// How a positive message holds its records.
enum class Fit {
    holds,
    cut,    // shorter than its head, ending inside a record, or fewer records than a whole holds
    wrong,  // a length its count does not give
};

Fit recordsOf(const std::vector<std::string_view>& m, const QZERecordLayout& layout) {
    const size_t size = m.size();
    const size_t head = layout.headOf(size);
    if (size < head) return Fit::cut;
    if (layout.size == 0) return Fit::holds;
    const size_t records = (size - head) / layout.size;
    const bool rest = (size - head) % layout.size != 0;
    if (layout.counted(size)) {
        const auto count = static_cast<size_t>(hexByte(m[static_cast<size_t>(layout.countAt)]));
        // Records past those a Toyota count reads are filler when every byte is 00 (no code).
        auto fillerFrom = [&](size_t record) {
            for (size_t at = head + record * layout.size; at < size; ++at)
                if (hexByte(m[at]) != 0) return false;
            return true;
        };
        if (layout.count == QZERecordLayout::Count::oneAtLeast) {
            // Fewer records than counted: cut at its end; more than it reads: not its count's.
            if (records < count) return Fit::cut;
            if (rest ||
                (records > std::max<size_t>(count, 1) && !fillerFrom(std::max<size_t>(count, 1))))
                return Fit::wrong;
        } else if (size != head + count * layout.size &&
                   !(layout.count == QZERecordLayout::Count::evenLength && !rest &&
                     records > count && fillerFrom(count))) {
            return Fit::wrong;
        }
    } else if (rest) {
        return Fit::cut;
    }
    return records < layout.least ? Fit::cut : Fit::holds;
}

QZEMessageBytes owned(const std::vector<std::string_view>& bytes) {
    QZEMessageBytes out;
    out.reserve(bytes.size());
    for (auto b : bytes) out.emplace_back(b);
    return out;
}

}  // namespace

QZEModuleReply meaningOf(const std::vector<Message>& messages, const Beside& beside,
                         const QZEAsked& asked) {
    QZEModuleReply out;
    const Addresses from(asked);
    const int positive = asked.positiveByte();
    auto isPositive = [&](int first) {
        return asked.positive == QZEAsked::kAnyByte ? first != kNegative : first == positive;
    };
    // Whether the bytes answer the question: its positive answer, or a negative one to it.
    auto answersIt = [&](const Message& m) {
        if (m.damaged || m.control || m.bytes.empty()) return false;
        const int first = hexByte(m.bytes[0]);
        if (first != kNegative) return isPositive(first);
        return m.bytes.size() < 2 || asked.service < 0 || hexByte(m.bytes[1]) == asked.service;
    };
    bool anyCut = false;  // a positive message, or one that cannot be told, cut short
    bool damaged = beside.damaged;
    // The module's own bytes, shown from its address, that could not be read or answer nothing
    // asked: an answer beside them is not all it said (the rest of another answer glued on).
    bool spoiled = false;
    bool refused = false;
    bool others = false;  // the module's bytes that answer nothing asked
    std::optional<QZEReplyKind> waiting;
    bool waitingAfterAnswer = false;  // a pending or busy answer after the last positive one
    int refusalCode = -1;
    int waitingCode = -1;
    for (const auto& m : messages) {
        if (!from.module(m.sender)) {
            // Another address's answer: not the module's, noted as set aside.
            if (answersIt(m)) {
                std::string address = shownAddress(m.sender);
                if (std::find(out.setAside.begin(), out.setAside.end(), address) ==
                    out.setAside.end())
                    out.setAside.push_back(std::move(address));
            }
            continue;
        }
        const bool own = from.any() && m.sender.known();
        if (m.control) {
            others = true;
            spoiled = spoiled || own;
            continue;
        }
        if (m.damaged) {
            // A damaged message spoils an answer when it was a positive one itself, or shown
            // from the module's address.
            damaged = true;
            spoiled = spoiled || own;
            const int first = m.bytes.empty() ? m.shown : hexByte(m.bytes[0]);
            if (first >= 0 && isPositive(first)) {
                spoiled = true;
                if (!m.bytes.empty()) {
                    out.messages.push_back(owned(m.bytes));
                    out.whole.push_back(false);
                }
            }
            continue;
        }
        if (m.bytes.empty()) {
            anyCut = true;  // stopped in its first bytes, or a length of none
            continue;
        }
        const int first = hexByte(m.bytes[0]);
        if (first == kNegative) {
            // "7F", the service asked, the response code; any of them may be cut off.
            if (m.bytes.size() >= 2 && asked.service >= 0 && hexByte(m.bytes[1]) != asked.service) {
                others = true;  // the answer to another request
                spoiled = spoiled || own;
                continue;
            }
            const int code = m.bytes.size() >= 3 ? hexByte(m.bytes[2]) : -1;
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
            if (!m.whole) {
                anyCut = true;  // a message that cannot be told
            } else {
                others = true;
                spoiled = spoiled || own;
            }
            continue;
        }
        const Fit fit = recordsOf(m.bytes, asked.records);
        // Known whole: its framing tells where it ends, and no error of the sensor's stood
        // beside it (the sensor's own trouble may have cut it).
        const bool known = m.whole && m.bounded && !beside.words;
        if (known && (fit == Fit::wrong || (m.unframed && fit != Fit::holds))) {
            // Whole, and not the answer its own bytes say: no record of it is trusted.
            damaged = true;
            spoiled = true;
            continue;
        }
        const bool whole = m.whole && fit == Fit::holds;
        anyCut = anyCut || !whole;
        out.messages.push_back(owned(m.bytes));
        out.whole.push_back(whole);
        waitingAfterAnswer = false;
    }
    out.withRefusal = refused || waitingAfterAnswer;
    if (!out.messages.empty()) {
        if (spoiled || beside.damaged || beside.words)
            out.kind = QZEReplyKind::damaged;
        else if (anyCut || beside.endedEarly)
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
        out.kind = beside.endedEarly ? QZEReplyKind::cutShort : QZEReplyKind::refusal;
        out.code = refusalCode;
    } else if (waiting) {
        out.kind = *waiting;
        out.code = waitingCode;
    } else if (others) {
        // The module's bytes, answering nothing asked: never nothing.
        out.kind = QZEReplyKind::damaged;
    } else if (!out.setAside.empty()) {
        out.kind = QZEReplyKind::elsewhere;
    } else if (beside.words || beside.noData) {
        out.kind = QZEReplyKind::sensorWord;
    } else if (beside.endedEarly) {
        // Stopped before anything of the module came (the sensor's echo or notice at most):
        // what it answered is not known.
        out.kind = QZEReplyKind::cutShort;
        out.unknown = true;
    } else {
        out.kind = QZEReplyKind::silence;
    }
    return out;
}

}  // namespace qz::reply
