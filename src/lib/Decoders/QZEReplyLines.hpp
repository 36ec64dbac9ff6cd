#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "lib/Decoders/QZEModuleReply.hpp"
#include "lib/Decoders/QZEReplyText.hpp"

// The first step of reading a module's reply: each line read once, in the display form told, into
// its tokens (a line printed without blanks split into its identifier and bytes), the CAN
// identifier in front of it, where a flag or a token that is no byte damages it, and whether it
// came to its end. Frames and messages are QZEReplyFrames' to make of them.
namespace qz::reply {

inline constexpr uint32_t kNoFlag = UINT32_MAX;

// One line of a reply.
struct Line {
    enum class Shape : uint8_t {
        bytes,   // bytes, possibly up to a flag
        words,   // the sensor's words or junk
        noData,  // "NO DATA"
    };
    Shape shape = Shape::bytes;
    // Its tokens in the reply's token list, [first, end); a damaged line's stop at the flag or
    // the token that is no byte.
    uint32_t first = 0;
    uint32_t end = 0;
    // CAN: how many tokens at its start are the identifier (0, 1 or 4).
    uint8_t identifier = 0;
    // The length line of the headers-off multi-frame display ("00F" before "0: ...").
    bool lengthLine = false;
    // A flag ("<RX ERROR") or a token that is no byte stood after its tokens.
    bool flagged = false;
    // It came to its line end: not the last part of a reply that stopped before its prompt.
    bool whole = true;

    size_t size() const { return end - first; }
};

// The lines of a reply, its sensor's words and notices passed over.
struct Lines {
    Tokens tokens;            // every line's tokens, views into the reply
    std::vector<Line> lines;  // the lines of bytes, in order
    bool words = false;       // the sensor's words (NO DATA aside) or junk
    bool noData = false;      // "NO DATA"

    Tokens::const_iterator begin(const Line& line) const { return tokens.begin() + line.first; }
    Tokens::const_iterator end(const Line& line) const { return tokens.begin() + line.end; }
};

// Reads the reply's lines as the question's framing and display form show them; `cutShort`: the
// reply stopped before its prompt, its last line (unless the part ended with one) cut.
Lines readLines(std::string_view text, const QZEAsked& asked, bool cutShort);

// Each line of the reply as `readLines` spaces it: a line printed without blanks spaced into its
// identifier and bytes, any other line as it stands.
std::vector<std::string> spacedLines(std::string_view text, const QZEAsked& asked);

}  // namespace qz::reply
