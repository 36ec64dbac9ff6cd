// A profile's own answers to sensor commands (`sensor.answers`) and module replies printed as
// they stand: the sensor's words and junk where a module's bytes would be.
#include <gtest/gtest.h>

#include "sim/SensorCore.hpp"

using namespace qz::sim;

namespace {

VehicleProfile profile(nlohmann::json answers, nlohmann::json modules = nlohmann::json::array()) {
    return VehicleProfile::fromJson(
        {{"sensor", {{"bus", 6}, {"answers", std::move(answers)}}},
         {"ecus", {{{"address", "7E8"}, {"stored", {"P0420"}}, {"pending", {"P0171"}}}}},
         {"modules", std::move(modules)}});
}

// What the core sends back for one command, descrambled; none when it sends nothing.
std::optional<std::string> sent(SensorCore& core, const std::string& command) {
    std::optional<std::string> text;
    for (const auto& out : core.receive(scramble(command + "\r")))
        if (out.kind == Output::Kind::Bytes) text = text.value_or("") + scrambleToString(out.bytes);
    return text;
}

}  // namespace

TEST(SimSensorWords, ProfileAnswersReplaceTheUsualOnesOrSilenceTheCommand) {
    SensorCore core(profile({{"KQTC", nullptr},
                             {"kq tcp", "CAN ERROR"},
                             {"KQSP6", "?"},
                             {"KQCC", "BUS INIT: ...ERROR"}}));
    const std::vector<std::pair<std::string, std::optional<std::string>>> steps = {
        {"KQTC", std::nullopt},  // no answer, no prompt
        {"KQTCP", "CAN ERROR\r>"},
        {"KQ TCP", "CAN ERROR\r>"},
        {"KQTCA", "NO DATA\r>"},  // other commands as usual
        {"KQSP6", "?\r>"},
        {"KQDP", "6\r>"},  // the command answered otherwise was not carried out
        {"KQCC", "BUS INIT: ...ERROR\r>"},
        {"KQTCP", "CAN ERROR\r>"},
    };
    for (const auto& [command, reply] : steps) EXPECT_EQ(sent(core, command), reply) << command;
    EXPECT_EQ(core.protocol(), "0");
    EXPECT_EQ(core.profile().ecus[0].stored, std::vector<std::string>{"P0420"});  // not cleared
    EXPECT_EQ(core.answer("KQTCP"), "CAN ERROR\r>");
    EXPECT_EQ(core.answer("KQTC"), "");

    // Faults still come first.
    core.addFault(Fault::reply("P0300\r>", 1, "KQTC"));
    EXPECT_EQ(sent(core, "KQTC"), "P0300\r>");

    for (const auto& bad :
         {nlohmann::json::array(), nlohmann::json({{"KQTC", 3}}), nlohmann::json({{" ", "?"}}),
          nlohmann::json({{"KQTC", "?"}, {"kqtc", "?"}})})
        EXPECT_THROW(profile(bad), std::invalid_argument) << bad.dump();
}

TEST(SimSensorWords, AModuleReplyThatIsNoBytesIsPrintedAsItStands) {
    SensorCore core(profile(
        nlohmann::json::object(),
        {{{"name", "words"},
          {"request", "7E0"},
          {"response", "7E8"},
          {"replies",
           {{"19 02 FF", {"?", "NO DATA", "59 02 FF", "7E8 10 0F 59 02 FF 01 23 45\r22 00 8C"}},
            {"14 FF FF FF", "CAN ERROR"}}},
          {"clear", "14 FF FF FF"},
          {"cleared", {{"19 02 FF", "59 02 FF"}}}},
         {{"name", "bytes"},
          {"request", "7E0"},
          {"response", "7E9"},
          {"replies", {{"19 02 FF", "59 02 FF 01 23 45 08"}}}}}));
    const std::vector<std::pair<std::string, std::string>> steps = {
        {"KQSH7E0", "OK\r>"},
        {"19 02 FF", "?\r\r>"},
        {"19 02 FF", "NO DATA\r\r>"},
        {"19 02 FF", "59 02 FF \r\r>"},
        {"19 02 FF", "7E8 10 0F 59 02 FF 01 23 45\r22 00 8C\r\r>"},  // a frame lost
        {"14 FF FF FF", "CAN ERROR\r\r>"},
        {"19 02 FF", "?\r\r>"},  // the error word cleared nothing
        {"KQX1", "OK\r>"},
        {"19 02 FF", "NO DATA\r59 02 FF 01 23 45 08 \r\r>"},  // each module its own answer
    };
    for (const auto& [command, reply] : steps) EXPECT_EQ(core.answer(command), reply) << command;

    // A text of hex digits only must still be bytes.
    EXPECT_THROW(
        VehicleProfile::fromJson(
            {{"modules",
              {{{"request", "7E0"}, {"response", "7E8"}, {"replies", {{"19", "59 0"}}}}}}}),
        std::invalid_argument);
}
