#pragma once

#include <string_view>

namespace qz {

// Whether the sensor's reply to the generic clear "KQCC" confirms that the codes were cleared:
// only a reply holding the sensor's "OK" or a positive answer (bytes, in any print form, with
// no negative response) does, and then only when no line refuses: the sensor's refusals and
// error words in any spacing ("?", "NO DATA", "NODATA", "LP ALERT", ...), junk, a negative
// response to any service where a message begins, whole or cut short ("7F 04 22", "7F 14 22",
// "7F 04"), or a "response pending" ("7F 04 78") with no answer after it. A reply that says
// nothing (the prompt, the echo, "SEARCHING...") is no confirmation.
bool genericClearConfirmed(std::string_view reply);

}  // namespace qz
