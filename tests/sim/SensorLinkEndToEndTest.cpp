// From Relay through the session controller, the MFi session and the accessory stand-in to
// the simulated sensor, in one tenth of real time (a 3-second wait lasts 300 ms).
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "SimTestSupport.hpp"
#include "api/Communication/MFISessionController.hpp"
#include "api/Communication/PelkNotifications.hpp"
#include "api/Communication/Relay.hpp"
#include "api/Communication/SessionController.hpp"
#include "platform/Clock.hpp"
#include "sim/SimulatedAccessory.hpp"
#include "support/TestSupport.hpp"

using namespace qz;
using namespace qz::sim;
using namespace qz::simtest;
using qz::testsupport::errorOf;

namespace {

class SensorLinkTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sim_ = SimulatedAccessory::create(core_);
        controller_->setBroadcastListener(broadcasts_.listener());
        sim_->plugIn();
        ASSERT_TRUE(eventually([&] { return broadcasts_.count(BroadcastStatus::appeared) == 1; }));
        connect();
    }
    void TearDown() override {
        sim_.reset();
        drainMain();
    }
    void connect() {
        const size_t before = status_.count(SensorConnectionStatus::connected);
        controller_->connect(sim_->sensor(), status_.listener());
        ASSERT_TRUE(eventually(
            [&] { return status_.count(SensorConnectionStatus::connected) == before + 1; }));
    }

    ScopedClock clock_{std::make_shared<ScaledClock>(0.1)};
    std::shared_ptr<SensorCore> core_ = std::make_shared<SensorCore>();
    std::shared_ptr<SimulatedAccessory> sim_;
    std::shared_ptr<SessionController> controller_ = SessionController::create();
    std::shared_ptr<Relay> relay_ = Relay::create(controller_);
    StatusLog status_;
    BroadcastLog broadcasts_;
};

}  // namespace

TEST_F(SensorLinkTest, InitialisesAndReadsTheVehicle) {
    EXPECT_EQ(relay_->bt(), controller_);
    EXPECT_EQ(controller_->currentMac(), "001A2B3C4D5E");
    EXPECT_EQ(relay_->sendToSensor("KQD").value(), "OK\r>");
    EXPECT_EQ(relay_->sendToSensor("KQI").value(), "OSAPI 4.05\r>");
    EXPECT_EQ(relay_->sendToSensor("KQDP").value(), "6\r>");
    EXPECT_EQ(relay_->sendToSensor("KQX1").value(), "OK\r>");
    EXPECT_EQ(relay_->sendToSensor("0100", true, 2, MultiResponseStrategy::bitwiseOr).value(),
              "88 18 00 13");
    EXPECT_EQ(relay_->sendToSensor("010C").value(), "1A F8 \r>");
    EXPECT_EQ(relay_->sendToSensor("0902", true, 0, MultiResponseStrategy::unchanged).value(),
              "01 31 48 47 43 4D 38 32 36 33 33 41 30 30 34 33 35 32 \r>");
    EXPECT_EQ(relay_->sendToSensor("KQTC").value(), "P0420\r\r>");
    EXPECT_EQ(relay_->sendToSensor("KQ NONSENSE").value(), "?\r>");
    EXPECT_EQ(core_->commands(), (std::vector<std::string>{"KQD", "KQI", "KQDP", "KQX1", "0100",
                                                           "010C", "0902", "KQTC", "KQ NONSENSE"}));
}

TEST_F(SensorLinkTest, AssemblesSplitDelayedAndTrailingReplies) {
    core_->addFault(Fault::split(3, 0.2));
    core_->addFault(Fault::delay(0.5));
    EXPECT_EQ(relay_->sendToSensor("KQI").value(), "OSAPI 4.05\r>");
    core_->addFault(Fault::trailing("\r>"));  // a second prompt in the same chunk
    EXPECT_EQ(relay_->sendToSensor("KQD").value(), "OK\r>\r>");
    core_->setEcho(true);
    EXPECT_EQ(relay_->sendToSensor("010D").value(), "010D\r32 \r>");
    core_->setEcho(false);
    core_->addFault(Fault::noData(-1, "0111"));
    EXPECT_EQ(relay_->sendToSensor("0111", false, 2).value(), "NO DATA\r>");
    EXPECT_EQ(core_->commands().size(), 6u);
}

TEST_F(SensorLinkTest, CommandsAreWrittenAsBytesAndPartialWritesComplete) {
    sim_->setWriteCapacity(2);
    const std::string command = "KQA$ config wifi p0 ssid \"Caf\xC3\xA9 \xE2\x98\x95\"";
    EXPECT_EQ(relay_->sendToSensor(command).value(), "OK\r>");
    EXPECT_EQ(core_->commands().back(), command);
    EXPECT_EQ(relay_->sendToSensor("010C").value(), "1A F8 \r>");
}

TEST_F(SensorLinkTest, NonAsciiReplyTextArrivesIntact) {
    // The echo carries the non-ASCII text back, scrambled byte-wise on the wire.
    core_->setEcho(true);
    const std::string command = "KQA$ config wifi p0 ssid \"Caf\xC3\xA9 \xE2\x98\x95\"";
    EXPECT_EQ(relay_->sendToSensor(command).value(), command + "\rOK\r>");
    EXPECT_EQ(relay_->consectutiveTimeouts(), 0);
}

TEST_F(SensorLinkTest, ALateReplyIsNotTheNextCommandsAnswer) {
    core_->addFault(Fault::delay(4.0, 1, "KQI"));
    EXPECT_EQ(errorOf(relay_->sendToSensor("KQI")), CommError::timedOut);
    Clock::current()->sleepFor(6.0);
    EXPECT_EQ(relay_->sendToSensor("KQDP").value(), "6\r>");
}

TEST_F(SensorLinkTest, ADeadSensorIsDisconnectedAndANewConnectRevivesTheRelay) {
    std::atomic<int> disconnectedPosts{0};
    auto token = NotificationCenter::defaultCenter().addObserver(
        PelkNotifications::SENSOR_DISCONNECTED, [&](const Notification&) { ++disconnectedPosts; });
    std::thread::id heardOn;
    controller_->connect(sim_->sensor(), [&](SensorConnectionStatus s) {
        if (s == SensorConnectionStatus::disconnected) heardOn = std::this_thread::get_id();
        status_.listener()(s);
    });
    ASSERT_TRUE(eventually([&] { return status_.count(SensorConnectionStatus::connected) == 2; }));
    const int postsBefore = disconnectedPosts.load();

    core_->addFault(Fault::silence(-1));
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(errorOf(relay_->sendToSensor("KQI")), CommError::timedOut);
    // The disconnect ran inside the relay's post, on this thread.
    EXPECT_EQ(heardOn, std::this_thread::get_id());
    EXPECT_EQ(disconnectedPosts.load(), postsBefore + 1);
    EXPECT_FALSE(controller_->mfiController()->session());
    EXPECT_TRUE(relay_->timedOut());
    const size_t sent = core_->commands().size();
    EXPECT_EQ(errorOf(relay_->sendToSensor("KQI")), CommError::timedOut);
    EXPECT_EQ(core_->commands().size(), sent);

    core_->clearFaults();
    connect();
    EXPECT_FALSE(relay_->timedOut());
    EXPECT_EQ(relay_->sendToSensor("KQI").value(), "OSAPI 4.05\r>");
    NotificationCenter::defaultCenter().removeObserver(token);
}

TEST_F(SensorLinkTest, ASensorThatDisappearsAndComesBack) {
    core_->addFault(Fault::disconnect(1.0, 1, "KQI"));
    EXPECT_EQ(relay_->sendToSensor("KQI").value(), "OSAPI 4.05\r>");
    ASSERT_TRUE(eventually([&] { return broadcasts_.count(BroadcastStatus::disappeared) == 1; }));
    EXPECT_TRUE(status_.saw(SensorConnectionStatus::disconnected));
    // The session said its link closed: no wait for a reply that cannot come.
    EXPECT_EQ(errorOf(relay_->sendToSensor("KQD")), CommError::notConnected);

    ASSERT_TRUE(eventually([&] { return broadcasts_.count(BroadcastStatus::appeared) == 2; }));
    auto back = broadcasts_.seen().back().sensor;
    EXPECT_EQ(back->name(), "Ostrel 4D5E");
    connect();
    EXPECT_EQ(relay_->sendToSensor("KQD").value(), "OK\r>");
}

TEST_F(SensorLinkTest, RecoveryProbeAndFirmwareBlocks) {
    core_->setProfile(VehicleProfile::load(VehicleProfile::sampleFolder() / "recovery.json"));
    EXPECT_EQ(errorOf(relay_->sendToSensor("KQD")), CommError::timedOut);  // no text answers
    EXPECT_EQ(relay_->sendFwModeCommand(SensorCore::recoveryProbe()).value(), "s");

    Data block;
    for (uint8_t type : {0x01, 0x02, 0x02, 0x04}) {
        block.push_back(type);
        block.insert(block.end(), 14, 0x3E);
    }
    sim_->setWriteCapacity(16);  // the block goes out in pieces
    EXPECT_EQ(relay_->writeFw(block, 1).value(), "CKKD");
    EXPECT_EQ(core_->firmwareFrames().size(), 4u);

    core_->setProfile(VehicleProfile::builtIn());
    EXPECT_EQ(relay_->sendToSensor("KQI").value(), "OSAPI 4.05\r>");
    EXPECT_FALSE(relay_->awaitingFwResponse());
}

TEST_F(SensorLinkTest, OpeningAFirmwareSessionForAMissingSensorReportsAnError) {
    StatusLog fw;
    controller_->openSession(PelkSensor::create("Ostrel 0000", SensorType::mfi("0000", -5)), true,
                             fw.listener());
    EXPECT_EQ(fw.seen(), std::vector{SensorConnectionStatus::errorOpeningConnection});
    StatusLog ok;
    controller_->openSession(sim_->sensor(), true, ok.listener());
    ASSERT_TRUE(eventually([&] { return ok.saw(SensorConnectionStatus::connected); }));
    EXPECT_TRUE(controller_->mfiController()->fwSession());
}

TEST_F(SensorLinkTest, ReadsAndClearsAManufacturerModule) {
    core_->setProfile(VehicleProfile::load(VehicleProfile::sampleFolder() / "modules-sample.json"));
    for (const char* setup : {"KQRP1", "KQH1", "KQSH7E0", "KQCF7E8"})
        EXPECT_EQ(relay_->sendToSensor(setup).value(), "OK\r>");
    EXPECT_EQ(relay_->sendToSensor("19 02 FF").value(), "7E8 03 7F 19 78 \r\r>");
    EXPECT_EQ(relay_->sendToSensor("19 02 FF").value(),
              "7E8 10 0F 59 02 FF 01 23 45 \r21 08 C1 00 00 2F 04 20 \r22 00 8C \r\r>");
    EXPECT_EQ(relay_->sendToSensor("14 FF FF FF").value(), "7E8 03 7F 14 78 \r\r>");
    EXPECT_EQ(relay_->sendToSensor("14 FF FF FF").value(), "7E8 01 54 \r\r>");
    EXPECT_EQ(relay_->sendToSensor("19 02 FF").value(), "7E8 03 59 02 FF \r\r>");
    // Another header reaches no module; "KQD" brings back the generic answers.
    EXPECT_EQ(relay_->sendToSensor("KQSH7FF").value(), "OK\r>");
    EXPECT_EQ(relay_->sendToSensor("3E", false, 1).value(), "NO DATA\r>");
    EXPECT_EQ(relay_->sendToSensor("KQD").value(), "OK\r>");
    EXPECT_EQ(relay_->sendToSensor("010C").value(), "1A F8 \r>");
    EXPECT_EQ(core_->commands().size(), 14u);
}
