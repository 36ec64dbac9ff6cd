#pragma once

#include <cstdint>
#include <string_view>

#include "lib/Decoders/QZEReplyText.hpp"

namespace qz {

// Recognises negative responses ("7F <service> <code>") at the start of a reply: an optional
// header token of two or more hex characters (a 29-bit identifier printed as four bytes counts
// as one), up to three two-digit tokens, then "7F", the service byte and the response code,
// each followed by white space.
class QZENaks {
  public:
    QZENaks() = delete;

    // Mask bits of the response-code families.
    enum NakType : int64_t {
        NakBusy = 1,                   // 21, 37, 10, 23: busy, delay not expired, reject, not done
        NakSubFunction = 2,            // 12
        NakServiceNotSupported = 4,    // 11
        NakOutOfRange = 8,             // 31
        NakResponsePending = 16,       // 78
        NakConditionsNotCorrect = 32,  // 22
        NakMessageLength = 128,        // 13
        NakNotInActiveSession = 256,   // 7E
    };

    // True when the reply is a negative response of a family whose bit is set in the mask,
    // tried in the order of the bits. A mask of 0 answers false.
    static bool response(std::string_view reply, int64_t mask);
    // True for a negative response with any response code.
    static bool isNAK(std::string_view reply);
    // True when the reply holds, beside its negative responses (whole or cut short), a line of
    // message bytes: an adapter that receives "response pending" and then the answer before its
    // prompt prints both in one reply, and that reply is the answer.
    static bool holdsAnswer(std::string_view reply);
    // True when every message of the reply is a negative response, whole or cut short ("7F",
    // "7F 13", "7F 1", "83 F1 60 7F 18"); lines of the sensor's words aside.
    static bool isRefusalOnly(std::string_view reply);
    // True for a line that is a negative response cut short: "7F" where a message begins, then
    // less than the service and the response code. A message begins at the line's start, after
    // the line's CAN identifier (`identifier` tokens) and a single frame's PCI byte, after an
    // address byte and a PCI byte, or after the three header bytes of a K-line or J1850 message.
    static bool isCutShortNegative(const reply::Tokens& line, size_t identifier);
    // True when the pattern, compiled case-insensitively, matches anywhere in the text; false
    // for a pattern that does not compile.
    static bool doesStringMatchRegex(std::string_view text, std::string_view pattern);
};

}  // namespace qz
