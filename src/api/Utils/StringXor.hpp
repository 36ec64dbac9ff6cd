#pragma once

#include <string>
#include <string_view>

#include "platform/Result.hpp"

namespace qz {

// The link scrambling (String.xor()): every byte other than ">" (0x3E) and
// carriage return (0x0D) is XOR-ed with the link key 0x5B. Works byte-wise on
// the UTF-8 bytes and keeps the result as bytes, so non-ASCII text is scrambled
// and restored rather than emptied.
//
// It is not its own inverse for "e" and "V": they scramble to ">" and carriage
// return, which pass unchanged, so descrambling gives ">" and carriage return
// back, not "e" and "V". Every other byte comes back from applying it twice.
inline constexpr uint8_t kLinkKey = 0x5B;

std::string xorString(std::string_view text);
Data xorData(const Data& bytes);

}  // namespace qz
