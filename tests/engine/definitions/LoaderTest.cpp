#include <gtest/gtest.h>

#include "engine/definitions/DefinitionsTestSupport.hpp"
#include "lib/Decoders/QZEBitEncodedAddress.hpp"
#include "lib/Definitions/QZEnhancedDiagnosticXMLParser.hpp"

namespace qz {
namespace {

using namespace definitionstest;
using Strings = std::vector<std::string>;
using BusFiles = std::vector<std::pair<std::string, std::string>>;

// Tenth character '5': model year 2005.
const std::string kVin = "1C4RJFAG85C123456";
const std::string kBmwVin = "WBA3A5C50DF123456";

class LoaderTest : public DefinitionsTest {
  protected:
    // Every module-list file of the file table, each listing modules described by its own name.
    void writeEveryModuleList() {
        for (const char* name : kBusModuleLists) {
            const std::string n = name;
            writeResource("enhanceddiag/" + n + ".xml",
                          "<m><module Acronym=\"A\" Description=\"" + n +
                              "\" Request_ID=\"7E0\" bus29bit=\"1\"/><module Acronym=\"B\" "
                              "Description=\"" +
                              n + "\" Request_ID=\"7E1\"/></m>");
        }
        writeResource("enhanceddiag/bmw-modules.xml",
                      R"(<bmw><chassis code="F30" vins="3A5C">
                         <module Acronym="DME" Description="bmw-modules" Request_ID="12"/>
                         </chassis></bmw>)");
        writeResource("enhanceddiag/vag-modules-tcs.xml", R"(<vag><global>
            <can><module Acronym="E" Description="vag-modules-tcs" UDSReqId="7E0" TP2="1"/></can>
            <kline><module Acronym="K" Description="vag-modules-tcs" KReqID="01"/></kline>
            </global></vag>)");
    }

    // The first description of every bus read, by bus key ("" for an empty list).
    BusFiles load(int64_t make, const std::string& protocol, const std::string& vin = kVin) {
        QZEnhancedDiagnosticXMLParser loader(make, protocol, vin, false);
        BusFiles out;
        auto lists = loader.loadXml();
        for (const auto& key : lists.allKeys()) {
            const auto& modules = *lists.objectForKey(key);
            out.emplace_back(key,
                             modules.empty() ? "" : modules[0]->description().value_or("(null)"));
        }
        return out;
    }
};

TEST_F(LoaderTest, ChoosesTheBusesAndFilesOfEveryMake) {
    writeEveryModuleList();
    struct Case {
        int64_t make;
        std::string protocol;
        int64_t firmware;
        int64_t year;
        std::string vin;
        BusFiles expected;
    };
    const std::vector<Case> cases = {
        {2,
         "CAN29_500",
         408,
         2016,
         kVin,
         {{"7", "Chrysler_29CAN"}, {"10", "Chrysler_29CAN"}, {"11", "Chrysler_29CAN_CH_IHS"}}},
        {2, "CAN29_500", 407, 2016, kVin, {{"7", "Chrysler_29CAN"}}},
        {2, "CAN11_500", 410, 2011, kVin, {{"1", "Chrysler_CAN"}, {"3", "Chrysler_VPW"}}},
        {2, "ISO_9141", 410, 2011, kVin, {}},
        {1, "CAN11_500", 407, 2015, kVin, {{"1", "GM_CAN"}, {"58", "GM_GMLAN"}}},
        {1, "CAN11_500", 406, 2014, kVin, {{"1", "GM_CAN"}, {"3", "GM_VPW"}}},
        {1, "J1850_VPW", 410, 2005, kVin, {{"3", "GM_VPW"}, {"95", "GM_CAN"}}},
        {1, "GM_LAN", 410, 2016, kVin, {{"0", "GM_VPW"}}},
        {3, "J1850_PWM", 410, 2003, kVin, {{"2", "Ford_KLINE"}}},
        {3, "CAN11_500", 410, 2013, kVin, {{"1", "Ford_CAN"}, {"2", "Ford_KLINE"}}},
        {11, "CAN11_500", 410, 2016, kVin, {{"1", "Ford_CAN"}}},
        {4, "CAN11_500", 410, 2016, kVin, {{"1", "Toyota_CAN"}}},
        {4, "ISO_9141", 410, 2003, kVin, {{"4", "Toyota_KLINE"}}},
        {5,
         "CAN11_500",
         410,
         2016,
         kBmwVin,
         {{"1", "bmw-modules"}, {"4", "bmw-modules"}, {"99", "bmw-modules"}}},
        {5, "CAN11_500", 253, 2016, kBmwVin, {{"4", "bmw-modules"}, {"99", "bmw-modules"}}},
        {5, "KWP2000_Fast", 410, 2005, kBmwVin, {{"4", "bmw-modules"}, {"99", "bmw-modules"}}},
        {6, "CAN11_500", 410, 2016, kVin, {{"1", "Nissan_CAN"}, {"4", "Nissan_KWP"}}},
        {6, "ISO_9141", 410, 2003, kVin, {{"4", "Nissan_KWP"}, {"97", "Nissan_CAN_ON_KLINE"}}},
        {7, "CAN29_500", 410, 2016, kVin, {{"7", "Honda_CAN"}, {"4", "Honda_KLINE"}}},
        {8,
         "J1850_PWM",
         410,
         2016,
         kVin,
         {{"1", "vag-modules-tcs"}, {"98", "vag-modules-tcs"}, {"4", "vag-modules-tcs"}}},
        {9, "KWP2000_Fast", 406, 2005, kVin, {{"4", ""}, {"96", "Mercedes_MBISO"}}},
        {9, "CAN11_500", 405, 2016, kVin, {{"1", ""}}},
        {10,
         "CAN11_500",
         407,
         2016,
         kVin,
         {{"1", "Hyundai_CAN"}, {"4", "Hyundai_KLine"}, {"12", "Hyundai_MUT"}}},
        {10, "CAN11_500", 405, 2016, kVin, {{"1", "Hyundai_CAN"}}},
        {12, "ISO_9141", 410, 2016, kVin, {{"4", "Mitsubishi_KLINE"}, {"1", "Mitsubishi_CAN"}}},
        {12, "ISO_9141", 410, 2016, "1C4RJFAG13C123456", {{"4", "Mitsubishi_KLINE"}}},
        {12, "CAN11_500", 407, 2016, kVin, {{"1", "Mitsubishi_CAN"}, {"4", "Mitsubishi_KLINE"}}},
        {13, "CAN11_500", 410, 2016, kVin, {{"1", "Subaru_CAN"}, {"4", "Subaru_KLINE"}}},
        {0, "CAN11_500", 410, 2016, kVin, {}},
    };
    for (const auto& c : cases) {
        settings->firmware = c.firmware;
        settings->year = c.year;
        EXPECT_EQ(load(c.make, c.protocol, c.vin), c.expected)
            << "make " << c.make << " " << c.protocol << " fw " << c.firmware;
    }
}

TEST_F(LoaderTest, BusListMatchesTheProtocolText) {
    const std::vector<std::tuple<int64_t, std::string, std::vector<int64_t>>> cases = {
        {8, "", {1, 98, 4}},       {1, "", {0}},
        {1, "HONDA_DIAGH", {0}},   {9, "MBISO", {4, 96}},
        {2, "KWP2000_Slow", {4}},  {10, "KWP2000_Fast", {4, 12}},
        {10, "ISO_9141", {4, 12}}, {5, "ISO_9141", {4, 99}},
        {2, "J1850_VPW", {3}},     {12, "CAN29_500", {7, 4}},
    };
    for (const auto& [make, protocol, expected] : cases) {
        QZEnhancedDiagnosticXMLParser loader(make, protocol, kVin, false);
        EXPECT_EQ(loader.obd2Buses(), expected) << make << " " << protocol;
    }
    QZEnhancedDiagnosticXMLParser none(1, std::nullopt, std::nullopt, false);
    EXPECT_EQ(none.obd2Buses(), (std::vector<int64_t>{0}));
}

TEST_F(LoaderTest, LogsEachStepOfABusLoad) {
    writeEveryModuleList();
    {
        QZEnhancedDiagnosticXMLParser loader(2, "CAN29_500", kVin, false);
        EXPECT_TRUE(loader.processEnhancedManufacturer(2, 7));
        std::filesystem::remove(resources.path() / "enhanceddiag" / "Chrysler_VPW.xml");
        EXPECT_FALSE(loader.processEnhancedManufacturer(2, 3));
        EXPECT_FALSE(loader.processEnhancedManufacturer(2, 4));
        EXPECT_EQ(loader.infoKeyedByBus().allKeys(), (Strings{"7"}));
    }
    const Strings expected = {
        "V:Testy mctest test",
        "V:set OBD2 Bus: QZVHEICLE PROTOCOL: CAN29_500",
        "V:CAN",
        "I:Passed vehicle: 2  bustype: 7",
        "V:Loading Enhanced Chrysler Data",
        "V:Encrypted file found",
        "V:Decrypted",
        "V:Loaded enhanced Data xml",
    };
    auto lines = logger->lines();
    auto it = lines.begin();
    for (const auto& line : expected) {
        it = std::find(it, lines.end(), line);
        ASSERT_NE(it, lines.end()) << line;
    }
    EXPECT_TRUE(logger->has("W:Encrypted file not found"));
    EXPECT_EQ(logger->count("V:No Data"), 2u);
    EXPECT_EQ(lines.back(), "V:XML Parser dealloc");

    settings->firmware = 253;
    logger->clear();
    QZEnhancedDiagnosticXMLParser bmw(5, "CAN11_500", kBmwVin, false);
    EXPECT_FALSE(bmw.processEnhancedManufacturer(5, 1));
    EXPECT_TRUE(logger->has("W:MIN BMW FW not met, no CAN will be scanned"));
    EXPECT_FALSE(bmw.processEnhancedManufacturer(0, 1));
    EXPECT_TRUE(logger->has("V:Loading Enhanced UNKNOWN Data"));
}

TEST_F(LoaderTest, MitsubishiAbsModulesFoldIntoBraking) {
    writeResource("enhanceddiag/Mitsubishi_KLINE.xml", R"(<m>
      <module Acronym="ENG" Description="Engine" Request_ID="10"/>
      <module Acronym="ABS" Description="ABS 4WD" Request_ID="28" baud_hex="0A">
        <address byte="01"><bit bitNum="0" c="C1200" Description="Sensor"/></address>
      </module>
      <module Acronym="ABS2" Description="ABS 2WD" Request_ID="28" baud_hex="0B"/>
      <module Acronym="ABS3" Description="ABS ESC" Request_ID="28">
        <address byte="02"><bit bitNum="1" c="C1300" Description="Valve"/></address>
      </module>
    </m>)");
    QZEnhancedDiagnosticXMLParser loader(12, "ISO_9141", "1C4RJFAG6FC123456", false);
    auto modules = *loader.loadXml().objectForKey("4");
    ASSERT_EQ(acronyms(modules), (Strings{"ABS", "ENG"}));
    const auto& braking = *modules[0];
    EXPECT_EQ(braking.description(), "Braking");
    EXPECT_EQ(braking.requestId(), "04");
    EXPECT_EQ(braking.busType(), "4");
    EXPECT_TRUE(braking.common());
    EXPECT_EQ(braking.extra("first"), QZEValue("1"));
    // Only a module with both a baud rate and a bit table has a row: its table and address.
    auto rates = braking.extra("baud_rates").dictionary();
    ASSERT_TRUE(rates);
    ASSERT_EQ(rates->size(), 1u);
    auto unit = rates->at("0A").dictionary();
    ASSERT_TRUE(unit);
    EXPECT_EQ(unit->at("Request_ID"), QZEValue("28"));
    auto table = unit->at("dtcBitEncodedDitct").object<QZEBitEncodedAddress>();
    ASSERT_TRUE(table);
    EXPECT_EQ(table->infoForBit(0, 1).value().at(0), "C1200");

    writeResource("enhanceddiag/Mitsubishi_KLINE.xml", R"(<m>
      <module Acronym="ABS" Description="ABS" Request_ID="28" baud_hex="0A"/>
      <module Acronym="ENG" Description="Engine" Request_ID="10"/></m>)");
    QZEnhancedDiagnosticXMLParser single(12, "ISO_9141", "1C4RJFAG6FC123456", false);
    auto unchanged = *single.loadXml().objectForKey("4");
    EXPECT_EQ(acronyms(unchanged), (Strings{"ABS", "ENG"}));
    EXPECT_EQ(unchanged[0]->description(), "ABS");
}

TEST_F(LoaderTest, ModulesOnPinsTheSensorCannotSwitchToAreRemoved) {
    writeResource("enhanceddiag/Toyota_KLINE.xml", R"(<m>
      <module Acronym="ECM" Description="Engine" Request_ID="10" pins="6E"/>
      <module Acronym="ABS" Description="Brakes" Request_ID="28" pins="7C"/>
      <module Acronym="BDY" Description="Body" Request_ID="40"/>
    </m>)");
    settings->firmware = 399;
    {
        QZEnhancedDiagnosticXMLParser loader(4, "ISO_9141", kVin, false);
        EXPECT_EQ(acronyms(*loader.loadXml().objectForKey("4")), (Strings{"ECM", "BDY"}));
    }
    EXPECT_TRUE(logger->has("I:Removing unsupported module (Brakes) on pin 7C"));
    settings->firmware = 400;
    QZEnhancedDiagnosticXMLParser loader(4, "ISO_9141", kVin, false);
    EXPECT_EQ(acronyms(*loader.loadXml().objectForKey("4")), (Strings{"ECM", "ABS", "BDY"}));
}

TEST_F(LoaderTest, QuickScanListsCommonModulesAndSubaruCodeTextsLoadFirst) {
    writeResource("enhanceddiag/Subaru_CAN.xml", R"(<m>
      <module Acronym="ECM" Description="Engine" Request_ID="7E0" Common="1"/>
      <module Acronym="BIU" Description="Body" Request_ID="752" Common="0"/>
    </m>)");
    writeResource("troublecodes/troublecodes.xml",
                  "<t><Subaru><tc><c>P1000</c><d>Subaru check</d></tc></Subaru></t>");
    QZEnhancedDiagnosticXMLParser loader(13, "CAN11_500", kVin, true);
    EXPECT_EQ(acronyms(*loader.loadXml().objectForKey("1")), (Strings{"ECM"}));
    EXPECT_TRUE(QZETroubleCodes::TheCodes().hasTable("Subaru"));
}

TEST_F(LoaderTest, MsCanTableListsFordVins) {
    QZEMSCanHelper helper;
    EXPECT_FALSE(helper.isMsCanSupportedByVin("1FAHP3F20CL12345"));
    EXPECT_FALSE(helper.isMsCanSupportedByVin("1FAHP3F27CL123456"));  // no file
    writeResource("enhanceddiag/ms_vin_mappings.json",
                  R"({"C": ["P3F", "P3K"], "D": "P3F", "E": [1, "K8H"]})");
    EXPECT_TRUE(helper.isMsCanSupportedByVin("1FAHP3F27CL123456"));
    EXPECT_FALSE(helper.isMsCanSupportedByVin("1FAHP3E25CL123456"));
    EXPECT_FALSE(helper.isMsCanSupportedByVin("1FAHP3F25DL123456"));  // not a list
    EXPECT_TRUE(helper.isMsCanSupportedByVin("1FAHK8H22EL123456"));
    EXPECT_FALSE(helper.isMsCanSupportedByVin("1FAHP3F21FL123456"));
    writeResource("enhanceddiag/ms_vin_mappings.json", "{not json");
    EXPECT_FALSE(helper.isMsCanSupportedByVin("1FAHP3F27CL123456"));
}

}  // namespace
}  // namespace qz
