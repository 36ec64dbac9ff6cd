#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Reading the sensor's reply text: tokens, lines, byte values, J2012 code texts, status words and
// the sensor's own words. Token views point into the reply text they came from. What a module's
// reply is (its messages, an answer, a refusal, a cut) is QZEModuleReply's to say.
namespace qz::reply {

using Tokens = std::vector<std::string_view>;

// The reply split at white space and line ends, without empty tokens and ">". Lines split at
// blanks read the same way: a doubled or trailing blank (the sensor prints one after every
// byte) adds no empty token.
Tokens tokens(std::string_view text);
// The same, appended to `out`.
void appendTokens(std::string_view text, Tokens& out);

// The tokens with one blank between them ("7F 19 78").
std::string joinedTokens(const Tokens& t);

// The reply split at carriage returns, each line as it stands.
std::vector<std::string_view> lines(std::string_view text);

// One or more hex digits.
bool isHexToken(std::string_view token);

// The value of a hex digit in either case; -1 for any other character.
int hexDigit(char c);

// A hex text read up to its first character that is not a hex digit (0 when none is).
uint64_t leadingHex(std::string_view text);

// A frame marker of the headers-off multi-frame display: one hex digit and a colon ("1:").
bool isFrameMarker(std::string_view token);

// A CAN identifier as the headers-on display shows it in one token: 3 or more hex digits
// ("7E8", "18DAF110").
bool isIdentifier(std::string_view token);

// Two hex digits.
bool isByte(std::string_view token);

// Finds the CAN identifier in front of the lines of one reply, fed in order. Adapters print it
// as one token ("7E8", "18DAF110") or a 29-bit one as four bytes ("18 DA F1 10"), once or on
// every line, and lines of the sensor's own ("SEARCHING...") may come first. Four bytes are
// taken for an identifier on any line when they begin as diagnostic identifiers do (18 DA, 18 DB,
// 17 FC: a first byte from 08 to 1F, a second of C0 or more), which no line without an
// identifier does: data begin with a response byte, frames shown without it with a PCI byte (a
// single frame 01-07, a first frame 1x and its length). Once four bytes were taken, later lines
// must begin with the same two; once a one-token identifier was seen, four bytes are data (a
// first frame of a long message, "10 C4 ...").
class Identifiers {
  public:
    // Without `fourBytes`, only one-token identifiers (the display shows 11-bit ones).
    explicit Identifiers(bool fourBytes = true) : fourBytes_(fourBytes) {}
    // How many tokens at the start of the line are its identifier: 0, 1 or 4.
    size_t at(const Tokens& line) { return at(line.begin(), line.end()); }
    size_t at(Tokens::const_iterator begin, Tokens::const_iterator end);

  private:
    bool fourBytes_;
    bool oneToken_ = false;  // a one-token identifier seen
    int priority_ = -1;      // the first two bytes of a four-byte identifier seen
    int format_ = -1;
};

// A frame the adapter flags as damaged: ELM327-type adapters print "<RX ERROR" or "<DATA ERROR"
// after the bytes of a frame that failed its check. Its bytes are not to be trusted, and the
// flag's words are no bytes.
bool isDamageFlag(std::string_view token);
bool isDamagedLine(const Tokens& line);
// Whether any line of the reply is a flagged frame.
bool holdsDamagedFrame(std::string_view text);

// The sensor's own words, recognised in any spacing and case: the text is compared with its
// blanks and line ends taken out, so "NO DATA", "NODATA" and "no data" are alike.
// Whether the text holds "NO DATA".
bool holdsNoData(std::string_view text);
// Whether the text holds the sensor's refusal "?" or one of its error words: anything with
// "ERR" ("ERROR", "CAN ERROR", "BUS ERROR", "FB ERROR", "BUS INIT: ...ERROR", "<RX ERROR",
// "<DATA ERROR", "ERR94"), "UNABLE TO CONNECT", "BUS BUSY", "BUFFER FULL", "STOPPED",
// "ACT ALERT", "LP ALERT", "LV RESET". "NO DATA" is not among them.
bool holdsSensorError(std::string_view text);
// The sensor's acceptance of a set-up command: "OK", with no "?", "NO DATA" or error word.
bool isAccepted(std::string_view text);
// The reply without the sensor's echo of the command (its echo switched on): a first line that
// is the command, in any spacing and case, is left out with its line end.
std::string_view withoutEcho(std::string_view reply, std::string_view command);
// A line of the sensor's own notice before an answer: "SEARCHING..." while the protocol is
// automatic, "BUS INIT: ...OK" on K-line; in any spacing, without an error word.
bool isNotice(std::string_view line);

// A byte token's value: its first two characters (left-padded with "0") read as hex up to the
// first character that is not a hex digit, so "0:" reads 0 and "7E8" reads 0x7E.
int byteValue(std::string_view token);

// The J2012 text of two code bytes: "PCBU"[A >> 6] (a blank when A is not a byte), the digit
// (A >> 4) & 3, then A & 15, B >> 4 and B & 15 as upper-case hex digits.
std::string j2012Code(int64_t a, int64_t b);

// The filler code that is never reported.
inline bool isFillerCode(std::string_view code) {
    return code.find("P0000") != std::string_view::npos;
}

// UDS status byte: "MIL" (0x80), "CONFIRMED" (0x08), "PENDING" (0x04) joined with "/".
std::string udsStatusText(int64_t status);

// KWP2000 status of DTC for a make (EnhancedProtocolManufacturer number).
std::string kwp2000StatusText(uint8_t status, int64_t make);

// SAE J1850 CRC-8 of byte tokens.
int j1850Crc(Tokens::const_iterator begin, Tokens::const_iterator end);

}  // namespace qz::reply
