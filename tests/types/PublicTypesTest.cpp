#include <gtest/gtest.h>

#include "api/Communication/CommError.hpp"
#include "api/Communication/PelkError.hpp"
#include "api/Communication/PelkNotifications.hpp"
#include "api/Communication/PelkSensor.hpp"
#include "api/Communication/PelkSensorState.hpp"
#include "api/Communication/SensorStatus.hpp"
#include "api/Communication/WebError.hpp"
#include "api/Communication/YMME.hpp"

using namespace qz;

namespace {
// All zero if it did not parse: the tests below then fail.
const UUID kUuid = UUID::fromString("e621e1f8-c36c-495a-93fc-0c247a3e6e5f").value_or(UUID());
}

TEST(SensorTypeTest, Equality) {
    EXPECT_EQ(SensorType::mfi("AA:BB", 3), SensorType::mfi("AA:BB", 3));
    EXPECT_NE(SensorType::mfi("AA:BB", 3), SensorType::mfi("AA:BB", 4));
    EXPECT_NE(SensorType::mfi("AA:BB", 3), SensorType::mfi("AA:BC", 3));
    EXPECT_EQ(SensorType::le(kUuid), SensorType::le(kUuid));
    EXPECT_NE(SensorType::le(kUuid), SensorType::le(UUID()));
    EXPECT_NE(SensorType::mfi(kUuid.uuidString(), 0), SensorType::le(kUuid));
}

TEST(PelkSensorTest, IdentifierAndDescription) {
    auto mfi = PelkSensor::create("S1", SensorType::mfi("00:11:22", 7));
    EXPECT_EQ(mfi->identifier(), "00:11:22");
    EXPECT_EQ(mfi->description(), "PelkSensor: name: S1, type: mfi(\"00:11:22\", 7)");
    EXPECT_FALSE(mfi->isIntialized());
    mfi->setIsIntialized(true);
    EXPECT_TRUE(mfi->isIntialized());

    PelkSensor le("Ostrel", SensorType::le(kUuid));
    EXPECT_EQ(le.identifier(), "E621E1F8-C36C-495A-93FC-0C247A3E6E5F");
    EXPECT_EQ(describe(le),
              "PelkSensor: name: Ostrel, type: le(E621E1F8-C36C-495A-93FC-0C247A3E6E5F)");
}

TEST(PublicEnumsTest, NumberingAndNames) {
    EXPECT_EQ(static_cast<int>(SensorConnectionStatus::errorOpeningConnection), 2);
    EXPECT_EQ(static_cast<int>(BroadcastStatus::disappeared), 1);
    EXPECT_EQ(static_cast<int>(PelkSensorStatus::recoveryMode), 2);
    EXPECT_EQ(static_cast<int>(CommError::timedOut), 0);
    EXPECT_EQ(static_cast<int>(CommError::deviceBusy), 6);
    EXPECT_EQ(static_cast<int>(WebError::Kind::invalidParameters), 5);
    EXPECT_EQ(describe(CommError::noDelegate), "noDelegate");
    EXPECT_EQ(describe(SensorConnectionStatus::errorOpeningConnection), "errorOpeningConnection");
    EXPECT_EQ(describe(BroadcastStatus::appeared), "appeared");
    EXPECT_EQ(describe(PelkSensorStatus::initializationFailed), "initializationFailed");
}

TEST(PublicErrorsTest, Descriptions) {
    EXPECT_EQ(PelkError::general("Could not open stream", 99).description(),
              "general(description: \"Could not open stream\", code: 99)");
    EXPECT_EQ(PelkError::general("x", 1).code(), 1);
    EXPECT_EQ(describe(PelkError::deviceBusy()), "deviceBusy");
    EXPECT_NE(PelkError::notConnected(), PelkError::deviceBusy());
    EXPECT_EQ(WebError::general(404, "Not found").description(),
              "general(code: 404, description: \"Not found\")");
    EXPECT_EQ(WebError::invalidParameter("vin").description(), "invalidParameter(\"vin\")");
    EXPECT_EQ(describe(WebError::timeout()), "timeout");

    EXPECT_EQ(PelkSensorState::onSensorConnected(PelkSensorStatus::initialized).description(),
              "onSensorConnected(status: initialized)");
    EXPECT_EQ(PelkSensorState::onError(PelkError::dataError()).description(),
              "onError(error: dataError)");
    EXPECT_EQ(PelkSensorState::onSensorDisconnected().description(), "onSensorDisconnected");
    EXPECT_EQ(PelkSensorState::onError(PelkError::dataError()).error(), PelkError::dataError());
    EXPECT_FALSE(PelkSensorState::onSensorDisconnected().status().has_value());
}

TEST(YMMETest, Description) {
    YMME ymme;
    EXPECT_EQ(ymme.description(), "[YMME: ]");
    ymme.make = "Ford";
    ymme.year = 2015;
    EXPECT_EQ(ymme.description(), "[YMME: Make: Ford, Year: 2015]");
    YMME full{"1FA", "Ford", "Focus", "2.0", "SE", 2012};
    EXPECT_EQ(describe(full),
              "[YMME: VIN: 1FA, Make: Ford, Model: Focus, Engine: 2.0, Series: SE, Year: 2012]");
}

TEST(PelkNotificationsTest, Names) {
    EXPECT_STREQ(PelkNotifications::SENSOR_TIMEDOUT, "DeviceTimedOut");
    EXPECT_STREQ(PelkNotifications::SENSOR_CONNECT_STARTED, "DeviceConnectStarted");
    EXPECT_STREQ(PelkNotifications::SENSOR_DISCONNECTED, "DeviceDisconnected");
    EXPECT_STREQ(PelkNotifications::INTERACTION_REQUIRED, "PelkInteractionRequired");
}
