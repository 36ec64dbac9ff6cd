#pragma once

#include <string_view>

#include "lib/Decoders/QZEModuleReply.hpp"

namespace qz {

// Whether the sensor's reply to the generic clear "KQCC" confirms that the codes were cleared:
// the sensor's "OK", or the units' positive answer ("44" where a message begins, behind a header
// or not, on any bus), each alone or together, and nothing else: a refusal of any unit ("7F 04
// 22", cut short or not), a "response pending" with no answer after it, the sensor's words in any
// spacing ("?", "NO DATA", "LP ALERT"), any other bytes ("00", "54", a stale "41 0D 00") or junk
// is no confirmation. A reply that says nothing (the prompt, the echo, "SEARCHING...") is none.
// The units' answers are read in the display form told (QZEVehicle::displayForm()) when it shows
// headers ("7E80144" behind the identifier the form shows), by their shape otherwise.
bool genericClearConfirmed(std::string_view reply, const QZEDisplayForm& display = {});

}  // namespace qz
