#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

// The sensor's display of vehicle replies (sim/README.md, "Display model"), built for tests
// from an ISO-TP segmentation of their own, not from the simulator's code.
namespace qz::testsupport {

using Frame = std::vector<uint8_t>;

// Every byte as two upper-case hex digits and a blank: "59 02 FF ".
inline std::string sensorBytes(const Frame& bytes) {
    std::string out;
    char text[4];
    for (uint8_t b : bytes) {
        std::snprintf(text, sizeof text, "%02X ", b);
        out += text;
    }
    return out;
}

// ISO 15765-2: a single frame, or a first frame and consecutive frames numbered 1…F, 0, 1…;
// with an extended address every frame begins with that byte.
inline std::vector<Frame> isoTpSegments(const Frame& payload, std::optional<uint8_t> address = {}) {
    const size_t single = address ? 6 : 7;  // data bytes a single frame holds
    auto start = [&] { return address ? Frame{*address} : Frame{}; };
    std::vector<Frame> frames;
    if (payload.size() <= single) {
        Frame f = start();
        f.push_back(static_cast<uint8_t>(payload.size()));
        f.insert(f.end(), payload.begin(), payload.end());
        frames.push_back(f);
        return frames;
    }
    size_t at = 0;
    Frame first = start();
    first.push_back(static_cast<uint8_t>(0x10 | (payload.size() >> 8)));
    first.push_back(static_cast<uint8_t>(payload.size()));
    for (size_t n = 0; n < single - 1; ++n) first.push_back(payload[at++]);
    frames.push_back(first);
    for (unsigned sequence = 1; at < payload.size(); ++sequence) {
        Frame f = start();
        f.push_back(static_cast<uint8_t>(0x20 | (sequence % 16)));
        for (size_t n = 0; n < single && at < payload.size(); ++n) f.push_back(payload[at++]);
        frames.push_back(f);
    }
    return frames;
}

// One CAN message, lines ended by carriage returns (the reply's empty line and prompt not
// included). Headers on: the identifier, then every frame raw. Headers off: a single frame's
// data, or the length and each frame's data behind its sequence digit. Extended addressing
// always shows the frames raw.
inline std::string canText(const Frame& payload, bool headers, const std::string& identifier = {},
                           std::optional<uint8_t> address = {}) {
    const auto frames = isoTpSegments(payload, address);
    std::string out;
    if (headers || address) {
        for (size_t i = 0; i < frames.size(); ++i)
            out += (i == 0 && headers ? identifier + " " : "") + sensorBytes(frames[i]) + "\r";
        return out;
    }
    if (frames.size() == 1) return sensorBytes(payload) + "\r";
    char text[8];
    std::snprintf(text, sizeof text, "%03zX", payload.size());
    out = std::string(text) + "\r";
    for (size_t i = 0; i < frames.size(); ++i) {
        const size_t pci = i == 0 ? 2 : 1;
        std::snprintf(text, sizeof text, "%X: ", i == 0 ? 0u : frames[i][0] & 0x0Fu);
        out += text + sensorBytes(Frame(frames[i].begin() + pci, frames[i].end())) + "\r";
    }
    return out;
}

}  // namespace qz::testsupport
