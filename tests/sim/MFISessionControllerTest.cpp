#include <gtest/gtest.h>

#include <atomic>

#include "SimTestSupport.hpp"
#include "api/Communication/MFISessionController.hpp"
#include "api/Communication/PelkNotifications.hpp"
#include "platform/Clock.hpp"
#include "platform/accessory/AccessoryManager.hpp"
#include "sim/SimulatedAccessory.hpp"

using namespace qz;
using namespace qz::sim;
using namespace qz::simtest;

namespace {

std::shared_ptr<Accessory> accessoryWith(std::map<std::string, std::any> values,
                                         std::vector<std::string> protocols = {kSensorProtocol}) {
    return std::make_shared<Accessory>(7, "acc", std::move(protocols), std::move(values), nullptr);
}

// Collects received text.
class TextSink : public SensorReceiver {
  public:
    void received(const std::string& response) override {
        std::lock_guard lock(mutex_);
        text_ += response;
    }
    std::string text() const {
        std::lock_guard lock(mutex_);
        return text_;
    }

  private:
    mutable std::mutex mutex_;
    std::string text_;
};

class MFISessionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        disconnectedToken_ = NotificationCenter::defaultCenter().addObserver(
            PelkNotifications::SENSOR_DISCONNECTED,
            [this](const Notification&) { ++disconnectedPosts_; });
    }
    void TearDown() override {
        NotificationCenter::defaultCenter().removeObserver(disconnectedToken_);
        drainMain();
    }
    ScopedClock clock_{std::make_shared<ScaledClock>(0.1)};
    std::shared_ptr<MFISessionController> mfi_ = MFISessionController::create();
    std::shared_ptr<TextSink> sink_ = std::make_shared<TextSink>();
    std::atomic<int> disconnectedPosts_{0};
    ObserverToken disconnectedToken_ = 0;
};

}  // namespace

TEST(MFISensorFromAccessory, NamesAndIdentifiers) {
    auto s = pelkSensor(*accessoryWith({{"macAddress", std::string("00:1A:2B:3C:4D:5E")}}));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->name(), "Ostrel 4D5E");
    EXPECT_EQ(s->sensorType(), SensorType::mfi("001A2B3C4D5E", 7));
    EXPECT_FALSE(s->isIntialized());

    s = pelkSensor(*accessoryWith({{"macAddress", std::string("00:1a:2b:3c:4d:5e")}}));
    EXPECT_EQ(s->name(), "Ostrel 2345");
    EXPECT_EQ(s->sensorType().asMfi().mac, "0012345");

    s = pelkSensor(*accessoryWith({}));
    EXPECT_EQ(s->name(), "Ostrel ");
    EXPECT_EQ(s->sensorType().asMfi().mac, "");

    s = pelkSensor(*accessoryWith({{"macAddress", 42}}));
    EXPECT_EQ(s->name(), "Ostrel");

    EXPECT_FALSE(pelkSensor(*accessoryWith({}, {"com.example.other"})));
}

TEST_F(MFISessionTest, OpensTalksAndReportsConnectedOnce) {
    auto sim = SimulatedAccessory::create();
    sim->plugIn();
    StatusLog status;
    mfi_->setReceiver(sink_);
    mfi_->openSession(sim->sensor(), false, status.listener());
    ASSERT_TRUE(eventually([&] { return status.saw(SensorConnectionStatus::connected); }));
    EXPECT_EQ(mfi_->currentMac(), "00:1A:2B:3C:4D:5E");
    mfi_->send("KQI\r");
    ASSERT_TRUE(eventually([&] { return sink_->text() == "OSAPI 4.05\r>"; }));
    drainMain();
    EXPECT_EQ(status.count(SensorConnectionStatus::connected), 1u);

    mfi_->closeSession(true);
    EXPECT_EQ(status.seen().back(), SensorConnectionStatus::disconnected);
    EXPECT_EQ(disconnectedPosts_.load(), 1);
    EXPECT_FALSE(mfi_->session());
    EXPECT_FALSE(mfi_->currentMac());
    mfi_->closeSession(true);  // "Streams not open": nothing posted, nobody told
    EXPECT_EQ(disconnectedPosts_.load(), 1);
    EXPECT_EQ(status.count(SensorConnectionStatus::disconnected), 1u);
}

TEST_F(MFISessionTest, ANewSessionClosesTheOldOneSilently) {
    auto sim = SimulatedAccessory::create();
    sim->plugIn();
    StatusLog status;
    mfi_->openSession(sim->sensor(), false, status.listener());
    ASSERT_TRUE(eventually([&] { return status.saw(SensorConnectionStatus::connected); }));
    mfi_->openSession(sim->accessory(), false, status.listener());
    EXPECT_EQ(disconnectedPosts_.load(), 1);
    EXPECT_FALSE(status.saw(SensorConnectionStatus::disconnected));
    EXPECT_EQ(sim->sessionsOpened(), 2);
}

TEST_F(MFISessionTest, OpeningAMissingOrForeignSensorReportsAnError) {
    StatusLog status;
    mfi_->openSession(PelkSensor::create("Ostrel 0000", SensorType::mfi("0000", 999999)), false,
                      status.listener());
    EXPECT_EQ(status.seen(), std::vector{SensorConnectionStatus::errorOpeningConnection});

    SimulatedAccessory::Options options;
    options.protocols = {"com.example.other"};
    auto other = SimulatedAccessory::create(std::make_shared<SensorCore>(), options);
    other->plugIn();
    StatusLog second;
    mfi_->openSession(other->accessory(), false, second.listener());
    EXPECT_EQ(second.seen(), std::vector{SensorConnectionStatus::errorOpeningConnection});
    EXPECT_FALSE(mfi_->session());
    EXPECT_TRUE(mfi_->connectedSensors().empty() ||
                std::none_of(mfi_->connectedSensors().begin(), mfi_->connectedSensors().end(),
                             [&](auto& s) {
                                 return s->sensorType().asMfi().connectionId ==
                                        other->accessory()->connectionID();
                             }));
}

TEST_F(MFISessionTest, PartialWritesKeepTheRest) {
    auto sim = SimulatedAccessory::create();
    sim->plugIn();
    sim->setWriteCapacity(3);
    StatusLog status;
    mfi_->setReceiver(sink_);
    mfi_->openSession(sim->sensor(), false, status.listener());
    ASSERT_TRUE(eventually([&] { return status.saw(SensorConnectionStatus::connected); }));
    sim->setWriteCapacity(3);
    mfi_->send("KQA$ config wifi p0 ssid \"MY NETWORK\"\r");
    mfi_->send("010C\r");
    ASSERT_TRUE(eventually([&] { return sink_->text() == "OK\r>1A F8 \r>"; }));
    EXPECT_EQ(sim->core().commands(),
              (std::vector<std::string>{"KQA$ config wifi p0 ssid \"MY NETWORK\"", "010C"}));
}

TEST_F(MFISessionTest, AFailedReadStopsTheDrain) {
    auto sim = SimulatedAccessory::create();
    sim->plugIn();
    StatusLog status;
    mfi_->setReceiver(sink_);
    mfi_->openSession(sim->sensor(), false, status.listener());
    ASSERT_TRUE(eventually([&] { return status.saw(SensorConnectionStatus::connected); }));
    sim->failNextRead();
    mfi_->send("KQI\r");
    ASSERT_TRUE(eventually([&] { return sim->chunksDelivered() == 1; }));
    drainMain();                   // the has-bytes event has been handled
    EXPECT_EQ(sink_->text(), "");  // nothing garbled handed on, and the loop ended
    // The bytes stay in the stream and come with the next delivery.
    mfi_->send("KQDP\r");
    ASSERT_TRUE(eventually([&] { return sink_->text() == "OSAPI 4.05\r>6\r>"; }));
}

TEST_F(MFISessionTest, FirmwareAcknowledgementsPassRaw) {
    auto core = std::make_shared<SensorCore>();
    auto sim = SimulatedAccessory::create(core);
    sim->plugIn();
    StatusLog status;
    mfi_->setReceiver(sink_);
    mfi_->openSession(sim->sensor(), false, status.listener());
    ASSERT_TRUE(eventually([&] { return status.saw(SensorConnectionStatus::connected); }));
    core->setFirmwareMode(true);
    Data frame(15, 0x02);
    mfi_->write(frame, true);
    ASSERT_TRUE(eventually([&] { return sink_->text() == "K"; }));
    EXPECT_TRUE(mfi_->awaitingFwResponse());
    core->setFirmwareMode(false);
    mfi_->send("KQI\r");
    EXPECT_FALSE(mfi_->awaitingFwResponse());
    ASSERT_TRUE(eventually([&] { return sink_->text() == "KOSAPI 4.05\r>"; }));
}

TEST_F(MFISessionTest, BytesThatAreNoUTF8BecomeReplacementCharactersAndThePromptStays) {
    auto sim = SimulatedAccessory::create();
    sim->plugIn();
    sim->core().addFault(Fault::reply("41 0C 1A \xFF\xC3\r>", 1, "010C"));
    StatusLog status;
    mfi_->setReceiver(sink_);
    mfi_->openSession(sim->sensor(), false, status.listener());
    ASSERT_TRUE(eventually([&] { return status.saw(SensorConnectionStatus::connected); }));
    mfi_->send("010C\r");
    ASSERT_TRUE(eventually([&] { return sink_->text() == "41 0C 1A \xEF\xBF\xBD\xEF\xBF\xBD\r>"; }))
        << sink_->text();
}

TEST_F(MFISessionTest, TextWithoutAReceiverIsDropped) {
    auto sim = SimulatedAccessory::create();
    sim->plugIn();
    StatusLog status;
    mfi_->openSession(sim->sensor(), false, status.listener());
    ASSERT_TRUE(eventually([&] { return status.saw(SensorConnectionStatus::connected); }));
    mfi_->send("KQI\r");
    ASSERT_TRUE(eventually([&] { return sim->chunksDelivered() == 1; }));
    drainMain();  // the has-bytes event has been handled
    mfi_->setReceiver(sink_);
    mfi_->send("KQDP\r");
    ASSERT_TRUE(eventually([&] { return sink_->text() == "6\r>"; }));
}

TEST_F(MFISessionTest, StreamErrorsAreLoggedWithoutClosingTheSession) {
    auto sim = SimulatedAccessory::create();
    sim->plugIn();
    StatusLog status;
    mfi_->openSession(sim->sensor(), false, status.listener());
    ASSERT_TRUE(eventually([&] { return status.saw(SensorConnectionStatus::connected); }));
    auto session = mfi_->session();
    session->inputStream()->fail();
    session->outputStream()->finish();
    drainMain();
    EXPECT_EQ(mfi_->session(), session);
    EXPECT_FALSE(status.saw(SensorConnectionStatus::disconnected));
    mfi_->send("KQI\r");  // the ended output stream refuses the bytes; nothing breaks
    mfi_->closeSession(true);
    EXPECT_TRUE(status.saw(SensorConnectionStatus::disconnected));
}

TEST_F(MFISessionTest, ListsOnlySensorAccessories) {
    auto sim = SimulatedAccessory::create();
    sim->plugIn();
    SimulatedAccessory::Options options;
    options.protocols = {"com.example.other"};
    auto other = SimulatedAccessory::create(std::make_shared<SensorCore>(), options);
    other->plugIn();
    auto sensors = mfi_->connectedSensors();
    ASSERT_EQ(sensors.size(), 1u);
    EXPECT_EQ(sensors[0]->sensorType(), sim->sensor()->sensorType());
}

TEST_F(MFISessionTest, BroadcastsAppearAndDisappear) {
    BroadcastLog apps, firmware;
    mfi_->setBroadcastListener(apps.listener());
    auto sim = SimulatedAccessory::create();
    sim->plugIn();
    ASSERT_TRUE(eventually([&] { return apps.count(BroadcastStatus::appeared) == 1; }));
    EXPECT_EQ(apps.seen()[0].sensor->name(), "Ostrel 4D5E");

    // A sensor that goes away without being the session's accessory is not broadcast.
    sim->unplug();
    drainMain();
    drainMain();
    EXPECT_EQ(apps.count(BroadcastStatus::disappeared), 0u);

    // Foreign accessories are never reported.
    SimulatedAccessory::Options options;
    options.protocols = {"com.example.other"};
    auto other = SimulatedAccessory::create(std::make_shared<SensorCore>(), options);
    other->plugIn();
    drainMain();

    // The firmware listener takes precedence.
    mfi_->setFirmwareBroadcastListener(firmware.listener());
    sim->plugIn();
    ASSERT_TRUE(eventually([&] { return firmware.count(BroadcastStatus::appeared) == 1; }));
    StatusLog status;
    mfi_->openSession(sim->sensor(), false, status.listener());
    ASSERT_TRUE(eventually([&] { return status.saw(SensorConnectionStatus::connected); }));
    sim->unplug();
    ASSERT_TRUE(eventually([&] { return firmware.count(BroadcastStatus::disappeared) == 1; }));
    EXPECT_TRUE(status.saw(SensorConnectionStatus::disconnected));
    EXPECT_EQ(apps.seen().size(), 1u);
}

TEST_F(MFISessionTest, FirmwareSessionDisconnectAndAutoReconnect) {
    BroadcastLog apps;
    mfi_->setBroadcastListener(apps.listener());
    auto sim = SimulatedAccessory::create();
    sim->plugIn();
    ASSERT_TRUE(eventually([&] { return apps.count(BroadcastStatus::appeared) == 1; }));

    // An ordinary session first, so that its listener is the one auto-reconnect uses.
    StatusLog ordinary, fw;
    mfi_->openSession(sim->sensor(), false, ordinary.listener());
    ASSERT_TRUE(eventually([&] { return ordinary.saw(SensorConnectionStatus::connected); }));
    mfi_->openSession(sim->sensor(), true, fw.listener());
    ASSERT_TRUE(eventually([&] { return fw.saw(SensorConnectionStatus::connected); }));
    const int postsBefore = disconnectedPosts_.load();

    sim->unplug();  // the sensor reboots
    ASSERT_TRUE(eventually([&] { return apps.count(BroadcastStatus::disappeared) == 1; }));
    EXPECT_FALSE(ordinary.saw(SensorConnectionStatus::disconnected));
    EXPECT_FALSE(fw.saw(SensorConnectionStatus::disconnected));
    EXPECT_EQ(disconnectedPosts_.load(), postsBefore + 1);

    mfi_->setFirmwareStatusListener(nullptr);
    mfi_->setAutoReconnect(true);
    sim->plugIn();
    ASSERT_TRUE(eventually([&] { return ordinary.count(SensorConnectionStatus::connected) == 2; }));
    EXPECT_FALSE(mfi_->autoReconnect());
    EXPECT_FALSE(mfi_->fwSession());
    EXPECT_EQ(apps.count(BroadcastStatus::appeared), 1u);  // no broadcast for the reconnect

    // Auto-reconnect without a sensor that went away: broadcast as usual.
    mfi_->closeSession(false);
    auto second = SimulatedAccessory::create();
    mfi_->setAutoReconnect(true);
    second->plugIn();
    ASSERT_TRUE(eventually([&] { return apps.count(BroadcastStatus::appeared) == 2; }));
    EXPECT_TRUE(mfi_->autoReconnect());
}
