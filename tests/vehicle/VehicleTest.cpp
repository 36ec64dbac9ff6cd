#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <future>

#include "VehicleTestSupport.hpp"
#include "api/Communication/Relay.hpp"
#include "api/Communication/Vehicle.hpp"
#include "api/Communication/VehicleInitializer.hpp"
#include "api/Data/PelkData.hpp"
#include "api/Logging/AES256Encryption.hpp"
#include "api/Logging/FileLog.hpp"
#include "api/Logging/Log.hpp"
#include "api/PIDs/PIDInfo.hpp"
#include "lib/Facades/QZEData.hpp"
#include "lib/Facades/QZEPitCrew.hpp"
#include "lib/Facades/QZEVehicle.hpp"
#include "lib/Logging/QZELogging.hpp"
#include "logging/LogFileReader.hpp"
#include "platform/Clock.hpp"
#include "platform/DispatchQueue.hpp"
#include "sim/FakeSensorLink.hpp"
#include "sim/SimTestSupport.hpp"

namespace qz {
namespace {

using namespace vehicletest;
using sim::FakeSensorLink;
using sim::Fault;
using sim::SensorCore;
using sim::VehicleProfile;

std::size_t linesContaining(const std::string& text) {
    auto lines = qz::testing::libraryLogLines();
    return std::count_if(lines.begin(), lines.end(),
                         [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

// A vehicle over a relay to the simulated sensor. The clock factor decides how long a reply
// wait lasts: 1 for tests where no wait may expire (3 real seconds of margin), small for tests
// that need a time-out.
class VehicleTest : public ::testing::Test {
  protected:
    explicit VehicleTest(double clockFactor = 1.0)
        : clock(std::make_shared<ScaledClock>(clockFactor)) {}

    void SetUp() override {
        Log::reset();
        connect(VehicleProfile::builtIn());
    }
    void TearDown() override { Log::reset(); }

    void connect(VehicleProfile profile) {
        core = std::make_shared<SensorCore>(std::move(profile));
        link = FakeSensorLink::create(core);
        relay = Relay::createWithSensor(link);
        vehicle = Vehicle::create(std::nullopt);
        vehicle->setRelay(relay);
    }

    VehicleProfile profileWith(const std::string& version, int bus) {
        auto p = VehicleProfile::builtIn();
        p.version = version;
        p.bus = bus;
        return p;
    }

    std::size_t count(const std::string& command) {
        auto c = core->commands();
        return std::count(c.begin(), c.end(), command);
    }

    ScopedHome home;
    ScopedClock clock;
    std::shared_ptr<SensorCore> core;
    std::shared_ptr<FakeSensorLink> link;
    std::shared_ptr<Relay> relay;
    std::shared_ptr<Vehicle> vehicle;
};

// Tests in which some replies never come: each wait lasts 0.9 s.
class VehicleTimeoutTest : public VehicleTest {
  protected:
    VehicleTimeoutTest() : VehicleTest(0.3) {}
};

TEST_F(VehicleTest, InitialisesAndStoresVersionAndBus) {
    EXPECT_FALSE(vehicle->initialized());
    ASSERT_TRUE(vehicle->initializeVehicle());
    EXPECT_TRUE(vehicle->initialized());
    EXPECT_EQ(core->commands(), (std::vector<std::string>{"KQD", "KQI", "KQDP"}));
    EXPECT_FLOAT_EQ(vehicle->activeSensorVersion(), 4.05f);
    EXPECT_EQ(vehicle->activeMainBus(), BusProtocol::can11500);
    EXPECT_EQ(vehicle->activeHighPin(), 6);
    EXPECT_EQ(vehicle->activeLowPin(), 14);
    EXPECT_EQ(vehicle->obd2ProtocolString(), "CAN11_500");
    EXPECT_EQ(PelkData::shared()->sensorVersionNumber(), 405);
    EXPECT_EQ(PelkData::shared()->obd2Protocol(), 6);
}

TEST_F(VehicleTest, VersionIsStoredRoundedNotTruncated) {
    for (const auto& [text, stored] : std::vector<std::pair<std::string, int64_t>>{
             {"2.10", 210}, {"4.01", 401}, {"4.07", 407}, {"2.54", 254}, {"4.10", 410}}) {
        SCOPED_TRACE(text);
        connect(profileWith(text, 6));
        ASSERT_TRUE(vehicle->initializeVehicle());
        EXPECT_EQ(PelkData::shared()->sensorVersionNumber(), stored);
    }
}

TEST_F(VehicleTest, KqdWithoutOkIsRetriedFromTheStart) {
    core->addFault(Fault::unknown(1, "KQD"));
    ASSERT_TRUE(vehicle->initializeVehicle());
    EXPECT_EQ(core->commands(), (std::vector<std::string>{"KQD", "KQD", "KQI", "KQDP"}));
}

TEST_F(VehicleTest, ThreeFailedRunsGiveUpAndKeepEarlierValues) {
    ASSERT_TRUE(vehicle->initializeVehicle());
    core->clearCommands();
    core->addFault(Fault::unknown(-1, "KQD"));
    EXPECT_FALSE(vehicle->initializeVehicle());
    EXPECT_FALSE(vehicle->initialized());
    EXPECT_EQ(core->commands(), (std::vector<std::string>{"KQD", "KQD", "KQD"}));
    EXPECT_EQ(vehicle->activeMainBus(), BusProtocol::can11500);
    EXPECT_EQ(PelkData::shared()->sensorVersionNumber(), 405);
}

// An answer that is not a version in the sensor's form ("OSAPI 4.08") is asked again, then the
// run goes on with the version not read: never a version made of what came, never stored.
TEST_F(VehicleTest, AVersionNotInTheSensorsFormIsNotRead) {
    for (const std::string& version :
         std::vector<std::string>{"abc", "4.0.5", ".", std::string(60, '9'),
                                  "340282346638528859811704183484516925440.00", "4.0", "4.", "4",
                                  "4.081", "v4.08", "4.08b"}) {
        SCOPED_TRACE(version);
        const auto before = linesContaining("Could not parse OSAPI version");
        connect(profileWith(version, 6));
        ASSERT_TRUE(vehicle->initializeVehicle());
        EXPECT_EQ(core->commands(), (std::vector<std::string>{"KQD", "KQI", "KQI", "KQDP"}));
        EXPECT_EQ(linesContaining("Could not parse OSAPI version") - before, 2u);
        EXPECT_EQ(vehicle->activeSensorVersion(), 0.0f);
        EXPECT_EQ(vehicle->activeSensorVersionText(), "");
        EXPECT_EQ(PelkData::shared()->sensorVersionNumber(), 0);
    }
}

TEST_F(VehicleTest, VersionAndBusParsing) {
    EXPECT_FLOAT_EQ(VehicleInitializer::parseSensorVersion("OSAPI 4.05\r>").value(), 4.05f);
    EXPECT_FLOAT_EQ(VehicleInitializer::parseSensorVersion("KQI\rOSAPI 4.05\r>").value(), 4.05f);
    EXPECT_FLOAT_EQ(VehicleInitializer::parseSensorVersion("OSAPI 12.34\r\r>").value(), 12.34f);
    // Whole, in the sensor's form, or no version.
    for (const std::string& reply :
         {std::string("KQI\rOSAPI v4.1b\r>"), std::string("OSAPI\r>"), std::string("1.2.3"),
          std::string(50, '9'), "0." + std::string(60, '0') + "1", std::string("4."),
          std::string(".5"), std::string("OSAPI 4.0\r>"), std::string("OSAPI 4.\r>"),
          std::string("OSAPI 4\r>"), std::string("OSAPI .05\r>"), std::string("4.08\r>"),
          std::string("OSAPI 4.08\rOSAPI 4.08\r>"), std::string("OSAPI 4.08 OK\r>"),
          "OSAPI " + std::string(14, '9') + ".00\r>"})
        EXPECT_FALSE(VehicleInitializer::parseSensorVersion(reply)) << reply;
    EXPECT_EQ(VehicleInitializer::parseBusNumber("58\r>"), 58);
    EXPECT_FALSE(VehicleInitializer::parseBusNumber("6.5\r>"));
    EXPECT_FALSE(VehicleInitializer::parseBusNumber("?\r>"));
    EXPECT_FALSE(VehicleInitializer::parseBusNumber(std::string(30, '9')));
}

TEST_F(VehicleTest, BusWithFullStopFailsTheRun) {
    core->addFault(Fault::reply("6.5\r>", -1, "KQDP"));
    EXPECT_FALSE(vehicle->initializeVehicle());
    EXPECT_EQ(count("KQDP"), 3u);
}

TEST_F(VehicleTest, BusWithoutDigitsFailsTheRun) {
    core->addFault(Fault::unknown(1, "KQDP"));
    ASSERT_TRUE(vehicle->initializeVehicle());
    EXPECT_EQ(count("KQD"), 2u);
}

TEST_F(VehicleTest, UnknownBusNumberIsUnknownBus) {
    core->addFault(Fault::reply("42\r>", 1, "KQDP"));
    ASSERT_TRUE(vehicle->initializeVehicle());
    EXPECT_EQ(vehicle->activeMainBus(), BusProtocol::unknownBus);
    EXPECT_EQ(vehicle->obd2ProtocolString(), "UNKNOWN");
    EXPECT_EQ(vehicle->activeHighPin(), 6);
    EXPECT_EQ(vehicle->activeLowPin(), 14);
    EXPECT_EQ(PelkData::shared()->obd2Protocol(), 0);
}

TEST_F(VehicleTest, PinsAndProtocolTextPerBus) {
    struct Row {
        int bus;
        int64_t high, low;
        const char* text;
    };
    const Row rows[] = {
        {0, 6, 14, "UNKNOWN"},   {1, 2, 10, "J1850_PWM"},   {2, 2, 0, "J1850_VPW"},
        {3, 7, 0, "ISO_9141"},   {4, 7, 0, "KWP2000_Slow"}, {5, 7, 0, "KWP2000_Fast"},
        {6, 6, 14, "CAN11_500"}, {7, 6, 14, "CAN29_500"},   {8, 6, 14, "CAN11_250"},
        {9, 6, 14, "CAN29_250"}, {58, 6, 14, "GM_LAN"},     {59, 6, 14, "HONDA_DIAGH"},
        {97, 6, 14, "MBISO"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.bus);
        connect(profileWith("4.05", row.bus));
        ASSERT_TRUE(vehicle->initializeVehicle());
        EXPECT_EQ(rawValue(vehicle->activeMainBus()), row.bus);
        EXPECT_EQ(vehicle->activeHighPin(), row.high);
        EXPECT_EQ(vehicle->activeLowPin(), row.low);
        EXPECT_EQ(vehicle->obd2ProtocolString(), row.text);
        EXPECT_EQ(PelkData::shared()->obd2Protocol(), row.bus);
    }
    EXPECT_FALSE(busProtocolFromRawValue(10));
    EXPECT_FALSE(busProtocolFromRawValue(-1));
}

TEST_F(VehicleTest, NoRelay) {
    vehicle->setRelay(nullptr);
    EXPECT_FALSE(vehicle->initializeVehicle());
    EXPECT_EQ(vehicle->sendCommandToOstrel(std::string("0100")), "NO DATA/r>");
    EXPECT_FALSE(vehicle->sendSetupCommandToOstrel(std::string("KQSP6")));
    EXPECT_FALSE(vehicle->checkIfInRecoveryMode());
    PIDInfo pid(Mode::LiveData, 0x0C, "Engine RPM", PIDCategory::numeric, "RPM", 2, std::nullopt);
    EXPECT_EQ(errorOf(vehicle->sendAndUpdate(pid, false, {})), CommError::noDelegate);
}

// A "KQI" without an answer is asked again; never answered, the run goes on with the version
// not known (0), whatever an earlier run read: this vehicle's relay knows no sensor to take a
// stored version for.
TEST_F(VehicleTimeoutTest, KqiTimeOutAsksAgainAndGoesOn) {
    struct Case {
        const char* name;
        int silences;
        float version;
    };
    for (const Case& c : {Case{"once", 1, 4.05f}, Case{"every time", 2, 0.0f}}) {
        SCOPED_TRACE(c.name);
        connect(VehicleProfile::builtIn());
        ASSERT_TRUE(vehicle->initializeVehicle());
        core->clearCommands();
        core->addFault(Fault::silence(c.silences, "KQI"));
        ASSERT_TRUE(vehicle->initializeVehicle());
        EXPECT_EQ(core->commands(), (std::vector<std::string>{"KQD", "KQI", "KQI", "KQDP"}));
        EXPECT_FLOAT_EQ(vehicle->activeSensorVersion(), c.version);
        EXPECT_EQ(PelkData::shared()->sensorVersionNumber(), std::llround(c.version * 100));
        EXPECT_EQ(vehicle->activeSensorVersionText(), c.version > 0 ? "4.05" : "");
    }
}

TEST_F(VehicleTimeoutTest, RecoveryModeIsRecognised) {
    auto p = VehicleProfile::builtIn();
    p.recovery = true;
    connect(p);
    EXPECT_FALSE(vehicle->initializeVehicle());
    EXPECT_TRUE(vehicle->checkIfInRecoveryMode());
}

TEST_F(VehicleTimeoutTest, SensorInCommandModeIsNotInRecovery) {
    EXPECT_FALSE(vehicle->checkIfInRecoveryMode());
    EXPECT_TRUE(vehicle->initializeVehicle());  // the probes did not disturb it
}

TEST_F(VehicleTimeoutTest, EngineSeesEveryFailureAsNoData) {
    core->addFault(Fault::silence(1, "0100"));
    EXPECT_EQ(vehicle->sendCommandToOstrel(std::string("0100")), "NO DATA/r>");
    EXPECT_EQ(vehicle->sendCommandToOstrel(std::nullopt), "NO DATA/r>");
    EXPECT_EQ(linesContaining("Invalid cmd"), 1u);
    core->addFault(Fault::silence(1, "KQSP6"));
    EXPECT_FALSE(vehicle->sendSetupCommandToOstrel(std::string("KQSP6")));
    EXPECT_EQ(vehicle->activeHighPin(), 0);  // no completed exchange, no bookkeeping
    // Told apart from a refusal.
    core->addFault(Fault::silence(1, "KQSP6"));
    EXPECT_EQ(vehicle->sendSetupCommand(std::string("KQSP6")), QZESetupAnswer::unanswered);
    EXPECT_EQ(vehicle->sendSetupCommand(std::string("KQSP6")), QZESetupAnswer::accepted);
    // A reply that stopped before its prompt: the part that came, told as cut short beside its
    // text (in the text alone it is a failure); blanks alone are nothing. An answer the main
    // queue held past the relay's bound is not known: cut short, nothing of it come; held on
    // until the next command went out, it is not that command's answer.
    struct Stop {
        const char* part;
        QZECommandReply reply;
        bool mainQueueHeld = false;
        bool heldPastTheNextCommand = false;
    };
    const Stop stops[] = {
        {"59 02 FF 01 23 \r", {"59 02 FF 01 23 \r", true}},
        {"7E8 ", {"7E8 ", true}},
        {" \r", {"NO DATA/r>", false}},
        {"", {"", true}, true},
        {"", {"", true}, true, true},
    };
    for (const auto& stop : stops) {
        SCOPED_TRACE(::testing::PrintToString(std::string(stop.part)) +
                     (stop.heldPastTheNextCommand ? " held past the next command" : ""));
        auto release = std::make_shared<std::promise<void>>();
        if (stop.mainQueueHeld)
            DispatchQueue::main()->async([held = release->get_future().share()] {
                held.wait_for(std::chrono::seconds(20));
            });
        else
            core->addFault(Fault::reply(stop.part, 1, "19 02 FF"));
        const QZECommandReply reply = vehicle->sendCommand(std::string("19 02 FF"));
        if (!stop.heldPastTheNextCommand) release->set_value();
        EXPECT_EQ(reply.text, stop.reply.text);
        EXPECT_EQ(reply.cutShort, stop.reply.cutShort);
        const auto kqiSent = [&] {
            const auto commands = core->commands();
            return std::count(commands.begin(), commands.end(), "KQI");
        };
        const auto asked = kqiSent();
        auto next = std::async(std::launch::async,
                               [&] { return vehicle->sendCommand(std::string("KQI")); });
        if (stop.heldPastTheNextCommand) {
            EXPECT_TRUE(simtest::eventually([&] { return kqiSent() > asked; }));
            release->set_value();
        }
        const QZECommandReply whole = next.get();
        EXPECT_EQ(whole.text, "OSAPI 4.05\r>");
        EXPECT_FALSE(whole.cutShort);
    }
    core->addFault(Fault::reply("59 02 FF 01 23 \r", 1, "19 02 FF"));
    EXPECT_EQ(vehicle->sendCommandToOstrel(std::string("19 02 FF")), "NO DATA/r>");
    EXPECT_EQ(vehicle->sendCommand(std::nullopt).text, "NO DATA/r>");
}

TEST_F(VehicleTest, CommandsReturnTheReplyAndKeepPins) {
    auto reply = vehicle->sendCommandToOstrel(std::string("KQSP 6"));
    EXPECT_EQ(reply, "OK\r>");
    EXPECT_EQ(vehicle->activeHighPin(), 6);
    EXPECT_EQ(vehicle->activeLowPin(), 14);
    EXPECT_EQ(vehicle->activeProtocolString(), "6");

    EXPECT_TRUE(vehicle->sendSetupCommandToOstrel(std::string("KQSM7C")));
    EXPECT_EQ(vehicle->activeHighPin(), 7);
    EXPECT_EQ(vehicle->activeLowPin(), 12);

    // What the sensor did not take is not in force, whichever way it was sent: a reply without
    // "OK", an "OK" beside an error word.
    struct Refused {
        const char* cmd;
        Fault fault;
        QZESetupAnswer answer;
    };
    const Refused refused[] = {
        {"KQSP1", Fault::unknown(1, "KQSP1"), QZESetupAnswer::refused},
        {"KQSP2", Fault::reply("OK\rBUS ERROR\r>", 1, "KQSP2"), QZESetupAnswer::refused},
        {"KQSM3B", Fault::unknown(1, "KQSM3B"), QZESetupAnswer::refused},
        {"KQH1", Fault::reply("NO DATA\r>", 1, "KQH1"), QZESetupAnswer::refused},
    };
    for (const auto& r : refused) {
        SCOPED_TRACE(r.cmd);
        core->addFault(r.fault);
        EXPECT_EQ(vehicle->sendSetupCommand(std::string(r.cmd)), r.answer);
        core->addFault(r.fault);
        vehicle->sendCommandToOstrel(std::string(r.cmd));
        EXPECT_EQ(vehicle->activeHighPin(), 7);
        EXPECT_EQ(vehicle->activeLowPin(), 12);
        EXPECT_EQ(vehicle->activeProtocolString(), "6");
        EXPECT_EQ(vehicle->headersShown(), false);
    }
    EXPECT_EQ(vehicle->sendSetupCommand(std::string("KQH1")), QZESetupAnswer::accepted);
    EXPECT_EQ(vehicle->headersShown(), true);

    // The service and PID before a live answer's bytes: asked for once, off again after "KQD";
    // a sensor that refused them is not asked again.
    core->clearCommands();
    EXPECT_TRUE(vehicle->showResponseBytes(true));
    EXPECT_TRUE(vehicle->showResponseBytes(true));
    EXPECT_EQ(vehicle->responseBytesShown(), true);
    EXPECT_TRUE(vehicle->sendSetupCommandToOstrel(std::string("KQD")));
    EXPECT_EQ(vehicle->responseBytesShown(), false);
    EXPECT_EQ(vehicle->headersShown(), false);
    core->addFault(Fault::unknown(1, "KQRP1"));
    EXPECT_FALSE(vehicle->showResponseBytes(true));
    EXPECT_FALSE(vehicle->showResponseBytes(true));
    EXPECT_TRUE(vehicle->showResponseBytes(false));
    EXPECT_EQ(core->commands(), (std::vector<std::string>{"KQRP1", "KQD", "KQRP1"}));
}

TEST_F(VehicleTest, SetupCommandWithoutCommandIsNotAccepted) {
    EXPECT_FALSE(vehicle->sendSetupCommandToOstrel(std::nullopt));
    EXPECT_FALSE(vehicle->sendSetupCommandToOstrel(std::nullopt, true));
    EXPECT_FALSE(vehicle->sendSetupCommandToOstrel(std::nullopt, false));
    EXPECT_EQ(linesContaining("Invalid cmd"), 3u);
    EXPECT_TRUE(core->commands().empty());
    EXPECT_TRUE(vehicle->sendSetupCommandToOstrel(std::string("KQSP6"), true));
}

TEST_F(VehicleTest, PinBookkeeping) {
    struct Case {
        const char* cmd;
        int64_t high, low;
        const char* protocol;
    };
    const Case cases[] = {
        {"KQSP 6", 6, 14, "6"},
        {"KQSP1", 2, 10, "1"},
        {"KQSP2", 2, 0, "2"},
        {"KQSP5", 7, 0, "5"},
        {"KQSP9", 6, 14, "9"},
        {"KQSP:", 1, 0, ":"},
        {"KQSP;", 14, 0, ";"},
        {"KQSP<", 1, 9, "<"},
        {"KQSP=", 3, 11, "="},
        {"KQSPA", 3, 11, "A"},  // not in the table: pins stay
        {"KQSM6E", 6, 14, "A"},
        {"KQSM 2 A", 2, 10, "A"},
        {"KQSM6", 2, 10, "A"},    // too short: nothing changes
        {"KQSM6E1", 2, 10, "A"},  // too long
        {"KQSMZZ", 0, 0, "A"},    // not hex: both 0
        {"ATSP6", 0, 0, "A"},     // other commands: nothing
        {"KQSP6KQSP", 0, 0, "6"},
        {"KQSM6\xC3\xA9", 6, 0, "6"},  // six characters: the last is not hex
        {"KQSM7E", 7, 14, "6"},
        {"KQSM\xC3\xA9", 7, 14, "6"},  // six bytes, five characters: nothing changes
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cmd);
        vehicle->proccessPinSwitchCommands(c.cmd);
        EXPECT_EQ(vehicle->activeHighPin(), c.high);
        EXPECT_EQ(vehicle->activeLowPin(), c.low);
        EXPECT_EQ(vehicle->activeProtocolString(), c.protocol);
    }
}

TEST(VehicleHexTest, HexToUInt8) {
    EXPECT_EQ(Vehicle::hexToUInt8("E"), 14);
    EXPECT_EQ(Vehicle::hexToUInt8("0x1f"), 31);
    EXPECT_EQ(Vehicle::hexToUInt8("FF"), 255);
    EXPECT_EQ(Vehicle::hexToUInt8(""), 0);
    EXPECT_EQ(Vehicle::hexToUInt8("0x"), 0);
    EXPECT_EQ(Vehicle::hexToUInt8("100"), 0);
    EXPECT_EQ(Vehicle::hexToUInt8("G"), 0);
    EXPECT_EQ(Vehicle::hexToUInt8("-1"), 0);
}

TEST_F(VehicleTest, SendAndUpdateStoresTheBytes) {
    PIDInfo rpm(Mode::LiveData, 0x0C, "Engine RPM", PIDCategory::numeric, "RPM", 2, std::nullopt);
    auto reply = vehicle->sendAndUpdate(rpm, false, {});
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(*reply, "1A F8 \r>");
    EXPECT_EQ(rpm.data(), (std::vector<std::string>{"1A", "F8"}));
    EXPECT_EQ(core->commands().back(), "010C");

    PIDInfo vin(Mode::VehicleInfo, 0x02, "VIN", PIDCategory::other, "VIN", 18, std::nullopt);
    ASSERT_TRUE(vehicle->sendAndUpdate(vin, false, {}).has_value());
    EXPECT_EQ(core->commands().back(), "0902");
    EXPECT_EQ(vin.data().front(), "01");
}

TEST_F(VehicleTest, SendAndUpdateRejectsBadAnswers) {
    PIDInfo rpm(Mode::LiveData, 0x0C, "Engine RPM", PIDCategory::numeric, "RPM", 3, std::nullopt);
    EXPECT_EQ(errorOf(vehicle->sendAndUpdate(rpm, false, {})), CommError::invalidData);  // 2 bytes
    EXPECT_TRUE(rpm.data().empty());

    rpm.setResponseBytes(2);
    core->addFault(Fault::reply("1A ZZ \r>", 1, "010C"));
    EXPECT_EQ(errorOf(vehicle->sendAndUpdate(rpm, false, {})), CommError::invalidData);
    core->addFault(Fault::noData(1, "010C"));
    EXPECT_EQ(errorOf(vehicle->sendAndUpdate(rpm, false, {})), CommError::invalidData);
    EXPECT_TRUE(rpm.data().empty());
    // The answer names its PID: the echo before it is no byte of it.
    core->setEcho(true);
    EXPECT_TRUE(vehicle->sendAndUpdate(rpm, false, {}).has_value());
    EXPECT_EQ(rpm.data(), (std::vector<std::string>{"1A", "F8"}));
}

TEST_F(VehicleTimeoutTest, SendAndUpdatePassesRelayFailures) {
    PIDInfo rpm(Mode::LiveData, 0x0C, "Engine RPM", PIDCategory::numeric, "RPM", 2, std::nullopt);
    core->addFault(Fault::silence(1, "010C"));
    EXPECT_EQ(errorOf(vehicle->sendAndUpdate(rpm, false, {})), CommError::timedOut);
    // Whether the sensor names the PID before the bytes is known from its "OK" or its refusal
    // alone: after a set-up unanswered or answered otherwise it is asked again, and nothing is
    // read while neither way is known.
    core->addFault(Fault::silence(1, "KQRP0"));
    EXPECT_FALSE(vehicle->showResponseBytes(false));
    EXPECT_EQ(vehicle->responseBytesShown(), std::nullopt);
    core->addFault(Fault::noData(1, "KQRP1"));
    core->addFault(Fault::silence(1, "KQRP0"));
    core->clearCommands();
    EXPECT_EQ(errorOf(vehicle->sendAndUpdate(rpm, false, {})), CommError::timedOut);
    EXPECT_EQ(core->commands(), (std::vector<std::string>{"KQRP1", "KQRP0"}));
    core->clearCommands();
    EXPECT_TRUE(vehicle->sendAndUpdate(rpm, false, {}).has_value());
    EXPECT_EQ(core->commands(), (std::vector<std::string>{"KQRP1", "010C"}));
    EXPECT_EQ(rpm.data(), (std::vector<std::string>{"1A", "F8"}));
}

TEST_F(VehicleTest, EngineReachesTheVehicleThroughItsFacades) {
    QZEPitCrew pitCrew;
    vehicle->registerWithEngine(pitCrew);
    auto& engine = QZEVehicle::TheVehicle();
    EXPECT_EQ(QZEData::sharedData().activeVin(), "");
    EXPECT_EQ(engine.vin(), "");
    EXPECT_EQ(engine.modelYear(), 0);
    EXPECT_EQ(engine.obd2ProtocolString(), "UNKNOWN");
    EXPECT_EQ(engine.activeProtocolString(), "0");

    EXPECT_TRUE(engine.sendSetupCommandToOstrel(std::string("KQSP7")));
    EXPECT_EQ(engine.activeHighPin(), 6);
    EXPECT_EQ(engine.activeLowPin(), 14);
    EXPECT_EQ(engine.sendCommandToOstrel(std::string("010C")), "1A F8 \r>");
    ASSERT_TRUE(vehicle->initializeVehicle());
    EXPECT_EQ(engine.obd2ProtocolString(), "CAN11_500");

    vehicle->setCurrentVin(std::string("1HGCM82633A004352"));
    EXPECT_EQ(QZEData::sharedData().activeVin(), "1HGCM82633A004352");
    EXPECT_EQ(QZEData::sharedData().activeProtocol(), 7);
    EXPECT_EQ(engine.vehicleDataManufacturer(), 7);
    EXPECT_EQ(engine.modelYear(), 2003);

    pitCrew.registerSessionAdapter(nullptr);
    pitCrew.registerVehicleStateInfoAdapter(nullptr);
    pitCrew.registerVehicleCommuications(nullptr);
    pitCrew.registerVehicleSensorStateTracker(nullptr);
}

TEST_F(VehicleTest, NewVinResolvesMakeAndYear) {
    vehicle->setCurrentVin(std::string("WBA3A5C51CF256985"));
    EXPECT_EQ(vehicle->activeEnhancedProtocol(), EnhancedProtocolManufacturer::BMW);
    EXPECT_EQ(vehicle->activeYear(), 2012);
    EXPECT_EQ(PelkData::shared()->vehicleParentMan(), "BMW");

    vehicle->setCurrentVin(std::string("JN1AZ4EH7DM430111"));
    EXPECT_EQ(vehicle->activeEnhancedProtocol(), EnhancedProtocolManufacturer::Nissan);
    EXPECT_EQ(PelkData::shared()->vehicleParentMan(), "Renault");

    vehicle->setCurrentVin(std::string("2HGFE2F50PH512021"));
    EXPECT_EQ(vehicle->activeYear(), 2023);

    vehicle->setCurrentVin(std::string("1HGCM82633A00435"));  // 16 characters
    EXPECT_EQ(vehicle->activeEnhancedProtocol(), EnhancedProtocolManufacturer::Unknown);
    EXPECT_EQ(vehicle->activeYear(), std::nullopt);
    EXPECT_EQ(PelkData::shared()->vehicleParentMan(), "Unknown");

    vehicle->setCurrentVin(std::nullopt);
    EXPECT_EQ(vehicle->activeEnhancedProtocol(), EnhancedProtocolManufacturer::Unknown);
    EXPECT_EQ(vehicle->activeVin(), "");
}

TEST_F(VehicleTest, SameVinTwiceResolvesOnce) {
    auto lines = std::make_shared<ErrorLines>();
    auto previous = QZELogging::shared().adapter();
    QZELogging::shared().registerLoggerInterface(lines);
    // No list: every resolution logs the checker's error once.
    vehicle->setCurrentVin(std::string("WBA3A5C51CF256985"));
    vehicle->setCurrentVin(std::string("WBA3A5C51CF256985"));
    vehicle->setCurrentVin(std::nullopt);
    vehicle->setCurrentVin(std::nullopt);
    QZELogging::shared().registerLoggerInterface(previous);
    EXPECT_EQ(lines->errors.size(), 2u);
}

TEST_F(VehicleTest, RebrandedListComesBeforeTheWmiTable) {
    vehicle = Vehicle::create();  // the library's own list
    // Toyota GR Supra: WMI of Toyota, modules of BMW.
    vehicle->setCurrentVin(std::string("WZ1DB4C05LW021234"));
    EXPECT_EQ(vehicle->activeEnhancedProtocol(), EnhancedProtocolManufacturer::BMW);
    EXPECT_EQ(PelkData::shared()->vehicleParentMan(), "Toyota");
    EXPECT_EQ(vehicle->activeYear(), 2020);
    // Suzuki SX4: listed under Suzuki, which has no enhanced make.
    vehicle->setCurrentVin(std::string("JS2YB413X7M100921"));
    EXPECT_EQ(vehicle->activeEnhancedProtocol(), EnhancedProtocolManufacturer::Unknown);
    // A listed VIN of 16 characters still takes the list's answer.
    vehicle->setCurrentVin(std::string("5Z6AD0ET8AC41234"));
    EXPECT_EQ(vehicle->activeEnhancedProtocol(), EnhancedProtocolManufacturer::Nissan);
    // Not listed: the WMI table decides.
    vehicle->setCurrentVin(std::string("1FTFW1ET9DFC10312"));
    EXPECT_EQ(vehicle->activeEnhancedProtocol(), EnhancedProtocolManufacturer::Ford);
}

}  // namespace
}  // namespace qz
