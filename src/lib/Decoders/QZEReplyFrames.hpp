#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "lib/Decoders/QZEModuleReply.hpp"
#include "lib/Decoders/QZEReplyLines.hpp"

// The second step of reading a module's reply: the lines' frames made into messages as the
// framing asked for puts them together (ISO-TP's single, first and consecutive frames per
// sender, a K-line or J1850 message per line behind its header, a message assembled already),
// each with who sent it and whether it came whole. What the messages mean is QZEReplyMeaning's.
namespace qz::reply {

// Who sent a message, as the display shows it.
struct Sender {
    int64_t id = -1;           // the CAN identifier; -1: none shown
    int address = -1;          // the address byte (extended addressing, a K-line or J1850 source)
    std::string_view shownId;  // the identifier as printed (one token or four bytes)
    std::string_view shownAddress;  // the address byte as printed

    bool known() const { return id >= 0 || address >= 0; }
    bool operator==(const Sender& other) const {
        return id == other.id && address == other.address;
    }
};

// One message as the display showed it.
struct Message {
    Sender sender;
    std::vector<std::string_view> bytes;
    bool whole = true;
    // A frame of it flagged damaged, holding a token that is no byte, or longer than its framing
    // allows: the bytes kept are those of its frames before that one.
    bool damaged = false;
    int shown = -1;  // a damaged message's first byte as shown, when no byte of it is kept
    // Printed without the header the display form tells (a K-line line): nothing says where it
    // ends, so only a whole answer is read from it.
    bool unframed = false;
    // A frame that is no message (ISO-TP flow control): bytes that answer nothing.
    bool control = false;
    // Its framing tells where it ends (a length, a checksum, a line the adapter printed whole);
    // not so for bytes handed over as one message already.
    bool bounded = true;
};

struct Messages {
    std::vector<Message> messages;
    bool damaged = false;  // a flagged line in an assembled message
};

// The messages of the lines, in the order their last frame came.
Messages frameMessages(const Lines& lines, const QZEAsked& asked);

// The value of a byte token of one or two hex digits.
int hexByte(std::string_view token);

}  // namespace qz::reply
