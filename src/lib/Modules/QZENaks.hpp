#pragma once

#include <cstdint>
#include <string_view>

namespace qz {

// Recognises negative responses ("7F <service> <code>") in a reply, as QZEModuleReply reads
// them: "7F" where a message begins (after the identifier and PCI byte a CAN display shows), any
// service.
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

    // True when the reply is a negative response (and no answer) whose code belongs to a
    // family whose bit is set in the mask. A mask of 0 answers false.
    static bool response(std::string_view reply, int64_t mask);
    // True for a reply that is a negative response with any response code, or one cut short.
    static bool isNAK(std::string_view reply);
    // True when the pattern, compiled case-insensitively, matches anywhere in the text; false
    // for a pattern that does not compile.
    static bool doesStringMatchRegex(std::string_view text, std::string_view pattern);
};

}  // namespace qz
