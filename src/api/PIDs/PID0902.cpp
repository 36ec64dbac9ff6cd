#include "api/PIDs/PID0902.hpp"

#include "api/PIDs/HexText.hpp"

namespace qz {

PID0902::PID0902()
    : PID(Mode::VehicleInfo, 2, PIDCategory::other, "Vehicle Identification Number", "VIN", 17,
          ClosedRange{0, 16}, std::nullopt) {}

std::optional<std::string> PID0902::valueLocked() const {
    std::string text;
    for (const auto& entry : data_) {
        auto byte = parseByte(entry);
        if (!byte) continue;
        // The character whose code point is the byte, in UTF-8.
        if (*byte < 0x80) {
            text += static_cast<char>(*byte);
        } else {
            text += static_cast<char>(0xC0 | (*byte >> 6));
            text += static_cast<char>(0x80 | (*byte & 0x3F));
        }
    }
    return text;
}

std::string PID0902::valueAsText(bool) const {
    auto l = lock();
    return valueLocked().value_or("");
}

}  // namespace qz
