#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Reading the sensor's reply text: tokens, lines, byte values, J2012 code texts, status words and
// the messages of a CAN reply. Token views point into the reply text they came from.
namespace qz::reply {

using Tokens = std::vector<std::string_view>;

// The reply split at white space and line ends, without empty tokens and ">". Lines split at
// blanks read the same way: a doubled or trailing blank (the sensor prints one after every
// byte) adds no empty token.
Tokens tokens(std::string_view text);

// The reply split at carriage returns, each line as it stands.
std::vector<std::string_view> lines(std::string_view text);

// A CAN identifier as the headers-on display shows it: 3 or more hex digits ("7E8",
// "18DAF110").
bool isIdentifier(std::string_view token);

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

// The messages of a CAN reply in the sensor's display, each as its data bytes from the service
// byte on:
// - headers off, single frame: the data bytes of a line;
// - headers off, multi-frame: a line holding only the length ("00E"), then lines "0: " + 6 bytes,
//   "1: " + 7 bytes, ... (markers running 0-F and round again);
// - headers on: the identifier as the first token (3 or more characters), then the ISO-TP frames
//   with their PCI bytes, one frame per line (an identifier repeated on a later line is skipped).
// A message never holds more bytes than its length says; a multi-frame message whose frames
// stop, skip a sequence number or run short keeps the bytes received up to there. Lines that
// fit none of these forms are messages of their tokens as they stand.
std::vector<Tokens> canMessages(std::string_view text);

}  // namespace qz::reply
