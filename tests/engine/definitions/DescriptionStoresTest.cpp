#include <gtest/gtest.h>

#include <thread>

#include "engine/definitions/DefinitionsTestSupport.hpp"
#include "lib/Descriptions/QZESubaruCodeStore.hpp"
#include "lib/Descriptions/QZETroubleCodes.hpp"
#include "lib/Descriptions/QZEVagTroubleCodeStore.hpp"

namespace qz {
namespace {

using namespace definitionstest;

const char* kTroubleCodes = R"(<troublecodes>
  <sae>
    <tc><c>P0300</c><d>Random misfire</d></tc>
    <tc><c>P0420</c><d>Catalyst efficiency</d><d> below threshold</d></tc>
    <tc><c>P0100</c><d>Mass air flow &amp; volume circuit</d></tc>
    <tc><c>P1000</c><d>Generic text</d></tc>
  </sae>
  <ftbs><tc><c>1A</c><d>Circuit resistance below threshold</d></tc></ftbs>
  <nissanftbs><tc><c>12</c><d>Circuit short to battery</d></tc></nissanftbs>
  <GM><tc><c>P1000</c><d>GM readiness</d></tc></GM>
  <GM_extra><tc><c>P1001</c><d>Second GM section</d></tc></GM_extra>
  <Renault><tc><c>P1000</c><d>Nissan readiness</d></tc></Renault>
  <Isuzu><tc><c>P1000</c><d>Isuzu readiness</d></tc></Isuzu>
  <BMW><tc><c>2A82</c><d>BMW make text</d></tc></BMW>
</troublecodes>)";

const char* kBmwModules = R"(<bmw>
  <chassis code="F30" vins="3A5C">
    <module Acronym="DME" Description="Engine" Request_ID="12">
      <tc><c>2A82</c><d>Camshaft control</d></tc>
    </module>
  </chassis>
</bmw>)";

class DescriptionStoresTest : public DefinitionsTest {
  protected:
    void SetUp() override {
        DefinitionsTest::SetUp();
        writeResource("troublecodes/troublecodes.xml", kTroubleCodes);
        writeResource("enhanceddiag/bmw-modules.xml", kBmwModules);
    }
    QZETroubleCodes& codes = QZETroubleCodes::TheCodes();
};

TEST_F(DescriptionStoresTest, LooksCodesUpByMakeThenSae) {
    const std::vector<std::tuple<std::optional<std::string>, int64_t, std::string>> cases = {
        {"P1000", 1, "GM readiness"},
        {"P1001", 1, "Second GM section"},
        {"P0300", 1, "Random misfire"},
        {"P1000", 6, "Nissan readiness"},
        {"P1000", 4, "Generic text"},
        {"P0300-1A", 1, "Random misfire: Circuit resistance below threshold"},
        {"P0300-N12", 6, "Random misfire: Circuit short to battery"},
        {"P0300-77", 1, "Random misfire"},
        {"P9999-1A", 1, "No description available"},
        {"P9999", 1, "No description available"},
        {std::nullopt, 1, "No description available"},
        {"P0420", 2, "Catalyst efficiency below threshold"},
        {"P0100", 3, "Mass air flow & volume circuit"},
    };
    for (const auto& [code, make, expected] : cases)
        EXPECT_EQ(codes.troubleCodeDef(code, make), expected) << code.value_or("(none)") << make;
    // A table asked by name on a fresh catalogue still falls back to "sae".
    QZETroubleCodes fresh;
    EXPECT_EQ(fresh.troubleCodeDef(std::optional<std::string>("P0300"), std::string("Toyota")),
              "Random misfire");

    // Each table is read once: a changed file is not read again.
    writeResource("troublecodes/troublecodes.xml",
                  "<t><GM><tc><c>P1000</c><d>New</d></tc></GM></t>");
    EXPECT_EQ(codes.troubleCodeDef("P1000", 1), "GM readiness");
    EXPECT_FALSE(codes.loadCustomDefinitions("GM"));
}

TEST_F(DescriptionStoresTest, ParentNameOfAMakeOutsideTheTable) {
    EXPECT_EQ(QZETroubleCodes::parentManufacturerFromEnhancedProtocol(9), "Daimler");
    EXPECT_EQ(QZETroubleCodes::parentManufacturerFromEnhancedProtocol(0), "Unknown");
    settings->parentMan = "";
    EXPECT_EQ(QZETroubleCodes::parentManufacturerFromEnhancedProtocol(14), "Unknown");
    EXPECT_EQ(codes.troubleCodeDef("P1000", 0), "Generic text");
    settings->parentMan = "Isuzu";
    EXPECT_EQ(QZETroubleCodes::parentManufacturerFromEnhancedProtocol(0), "Isuzu");
    EXPECT_EQ(codes.troubleCodeDef("P1000", 0), "Isuzu readiness");
}

TEST_F(DescriptionStoresTest, BmwCodesByChassisAndModule) {
    const std::string vin = "WBA3A5C50DF123456";
    EXPECT_EQ(codes.bmwTroubleCodeDef("2A82", "BMW3A5CDME", vin), "Camshaft control");
    EXPECT_TRUE(codes.hasTable("BMW3A5CDME"));
    EXPECT_FALSE(codes.loadCustomBMWDefinitions("3A5C"));
    EXPECT_EQ(codes.bmwTroubleCodeDef("P0300", "BMW3A5CDME", vin), "Random misfire");
    EXPECT_EQ(codes.bmwTroubleCodeDef("2A82", "BMW3A5CDME", vin.substr(0, 16)), "BMW make text");
    EXPECT_EQ(codes.bmwTroubleCodeDef("2A82", "DME", vin), "BMW make text");
}

TEST_F(DescriptionStoresTest, MissingFileGivesEmptyTables) {
    std::filesystem::remove_all(resources.path() / "troublecodes");
    EXPECT_EQ(codes.troubleCodeDef("P0300", 1), "No description available");
    EXPECT_TRUE(codes.hasTable("sae"));
    EXPECT_TRUE(codes.hasTable("GM"));
    // A chassis the BMW file lacks is searched for again on every request.
    EXPECT_TRUE(codes.loadCustomBMWDefinitions("ZZZZ"));
    EXPECT_TRUE(codes.loadCustomBMWDefinitions("ZZZZ"));
    std::filesystem::remove(resources.path() / "enhanceddiag/bmw-modules.xml");
    EXPECT_FALSE(codes.loadCustomBMWDefinitions("ZZZZ"));
}

// A lookup from one thread and another from a second thread while the tables load; the BMW and
// Subaru paths load further tables from inside a load.
TEST_F(DescriptionStoresTest, LookupsFromSeveralThreads) {
    auto subaru = std::make_shared<QZESubaruCodeStore>();
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                if (codes.troubleCodeDef("P0300-1A", 1 + (i + t) % 13) !=
                    "Random misfire: Circuit resistance below threshold")
                    ++wrong;
                if (codes.bmwTroubleCodeDef("2A82", "BMW3A5CDME", "WBA3A5C50DF123456") !=
                    "Camshaft control")
                    ++wrong;
                subaru->addDetailCode(std::to_string(t * 100 + i), "P0420");
                if (subaru->getDescriptionForDetailCode(std::to_string(t * 100 + i)) !=
                    "Catalyst efficiency below threshold")
                    ++wrong;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(wrong, 0);
}

TEST_F(DescriptionStoresTest, VagStoresFindEntriesByListedValues) {
    QZEVagTroubleCodeStore store;
    store.addDfcc("1234,5678", "P0300", "Misfire");
    store.addDfcc(std::nullopt, "P0301,P0302", std::nullopt);
    store.addDfcc("5678", "P0303", "Later entry");
    EXPECT_EQ(store.getJ2012ForDfcc("1234"), "P0300");
    EXPECT_EQ(store.getJ2012ForDfcc("5678"), "P0303");
    EXPECT_FALSE(store.getJ2012ForDfcc("567"));
    EXPECT_FALSE(store.getJ2012ForDfcc(std::nullopt));
    EXPECT_EQ(store.getDefinitionForDfcc("1234"), "Misfire");
    EXPECT_EQ(store.getDfccForJ2012("P0302"), "");
    EXPECT_EQ(store.getDefinitionForJ20120("P0301"), "");
    EXPECT_EQ(store.getDfccForJ2012("P0300"), "1234,5678");
    EXPECT_FALSE(store.getDefinitionForJ20120("P03"));

    writeResource("enhanceddiag/vag-modules-tcs.xml", R"(<vag>
      <global>
        <can><module Acronym="E" UDSReqId="7E0">
          <tc><c v="4660">P0300</c><d>Module entry</d></tc></module></can>
        <tc><c v="9999,16">P0100</c><d>Mass air flow</d></tc>
        <tc><c>P0101</c><d>Range &amp; performance</d></tc>
        <tc><c v="1">P0102</c></tc>
      </global>
      <tc><c v="7">P0200</c><d>Outside</d></tc>
    </vag>)");
    QZEVagGlobalTroubleCodeStore global;
    EXPECT_FALSE(global.lazyLoaded());
    EXPECT_EQ(global.getDefinitionForDfcc("16"), "Mass air flow");
    EXPECT_EQ(global.getDefinitionForJ20120("P0101"), "Range & performance");
    EXPECT_EQ(global.getDfccForJ2012("P0101"), "");
    EXPECT_EQ(global.getJ2012ForDfcc("4660"), "P0300");
    EXPECT_FALSE(global.getJ2012ForDfcc("1"));
    EXPECT_FALSE(global.getJ2012ForDfcc("7"));
    EXPECT_EQ(global.count(), 3u);

    std::filesystem::remove(resources.path() / "enhanceddiag/vag-modules-tcs.xml");
    QZEVagGlobalTroubleCodeStore missing;
    EXPECT_FALSE(missing.getJ2012ForDfcc("16"));
    EXPECT_TRUE(missing.lazyLoaded());
    writeResource("enhanceddiag/vag-modules-tcs.xml",
                  "<vag><global><tc><c v=\"16\">P0100</c><d>x</d></tc></global></vag>");
    EXPECT_FALSE(missing.getJ2012ForDfcc("16"));  // read once, even after a failure
}

}  // namespace
}  // namespace qz
