// The shipped code texts say what the codes mean: well-known generic codes by their meaning,
// and a maker's own meaning of a generic code only for that maker.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "lib/Descriptions/QZETroubleCodes.hpp"

namespace qz {
namespace {

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

constexpr int64_t kGM = 1;
constexpr int64_t kToyota = 4;
constexpr int64_t kHonda = 7;

TEST(CodeTexts, WellKnownCodesByMeaning) {
    struct Case {
        const char* code;
        int64_t make;
        std::vector<const char*> words;  // all in the text, any case
    };
    const std::vector<Case> cases = {
        {"P0101", kToyota, {"air flow", "range or performance"}},
        {"P0128", kHonda, {"thermostat"}},
        {"P0171", kToyota, {"lean", "bank 1"}},
        {"P0300", kGM, {"random", "misfire"}},
        {"P0301", kHonda, {"cylinder 1", "misfire"}},
        {"P0420", kToyota, {"catalyst", "efficiency", "bank 1"}},
        {"P0442", kHonda, {"evaporative", "small leak"}},
        {"P0455", kToyota, {"evaporative", "large leak"}},
        {"U0100", kHonda, {"lost communication", "ecm/pcm a"}},
        {"U0110", kToyota, {"lost communication", "drive motor", "module a"}},
        {"U0111", kHonda, {"lost communication", "battery energy", "module a"}},
        {"U0112", kToyota, {"lost communication", "battery energy", "module b"}},
        {"U0113", kToyota, {"lost communication", "emissions critical"}},
        {"U0114", kToyota, {"lost communication", "four-wheel drive clutch"}},
        {"U0115", kHonda, {"lost communication", "ecm/pcm b"}},
        {"U0121", kToyota, {"lost communication", "anti-lock brake"}},
        {"B0001", kHonda, {"driver frontal stage 1", "deployment"}},
        // A maker's own meaning of a generic code stays with that maker.
        {"C0035", kGM, {"left front wheel speed sensor"}},
        {"C0060", kGM, {"left front abs solenoid 1"}},
    };
    auto& catalogue = QZETroubleCodes::TheCodes();
    for (const auto& c : cases) {
        const std::string text = lower(catalogue.troubleCodeDef(c.code, c.make));
        for (const char* word : c.words)
            EXPECT_NE(text.find(word), std::string::npos) << c.code << ": " << text;
    }
}

// The hex codes U010A-U010F are not U0110-U0115, and one maker's legacy meanings of generic
// chassis and body codes are not given to every other make.
TEST(CodeTexts, NoCodeCarriesAnotherCodesOrAnotherMakersMeaning) {
    auto& catalogue = QZETroubleCodes::TheCodes();
    const std::vector<std::string> wellKnown = {
        catalogue.troubleCodeDef("U0110", kToyota), catalogue.troubleCodeDef("U0111", kToyota),
        catalogue.troubleCodeDef("U0112", kToyota), catalogue.troubleCodeDef("U0113", kToyota),
        catalogue.troubleCodeDef("U0114", kToyota), catalogue.troubleCodeDef("U0115", kToyota)};
    for (const char* code : {"U010A", "U010B", "U010C", "U010D", "U010E", "U010F"})
        EXPECT_EQ(
            std::count(wellKnown.begin(), wellKnown.end(), catalogue.troubleCodeDef(code, kToyota)),
            0)
            << code;
    for (const char* code : {"C0035", "C0040", "C0045", "C0050", "C0060", "C0095", "C0550", "C0561",
                             "B0050", "B0081", "B0100"}) {
        EXPECT_NE(catalogue.troubleCodeDef(code, kToyota), catalogue.troubleCodeDef(code, kGM))
            << code;
        EXPECT_NE(catalogue.troubleCodeDef(code, kHonda), catalogue.troubleCodeDef(code, kGM))
            << code;
    }
}

}  // namespace
}  // namespace qz
