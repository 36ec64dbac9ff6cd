#pragma once

#include <string_view>

namespace qz {

// Whether the sensor's reply to the generic clear "KQCC" says the codes were cleared. A reply
// with one of the sensor's refusals or error words ("?", "NO DATA", "ERROR", "CAN ERROR",
// "BUS INIT: ...ERROR", "UNABLE TO CONNECT", "BUS BUSY", "BUFFER FULL", "STOPPED", "ERR94"),
// or with a negative response to the clear ("7F 04 22", also behind a header or unspaced),
// does not; nor does one whose last word is "response pending" ("7F 04 78") with no answer
// after it, nor one that says nothing (only the prompt, the echo of the command, "SEARCHING...").
// Any other reply ("OK", "44") does.
bool genericClearConfirmed(std::string_view reply);

}  // namespace qz
