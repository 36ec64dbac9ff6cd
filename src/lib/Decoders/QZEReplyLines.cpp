#include "lib/Decoders/QZEReplyLines.hpp"

#include <algorithm>

namespace qz::reply {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool isData(std::string_view token) {
    return isHexToken(token) || isFrameMarker(token);
}

bool isHalfByte(std::string_view token) {
    return token.size() == 1 && isHexToken(token);
}

bool leadsWithHex(std::string_view run, size_t digits) {
    return run.size() >= digits && isHexToken(run.substr(0, digits));
}

// Lines printed without blanks ("7E8037F0422", "486B10447F") as the bytes they hold: a CAN
// identifier first where the display shows one, then two digits a byte, an odd digit left being
// a byte cut in half, a pair holding junk no byte ("5902FF1G" is "59 02 FF 1G"); a frame of the
// headers-off display keeps its marker ("1:08C10000" is "1: 08 C1 00 00"); a flag or words after
// the run stay behind it. On CAN a run of three digits is an identifier or a length, so it takes
// four to be bytes; on K-line and J1850 three digits are a byte and half of one ("580"). The
// tokens are views into the line.
class Respacer {
  public:
    explicit Respacer(const QZEAsked& asked)
        : can_(asked.framing != QZEFraming::kLine && asked.framing != QZEFraming::j1850),
          display_(asked.display) {}

    // Appends the line's tokens to `out`; false when the line stands as it was printed.
    bool line(std::string_view line, Tokens& out) {
        const size_t start = out.size();
        appendTokens(line, out);
        const size_t count = out.size() - start;
        if (count == 0) return false;
        // A run followed by words only ("7E8037F1922 <RX ERROR"): the run is respaced, the words
        // stay behind it.
        const bool wordsAfter =
            count > 1 &&
            std::none_of(out.begin() + static_cast<std::ptrdiff_t>(start) + 1, out.end(), isData);
        if (count != 1 && !wordsAfter) {
            seen(out, start);
            return false;
        }
        const std::string_view run = out[start];
        if (run.size() > 3 && isFrameMarker(run.substr(0, 2)) && leadsWithHex(run.substr(2), 2)) {
            split(out, start, 2);
            return true;
        }
        if (!leadsWithHex(run, can_ ? 4 : 3)) {
            seen(out, start);
            return false;
        }
        const size_t id = can_ ? identifierDigits(run) : 0;
        if (id > 0) remember(run.substr(0, id));
        firstLine_ = false;
        split(out, start, id);
        return true;
    }

  private:
    // Replaces the run at `at` by its first `head` characters (when any), then its pairs of
    // digits.
    static void split(Tokens& out, size_t at, size_t head) {
        const std::string_view run = out[at];
        Tokens after(out.begin() + static_cast<std::ptrdiff_t>(at) + 1, out.end());
        out.resize(at);
        if (head > 0) out.push_back(run.substr(0, head));
        for (size_t i = head; i < run.size(); i += 2) out.push_back(run.substr(i, 2));
        out.insert(out.end(), after.begin(), after.end());
    }

    void remember(std::string_view identifier) {
        if (std::find(seen_.begin(), seen_.end(), identifier) == seen_.end())
            seen_.push_back(identifier);
    }

    // A spaced line's identifier is a token of its own; a line of bytes that a flag or junk
    // follows shows it too.
    void seen(const Tokens& out, size_t start) {
        size_t data = start;
        while (data < out.size() && isData(out[data])) ++data;
        const bool bytes =
            data == out.size() || data - start >= 2 || (data > start && isDamageFlag(out[data]));
        if (!bytes) return;
        if (out[start].size() >= 3 && isHexToken(out[start])) remember(out[start]);
        firstLine_ = false;
    }

    static bool widePrefix(std::string_view run) {
        if (run.size() < 10) return false;
        const int priority = byteValue(run.substr(0, 2));
        const int format = byteValue(run.substr(2, 2));
        return priority >= 0x08 && priority <= 0x1F && format >= 0xC0;
    }

    bool startsWithSeen(std::string_view run, size_t digits) const {
        return run.size() > digits &&
               std::find(seen_.begin(), seen_.end(), run.substr(0, digits)) != seen_.end();
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
    std::vector<std::string_view> seen_;  // identifiers seen
};

// A notice begins "SEARCHING" or "BUS INIT:", in any case.
bool mayBeNotice(std::string_view line) {
    for (char c : line) {
        if (isSpace(c)) continue;
        return c == 'S' || c == 's' || c == 'B' || c == 'b';
    }
    return false;
}

// Digits run into the sensor's "NO DATA" ("0NO" of "765 0NO DATA"): the line's bytes with a
// late rest's words glued on after them.
bool digitsBeforeNoData(std::string_view rest) {
    size_t digits = 0;
    while (digits < rest.size() && isHexToken(rest.substr(digits, 1))) ++digits;
    const std::string_view words = rest.substr(digits);
    return digits > 0 && words.size() >= 2 && (words[0] == 'N' || words[0] == 'n') &&
           holdsNoData(words);
}

// Where the line's bytes stop: at a flag, or a token that is no byte after bytes (K-line and
// J1850 lines take bytes only, a last half byte aside: a frame marker or a longer run is no byte
// of theirs); the line is the sensor's words when it begins with a token that is no data, or
// holds their error words after one byte ("FB ERROR"), unless digits run into them.
void shape(Line& line, const Tokens& tokens, std::string_view printed, bool bytesOnly) {
    for (uint32_t i = line.first; i < line.end; ++i) {
        const std::string_view token = tokens[i];
        if (isDamageFlag(token)) {
            line.end = i;
            line.flagged = true;
            break;
        }
        if (isData(token)) continue;
        const auto rest = printed.substr(static_cast<size_t>(token.data() - printed.data()));
        if (i == line.first ||
            (i == line.first + 1 && (holdsSensorError(printed) || holdsNoData(printed)) &&
             !digitsBeforeNoData(rest))) {
            line.shape = holdsNoData(printed) && !holdsSensorError(printed) ? Line::Shape::noData
                                                                            : Line::Shape::words;
            return;
        }
        line.end = i;
        line.flagged = true;
        break;
    }
    if (!bytesOnly) return;
    for (uint32_t i = line.first; i < line.end; ++i) {
        const std::string_view token = tokens[i];
        if (isByte(token) || (i + 1 == line.end && !line.flagged && isHalfByte(token))) continue;
        line.end = i;
        line.flagged = true;
        return;
    }
}

// The identifiers in front of CAN lines, and the headers-off display's length lines.
void identifiers(Lines& out, const QZEAsked& asked) {
    const bool plainCan = asked.framing == QZEFraming::can;
    Identifiers ids(asked.display.identifierDigits != 3);
    for (size_t i = 0; i < out.lines.size(); ++i) {
        Line& line = out.lines[i];
        if (line.size() == 0) continue;
        const std::string_view first = out.tokens[line.first];
        if (plainCan) {
            if (isFrameMarker(first)) continue;
            if (asked.display.headers != true && !line.flagged && line.size() == 1 &&
                first.size() == 3 && isHexToken(first) && i + 1 < out.lines.size() &&
                out.lines[i + 1].size() > 0 && isFrameMarker(out.tokens[out.lines[i + 1].first])) {
                line.lengthLine = true;
                continue;
            }
        }
        if (asked.framing == QZEFraming::message && line.flagged) continue;
        if (asked.display.headers == false) continue;
        line.identifier = static_cast<uint8_t>(ids.at(out.begin(line), out.end(line)));
        // Told that an identifier comes first, a first line stopped after fewer digits was cut
        // in it.
        if (line.identifier == 0 && i == 0 && !line.whole && line.size() == 1 &&
            asked.display.headers == true &&
            first.size() < static_cast<size_t>(asked.display.identifierDigits) && isHexToken(first))
            line.identifier = 1;
    }
}

}  // namespace

Lines readLines(std::string_view text, const QZEAsked& asked, bool cutShort) {
    Lines out;
    out.tokens.reserve(text.size() / 3 + 4);
    Respacer respacer(asked);
    const bool can = asked.framing == QZEFraming::can || asked.framing == QZEFraming::canExtended;
    const bool bytesOnly = asked.framing == QZEFraming::kLine || asked.framing == QZEFraming::j1850;
    size_t start = 0;
    while (start <= text.size()) {
        size_t stop = text.find('\r', start);
        const bool last = stop == std::string_view::npos;
        if (last) stop = text.size();
        const std::string_view printed = text.substr(start, stop - start);
        start = stop + 1;
        if (mayBeNotice(printed) && isNotice(printed)) continue;
        Line line;
        line.first = static_cast<uint32_t>(out.tokens.size());
        respacer.line(printed, out.tokens);
        line.end = static_cast<uint32_t>(out.tokens.size());
        if (line.end == line.first) continue;
        shape(line, out.tokens, printed, bytesOnly);
        if (line.shape != Line::Shape::bytes) {
            (line.shape == Line::Shape::noData ? out.noData : out.words) = true;
            out.tokens.resize(line.first);
            continue;
        }
        line.whole = !(cutShort && last);
        out.lines.push_back(line);
    }
    if (can || asked.framing == QZEFraming::message) identifiers(out, asked);
    return out;
}

std::vector<std::string> spacedLines(std::string_view text, const QZEAsked& asked) {
    std::vector<std::string> out;
    Respacer respacer(asked);
    Tokens tokens;
    for (auto printed : lines(text)) {
        tokens.clear();
        if (respacer.line(printed, tokens))
            out.push_back(joinedTokens(tokens));
        else
            out.emplace_back(printed);
    }
    return out;
}

}  // namespace qz::reply
