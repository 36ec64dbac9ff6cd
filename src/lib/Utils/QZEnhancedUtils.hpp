#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qz {

// The engine's small shared conversions.
class QZEnhancedUtils {
  public:
    QZEnhancedUtils() = delete;

    // The first two characters (left-padded with "0") read as base 16, stopping
    // at the first non-hex character: "7" -> 7, "1A3" -> 26, "G1" -> 0.
    static int32_t hexStringToInt(std::string_view text);

    // The upper-case hex digit for 0-15 (48 + v below 10, else 55 + v).
    static char hex2ascii(uint8_t v);

    // The model year from the VIN's 10th character; 0 for texts shorter than 17
    // characters. Characters P to Y read 30 years later (2023-2030) when the
    // 7th character is a letter.
    static int64_t vehicleYearFromVINString(const std::optional<std::string>& vin);

    // The number of set bits.
    static int32_t bitcount(uint8_t byte);

    // high << 4 | low; an absent pin counts 0. Pins 6 and 14 give 0x6E.
    static int64_t getPinValueForPinsWithHighPin(std::optional<int64_t> highPin,
                                                 std::optional<int64_t> lowPin);

    // True for J2012 codes: a letter of B, C, P, U and four hex digits (either
    // case), optionally followed by "-" and anything.
    static bool isJ2012(const std::optional<std::string>& code);

    // True when the sensor firmware number (firmwareNumber) is at least the minimum; otherwise
    // logs a debug line naming the feature and answers false. A firmware not known (a number of
    // 0 or less) reaches no minimum.
    static bool checkFwIsAtLeast(int64_t minimum, const std::optional<std::string>& featureName);
    // Whether the sensor's firmware version was read at this connection. When it was not, the
    // number the checks go by is at best a guess: what a check leaves out is said, not assumed.
    static bool firmwareRead();
    // The number the checks go by: the version read at this connection, else the one the sensor
    // told at an earlier connection (a guess), else 0 (not known).
    static int64_t firmwareNumber();

    // While one lives, on its thread, checkFwIsAtLeast answers as for a firmware that reaches
    // every minimum: what a scan would do with a version read that reaches them all.
    class AssumingNewestFirmware {
      public:
        AssumingNewestFirmware();
        ~AssumingNewestFirmware();
        AssumingNewestFirmware(const AssumingNewestFirmware&) = delete;
        AssumingNewestFirmware& operator=(const AssumingNewestFirmware&) = delete;

      private:
        bool saved_;
    };
};

}  // namespace qz
