#include "api/Live/VinCheck.hpp"

#include <array>
#include <cctype>
#include <source_location>
#include <string>

#include "api/Logging/Log.hpp"

namespace qz {

namespace {

// 49 CFR 565 transliteration of an upper-case letter; 0 for I, O, Q.
int transliterated(char c) {
    static constexpr std::string_view kLetters = "ABCDEFGHJKLMNPRSTUVWXYZ";
    static constexpr std::array<int, 23> kValues = {1, 2, 3, 4, 5, 6, 7, 8, 1, 2, 3, 4,
                                                    5, 7, 9, 2, 3, 4, 5, 6, 7, 8, 9};
    auto at = kLetters.find(c);
    return at == std::string_view::npos ? 0 : kValues[at];
}

}  // namespace

bool isValidVin(const std::string& vin) {
    const auto at = std::source_location::current();
    Log::PublicFuncCall({"vin:" + vin}, at.file_name(), at.line(), at.column(), "isValidVin(_:)");
    return vinCheckFailure(vin).empty();
}

std::string vinCheckFailure(const std::string& vin) {
    if (vin.size() != 17) return "it has " + std::to_string(vin.size()) + " characters, not 17";
    for (char c : vin) {
        const char u = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (u == 'O' || u == 'I' || u == 'Q') return "it holds the letter " + std::string(1, u);
    }
    // Only North-American VINs (1 to 5 first) carry a check digit.
    if (vin[0] < '1' || vin[0] > '5') return {};
    static constexpr std::array<int, 17> kWeights = {8, 7, 6, 5, 4, 3, 2, 10, 0,
                                                     9, 8, 7, 6, 5, 4, 3, 2};
    int sum = 0;
    for (size_t i = 0; i < vin.size(); ++i) {
        const char c = vin[i];
        // Any other character (a lower-case letter included) counts 0.
        int value = 0;
        if (c >= '0' && c <= '9')
            value = c - '0';
        else if (c >= 'A' && c <= 'Z')
            value = transliterated(c);
        sum += kWeights[i] * value;
    }
    const char expected = sum % 11 == 10 ? 'X' : static_cast<char>('0' + sum % 11);
    if (vin[8] == expected) return {};
    return "its check digit (9th character) is " + std::string(1, vin[8]) + ", it should be " +
           std::string(1, expected);
}

}  // namespace qz
