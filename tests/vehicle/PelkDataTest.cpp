#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "VehicleTestSupport.hpp"
#include "api/Data/EnhancedProtocolManufacturerNames.hpp"
#include "api/Data/PelkData.hpp"
#include "api/Logging/Log.hpp"
#include "logging/LogFileReader.hpp"

namespace qz {
namespace {

using namespace vehicletest;

class PelkDataTest : public ::testing::Test {
  protected:
    ScopedHome home;
    PelkData data;
};

TEST_F(PelkDataTest, FreshInstallAnswersDefaults) {
    ASSERT_TRUE(data.prefs());
    EXPECT_EQ(data.sensorVersionNumber(), 0);
    EXPECT_EQ(data.obd2Protocol(), 0);
    EXPECT_EQ(data.EnhancedProtocol(), std::nullopt);
    EXPECT_EQ(data.VIN(), std::nullopt);
    EXPECT_EQ(data.vehicleParentMan(), std::nullopt);
    EXPECT_EQ(data.customVehicleMan(), std::nullopt);
    EXPECT_TRUE(data.useNewCommandSet());
    EXPECT_TRUE(data.useNewCommandSet());
}

TEST_F(PelkDataTest, SettersStoreUnderTheirKeysAndNoneRemoves) {
    data.setActiveSensorVersion(406);
    data.setActiveBusProtocol(BusProtocol::can11500);
    data.setActiveParentMan(std::string("GM"));
    data.setEnhancedProtocolString(std::string("1"));
    data.setInRecoveryMode(true);

    auto prefs = data.prefs();
    EXPECT_EQ(prefs->integer("activeSensorVersion"), 406);
    EXPECT_EQ(prefs->integer("obd2Protocol"), 6);
    EXPECT_EQ(prefs->string("vehicleParentMan"), "GM");
    EXPECT_EQ(prefs->string("enhancedProtocol"), "1");
    EXPECT_TRUE(prefs->boolean("inRecovery"));
    EXPECT_EQ(data.sensorVersionNumber(), 406);
    EXPECT_EQ(data.vehicleParentMan(), "GM");
    EXPECT_EQ(data.EnhancedProtocol(), "1");

    data.setActiveSensorVersion(std::nullopt);
    data.setVehicleParentMan(std::nullopt);
    data.setEnhancedProtocol(std::nullopt);
    EXPECT_FALSE(prefs->object("activeSensorVersion"));
    EXPECT_FALSE(prefs->object("vehicleParentMan"));
    EXPECT_FALSE(prefs->object("enhancedProtocol"));
    EXPECT_EQ(data.sensorVersionNumber(), 0);

    // Each sensor's version, by its identifier; one not told (or stored as no number) is none.
    data.setSensorVersionOf("001A2B3C4D5E", 408);
    data.setSensorVersionOf("AB12", 405);
    data.setSensorVersionOf("001A2B3C4D5E", 407);
    EXPECT_EQ(prefs->object("sensorVersions"),
              nlohmann::json({{"001A2B3C4D5E", 407}, {"AB12", 405}}));
    EXPECT_EQ(data.sensorVersionOf("001A2B3C4D5E"), 407);
    EXPECT_EQ(data.sensorVersionOf("CD34"), std::nullopt);
    prefs->set("sensorVersions", nlohmann::json({{"AB12", "4.05"}}));
    EXPECT_EQ(data.sensorVersionOf("AB12"), std::nullopt);

    // Keys only the host writes are read as they stand.
    prefs->set("vin", "1HGCM82633A004352");
    prefs->set("customVehicleMan", "Honda");
    EXPECT_EQ(data.VIN(), "1HGCM82633A004352");
    EXPECT_EQ(data.customVehicleMan(), "Honda");
}

TEST_F(PelkDataTest, BusNumberReadsBackOnlyWhenKnown) {
    data.setActiveBusProtocol(BusProtocol::gmLan);
    EXPECT_EQ(data.obd2Protocol(), 58);
    data.prefs()->set("obd2Protocol", 10);
    EXPECT_EQ(data.obd2Protocol(), 0);
    data.prefs()->set("obd2Protocol", 97);
    EXPECT_EQ(data.obd2Protocol(), 97);
}

TEST_F(PelkDataTest, ValuesSurviveTheProcess) {
    data.setActiveSensorVersion(401);
    data.setVehicleParentMan(std::string("Toyota"));
    // A new reader of the same file, as after a restart.
    UserDefaults reopened(PelkData::kSuiteName, data.prefs()->filePath());
    EXPECT_EQ(reopened.integer("activeSensorVersion"), 401);
    EXPECT_EQ(reopened.string("vehicleParentMan"), "Toyota");
}

// The suite's file is replaced whole on every write: a reader never sees a partial file, and
// no temporary file is left behind.
TEST_F(PelkDataTest, FileIsAlwaysComplete) {
    data.setActiveSensorVersion(1);
    const auto file = data.prefs()->filePath();
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 300; ++i) {
            data.setActiveSensorVersion(i);
            data.setVehicleParentMan(std::string(200 + i % 50, 'x'));
        }
        done = true;
    });
    int reads = 0;
    while (!done || reads == 0) {
        std::ifstream in(file);
        ASSERT_TRUE(in) << "the file must exist at every moment";
        std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        auto parsed = nlohmann::json::parse(content, nullptr, false);
        ASSERT_FALSE(parsed.is_discarded()) << content;
        ASSERT_TRUE(parsed.is_object());
        ++reads;
    }
    writer.join();
    EXPECT_EQ(data.sensorVersionNumber(), 299);
    for (const auto& entry : std::filesystem::directory_iterator(file.parent_path())) {
        EXPECT_EQ(entry.path(), file) << "left over: " << entry.path();
    }
}

// The write that follows every sensor initialisation used to overflow the stack on a file
// nested this deep.
TEST_F(PelkDataTest, ADeeplyNestedFileIsRefusedWithALogLineAndReplaced) {
    Log::reset();
    const auto file = Paths::preferencesDirectory() / (std::string(PelkData::kSuiteName) + ".json");
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << "{\"vin\": " << std::string(100000, '[') << std::string(100000, ']')
                        << "}";
    data.setActiveSensorVersion(406);
    data.setActiveBusProtocol(BusProtocol::can11500);
    EXPECT_EQ(data.sensorVersionNumber(), 406);
    EXPECT_EQ(data.VIN(), std::nullopt);
    EXPECT_NE(testing::libraryLogText().find("Settings file " + file.string() +
                                             " not read (nested deeper than 64 levels)"),
              std::string::npos);
}

TEST_F(PelkDataTest, ManufacturerNameFromVin) {
    EXPECT_EQ(data.manufacturerNameFromVin(std::string("JH4KA7561PC008269")), "Acura");
    EXPECT_EQ(data.manufacturerNameFromVin(std::nullopt), "Unknown");
}

TEST(EnhancedProtocolManufacturerTest, NamesAndParents) {
    const char* names[] = {"Unknown", "GM",     "Chrysler",   "Ford",       "Toyota",
                           "BMW",     "Nissan", "Honda",      "VOLKSWAGEN", "Mercedes",
                           "Hyundai", "Mazda",  "Mitsubishi", "Subaru"};
    for (int64_t i = 0; i < 14; ++i) EXPECT_EQ(enhancedProtocolManufacturerName(i), names[i]);
    EXPECT_EQ(enhancedProtocolManufacturerName(14), "Unknown");
    EXPECT_EQ(enhancedProtocolManufacturerName(-1), "Unknown");
    EXPECT_EQ(name(EnhancedProtocolManufacturer::Mercedes), "Mercedes");

    using M = EnhancedProtocolManufacturer;
    EXPECT_EQ(enhancedProtocolManufacturerFrom(std::string("Daimler")), M::Mercedes);
    EXPECT_EQ(enhancedProtocolManufacturerFrom(std::string("Renault")), M::Nissan);
    EXPECT_EQ(enhancedProtocolManufacturerFrom(std::string("VOLKSWAGEN")), M::VOLKSWAGEN);
    EXPECT_EQ(enhancedProtocolManufacturerFrom(std::string("Honda")), M::Honda);
    EXPECT_EQ(enhancedProtocolManufacturerFrom(std::string("bmw")), M::Unknown);
    EXPECT_EQ(enhancedProtocolManufacturerFrom(std::string("VAG")), M::Unknown);
    EXPECT_EQ(enhancedProtocolManufacturerFrom(std::string("Suzuki")), M::Unknown);
    EXPECT_EQ(enhancedProtocolManufacturerFrom(std::nullopt), M::Unknown);
}

}  // namespace
}  // namespace qz
