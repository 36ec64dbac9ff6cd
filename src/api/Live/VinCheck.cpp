#include "api/Live/VinCheck.hpp"

#include <array>
#include <source_location>

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
    if (vin.size() != 17) return false;
    for (char c : vin) {
        const char u = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (u == 'O' || u == 'I' || u == 'Q') return false;
    }
    if (vin[0] < '1' || vin[0] > '5') return true;

    static constexpr std::array<int, 17> kWeights = {8, 7, 6, 5, 4, 3, 2, 10, 0,
                                                     9, 8, 7, 6, 5, 4, 3, 2};
    int sum = 0;
    for (size_t i = 0; i < vin.size(); ++i) {
        const char c = vin[i];
        int digit = 0;
        if (c >= 'A' && c <= 'Z')
            digit = transliterated(c);
        else if (c >= '0' && c <= '9')
            digit = c - '0';
        sum += kWeights[i] * digit;
    }
    const char check = vin[8];
    int checkValue = 0;
    if (check == 'X')
        checkValue = 10;
    else if (check >= '0' && check <= '9')
        checkValue = check - '0';
    else
        return false;
    return sum % 11 == checkValue;
}

}  // namespace qz
