#pragma once

#include <string_view>

namespace qz {

// Whether a CAN reply holds a multi-frame (ISO-TP) message that arrived incomplete: fewer bytes
// than its first frame announces, a consecutive frame out of sequence, or consecutive frames
// without their first frame; or any frame the adapter flags as damaged ("<RX ERROR"). Reads the
// sensor's display states: headers off (the length line, then "N:" markers), headers on (an
// identifier, as one token or as four bytes "18 DA F1 10", once or on every line, then the frames
// with their PCI bytes), and, with extendedAddressing, an address byte before every frame. Frames
// under different identifiers are followed apart.
bool isMultiFrameReplyCutShort(std::string_view reply, bool extendedAddressing);

// Whether a UDS fault read's answer ("59", report type, mask, then 4-byte records) ends inside a
// record or before its mask: the module's list did not arrive whole, though its frames did.
bool isUdsRecordListCutShort(std::string_view reply, bool extendedAddressing);

}  // namespace qz
