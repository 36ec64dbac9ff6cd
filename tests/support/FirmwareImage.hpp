#pragma once

#include <cstdint>

#include "platform/Result.hpp"

namespace qz::testsupport {

// A firmware image of 15-byte frames: `records` records of a header frame and `dataFrames`
// data frames, then the last frame.
inline Data firmwareImage(int records, int dataFrames) {
    Data out;
    auto frame = [&](uint8_t kind, uint8_t fill) {
        out.push_back(kind);
        out.insert(out.end(), 14, fill);
    };
    for (int r = 0; r < records; ++r) {
        frame(0x01, static_cast<uint8_t>(r));
        for (int d = 0; d < dataFrames; ++d) frame(0x02, static_cast<uint8_t>(d));
    }
    frame(0x04, 0);
    return out;
}

}  // namespace qz::testsupport
