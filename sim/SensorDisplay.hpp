#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// How the sensor prints what a vehicle module sends back (see sim/README.md, "Display model").
// Every byte is two upper-case hex digits followed by one blank (or, without spaces, by
// nothing); every line ends with a carriage return. The caller adds the empty line and the
// prompt.
namespace qz::sim::display {

using Message = std::vector<uint8_t>;

// The bytes as the sensor prints them: "59 02 FF ", or "5902FF" without spaces.
std::string byteText(const Message& bytes, bool spaces = true);

// ISO 15765-2 frames of one message: single frame, or first frame and consecutive frames
// (sequence numbers 1…F, 0…). With an extended address every frame starts with that byte.
std::vector<Message> isoTpFrames(const Message& payload, std::optional<uint8_t> address = {});

// A CAN identifier as the headers-on display prints it: 3 hex digits for 11 bits, 8 for 29 bits
// ("18DAF110"), or the 29 bits as four spaced bytes ("18 DA F1 10") when `bytes`.
std::string identifierText(uint32_t id, bool wide, bool bytes = false);

// A CAN answer of one module.
struct Can {
    std::string identifier;          // printed with headers on, before the first frame
    bool headers = false;            // "KQH1"
    bool raw = false;                // messages are raw frames, shown as they are
    std::optional<uint8_t> address;  // extended addressing: every frame shows this byte first
    bool everyLine = false;          // with headers on, the identifier starts every line
    bool spaces = true;              // blanks between the bytes (and after the identifier)
};
std::string canAnswer(const std::vector<Message>& messages, const Can& view);

// A K-line answer: with headers on each message is "<format> <target> <source> <data…>
// <checksum>"; the format byte carries the length when `lengthInFormat` and the message has at
// most 63 bytes, otherwise a length byte follows the source. With `iso9141` the header is
// ISO 9141-2's "48 6B <source>" instead, without a length.
struct KLine {
    bool headers = false;
    uint8_t format = 0x80;  // address mode bits (the top two)
    bool lengthInFormat = true;
    uint8_t target = 0xF1;
    uint8_t source = 0;
    bool iso9141 = false;
    bool spaces = true;
};
std::string kLineAnswer(const std::vector<Message>& messages, const KLine& view);

// A J1850 answer: "<response byte> <data…>" per message, with headers on preceded by
// "<priority> <target> <source>" and followed by the CRC.
struct J1850 {
    bool headers = false;
    uint8_t priority = 0x6C;
    uint8_t target = 0xF1;
    uint8_t source = 0;
    bool spaces = true;
};
std::string j1850Answer(const std::vector<Message>& messages, const J1850& view);

// SAE J1850 CRC-8 (polynomial 0x1D, initial value 0xFF, result inverted).
uint8_t j1850Crc(const Message& bytes);

}  // namespace qz::sim::display
