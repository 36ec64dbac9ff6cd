#include <gtest/gtest.h>

#include "SimTestSupport.hpp"
#include "api/Communication/GatewayLogger.hpp"
#include "api/Communication/MFISessionController.hpp"
#include "api/Communication/PelkNotifications.hpp"
#include "api/Communication/SessionController.hpp"

using namespace qz;
using namespace qz::simtest;

namespace {

// A BLE session stand-in that records what the controller asks of it.
class FakeLESession : public LESessionLink {
  public:
    void send(const std::string& cmd) override { sent.push_back(cmd); }
    void write(const Data&, bool) override {}
    void setReceiver(const std::shared_ptr<SensorReceiver>& r) override { receiver = r; }
    void connectToDevice(const UUID& uuid, StatusListener listener) override {
        connectedTo = uuid;
        if (listener) listener(SensorConnectionStatus::connected);
    }
    void disconnectDevice() override { ++disconnects; }
    void setBroadcastListener(BroadcastListener listener) override {
        broadcast = std::move(listener);
    }
    std::vector<std::string> sent;
    std::weak_ptr<SensorReceiver> receiver;
    std::optional<UUID> connectedTo;
    int disconnects = 0;
    BroadcastListener broadcast;
};

class NullReceiver : public SensorReceiver {
  public:
    void received(const std::string&) override {}
};

// Collects the public log lines.
class LineLog : public GatewayLoggerDelegate {
  public:
    void receivedLog(const std::string& line) override {
        std::lock_guard lock(mutex_);
        lines_.push_back(line);
    }
    bool anyEndsWith(const std::string& tail) const {
        std::lock_guard lock(mutex_);
        for (const auto& l : lines_)
            if (l.size() >= tail.size() &&
                l.compare(l.size() - tail.size(), tail.size(), tail) == 0)
                return true;
        return false;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

std::shared_ptr<PelkSensor> leSensor(const std::string& name, const UUID& uuid) {
    return PelkSensor::create(name, SensorType::le(uuid));
}

}  // namespace

TEST(SessionController, NothingHappensBeforeAnyConnect) {
    auto controller = SessionController::create();
    StatusLog status;
    controller->openSession(leSensor("x", UUID::random()), true, status.listener());
    controller->disconnect(true);
    controller->send("KQI\r");  // dropped
    EXPECT_TRUE(status.seen().empty());
    EXPECT_FALSE(controller->currentMac());
    EXPECT_FALSE(controller->activeSensor());
}

TEST(SessionController, ABleSensorFailsCleanlyWithoutABleSession) {
    auto controller = SessionController::create();
    controller->setLESession(nullptr);
    int connectStarted = 0;
    auto token = NotificationCenter::defaultCenter().addObserver(
        PelkNotifications::SENSOR_CONNECT_STARTED, [&](const Notification&) { ++connectStarted; });
    StatusLog status;
    auto sensor = leSensor("Ostrel 1", UUID::random());
    controller->connect(sensor, status.listener());
    EXPECT_EQ(status.seen(), std::vector{SensorConnectionStatus::errorOpeningConnection});
    EXPECT_EQ(connectStarted, 1);
    EXPECT_EQ(controller->activeSensor(), sensor);
    controller->send("KQI\r");
    controller->disconnect(true);
    StatusLog fw;
    controller->openSession(sensor, true, fw.listener());
    EXPECT_EQ(fw.seen(), std::vector{SensorConnectionStatus::errorOpeningConnection});
    NotificationCenter::defaultCenter().removeObserver(token);
}

TEST(SessionController, ForwardsToTheBleSessionAndHandsOverTheReceiver) {
    auto controller = SessionController::create();
    auto receiver = std::make_shared<NullReceiver>();
    controller->setReceiver(receiver);
    auto le = std::make_shared<FakeLESession>();
    controller->setLESession(le);
    const UUID uuid = UUID::random();
    StatusLog status;
    controller->connect(leSensor("AsTech Pro 12AB", uuid), status.listener());
    EXPECT_EQ(le->connectedTo, uuid);
    EXPECT_EQ(le->receiver.lock(), receiver);
    EXPECT_EQ(controller->sensorDelegate(), le);
    controller->send("KQI\r");
    EXPECT_EQ(le->sent, std::vector<std::string>{"KQI\r"});
    EXPECT_EQ(controller->currentMac(), "12AB");
    controller->disconnect(true);
    EXPECT_EQ(le->disconnects, 1);

    controller->connect(leSensor("Ostrel BLE", uuid), nullptr);
    EXPECT_EQ(controller->currentMac(), uuid.uuidString());
    controller->connect(leSensor("ASTECH", uuid), nullptr);
    EXPECT_EQ(controller->currentMac(), "ASTECH");

    // The MFi session takes over the receiver when an MFi sensor is chosen.
    controller->connect(PelkSensor::create("Ostrel 4D5E", SensorType::mfi("4D5E", -1)), nullptr);
    EXPECT_EQ(controller->sensorDelegate(), controller->mfiController());
    EXPECT_EQ(controller->currentMac(), "4D5E");
}

TEST(SessionController, ACommandSentAsSoonAsTheLinkIsUpReachesTheSession) {
    auto controller = SessionController::create();
    auto le = std::make_shared<FakeLESession>();
    controller->setLESession(le);
    // The fake reports `connected` inside the connect call, as a fast link may.
    controller->connect(leSensor("Ostrel", UUID::random()), [&](SensorConnectionStatus s) {
        if (s == SensorConnectionStatus::connected) controller->send("KQD\r");
    });
    EXPECT_EQ(le->sent, std::vector<std::string>{"KQD\r"});
}

TEST(SessionController, SpreadsTheBroadcastListener) {
    auto controller = SessionController::create();
    auto le = std::make_shared<FakeLESession>();
    controller->setLESession(le);
    BroadcastLog log;
    controller->setBroadcastListener(log.listener());
    EXPECT_TRUE(controller->mfiController()->broadcastListener());
    EXPECT_TRUE(le->broadcast);
    controller->setBroadcastListener(nullptr);
    EXPECT_FALSE(controller->mfiController()->broadcastListener());
    EXPECT_FALSE(le->broadcast);
}

TEST(SessionController, TheConnectLineDescribesTheOptionalListener) {
    auto lines = std::make_shared<LineLog>();
    auto previous = GatewayLogger::delegate();
    GatewayLogger::setDelegate(lines);
    auto controller = SessionController::create();
    controller->setLESession(std::make_shared<FakeLESession>());
    auto sensor = leSensor("Ostrel 1", UUID::random());
    controller->connect(sensor, [](SensorConnectionStatus) {});
    controller->connect(sensor, nullptr);
    GatewayLogger::setDelegate(previous);
    const std::string head = "Connect called on sensor " + sensor->description();
    EXPECT_TRUE(lines->anyEndsWith(head + " with listener: Optional((Function))"));
    EXPECT_TRUE(lines->anyEndsWith(head + " with listener: nil"));
}
