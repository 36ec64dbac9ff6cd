// Manufacturer modules of the simulated vehicle: how requests reach them and how the sensor
// prints their answers.
#include <gtest/gtest.h>

#include "sim/SensorCore.hpp"
#include "sim/SensorDisplay.hpp"
#include "support/SensorText.hpp"

using namespace qz::sim;
using qz::testsupport::canText;
using qz::testsupport::Frame;
using qz::testsupport::sensorBytes;

namespace {

// A payload of `size` bytes that starts like a UDS code report.
Frame payloadOf(size_t size) {
    Frame p(size);
    for (size_t i = 0; i < size; ++i) p[i] = static_cast<uint8_t>(i * 37 + 11);
    if (size) p[0] = 0x59;
    return p;
}

std::string hexOf(const Frame& bytes) {
    std::string text = sensorBytes(bytes);
    if (!text.empty()) text.pop_back();
    return text;
}

// Sends each command through the core and returns the last reply.
std::string run(SensorCore& core, const std::vector<std::string>& commands) {
    std::string reply;
    for (const auto& c : commands) reply = core.answer(c);
    return reply;
}

VehicleProfile withModules(nlohmann::json modules, int bus = 6) {
    return VehicleProfile::fromJson({{"sensor", {{"bus", bus}}}, {"modules", std::move(modules)}});
}

VehicleProfile sample() {
    return VehicleProfile::load(VehicleProfile::sampleFolder() / "modules-sample.json");
}

}  // namespace

TEST(SimDisplay, FramesEveryPayloadAsTheSensorPrintsIt) {
    using Expect = std::function<std::string(const Frame&)>;
    struct Case {
        const char* name;
        nlohmann::json module;  // without replies
        std::vector<std::string> setup;
        std::string requestHead;  // extended address byte in front of the request
        std::vector<size_t> sizes;
        Expect expected;
    };
    const nlohmann::json can11 = {{"request", "7E0"}, {"response", "7E8"}};
    const nlohmann::json ext = {
        {"request", "6F1"}, {"response", "612"}, {"extRequest", "12"}, {"extResponse", "F1"}};
    const nlohmann::json kline = {{"protocol", "5"}, {"request", "28"}, {"response", "28"}};
    const nlohmann::json j1850 = {{"protocol", "1"}, {"request", "10"}, {"response", "10"}};
    auto kLineLine = [](uint8_t format, const Frame& p, bool lengthByte) {
        Frame b{format, 0xF1, 0x28};
        if (lengthByte) b.push_back(static_cast<uint8_t>(p.size()));
        b.insert(b.end(), p.begin(), p.end());
        unsigned sum = 0;
        for (uint8_t x : b) sum += x;
        b.push_back(static_cast<uint8_t>(sum));
        return sensorBytes(b) + "\r";
    };
    const std::vector<Case> cases = {
        {"CAN 11-bit, headers off",
         can11,
         {"KQSH7E0"},
         "",
         {1, 7, 8, 13, 14, 20, 118, 119, 300},
         [](const Frame& p) { return canText(p, false); }},
        {"CAN 11-bit, headers on",
         can11,
         {"KQH1", "KQSH7E0"},
         "",
         {3, 7, 8, 118, 300},
         [](const Frame& p) { return canText(p, true, "7E8"); }},
        {"CAN 29-bit, headers on",
         {{"request", "18DA10F1"}, {"response", "18DAF110"}},
         {"KQSP7", "KQH1", "KQSH18DA10F1"},
         "",
         {5, 20},
         [](const Frame& p) { return canText(p, true, "18DAF110"); }},
        {"CAN 29-bit, headers off",
         {{"request", "18DA10F1"}, {"response", "18DAF110"}},
         {"KQSP7", "KQSH18DA10F1"},
         "",
         {5, 20},
         [](const Frame& p) { return canText(p, false); }},
        {"CAN extended addressing, headers on",
         ext,
         {"KQH1", "KQSH6F1", "\x10KQCD1"},
         "12 ",
         {6, 7, 40},
         [](const Frame& p) { return canText(p, true, "612", 0xF1); }},
        {"CAN extended addressing, headers off",
         ext,
         {"KQSH6F1", "\x10KQCD1"},
         "12 ",
         {6, 7, 40},
         [](const Frame& p) { return canText(p, false, "", 0xF1); }},
        {"raw CAN frames",
         can11,
         {"KQCR1", "KQH1", "KQSH7E0"},
         "",
         {8, 12},
         [](const Frame& p) {
             return "7E8 " +
                    sensorBytes(Frame(p.begin(), p.begin() + std::min<size_t>(8, p.size()))) +
                    "\r" + (p.size() > 8 ? sensorBytes(Frame(p.begin() + 8, p.end())) + "\r" : "");
         }},
        {"K-line, headers on, length in the format byte",
         kline,
         {"KQSP5", "KQH1", "KQSH8128F1"},
         "",
         {1, 5, 63},
         [&](const Frame& p) {
             return kLineLine(static_cast<uint8_t>(0x80 | p.size()), p, false);
         }},
        {"K-line, headers on, length byte",
         kline,
         {"KQSP5", "KQH1", "KQSH8128F1"},
         "",
         {64, 200},
         [&](const Frame& p) { return kLineLine(0x80, p, true); }},
        {"K-line, headers off",
         kline,
         {"KQSP5", "KQSH8128F1"},
         "",
         {5, 64},
         [](const Frame& p) { return sensorBytes(p) + "\r"; }},
        {"J1850, headers off",
         j1850,
         {"KQSP1", "KQSH6110F1"},
         "",
         {3, 7},
         [](const Frame& p) { return sensorBytes(p) + "\r"; }},
        {"J1850, headers on",
         j1850,
         {"KQSP1", "KQH1", "KQSH6110F1"},
         "",
         {3, 7},
         [](const Frame& p) {
             Frame b(p.size() + 3);
             b[0] = 0x61;
             b[1] = 0xF1;
             b[2] = 0x10;
             std::copy(p.begin(), p.end(), b.begin() + 3);
             b.push_back(display::j1850Crc(b));
             return sensorBytes(b) + "\r";
         }},
    };
    for (const auto& c : cases) {
        for (size_t size : c.sizes) {
            SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(size) + " bytes");
            const Frame payload = payloadOf(size);
            nlohmann::json module = c.module;
            module["replies"] = {{"19 02 FF", hexOf(payload)}};
            SensorCore core(withModules({module}));
            run(core, c.setup);
            EXPECT_EQ(core.answer(c.requestHead + "19 02 FF"), c.expected(payload) + "\r>");
        }
    }
    // Independent references: the J1850 CRC of an OBD request, and a KWP2000 answer under a
    // header whose format byte leaves the length to a length byte.
    EXPECT_EQ(display::j1850Crc({0x68, 0x6A, 0xF1, 0x01, 0x00}), 0x17);
    SensorCore mut(withModules({{{"protocol", "5"},
                                 {"request", "40"},
                                 {"response", "40"},
                                 {"replies", {{"06 31 01", "71 01"}}}}}));
    EXPECT_EQ(run(mut, {"KQSP5", "KQH1", "KQSH8040F1", "06 31 01 00 00 00 00"}),
              "80 F1 40 02 71 01 25 \r\r>");
}

TEST(SimModules, RequestsReachTheModulesTheSensorSettingsSelect) {
    auto profile = withModules({
        {{"name", "first"},
         {"request", "7E0"},
         {"response", "7E8"},
         {"replies", {{"19", "59 01"}, {"19 02", "59 02"}, {"22", ""}}}},
        {{"name", "second"},
         {"request", "7E0"},
         {"response", "7E9"},
         {"replies", {{"19 02", "59 02 AA"}, {"22", "62 F1 90"}}}},
        {{"name", "pinned"},
         {"protocol", nlohmann::json::array({"5", ";"})},
         {"pins", "C0"},
         {"interface", "P"},
         {"request", "40"},
         {"response", "40"},
         {"replies", {{"18", "58 00"}}}},
        {{"name", "pending"},
         {"request", "7E2"},
         {"response", "7EA"},
         {"replies", {{"13", nlohmann::json::array({"7F 13 78", "", "53 01 23"})}, {"3E", "7E"}}}},
    });
    profile.ecus.push_back({"7E8", {{0x0C, "1A F8"}}, {}, {}, {}, {}, {}});
    SensorCore core(profile);
    const std::vector<std::pair<std::string, std::string>> steps = {
        // No header: the generic units answer, the modules do not.
        {"010C", "1A F8 \r>"},
        {"1902FF", "NO DATA\r>"},
        {"KQSH7E0", "OK\r>"},
        // The longest request prefix wins; only the first module answers until KQX1.
        {"19 02 FF", "59 02 \r\r>"},
        {"19 01", "59 01 \r\r>"},
        {"KQX1", "OK\r>"},
        {"19 02 FF", "59 02 \r59 02 AA \r\r>"},
        {"22 F1 90", "62 F1 90 \r\r>"},  // an empty answer: the first module stays silent
        {"KQH1", "OK\r>"},
        {"19 02", "7E8 02 59 02 \r7E9 03 59 02 AA \r\r>"},
        // The filter and mask pass only the identifiers they match.
        {"KQCF7E9", "OK\r>"},
        {"19 02", "7E9 03 59 02 AA \r\r>"},
        {"KQCM7F0", "OK\r>"},
        {"19 02", "7E8 02 59 02 \r7E9 03 59 02 AA \r\r>"},
        {"KQCF7FF", "OK\r>"},
        {"KQCMFFF", "OK\r>"},
        {"19 02", "NO DATA\r>"},
        {"1902F", "NO DATA\r>"},  // half a byte
        // Protocol, pins and interface must all be in force.
        {"KQD", "OK\r>"},
        {"KQSH8040F1", "OK\r>"},
        {"18 00 FF 00", "NO DATA\r>"},
        {"KQSP5", "OK\r>"},
        {"KQSMC0", "OK\r>"},
        {"18 00 FF 00", "NO DATA\r>"},
        {"KQIFP", "OK\r>"},
        {"18 00 FF 00", "58 00 \r\r>"},
        {"KQSP;", "OK\r>"},  // a new protocol: its pins, no interface
        {"18 00 FF 00", "NO DATA\r>"},
        {"KQSMC0", "OK\r>"},
        {"KQIFP", "OK\r>"},
        {"18 00 FF 00", "58 00 \r\r>"},
        {"KQDP", "59\r>"},
        // One answer per repeat, the last one staying; another request starts over.
        {"KQD", "OK\r>"},
        {"KQSH7E2", "OK\r>"},
        {"13", "7F 13 78 \r\r>"},
        {"13", "NO DATA\r>"},
        {"13", "53 01 23 \r\r>"},
        {"13", "53 01 23 \r\r>"},
        {"3E", "7E \r\r>"},
        {"13", "7F 13 78 \r\r>"},
        // Settings the sensor cannot take.
        {"KQSH", "?\r>"},
        {"KQSHXYZ", "?\r>"},
        {"KQCF123456789", "?\r>"},
        {"KQSM6", "?\r>"},
        {"KQCR2", "?\r>"},
        {"KQSP", "?\r>"},
        {"KQIF", "?\r>"},
        // "KQD" restores the start-up settings: no header, the vehicle's protocol and pins.
        {"KQSP5", "OK\r>"},
        {"KQDP", "5\r>"},
        {"KQRP1", "OK\r>"},
        {"KQD", "OK\r>"},
        {"KQDP", "6\r>"},
        {"010C", "1A F8 \r>"},
        {"KQRP1", "OK\r>"},  // full response bytes: the service and PID echo
        {"010C", "41 0C 1A F8 \r>"},
    };
    for (const auto& [command, reply] : steps) EXPECT_EQ(core.answer(command), reply) << command;
    EXPECT_EQ(core.pins(), "6E");
    EXPECT_EQ(core.header(), "");
}

TEST(SimModules, AClearRequestClearsTheModulesCodesForLaterReads) {
    SensorCore core(sample());
    const Frame ecmCodes{0x59, 0x02, 0xFF, 0x01, 0x23, 0x45, 0x08, 0xC1,
                         0x00, 0x00, 0x2F, 0x04, 0x20, 0x00, 0x8C};
    const std::vector<std::pair<std::vector<std::string>, std::string>> steps = {
        {{"KQSH7E1", "18 00 FF 00"}, "008\r0: 58 02 07 00 E0 17 \r1: 40 20 \r\r>"},
        {{"14 FF"}, "NO DATA\r>"},  // not the clear request
        {{"18 00 FF 00"}, "008\r0: 58 02 07 00 E0 17 \r1: 40 20 \r\r>"},
        {{"14 FF 00"}, "54 FF 00 \r\r>"},
        {{"18 00 FF 00"}, "58 00 \r\r>"},
        // A clear that is answered negatively has not cleared anything yet.
        {{"KQH1", "KQSH7E0", "14 FF FF FF"}, "7E8 03 7F 14 78 \r\r>"},
        {{"19 02 FF"}, "7E8 03 7F 19 78 \r\r>"},
        {{"19 02 FF"}, canText(ecmCodes, true, "7E8") + "\r>"},
        {{"14 FF FF FF"}, "7E8 03 7F 14 78 \r\r>"},
        {{"14 FF FF FF"}, "7E8 01 54 \r\r>"},
        {{"19 02 FF"}, "7E8 03 59 02 FF \r\r>"},
        // The K-line and J1850 modules, each on its own protocol and pins.
        {{"KQSP5", "KQSH8128F1", "18 00 FF 00"}, "85 F1 28 58 01 01 23 20 3B \r\r>"},
        {{"KQSM6E", "18 00 FF 00"}, "NO DATA\r>"},
        {{"KQSM70", "14 FF 00"}, "83 F1 28 54 FF 00 EF \r\r>"},
        {{"18 00 FF 00"}, "82 F1 28 58 00 F3 \r\r>"},
        {{"KQH0", "KQSP1", "KQSH6110F1", "13"}, "53 01 23 04 56 \r53 07 89 00 00 \r\r>"},
        {{"14", "13"}, "53 00 00 \r\r>"},
    };
    for (const auto& [commands, reply] : steps)
        EXPECT_EQ(run(core, commands), reply) << commands.back();

    auto pending = sample();
    pending.modules.resize(1);
    core.setProfile(pending);  // a new vehicle has its codes again
    EXPECT_EQ(run(core, {"KQSH7E0", "19 02 FF"}), "7F 19 78 \r\r>");
    EXPECT_EQ(core.answer("19 02 FF"),
              "00F\r0: 59 02 FF 01 23 45 \r1: 08 C1 00 00 2F 04 20 \r2: 00 8C \r\r>");
    EXPECT_EQ(core.answer("14 FF FF FF"), "7F 14 78 \r\r>");
    EXPECT_EQ(core.answer("14 FF FF FF"), "54 \r\r>");
    EXPECT_EQ(core.answer("19 02 FF"), "59 02 FF \r\r>");
}

TEST(SimModules, MalformedModulesAreRejectedWithTheirPlace) {
    const nlohmann::json good = {{"request", "7E0"}, {"response", "7E8"}};
    auto with = [&](const char* key, nlohmann::json value) {
        nlohmann::json m = good;
        m[key] = std::move(value);
        return m;
    };
    const std::vector<std::pair<nlohmann::json, std::string>> cases = {
        {nlohmann::json::object(), "modules[0].request"},
        {{{"request", "7E0"}}, "modules[0].response"},
        {with("request", "7G0"), "modules[0].request"},
        {with("request", "123456789"), "modules[0].request"},
        {with("pins", "6"), "modules[0].pins"},
        {with("protocol", nlohmann::json::array({6})), "modules[0].protocol"},
        {with("reply", nlohmann::json::object()), "unknown key \"reply\""},
        {with("replies", {{"19 0", "59"}}), "modules[0].replies[\"19 0\"]"},
        {with("replies", {{"19", "59 1"}}), "modules[0].replies[\"19\"]"},
        {with("replies", {{"19", "59 | | 01"}}), "empty message"},
        {with("replies", {{"19", nlohmann::json::array()}}), "empty list"},
        {with("replies", {{"19", "59"}, {"1 9", "59"}}), "given twice"},
        {with("extRequest", "12"), "go together"},
        {with("cleared", {{"19", "59"}}), "needs \"clear\""},
        {with("raw", "yes"), "modules[0].raw"},
    };
    for (const auto& [module, message] : cases) {
        SCOPED_TRACE(module.dump());
        try {
            withModules({module});
            ADD_FAILURE() << "accepted";
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << e.what();
        }
    }
    EXPECT_THROW(VehicleProfile::fromText(R"({"modules": {}})"), std::invalid_argument);
    const auto p = sample();
    ASSERT_EQ(p.modules.size(), 7u);
    EXPECT_TRUE(p.modules[4].wide);
    EXPECT_EQ(p.modules[0].replies.at("1902FF").size(), 2u);
    EXPECT_EQ(p.modules[6].replies.at("13")[0].size(), 2u);
}
