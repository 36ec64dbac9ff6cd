// The profile's display options: a CAN module's identifier on every line, and 29-bit
// identifiers as four bytes, as ELM327-type adapters print them.
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
    };
    for (const auto& c : cases)
        EXPECT_EQ(answer(c.sensor, c.module, c.setup, c.request), c.reply) << c.name;
}

TEST(SimDisplayOptions, AreTrueOrFalse) {
    for (const char* key : {"headersEveryLine", "idBytes"}) {
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
