// The text helpers that take outside text: link scrambling, user-perceived characters and
// UTF-8 repair, HTML to styled text, the log's quoting and password masking, hex and bit
// readers, and the VIN readers.

#include "FuzzTarget.hpp"
#include "api/Communication/Relay.hpp"
#include "api/Communication/Vehicle.hpp"
#include "api/Live/VinCheck.hpp"
#include "api/PIDs/HexText.hpp"
#include "api/Utils/AttributedString.hpp"
#include "api/Utils/ByteBits.hpp"
#include "api/Utils/StringXor.hpp"
#include "api/VIN/VIN.hpp"
#include "api/Web/PelkWeb.hpp"
#include "platform/Describe.hpp"
#include "platform/Text.hpp"

using namespace qz;

QZ_FUZZ_TARGET(text_helpers) {
    const std::string input(fuzz::textOf(data, size));

    // Scrambling twice gives every byte back but "e" and "V".
    const std::string twice = xorString(xorString(input));
    for (size_t i = 0; i < input.size(); ++i)
        fuzz::require(twice[i] == input[i] || input[i] == 'e' || input[i] == 'V',
                      "scrambling twice restores the text");
    (void)xorData(Data(data, data + size));

    (void)text::characterCount(input);
    (void)text::split(input, size ? data[0] % 8 : 1);
    const std::string repaired = text::sanitizeUTF8(input);
    fuzz::require(text::isValidUTF8(repaired), "repaired text is UTF-8");

    if (auto styled = html2AttributedString(input)) {
        for (const auto& run : styled->runs)
            fuzz::require(run.location + run.length <= styled->string.size(),
                          "styled runs lie inside the text");
    }

    (void)stringLiteral(input);
    (void)Relay::maskedForLog(input);

    (void)isHex(input);
    (void)parseHex64(input);
    (void)parseByte(input);
    (void)Vehicle::hexToUInt8(input);
    if (size >= 3) (void)bits(data[0], static_cast<int8_t>(data[1]), static_cast<int8_t>(data[2]));

    (void)VIN::year(input);
    (void)VIN::parentString(input);
    (void)VIN::manufacturerName(input);
    (void)isValidVin(input);
    (void)PelkWeb::normalizedVin(input);
}
