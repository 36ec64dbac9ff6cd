#pragma once

#include <cstdint>
#include <string_view>

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
    // True when the reply holds, beside its negative responses, a line of message bytes: an
    // adapter that receives "response pending" and then the answer before its prompt prints
    // both in one reply, and that reply is the answer.
    static bool holdsAnswer(std::string_view reply);
    // True when the pattern, compiled case-insensitively, matches anywhere in the text; false
    // for a pattern that does not compile.
    static bool doesStringMatchRegex(std::string_view text, std::string_view pattern);
};

}  // namespace qz
