#include <gtest/gtest.h>

#include "engine/definitions/DefinitionsTestSupport.hpp"
#include "lib/Definitions/QZEMercedesJsonParser.hpp"

namespace qz {
namespace {

using namespace definitionstest;
using Strings = std::vector<std::string>;

// Characters 4, 5 and 10 form the chassis key "204" + year character.
std::string mercedesVin(char yearCharacter) {
    return std::string("WDD20") + "4123" + yearCharacter + "1234567";
}

class MercedesTest : public DefinitionsTest {
  protected:
    void SetUp() override {
        DefinitionsTest::SetUp();
        writeResource("enhanceddiag/mercedes/chassis.json",
                      R"({"208": {"chassis": "204"}, "209": {"chassis": "204"},
                          "20C": {"code": "204"}, "20D": "204"})");
        writeResource("enhanceddiag/mercedes/years/2005/204.json", R"([
            ["ME97*1", "Engine", "UDS_CAN_B", "ENGINE", "ENGINE"],
            ["ME97B", "", "UDS_HS", "ENGINE", "ENGINE"],
            ["EGS52", "Transmission", "KWFB", "TRANSMISSION", "TRANSMISSION AND DRIVETRAIN"],
            ["SAM", "Signal module", "KW2000", "ELECTRICAL", "LIGHTS"],
            ["IC", "Cluster", "UDS", "ELECTRICAL", "DRIVE INFORMATION AND CONTROL"],
            ["KOMBI", "Cluster", "UDS", "ELECTRICAL", 7],
            ["SHORT", "x", "UDS"],
            "not an entry",
            ["MISSING", "No file", "UDS", "ENGINE", "ENGINE"]])");
        writeResource("enhanceddiag/mercedes/ecus/ME97.json", R"({
            "PROTOCOL": ["MBISO", "UDS_CAN_B"],
            "parameters": {"CP_CanPhysReqId": "$07E0", "CP_CanRespUSDTId": "$07E8"},
            "variants": [{"ME97_1": [{"DIAGVERSION": "$01$02", "DBNUMBER": "7", "X": "no"}]},
                         {"ME97_2": [{"DBNUMBER": "8"}, "skip"]}]})");
        writeResource("enhanceddiag/mercedes/ecus/ME97_dtcs.json",
                      R"({"ME97": {"P0300": "Random misfire"}})");
        writeResource("enhanceddiag/mercedes/ecus/ME97B.json", R"({"parameters": {
            "PROTOCOL": ["UDS_HS"],
            "parameters": {"UDS.CPREQUESTCANIDENTIFIER": "$7E0",
                           "UDS.CPRESPONSECANIDENTIFIER": "$7E8"}}})");
        writeResource("enhanceddiag/mercedes/ecus/EGS52.json", R"({
            "PROTOCOL": ["UDS_CAN_B", "KWFB"],
            "parameters": {"CP_CanPhysReqId": "$07E1",
                           "KWFB.CPREQTARGETBYTE": "$20", "KWFB.CPRESPSOURCEBYTE": "$21"}})");
        writeResource("enhanceddiag/mercedes/ecus/SAM.json", R"({
            "PROTOCOL": ["MBISO", "ABC", 5, "KW2000"],
            "parameters": {"KW2000PE.CPREQTARGETBYTE": "2016"}})");
        writeResource("enhanceddiag/mercedes/ecus/IC.json",
                      R"({"PROTOCOL": ["UDS"], "parameters": {}})");
        writeResource("enhanceddiag/mercedes/kline_modules.json", R"({"modules": {"chassis": [
            {"code": "203", "module": [{"Acronym": "EGS52"}]},
            {"code": "204", "module": [
                {"Acronym": "SAM*1", "Description": "Signal module", "Light": "ELECTRICAL",
                 "ModuleCategory": "LIGHTS", "Common": "0"},
                {"Acronym": "EGS52", "Description": "Gearbox"},
                {"Acronym": 12}]}]}})");
    }

    std::vector<QZEModuleDataPtr> parse(char yearCharacter, int64_t bus, bool quick = false) {
        std::vector<QZEModuleDataPtr> modules;
        QZEMercedesJsonParser parser(mercedesVin(yearCharacter), quick, bus, modules);
        parser.parse();
        return modules;
    }
};

TEST_F(MercedesTest, CanListFallsBackToEarlierYearsAndFoldsSharedAddresses) {
    auto modules = parse('8', 1);
    EXPECT_EQ(logger->count("E:MERCEDES: No ECU list file found for chassis code 204 between "
                            "years 2008 and 2008"),
              1u);
    EXPECT_EQ(logger->countStartingWith("E:MERCEDES: No ECU list file found"), 3u);
    EXPECT_TRUE(logger->has("I:Mercedes CChassis Code: 204  year: 2008"));

    ASSERT_EQ(acronyms(modules), (Strings{"EGS52", "SAM", "$7E0"}));
    const auto& egs = *modules[0];
    EXPECT_EQ(egs.requestId(), "$20");
    EXPECT_EQ(egs.responseId(), "$21");
    EXPECT_TRUE(egs.common());  // the CAN mark of "UDS_CAN_B" stays set
    EXPECT_EQ(egs.extra("PROTOCOL"), QZEValue("KWFB"));
    EXPECT_EQ(egs.busType(), "1");
    EXPECT_EQ(egs.category(), "TRANSMISSION AND DRIVETRAIN");
    EXPECT_TRUE(textTable(egs.extra("dtcsDict")).empty());

    const auto& sam = *modules[1];
    EXPECT_EQ(sam.requestId(), "2016");
    EXPECT_EQ(sam.responseId(), "2016");
    EXPECT_FALSE(sam.common());
    EXPECT_EQ(sam.extra("PROTOCOL"), QZEValue("KW2000"));
    EXPECT_TRUE(logger->has("W:MERCDES: Unsupported protocol: MBISO in module SAM"));
    EXPECT_TRUE(logger->has("W:MERCDES: Unknown protocol: ABC in module SAM"));
    EXPECT_TRUE(logger->has("I:MERCDES: KLINE protocol: KW2000 in module SAM"));

    const auto& merged = *modules[2];
    EXPECT_EQ(merged.description(), "Generic Address Module");
    EXPECT_EQ(merged.requestId(), "$7E0");
    EXPECT_EQ(merged.responseId(), "$7E8");
    EXPECT_TRUE(merged.common());
    EXPECT_EQ(merged.extra("PROTOCOL"), QZEValue("UDS_CAN"));
    auto variants = merged.extra("MBVARIANTS").list();
    ASSERT_TRUE(variants);
    ASSERT_EQ(variants->size(), 2u);
    auto me97 = (*variants)[0].object<QZEModuleData>();
    auto me97b = (*variants)[1].object<QZEModuleData>();
    ASSERT_TRUE(me97 && me97b);
    EXPECT_EQ(me97->accronym(), "ME97");
    EXPECT_EQ(me97->description(), "Engine");
    EXPECT_EQ(me97->extra("MBDIAGKEYS"), QZEValue("0102,7,8,"));
    EXPECT_EQ(textTable(me97->extra("dtcsDict")),
              (std::map<std::string, std::string>{{"P0300", "Random misfire"}}));
    EXPECT_EQ(me97b->description(), "ME97B");
    EXPECT_EQ(me97b->extra("MBDIAGKEYS"), QZEValue(""));
    EXPECT_TRUE(logger->has("I:MERCDES: UDS protocol: UDS_CAN_B in module ME97, from PDX: YES"));
    EXPECT_TRUE(logger->has("I:MERCDES: UDS protocol: UDS_HS in module ME97B, from PDX: NO"));

    // "IC" has no identifiers, "MISSING" no file; entries of the wrong shape are skipped.
    EXPECT_TRUE(logger->has("I:MERCEDES: Module: IC"));
    EXPECT_FALSE(logger->has("I:MERCEDES: Module: KOMBI"));
    EXPECT_TRUE(logger->has("W:MERCEDES: File path not found for module MISSING"));
    EXPECT_TRUE(logger->has("W:MERCEDES: No module for: MISSING"));

    // Quick scan: only the CAN entries; the K-line ECU is listed by its entry's protocol text.
    EXPECT_EQ(acronyms(parse('8', 1, true)), (Strings{"EGS52", "$7E0"}));
}

TEST_F(MercedesTest, YearFileThatDoesNotReadIsPassedOver) {
    writeResource("enhanceddiag/mercedes/years/2007/204.json", "[[\"ME97\", broken");
    std::filesystem::create_directories(resources.path() / "enhanceddiag/mercedes/years/2006");
    writeText(resources.path() / "enhanceddiag/mercedes/years/2006/204.json", "not encrypted");
    writeResource("enhanceddiag/mercedes/years/2009/204.json", R"({"an": "object"})");
    auto modules = parse('9', 1);
    EXPECT_EQ(logger->countStartingWith("E:JSON Error: "), 2u);
    EXPECT_EQ(logger->countStartingWith("E:MERCEDES: No ECU list file found"), 1u);
    EXPECT_EQ(modules.size(), 3u);  // from 2005
}

TEST_F(MercedesTest, ChassisAndYearEdges) {
    std::vector<QZEModuleDataPtr> modules;
    QZEMercedesJsonParser parser(std::nullopt, false, 1, modules);
    std::filesystem::remove(resources.path() / "enhanceddiag/mercedes/chassis.json");
    EXPECT_EQ(parser.chassisFromVin("WDD20412381234567"), "000");
    EXPECT_EQ(logger->count("W:MERCEDES: Info NOT @found for Chassis code : 000"), 1u);
    logger->clear();
    EXPECT_EQ(parser.chassisFromVin("WDD2041238123456"), "000");  // 16 characters: no read
    EXPECT_TRUE(logger->lines().empty());

    SetUp();
    EXPECT_EQ(parser.chassisFromVin(mercedesVin('8')), "204");
    EXPECT_EQ(parser.chassisFromVin(mercedesVin('C')), "000");
    EXPECT_EQ(parser.chassisFromVin(mercedesVin('D')), "000");
    EXPECT_EQ(parser.chassisFromVin(mercedesVin('7')), "000");
    logger->clear();
    EXPECT_TRUE(parser.loadChassisCodeEcus("204", 2002).empty());
    EXPECT_TRUE(logger->lines().empty());
    EXPECT_FALSE(parser.parse(mercedesVin('C')));

    // A name from the definitions never leads out of its folder.
    EXPECT_FALSE(parser.loadModule("../ecus/ME97", "", "ENGINE", "ENGINE"));
    EXPECT_TRUE(parser.loadModule("ME97", "", "ENGINE", "ENGINE"));

    const std::vector<std::pair<std::string, std::string>> ids = {
        {"2016", "7E0"}, {"5", "05"},    {"$07E0", "07E0"}, {"$$7E0", "7E0"}, {"abc", "00"},
        {"", "00"},      {"12.7", "0C"}, {"1e300", "00"},   {"nan", "00"}};
    for (const auto& [id, hex] : ids)
        EXPECT_EQ(QZEMercedesJsonParser::convertRequestIdToStandardHex(id), hex) << id;
}

TEST_F(MercedesTest, KLineListByChassis) {
    auto modules = parse('8', 4);
    ASSERT_EQ(acronyms(modules), (Strings{"SAM", "EGS52"}));
    EXPECT_TRUE(modules[0]->common());  // "Common" present, whatever its value
    EXPECT_EQ(modules[0]->light(), "ELECTRICAL");
    EXPECT_EQ(modules[0]->busType(), "4");
    EXPECT_FALSE(modules[1]->common());
    EXPECT_EQ(modules[1]->description(), "Gearbox");
    EXPECT_EQ(acronyms(parse('8', 4, true)), (Strings{"SAM"}));

    std::vector<QZEModuleDataPtr> none;
    QZEMercedesJsonParser parser(mercedesVin('8'), false, 4, none);
    EXPECT_TRUE(parser.isVinSupported(mercedesVin('8')));  // K-line list (protocol 6)
    settings->protocol = 1;
    EXPECT_TRUE(parser.isVinSupported(mercedesVin('8')));
    EXPECT_FALSE(parser.isVinSupported(mercedesVin('3')));  // no year list back to 2003
    EXPECT_FALSE(parser.isVinSupported(mercedesVin('C')));
}

}  // namespace
}  // namespace qz
