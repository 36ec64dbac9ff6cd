#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "api/Communication/CommError.hpp"
#include "api/PIDs/Enums/MultiResponseStrategy.hpp"
#include "platform/Result.hpp"

namespace qz {

class PIDInfo;
class Relay;

// One request of a service and PID ("010D") and the reading of its answer. With "KQRP1" in
// force the sensor names the service and PID before the bytes ("41 0D 32"): an answer is then
// known for the request's own, and a late rest of an earlier answer (which names another or
// nothing) is never taken for it. Without names an answer is taken only once no late reply of an
// earlier request is due, and, where one came meanwhile, only when its length tells the two
// apart.
struct PIDRequest {
    uint8_t service = 0;
    uint8_t pid = 0;
    // The data bytes of each unit's line of the answer; 0 when they vary (the VIN).
    int64_t bytes = 0;

    // A live-data parameter's request answers its response bytes.
    static PIDRequest of(const PIDInfo& info);

    // "010D".
    std::string text() const;
    // Whether a reply printed with names is the answer to this request: a line of bytes names
    // it, or the sensor's words ("NO DATA", "?") answer it.
    bool namedBy(std::string_view reply) const;
    // The answer without its names ("41 0D 32 \r>" gives "32 \r>"): every line of bytes must
    // name this request, first or after its header; none when one does not.
    std::optional<std::string> bytesOf(std::string_view answer) const;
    // Whether an answer printed without names can be this request's: the sensor's words, or
    // lines of `bytes` data bytes each (after a header, when one is shown).
    bool canAnswer(std::string_view answer) const;

    // Asks the vehicle: the answer as the sensor printed it, or with `named` its bytes without
    // the names (the sensor's words as they came), the echo left out. Named, an answer that
    // names another request is `invalidData`. Without names, replies that come while a late
    // reply of an earlier request is due are set aside as late ones; a reply after them is taken
    // only when it can be this request's and none set aside could (else `invalidData`), and with
    // none after them the read times out. With `multiple`, `strategy` folds the units' lines.
    Result<std::string, CommError> ask(Relay& relay, bool named, bool multiple = false,
                                       int noDataRetries = 0,
                                       MultiResponseStrategy strategy = {}) const;
};

}  // namespace qz
