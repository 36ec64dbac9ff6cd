#include "lib/Utils/QZEnhancedUtils.hpp"

#include <algorithm>
#include <bit>
#include <vector>

#include "lib/Decoders/QZEReplyText.hpp"
#include "lib/Facades/QZEData.hpp"
#include "lib/Logging/QZELogging.hpp"

namespace qz {

namespace {

// The text split into code points, each kept as its UTF-8 bytes.
std::vector<std::string> characters(const std::string& text) {
    std::vector<std::string> out;
    for (char c : text) {
        if ((static_cast<unsigned char>(c) & 0xC0) == 0x80 && !out.empty())
            out.back() += c;
        else
            out.emplace_back(1, c);
    }
    return out;
}

bool isAsciiLetter(const std::string& ch) {
    if (ch.size() != 1) return false;
    char c = ch[0];
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

int64_t yearForCharacter(char c) {
    switch (c) {
        case 'A':
            return 2010;
        case 'B':
            return 2011;
        case 'C':
            return 2012;
        case 'D':
            return 2013;
        case 'E':
            return 2014;
        case 'F':
            return 2015;
        case 'G':
            return 2016;
        case 'H':
            return 2017;
        case 'I':
            return 2018;
        case 'J':
            return 2018;
        case 'K':
            return 2019;
        case 'L':
            return 2020;
        case 'M':
            return 2021;
        case 'N':
            return 2022;
        case 'O':
            return 2023;
        case 'P':
            return 1993;
        case 'Q':
            return 1994;
        case 'R':
            return 1994;
        case 'S':
            return 1995;
        case 'T':
            return 1996;
        case 'U':
            return 1997;
        case 'V':
            return 1997;
        case 'W':
            return 1998;
        case 'X':
            return 1999;
        case 'Y':
            return 2000;
        case 'Z':
            return 2001;
        default:
            break;
    }
    if (c >= '1' && c <= '9') return 2000 + (c - '0');
    return 1996;
}

}  // namespace

int32_t QZEnhancedUtils::hexStringToInt(std::string_view text) {
    // The first two characters, left-padded with "0".
    char padded[2] = {'0', '0'};
    if (text.size() == 1) padded[1] = text[0];
    if (text.size() >= 2) padded[0] = text[0], padded[1] = text[1];
    int32_t value = 0;
    for (char c : padded) {
        int d = reply::hexDigit(c);
        if (d < 0) break;
        value = value * 16 + d;
    }
    return value;
}

char QZEnhancedUtils::hex2ascii(uint8_t v) {
    return static_cast<char>(v < 10 ? 48 + v : 55 + v);
}

int64_t QZEnhancedUtils::vehicleYearFromVINString(const std::optional<std::string>& vin) {
    if (!vin) return 0;
    auto chars = characters(*vin);
    if (chars.size() < 17) return 0;
    const std::string& tenth = chars[9];
    if (tenth.size() != 1) return 1996;
    int64_t year = yearForCharacter(tenth[0]);
    if (tenth[0] >= 'P' && tenth[0] <= 'Y' && isAsciiLetter(chars[6])) year += 30;
    return year;
}

int32_t QZEnhancedUtils::bitcount(uint8_t byte) {
    return std::popcount(byte);
}

int64_t QZEnhancedUtils::getPinValueForPinsWithHighPin(std::optional<int64_t> highPin,
                                                       std::optional<int64_t> lowPin) {
    return (highPin.value_or(0) << 4) | lowPin.value_or(0);
}

bool QZEnhancedUtils::isJ2012(const std::optional<std::string>& code) {
    if (!code) return false;
    std::string head = code->substr(0, code->find('-'));
    if (head.size() != 5) return false;
    for (char& c : head)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (head[0] != 'B' && head[0] != 'C' && head[0] != 'P' && head[0] != 'U') return false;
    for (size_t i = 1; i < 5; ++i)
        if (reply::hexDigit(head[i]) < 0) return false;
    return true;
}

namespace {

thread_local bool assumingNewestFirmware = false;

}  // namespace

QZEnhancedUtils::AssumingNewestFirmware::AssumingNewestFirmware() : saved_(assumingNewestFirmware) {
    assumingNewestFirmware = true;
}

QZEnhancedUtils::AssumingNewestFirmware::~AssumingNewestFirmware() {
    assumingNewestFirmware = saved_;
}

bool QZEnhancedUtils::firmwareRead() {
    return QZEData::sharedData().sensorVersionNumber() > 0;
}

int64_t QZEnhancedUtils::firmwareNumber() {
    auto& data = QZEData::sharedData();
    const int64_t read = data.sensorVersionNumber();
    return read > 0 ? read : std::max<int64_t>(data.sensorVersionGuess(), 0);
}

bool QZEnhancedUtils::checkFwIsAtLeast(int64_t minimum,
                                       const std::optional<std::string>& featureName) {
    if (assumingNewestFirmware) return true;
    const int64_t current = firmwareNumber();
    if (current > 0 && current >= minimum) return true;
    if (current <= 0) {
        QZELogging::shared().logDebug("Sensor FW not known, not using %@", featureName);
        return false;
    }
    QZELogging::shared().logDebug("Current sensor FW (%@) is below min required for %@ (%@)",
                                  current, featureName, minimum);
    return false;
}

}  // namespace qz
