#include <gtest/gtest.h>

#include "engine/definitions/DefinitionsTestSupport.hpp"
#include "lib/Decoders/QZEBitEncodedAddress.hpp"
#include "lib/Definitions/QZEBMWTroubleCodeParser.hpp"
#include "lib/Definitions/QZEBasicXMLParserDelegate.hpp"
#include "lib/Definitions/QZEStupidXMLParser.hpp"
#include "lib/Definitions/QZEVagXMLParserDelegate.hpp"
#include "lib/Descriptions/QZESubaruCodeStore.hpp"
#include "lib/Descriptions/QZEVagTroubleCodeStore.hpp"

namespace qz {
namespace {

using namespace definitionstest;
using Strings = std::vector<std::string>;

// VIN characters 4-6 are "XYZ", 4-7 "XYZ1".
const std::string kVin = "JT2XYZ1234A567890";

std::vector<QZEModuleDataPtr> readBasic(int64_t make, int64_t bus, const std::string& xml,
                                        bool quick = false, std::optional<std::string> vin = kVin) {
    std::vector<QZEModuleDataPtr> modules;
    QZEBasicXMLParserDelegate reader(make, bus, quick, std::move(vin), modules);
    parseWith(reader, xml);
    return modules;
}

const char* kModuleList = R"(<modules>
  <module Acronym="ECM" Description="Engine" Request_ID="7E0" Response_ID="7E8" Common="1"
          Light="ENGINE" ModuleCategory="ENGINE" protocol="6" pins="6E">
    <tc c="P1000" d="Readiness not complete" j2012="P1000"/>
    <tc c="P1001"/>
    <tc><c>P1101</c>
      <d>Mass air flow &amp; intake</d></tc>
  </module>
  <module Acronym="ABS" Description="Brakes" Request_ID="28" Light="ABS"
          ModuleCategory="ABS AND BRAKES" baud_hex="0A">
    <address byte="1A" status="STORED">
      <bit bitNum="0" c="C1200" Description="Left front sensor"/>
      <bit bitNum="9" c="C1201" Description="Not a bit"/>
      <model values="ABC,XYZ"><bit bitNum="1" c="C1210" Description="Model" j2012="C0035"/></model>
      <model values="QQQ"><bit bitNum="2" c="C1220" Description="Other model"/></model>
      <bit bitNum="3" Description="No id" j2012="C0040"/>
    </address>
    <address byte="1A3"><bit bitNum="7" c="B1000" Description="Wide byte"/></address>
  </module>
  <module Description="Incomplete"><tc c="P2000" d="Left over"/></module>
</modules>)";

TEST_F(DefinitionsTest, BasicReaderReadsModulesCodesAndBitTables) {
    auto modules = readBasic(3, 1, kModuleList);
    ASSERT_EQ(acronyms(modules), (Strings{"ECM", "ABS", "(null)"}));

    const auto& ecm = *modules[0];
    EXPECT_EQ(ecm.description(), "Engine");
    EXPECT_EQ(ecm.requestId(), "7E0");
    EXPECT_EQ(ecm.responseId(), "7E8");
    EXPECT_EQ(ecm.busType(), "1");
    EXPECT_EQ(ecm.requestType(), 1);
    EXPECT_TRUE(ecm.common());
    EXPECT_EQ(ecm.light(), "ENGINE");
    EXPECT_EQ(ecm.category(), "ENGINE");
    EXPECT_EQ(ecm.extra("protocol"), QZEValue("6"));
    EXPECT_EQ(ecm.extra("pins"), QZEValue("6E"));
    EXPECT_TRUE(ecm.extra("Acronym").isNull());
    EXPECT_TRUE(ecm.extra("*GM_LAN").isNull());
    // Attribute and child forms; a text split by an entity is read whole.
    EXPECT_EQ(textTable(ecm.extra("dtcsDict")),
              (std::map<std::string, std::string>{{"P1000", "Readiness not complete"},
                                                  {"P1101", "Mass air flow & intake"}}));
    EXPECT_EQ(textTable(ecm.extra("dtcJ2012EncodedDict")),
              (std::map<std::string, std::string>{{"P1000", "P1000"}}));
    EXPECT_TRUE(ecm.extra("dtcBitEncodedDitct").isNull());

    const auto& abs = *modules[1];
    EXPECT_FALSE(abs.common());
    auto table = abs.extra("dtcBitEncodedDitct").object<QZEBitEncodedAddress>();
    ASSERT_TRUE(table);
    EXPECT_EQ(table->infoForBit(0, 0x1A), (Strings{"C1200", "Left front sensor", "STORED"}));
    EXPECT_EQ(table->infoForBit(1, 0x1A), (Strings{"C1210", "Model", "STORED"}));
    EXPECT_EQ(table->infoForBit(2, 0x1A), (Strings{"", "", ""}));  // other model: ignored
    // A bit without a code is still set; its J2012 value has no key and is left out.
    EXPECT_EQ(table->infoForBit(3, 0x1A), (Strings{"", "No id", "STORED"}));
    EXPECT_EQ(table->infoForBit(7, 0x1A3), (Strings{"B1000", "Wide byte"}));
    EXPECT_EQ(table->addresses(), (std::vector<uint64_t>{0x1A, 0x1A3}));
    EXPECT_EQ(textTable(abs.extra("dtcJ2012EncodedDict")),
              (std::map<std::string, std::string>{{"C1210", "C0035"}}));
    EXPECT_TRUE(logger->has("V:Correct model found for module ABS"));

    // A module without its required attributes has no fields and none of the previous
    // module's extras.
    const auto& incomplete = *modules[2];
    EXPECT_FALSE(incomplete.description());
    EXPECT_FALSE(incomplete.requestId());
    ASSERT_TRUE(incomplete.extras());
    EXPECT_EQ(incomplete.extras()->size(), 1u);
    EXPECT_EQ(textTable(incomplete.extra("dtcsDict")),
              (std::map<std::string, std::string>{{"P2000", "Left over"}}));

    EXPECT_TRUE(logger->has("V:Found module with description: Engine and requestID: 7E0 on bus 1"));
    EXPECT_TRUE(logger->has("V:Adding module from XML: Brakes with reqID: 28"));
    EXPECT_TRUE(logger->has("V:Adding module from XML: (null) with reqID: (null)"));

    EXPECT_EQ(acronyms(readBasic(3, 1, kModuleList, true)), (Strings{"ECM"}));
    EXPECT_EQ(readBasic(1, 58, kModuleList)[0]->extra("*GM_LAN"), QZEValue("1"));
}

TEST_F(DefinitionsTest, ModelGateOnAShortVinMatchesNothing) {
    for (std::optional<std::string> vin :
         {std::optional<std::string>("JT2XY"), std::optional<std::string>()}) {
        auto modules = readBasic(3, 1, kModuleList, false, vin);
        auto table = modules[1]->extra("dtcBitEncodedDitct").object<QZEBitEncodedAddress>();
        EXPECT_EQ(table->infoForBit(1, 0x1A), (Strings{"", "", ""}));
        EXPECT_EQ(table->infoForBit(0, 0x1A).value().at(0), "C1200");
    }
}

TEST_F(DefinitionsTest, ChryslerListsTwentyNineBitModulesOnlyOnTheirBuses) {
    const char* xml = R"(<m>
      <module Acronym="PCM" Description="Engine" Request_ID="7E0"/>
      <module Acronym="BCM" Description="Body" Request_ID="18DA40F1" bus29bit="1"/>
    </m>)";
    const std::vector<std::pair<int64_t, Strings>> cases = {
        {1, {"PCM"}}, {3, {"PCM"}}, {7, {"BCM"}}, {9, {"BCM"}}, {10, {"BCM"}}, {11, {"BCM"}}};
    for (const auto& [bus, expected] : cases) {
        EXPECT_EQ(acronyms(readBasic(2, bus, xml)), expected) << bus;
        EXPECT_EQ(acronyms(readBasic(1, bus, xml)), (Strings{"PCM", "BCM"})) << bus;
    }
}

const char* kBmwFile = R"(<bmw>
  <chassis code="E90" vins="PH5C,PH7C">
    <module Acronym="DME" Description="Engine E90" Request_ID="12"/>
  </chassis>
  <chassis code="F30" vins="3A5C,3B5C">
    <module Acronym="DME" Description="Engine" Request_ID="12" Response_ID="F1">
      <tc><c>2A82</c><d>Camshaft control</d></tc>
    </module>
    <module Acronym="EGS" Description="Transmission" Request_ID="18">
      <tc><c>4F20</c><d>Gear monitoring</d></tc>
      <tc><c>4F21</c></tc>
    </module>
  </chassis>
  <chassis code="G20" vins="3A5C">
    <module Acronym="KOMBI" Description="Cluster" Request_ID="60">
      <tc><c>A0B0</c><d>Display fault</d></tc>
    </module>
  </chassis>
</bmw>)";
const std::string kBmwVin = "WBA3A5C50DF123456";

TEST_F(DefinitionsTest, BmwModuleListIsReadOnlyInsideTheVinsChassis) {
    auto modules = readBasic(5, 1, kBmwFile, false, kBmwVin);
    EXPECT_EQ(acronyms(modules), (Strings{"BMW3A5CDME", "BMW3A5CEGS"}));
    EXPECT_EQ(modules[0]->description(), "Engine");
    EXPECT_EQ(textTable(modules[1]->extra("dtcsDict")),
              (std::map<std::string, std::string>{{"4F20", "Gear monitoring"}}));
    EXPECT_TRUE(logger->has("V:BMW: found chassis E90"));
    EXPECT_TRUE(logger->has("V:BMW: found match, loading modules"));
    EXPECT_TRUE(logger->has("V:BMW: Chassis ended, aborting parsing."));
    EXPECT_FALSE(logger->has("V:BMW: found chassis G20"));

    logger->clear();
    EXPECT_TRUE(readBasic(5, 1, kBmwFile, false, "WBA3A5C50DF12345").empty());
    EXPECT_GT(logger->count("V:Invalid VIN for decoding BMW"), 3u);
}

TEST_F(DefinitionsTest, BmwCodeParserReadsEveryMatchingChassis) {
    std::unordered_map<std::string, QZECodeTable> tables;
    QZEBMWTroubleCodeParser parser("3A5C", tables);
    EXPECT_TRUE(parser.parseDocumentWithFile(bytes(kBmwFile)));
    EXPECT_EQ(tables.size(), 3u);
    EXPECT_EQ(tables["BMW3A5CDME"], (QZECodeTable{{"2A82", "Camshaft control"}}));
    EXPECT_EQ(tables["BMW3A5CEGS"], (QZECodeTable{{"4F20", "Gear monitoring"}}));
    EXPECT_EQ(tables["BMW3A5CKOMBI"], (QZECodeTable{{"A0B0", "Display fault"}}));
    EXPECT_TRUE(logger->has("V:BMW TC: Adding TC: 2A82:Camshaft control"));
    EXPECT_TRUE(logger->has("D:OK"));

    QZEBMWTroubleCodeParser broken("3A5C", tables);
    EXPECT_FALSE(broken.parseDocumentWithFile(bytes("<bmw><chassis vins=\"3A5C\">")));
    EXPECT_TRUE(logger->has("D:Error parsing BMW XML"));
    EXPECT_EQ(logger->countStartingWith("D:XMLParser error: "), 1u);
}

TEST_F(DefinitionsTest, SubaruCodesGoToTheModulesStore) {
    writeResource("troublecodes/troublecodes.xml",
                  "<t><sae><tc><c>P0420</c><d>Catalyst efficiency</d></tc></sae></t>");
    auto modules = readBasic(13, 1, R"(<m>
      <module Acronym="ECM" Description="Engine" Request_ID="7E0">
        <tc c="P0301" d="Misfire cylinder 1" v="0101"/>
        <tc c="P0420" v="0202"/>
        <tc c="P0420" d="" v="0303"/>
        <tc d="No code" v="0404"/>
        <tc c="P0100" d="No detail code"/>
      </module>
      <module Acronym="TCM" Description="Transmission" Request_ID="7E1"/>
    </m>)");
    ASSERT_EQ(modules.size(), 2u);
    auto store = modules[0]->extra("SUBARU_CODE_STORE").object<QZESubaruCodeStore>();
    ASSERT_TRUE(store);
    EXPECT_TRUE(modules[1]->extra("SUBARU_CODE_STORE").isNull());
    EXPECT_TRUE(textTable(modules[0]->extra("dtcsDict")).empty());

    EXPECT_EQ(store->getDtcForDetailCode("0101"), "P0301");
    EXPECT_EQ(store->getDescriptionForDetailCode("0101"), "Misfire cylinder 1");
    EXPECT_EQ(store->getJ2012ForDetailCode("0202"), "P0420");
    EXPECT_EQ(store->getDescriptionForDetailCode("0202"), "Catalyst efficiency");
    EXPECT_EQ(store->getJ2012ForDetailCode("0303"), "P0420");
    EXPECT_FALSE(store->getDtcForDetailCode("0404"));
    EXPECT_FALSE(store->getDescriptionForDetailCode("0404"));
    EXPECT_FALSE(store->getDtcForDetailCode(""));
}

// Vehicle id of this VIN (characters 1, 4, 7 and 8): "WZ1K".
const std::string kVagVin = "WVWZZZ1KZ8W000001";

const char* kVagFile = R"(<vag>
  <global>
    <can>
      <module Acronym="ENG" Common="1" Description="Engine" UDSReqId="7E0" UDSResId="7E8"
              KReqID="01" TP2="01" CallUp="200" Light="ENGINE" ModuleCategory="ENGINE">
        <tc><c v="1234,5678">P0300</c><d>Random &amp; multiple misfire</d></tc>
        <tc><c>P0301</c><d>Cylinder 1 misfire</d></tc>
      </module>
      <module Acronym="ENG2" Description="Engine again" UDSReqId="7E0" UDSResId="7E8" TP2="01"
              CallUp="200"/>
      <module Acronym="ABS" Description="Brakes" KReqID="03" KResID="" Light="ABS"/>
    </can>
    <kline>
      <module Acronym="AIR" Common="1" Description="Airbag" KReqID="15" KResID="15"/>
    </kline>
    <tc><c v="9999">P0100</c><d>Mass air flow</d></tc>
  </global>
  <pdx vins="WAUZ,WZ1K,NOTSET">
    <module Acronym="GW" Description="Gateway" UDSReqId="710" UDSResId="77A"/>
  </pdx>
</vag>)";

std::vector<QZEModuleDataPtr> readVag(int64_t bus, bool quick = false,
                                      std::optional<std::string> vin = kVagVin) {
    std::vector<QZEModuleDataPtr> modules;
    QZEVagXMLParserDelegate reader(std::move(vin), quick, bus, modules);
    parseWith(reader, kVagFile);
    return modules;
}

TEST_F(DefinitionsTest, VagReaderListsTheBussModules) {
    auto can = readVag(1);
    ASSERT_EQ(acronyms(can), (Strings{"ENG", "ABS", "GW"}));
    const auto& eng = *can[0];
    EXPECT_EQ(eng.requestId(), "7E0");
    EXPECT_EQ(eng.responseId(), "7E8");
    EXPECT_EQ(eng.busType(), "1");
    EXPECT_TRUE(eng.common());
    EXPECT_EQ(eng.light(), "ENGINE");
    EXPECT_EQ(eng.extra("CallUp"), QZEValue("200"));
    EXPECT_TRUE(eng.extra("TP2").isNull());
    EXPECT_TRUE(eng.extra("KReqID").isNull());
    EXPECT_EQ(can[1]->requestId(), "03");
    EXPECT_EQ(can[1]->responseId(), "");
    EXPECT_FALSE(can[1]->extras());
    EXPECT_EQ(can[2]->extra("PDX"), QZEValue("1"));

    auto store = eng.extra("VAG_CODE_STORE").object<QZEVagTroubleCodeStore>();
    ASSERT_TRUE(store);
    EXPECT_EQ(store->getJ2012ForDfcc("5678"), "P0300");
    EXPECT_FALSE(store->getJ2012ForDfcc("567"));
    EXPECT_EQ(store->getDefinitionForJ20120("P0300"), "Random & multiple misfire");
    EXPECT_EQ(store->getDfccForJ2012("P0301"), "");

    auto tp2 = readVag(98);
    ASSERT_EQ(acronyms(tp2), (Strings{"ENG"}));
    EXPECT_EQ(tp2[0]->extra("TP2"), QZEValue("01"));
    EXPECT_EQ(tp2[0]->requestResponseKey(), "7E0:7E8:01200");

    EXPECT_EQ(acronyms(readVag(4)), (Strings{"AIR"}));
    EXPECT_EQ(acronyms(readVag(1, true)), (Strings{"ENG"}));
    // A VIN without a vehicle id matches no "pdx" list.
    EXPECT_EQ(acronyms(readVag(1, false, "WVWZZZ1KZ8W00000")), (Strings{"ENG", "ABS"}));
    EXPECT_EQ(QZEVagXMLParserDelegate::vehicleIdFromVin(kVagVin), "WZ1K");
    EXPECT_EQ(QZEVagXMLParserDelegate::vehicleIdFromVin(std::nullopt), "NOTSET");
}

TEST_F(DefinitionsTest, StupidParserLogsEveryEvent) {
    {
        QZEStupidXMLParser parser;
        EXPECT_TRUE(parseWith(parser, "<a><b>x</b></a>"));
    }
    EXPECT_EQ(logger->lines(), (Strings{"D:parserDidStartDocument", "D:didStartElement --> a",
                                        "D:didStartElement --> b", "D:foundCharacters --> x",
                                        "D:didEndElement   --> b", "D:didEndElement   --> a",
                                        "D:parserDidEndDocument", "D:Dealloc stupid XML parser"}));
}

}  // namespace
}  // namespace qz
