#include <gtest/gtest.h>

#include <mutex>

#include "lib/Facades/QZEData.hpp"
#include "lib/Facades/QZEModal.hpp"
#include "lib/Facades/QZEModuleStatusManager.hpp"
#include "lib/Facades/QZEPitCrew.hpp"
#include "lib/Facades/QZEVehicle.hpp"
#include "lib/Logging/QZELogging.hpp"
#include "lib/Utils/QZEnhancedUtils.hpp"
#include "support/EngineFakes.hpp"

using namespace qz;

namespace {

using testsupport::RecordingLogger;

class FakeVehicle : public QZVehicleCommunicationProtocol,
                    public QZSensorStateTracker,
                    public QZVehicleStateInfo,
                    public QZESessionProtocol {
  public:
    bool sendSetupCommandToOstrel(const OptionalText& cmd) override { return cmd == "KQSM6E"; }
    OptionalText sendCommandToOstrel(const OptionalText& cmd) override {
        return cmd ? *cmd + " OK>" : cmd;
    }
    bool sendSetupCommandToOstrel(const OptionalText&, bool ignoreTimeout) override {
        return ignoreTimeout;
    }
    int64_t activeHighPin() override { return 6; }
    int64_t activeLowPin() override { return 14; }
    OptionalText activeProtocolString() override { return "6"; }
    int64_t modelYear() override { return 2015; }
    int64_t vehicleDataManufacturer() override { return 3; }
    OptionalText obd2ProtocolString() override { return "ISO 15765-4"; }
    OptionalText vin() override { return "WDD"; }
    OptionalText activeVin() override { return "VIN1"; }
    int64_t activeProtocol() override { return 9; }
};

class FakeData : public QZDataAdapter {
  public:
    int64_t version = 406;
    OptionalText enhanced;
    void setEnhancedProtocol(const OptionalText& v) override { enhanced = v; }
    OptionalText EnhancedProtocol() override { return enhanced; }
    OptionalText VIN() override { return "V"; }
    void setVehicleParentMan(const OptionalText&) override {}
    OptionalText vehicleParentMan() override { return "Ford"; }
    int64_t sensorVersionNumber() override { return version; }
    int64_t obd2Protocol() override { return 6; }
    bool useNewCommandSet() override { return true; }
    OptionalText customVehicleMan() override { return std::nullopt; }
};

// Installs a recording logger and clears every registration afterwards.
class EngineFacadeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        clearAll();
        crew.registerLoggingAdapter(logger);
    }
    void TearDown() override { clearAll(); }
    void clearAll() {
        crew.registerModuleStatusManager(nullptr);
        crew.registerModalAdapter(nullptr);
        crew.registerVehicleCommuications(nullptr);
        crew.registerVehicleSensorStateTracker(nullptr);
        crew.registerVehicleSensorTimeoutAdapter(nullptr);
        crew.registerQZDataAdapter(nullptr);
        crew.registerSessionAdapter(nullptr);
        crew.registerVinAdapter(nullptr);
        crew.registerLoggingAdapter(nullptr);
        crew.registerVehicleStateInfoAdapter(nullptr);
    }
    QZEPitCrew crew;
    std::shared_ptr<RecordingLogger> logger = std::make_shared<RecordingLogger>();
};

}  // namespace

TEST_F(EngineFacadeTest, FallbackAnswersWithoutAdapters) {
    auto& v = QZEVehicle::TheVehicle();
    EXPECT_FALSE(v.sendSetupCommandToOstrel("ATZ"));
    EXPECT_FALSE(v.sendSetupCommandToOstrel("ATZ", true));
    EXPECT_EQ(v.sendCommandToOstrel("0100"), std::nullopt);
    EXPECT_EQ(v.activeHighPin(), 0);
    EXPECT_EQ(v.activeLowPin(), 0);
    EXPECT_EQ(v.activeProtocolString(), std::nullopt);
    v.resetSesorResponseTime();
    v.setMaxWaitTimeForSensorResponse(2.0);
    EXPECT_EQ(v.modelYear(), 0);
    EXPECT_EQ(v.vehicleDataManufacturer(), 0);
    EXPECT_EQ(v.obd2ProtocolString(), std::nullopt);
    EXPECT_EQ(v.vin(), std::nullopt);

    auto& d = QZEData::sharedData();
    EXPECT_EQ(d.EnhancedProtocol(), std::nullopt);
    EXPECT_EQ(d.VIN(), std::nullopt);
    EXPECT_EQ(d.vehicleParentMan(), std::nullopt);
    EXPECT_EQ(d.manufacturerNameFromVin("WDD"), std::nullopt);
    EXPECT_EQ(d.obd2Protocol(), 0);
    EXPECT_EQ(d.sensorVersionNumber(), 0);
    EXPECT_FALSE(d.useNewCommandSet());
    d.setEnhancedProtocol("x");
    d.setVehicleParentMan("y");
    EXPECT_EQ(d.customVehicleMan(), "Unknown");
    EXPECT_EQ(d.activeProtocol(), 0);
    EXPECT_EQ(d.activeVin(), std::nullopt);

    bool called = false;
    QZEModal::manager().showWithTitle("t", "m", [&] { called = true; });
    EXPECT_FALSE(called);
    EXPECT_EQ(QZEModuleStatusManager::manager().responseStateForModuleKey("k", "v"), 0);
    QZEModuleStatusManager::manager().setResponseState(3, "k", "v");

    const std::string comms = "E:Communication protocol not implemented";
    const std::string tracker = "E:State tracker not implemented";
    const std::string timeout = "E:QZSensorTimeoutAdapter not implemented";
    const std::string info = "E:QZVehicleStateInfo not implemented";
    const std::string session = "E:No session protocol registered";
    std::vector<std::string> expected = {
        comms,   comms,   comms,   tracker, tracker,
        tracker, timeout, timeout, info,    info,
        info,    info,    session, session, "E:Adapter not implemented"};
    EXPECT_EQ(logger->lines(), expected);
}

TEST_F(EngineFacadeTest, RegistrationsForwardToTheAdapters) {
    auto vehicle = std::make_shared<FakeVehicle>();
    auto data = std::make_shared<FakeData>();
    crew.registerVehicleCommuications(vehicle);
    crew.registerVehicleSensorStateTracker(vehicle);
    crew.registerVehicleStateInfoAdapter(vehicle);
    crew.registerSessionAdapter(vehicle);
    crew.registerQZDataAdapter(data);

    auto& v = QZEVehicle::TheVehicle();
    EXPECT_TRUE(v.sendSetupCommandToOstrel("KQSM6E"));
    EXPECT_TRUE(v.sendSetupCommandToOstrel("x", true));
    EXPECT_EQ(v.sendCommandToOstrel("0100"), "0100 OK>");
    EXPECT_EQ(QZEnhancedUtils::getPinValueForPinsWithHighPin(v.activeHighPin(), v.activeLowPin()),
              0x6E);
    EXPECT_EQ(v.activeProtocolString(), "6");
    EXPECT_EQ(v.modelYear(), 2015);
    EXPECT_EQ(v.vin(), "WDD");
    auto& d = QZEData::sharedData();
    EXPECT_EQ(d.activeProtocol(), 9);
    EXPECT_EQ(d.activeVin(), "VIN1");
    d.setEnhancedProtocol("BMW");
    EXPECT_EQ(d.EnhancedProtocol(), "BMW");
    EXPECT_EQ(d.customVehicleMan(), std::nullopt);
    EXPECT_TRUE(logger->lines().empty());

    // A later registration replaces the earlier one.
    crew.registerQZDataAdapter(nullptr);
    EXPECT_EQ(d.EnhancedProtocol(), std::nullopt);
}

TEST_F(EngineFacadeTest, FirmwareGate) {
    auto data = std::make_shared<FakeData>();
    crew.registerQZDataAdapter(data);
    EXPECT_FALSE(QZEnhancedUtils::checkFwIsAtLeast(407, std::string("GM LAN")));
    ASSERT_EQ(logger->lines().size(), 1u);
    EXPECT_EQ(logger->lines()[0],
              "D:Current sensor FW (406) is below min required for GM LAN (407)");
    data->version = 407;
    EXPECT_TRUE(QZEnhancedUtils::checkFwIsAtLeast(407, std::string("GM LAN")));
    EXPECT_EQ(logger->lines().size(), 1u);
}

TEST(QZEnhancedUtilsTest, HexAndBits) {
    EXPECT_EQ(QZEnhancedUtils::hexStringToInt("7"), 7);
    EXPECT_EQ(QZEnhancedUtils::hexStringToInt("1A3"), 26);
    EXPECT_EQ(QZEnhancedUtils::hexStringToInt("G1"), 0);
    EXPECT_EQ(QZEnhancedUtils::hexStringToInt(""), 0);
    EXPECT_EQ(QZEnhancedUtils::hexStringToInt("fF"), 255);
    EXPECT_EQ(QZEnhancedUtils::hexStringToInt("1G"), 1);
    EXPECT_EQ(QZEnhancedUtils::hex2ascii(0), '0');
    EXPECT_EQ(QZEnhancedUtils::hex2ascii(9), '9');
    EXPECT_EQ(QZEnhancedUtils::hex2ascii(10), 'A');
    EXPECT_EQ(QZEnhancedUtils::hex2ascii(15), 'F');
    EXPECT_EQ(QZEnhancedUtils::bitcount(0xB6), 5);
    EXPECT_EQ(QZEnhancedUtils::getPinValueForPinsWithHighPin(6, std::nullopt), 0x60);
}

TEST(QZEnhancedUtilsTest, J2012Codes) {
    EXPECT_TRUE(QZEnhancedUtils::isJ2012(std::string("P0301")));
    EXPECT_TRUE(QZEnhancedUtils::isJ2012(std::string("u0100")));
    EXPECT_TRUE(QZEnhancedUtils::isJ2012(std::string("C1234-1A")));
    EXPECT_FALSE(QZEnhancedUtils::isJ2012(std::string("P030")));
    EXPECT_FALSE(QZEnhancedUtils::isJ2012(std::string("X0301")));
    EXPECT_FALSE(QZEnhancedUtils::isJ2012(std::string("P03G1")));
    EXPECT_FALSE(QZEnhancedUtils::isJ2012(std::nullopt));
}

TEST(QZEnhancedUtilsTest, ModelYear) {
    auto year = [](const std::string& vin) {
        return QZEnhancedUtils::vehicleYearFromVINString(vin);
    };
    EXPECT_EQ(year("1FAHP3F2XCL12345"), 0);  // 16 characters
    // 7th character a digit: the table as it stands.
    EXPECT_EQ(year("1G1ZT53826F109149"), 2006);
    EXPECT_EQ(year("1HGCM8264YA004352"), 2000);
    EXPECT_EQ(year("JH4KA4650PC004352"), 1993);
    EXPECT_EQ(year("JH4KA4650RC004352"), 1994);
    EXPECT_EQ(year("JH4KA46500C004352"), 1996);
    EXPECT_EQ(year("JH4KA4650aC004352"), 1996);
    EXPECT_EQ(year("1FAHP3F27CL123456"), 2012);
    EXPECT_EQ(year("1FAHP3F20JL123456"), 2018);
    EXPECT_EQ(year("1FAHP3F26ZL123456"), 2001);
    // 7th character a letter: P to Y read 30 years later.
    EXPECT_EQ(year("5YJ3E1EA7PF123456"), 2023);
    EXPECT_EQ(year("5YJ3E1EA3RF123456"), 2024);
    EXPECT_EQ(year("1FTFW1E86SF123456"), 2025);
    EXPECT_EQ(year("1FTFW1E85YF123456"), 2030);
    EXPECT_EQ(year("1FTFW1E80NF123456"), 2022);
    EXPECT_EQ(year("1FTFW1E83ZF123456"), 2001);
    EXPECT_EQ(year("1FTFW1E881F123456"), 2001);
    EXPECT_EQ(QZEnhancedUtils::vehicleYearFromVINString(std::nullopt), 0);
}

TEST(QZEModuleStatusManagerTest, StateTexts) {
    EXPECT_EQ(QZEModuleStatusManager::responseStateString(1), "ResponseStateNoData");
    EXPECT_EQ(QZEModuleStatusManager::responseStateString(2), "ResponseStateHasNakData");
    EXPECT_EQ(QZEModuleStatusManager::responseStateString(3), "ResponseStateHasData");
    EXPECT_EQ(QZEModuleStatusManager::responseStateString(0), "ResponseStateUnknown");
    EXPECT_EQ(QZEModuleStatusManager::responseStateString(9), "ResponseStateUnknown");
}

TEST(QZEFormatTest, ObjectiveCStyleFormats) {
    EXPECT_EQ(objcFormat("%@ and %@", std::string("a"), 5), "a and 5");
    EXPECT_EQ(objcFormat("%ld-%02X-%s", int64_t{-3}, 10u, "z"), "-3-0A-z");
    EXPECT_EQ(objcFormat("%@", std::optional<int>()), "(null)");
    EXPECT_EQ(objcFormat("%.2f%%", 1.5), "1.50%");
    EXPECT_EQ(objcFormat("%@ %d", true, 'A'), "1 65");
    EXPECT_EQ(objcFormat("missing %@"), "missing (null)");
    EXPECT_EQ(objcFormat("trailing %"), "trailing %");
    // Every kind through the plain "%@" and "%s" and through a width; texts and numbers alone
    // give what the argument records give.
    EXPECT_EQ(objcFormat("%@|%s|%@|%@|%s", 2.5, UINT64_MAX, INT64_MIN, nullptr, std::string("t")),
              "2.5|18446744073709551615|-9223372036854775808|(null)|t");
    EXPECT_EQ(objcFormat("[%4@][%-3s]%@%", "ab", "c", 1e21), "[  ab][c  ]1e+21%");
    const std::optional<std::string> some("o"), none;
    const char* null = nullptr;
    for (std::string_view format : {"%@|%s|%@|%@|%%|%@|%@|%@|%@ %@", "%@%@%@%@%@%@%@%@%@%@%@",
                                    "%@ %5s", "%@ %", "%d %@", "no conversion", "%%%@%%"})
        EXPECT_EQ(objcFormat(format, UINT64_MAX, INT64_MIN, nullptr, some, 'A', none, true, null,
                             std::string_view("v")),
                  formatArgs(format, {toFormatArg(UINT64_MAX), toFormatArg(INT64_MIN),
                                      toFormatArg(nullptr), toFormatArg(some), toFormatArg('A'),
                                      toFormatArg(none), toFormatArg(true), toFormatArg(null),
                                      toFormatArg(std::string_view("v"))}))
            << format;
    EXPECT_EQ(objcFormat("%@|%@|%@|%@|%@", UINT64_MAX, some, 'A', none, true),
              "18446744073709551615|o|65|(null)|1");
}

TEST(QZELoggingTest, ConsoleLinesWithoutAnAdapter) {
    QZELogging::shared().registerLoggerInterface(nullptr);
    ::testing::internal::CaptureStderr();
    QZELogging::shared().logVerbose("a%d", 1);
    QZELogging::shared().logDebug("b");
    QZELogging::shared().logInfo("c");
    QZELogging::shared().logWarning("d");
    QZELogging::shared().logError("e %@", std::string("x"));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "V:a1\nV:b\nD:c\nW:d\nE:e x\n");
}
