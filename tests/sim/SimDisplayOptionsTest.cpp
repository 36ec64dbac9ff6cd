// The profile's display options: a CAN module's identifier on every line, 29-bit identifiers
// as four bytes, lines without blanks and ISO 9141 headers on K-line, as ELM327-type adapters
// print them.
#include <gtest/gtest.h>

#include "sim/SensorCore.hpp"

using namespace qz::sim;

namespace {

std::string answer(const nlohmann::json& sensor, const nlohmann::json& module,
                   const std::vector<std::string>& setup, const std::string& request) {
    SensorCore core(VehicleProfile::fromJson({{"sensor", sensor}, {"modules", {module}}}));
    for (const auto& c : setup) core.answer(c);
    return core.answer(request);
}

}  // namespace

TEST(SimDisplayOptions, IdentifiersOnEveryLineAndAsFourBytes) {
    const nlohmann::json can11 = {
        {"request", "7E0"},
        {"response", "7E8"},
        {"replies",
         {{"19 02 FF", "59 02 FF 01 23 45 08 C1 00 00"}, {"13", "7F 13 78|53 01 01 23"}}}};
    const nlohmann::json can29 = {{"protocol", "7"},
                                  {"request", "18DA10F1"},
                                  {"response", "18DAF110"},
                                  {"replies", {{"19 02 FF", "59 02 FF 01 23 45 08 C1 00 00"}}}};
    const nlohmann::json ext = {{"request", "6F1"},
                                {"response", "612"},
                                {"extRequest", "12"},
                                {"extResponse", "F1"},
                                {"replies", {{"19 02 FF", "59 02 FF 01 23 45 08 C1 00 00"}}}};
    const nlohmann::json raw = {
        {"request", "7E0"},
        {"response", "5E8"},
        {"raw", true},
        {"replies", {{"A9 81 12", "81 01 23 45 92 00 00 00|81 00 00 00 FF 00 00 00"}}}};
    const nlohmann::json everyLine = {{"headersEveryLine", true}};
    const nlohmann::json bytes = {{"idBytes", true}};
    const nlohmann::json both = {{"headersEveryLine", true}, {"idBytes", true}};
    const nlohmann::json noSpaces = {{"noSpaces", true}};
    const nlohmann::json iso9141 = {{"iso9141Headers", true}};
    const nlohmann::json kLine = {{"protocol", "5"},
                                  {"request", "10"},
                                  {"response", "10"},
                                  {"replies", {{"18 00 FF 00", "58 01 01 23 20"}}}};
    const nlohmann::json j1850 = {{"protocol", "1"},
                                  {"request", "28"},
                                  {"response", "28"},
                                  {"replies", {{"13", "53 51 55 00 00"}}}};
    struct Case {
        const char* name;
        nlohmann::json sensor;
        nlohmann::json module;
        std::vector<std::string> setup;
        std::string request;
        std::string reply;
    };
    const std::vector<Case> cases = {
        {"11-bit, every line",
         everyLine,
         can11,
         {"KQH1", "KQSH7E0"},
         "19 02 FF",
         "7E8 10 0A 59 02 FF 01 23 45 \r7E8 21 08 C1 00 00 \r\r>"},
        {"11-bit, four bytes asked: an 11-bit identifier is one token",
         both,
         can11,
         {"KQH1", "KQSH7E0"},
         "19 02 FF",
         "7E8 10 0A 59 02 FF 01 23 45 \r7E8 21 08 C1 00 00 \r\r>"},
        {"pending and data in one answer, every line",
         everyLine,
         can11,
         {"KQH1", "KQSH7E0"},
         "13",
         "7E8 03 7F 13 78 \r7E8 04 53 01 01 23 \r\r>"},
        {"pending and data in one answer, headers off",
         everyLine,
         can11,
         {"KQSH7E0"},
         "13",
         "7F 13 78 \r53 01 01 23 \r\r>"},
        {"headers off: no identifier",
         both,
         can11,
         {"KQSH7E0"},
         "19 02 FF",
         "00A\r0: 59 02 FF 01 23 45 \r1: 08 C1 00 00 \r\r>"},
        {"29-bit, one token once",
         nlohmann::json::object(),
         can29,
         {"KQSP7", "KQH1", "KQSH18DA10F1"},
         "19 02 FF",
         "18DAF110 10 0A 59 02 FF 01 23 45 \r21 08 C1 00 00 \r\r>"},
        {"29-bit, one token on every line",
         everyLine,
         can29,
         {"KQSP7", "KQH1", "KQSH18DA10F1"},
         "19 02 FF",
         "18DAF110 10 0A 59 02 FF 01 23 45 \r18DAF110 21 08 C1 00 00 \r\r>"},
        {"29-bit, four bytes once",
         bytes,
         can29,
         {"KQSP7", "KQH1", "KQSH18DA10F1"},
         "19 02 FF",
         "18 DA F1 10 10 0A 59 02 FF 01 23 45 \r21 08 C1 00 00 \r\r>"},
        {"29-bit, four bytes on every line",
         both,
         can29,
         {"KQSP7", "KQH1", "KQSH18DA10F1"},
         "19 02 FF",
         "18 DA F1 10 10 0A 59 02 FF 01 23 45 \r18 DA F1 10 21 08 C1 00 00 \r\r>"},
        {"extended addressing, every line",
         everyLine,
         ext,
         {"KQH1", "KQSH6F1", "KQCD1"},
         "12 19 02 FF",
         "612 F1 10 0A 59 02 FF 01 23 \r612 F1 21 45 08 C1 00 00 \r\r>"},
        {"raw frames, every line",
         everyLine,
         raw,
         {"KQH1", "KQSH7E0"},
         "A9 81 12",
         "5E8 81 01 23 45 92 00 00 00 \r5E8 81 00 00 00 FF 00 00 00 \r\r>"},
        {"11-bit without blanks",
         noSpaces,
         can11,
         {"KQH1", "KQSH7E0"},
         "13",
         "7E8037F1378\r0453010123\r\r>"},
        {"headers off without blanks, frame numbers kept",
         noSpaces,
         can11,
         {"KQSH7E0"},
         "19 02 FF",
         "00A\r0:5902FF012345\r1:08C10000\r\r>"},
        {"29-bit four bytes without blanks",
         {{"noSpaces", true}, {"idBytes", true}},
         can29,
         {"KQSP7", "KQH1", "KQSH18DA10F1"},
         "19 02 FF",
         "18DAF110100A5902FF012345\r2108C10000\r\r>"},
        {"K-line without blanks",
         noSpaces,
         kLine,
         {"KQSP5", "KQH1", "KQSH8110F1"},
         "18 00 FF 00",
         "85F110580101232023\r\r>"},
        {"K-line under ISO 9141 headers",
         iso9141,
         kLine,
         {"KQSP5", "KQH1", "KQSH8110F1"},
         "18 00 FF 00",
         "48 6B 10 58 01 01 23 20 60 \r\r>"},
        {"ISO 9141 headers only with headers on",
         iso9141,
         kLine,
         {"KQSP5", "KQSH8110F1"},
         "18 00 FF 00",
         "58 01 01 23 20 \r\r>"},
        {"J1850 without blanks",
         noSpaces,
         j1850,
         {"KQSP1", "KQH1", "KQSH6C28F1"},
         "13",
         "6CF1285351550000FF\r\r>"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(answer(c.sensor, c.module, c.setup, c.request), c.reply) << c.name;
}

TEST(SimDisplayOptions, AreTrueOrFalse) {
    for (const char* key : {"headersEveryLine", "idBytes", "noSpaces", "iso9141Headers"}) {
        try {
            VehicleProfile::fromJson({{"sensor", {{key, "yes"}}}});
            ADD_FAILURE() << key;
        } catch (const std::invalid_argument& e) {
            EXPECT_EQ(std::string(e.what()),
                      std::string("vehicle profile: sensor.") + key + " must be true or false");
        }
    }
    const auto p = VehicleProfile::fromJson({{"sensor", {{"headersEveryLine", true}}}});
    EXPECT_TRUE(p.headersEveryLine);
    EXPECT_FALSE(p.idBytes);
}
