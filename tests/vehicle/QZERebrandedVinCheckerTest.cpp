#include <gtest/gtest.h>

#include "VehicleTestSupport.hpp"
#include "lib/Content/DefinitionFile.hpp"
#include "lib/Logging/LoggerInterface.hpp"
#include "lib/Logging/QZELogging.hpp"
#include "lib/XMLParsers/QZERebrandedVinChecker.hpp"
#include "lib/XMLParsers/QZERebrandedVinXmlParser.hpp"

namespace qz {
namespace {

using namespace vehicletest;

// VINs whose squish forms are listed below: positions 1-8 and 10-11.
const std::string kRenaultVin = "5Z6AD0ET0AC100001";       // squish 5Z6AD0ETAC
const std::string kUnknownParentVin = "SAJEA51C02X00001";  // 16 characters, squish SAJEA51C2X
const std::string kSuzukiVin = "JS2YB413X75100921";        // squish JS2YB41375
const std::string kTwiceVin = "1Y1SK5289YZ400001";         // squish 1Y1SK528YZ

const char* kList = R"(<?xml version="1.0"?>
<rebranded>
  <brand name="Equator" parent="Renault" squishvins="5Z6AD0ET9C,5Z6AD0ETAC"/>
  <brand name="X-Type" parent="Ford" squishvins="SAJEA51C2X"/>
  <group><brand name="SX4" parent="Suzuki" squishvins="JS2YB41375"/></group>
  <brand name="Prizm" parent="Suzuki" squishvins="1Y1SK528YZ"/>
  <brand name="Prizm" parent="Toyota" squishvins="1Y1SK528YZ"/>
  <brand name="Prizm again" parent="GM" squishvins="1Y1SK528YZ"/>
  <brand name="Spaces" parent="GM" squishvins="AAAAAAAABB, CCCCCCCCDD"/>
  <brand name="Lower" parent="gm" squishvins="EEEEEEEEFF"/>
  <brand name="No parent" squishvins="GGGGGGGGHH"/>
  <other parent="GM" squishvins="IIIIIIIIJJ"/>
</rebranded>
)";

class RebrandedVinCheckerTest : public testing::Test {
  protected:
    void SetUp() override {
        writeDefinitionFile(dir / "list.xml", kList);
        lines = std::make_shared<ErrorLines>();
        previous = QZELogging::shared().adapter();
        QZELogging::shared().registerLoggerInterface(lines);
    }
    void TearDown() override { QZELogging::shared().registerLoggerInterface(previous); }

    TempDir dir;
    std::shared_ptr<ErrorLines> lines;
    std::shared_ptr<LoggerInterface> previous;
};

TEST_F(RebrandedVinCheckerTest, AnswersByParent) {
    QZERebrandedVinChecker checker(dir / "list.xml");
    EXPECT_EQ(checker.checkVinForMake(kRenaultVin), 6);
    EXPECT_TRUE(checker.matched());

    EXPECT_EQ(checker.checkVinForMake(kUnknownParentVin), 0);
    EXPECT_FALSE(checker.matched());  // reset by the new check

    EXPECT_EQ(checker.checkVinForMake(kSuzukiVin), 0);
    EXPECT_TRUE(checker.matched());

    // Suzuki matches with 0, so a later brand may still answer; the first nonzero one wins.
    EXPECT_EQ(checker.checkVinForMake(kTwiceVin), 4);
    EXPECT_TRUE(checker.matched());

    EXPECT_EQ(checker.checkVinForMake(std::string("WBA3A5C51CF256985")), 0);
    EXPECT_FALSE(checker.matched());
    EXPECT_TRUE(lines->errors.empty());
}

TEST_F(RebrandedVinCheckerTest, NinthCharacterAndSerialDoNotMatter) {
    QZERebrandedVinChecker checker(dir / "list.xml");
    for (std::string vin : {"5Z6AD0ETXAC999999", "5Z6AD0ET1ACZZ", "5Z6AD0ET0AC"}) {
        EXPECT_EQ(checker.checkVinForMake(vin), 6) << vin;
        EXPECT_TRUE(checker.matched());
    }
}

TEST_F(RebrandedVinCheckerTest, ListItemsAndNamesCompareExactly) {
    QZERebrandedVinChecker checker(dir / "list.xml");
    EXPECT_EQ(checker.checkVinForMake(std::string("CCCCCCCC0DD00001")), 0);  // " CCCCCCCCDD"
    EXPECT_FALSE(checker.matched());
    EXPECT_EQ(checker.checkVinForMake(std::string("AAAAAAAA0BB00001")), 1);
    EXPECT_EQ(checker.checkVinForMake(std::string("EEEEEEEE0FF00001")), 0);  // parent "gm"
    EXPECT_FALSE(checker.matched());
    EXPECT_EQ(checker.checkVinForMake(std::string("GGGGGGGG0HH00001")), 0);
    EXPECT_FALSE(checker.matched());
    EXPECT_EQ(checker.checkVinForMake(std::string("IIIIIIII0JJ00001")), 0);  // not a brand
    EXPECT_FALSE(checker.matched());
}

TEST_F(RebrandedVinCheckerTest, ShortOrMissingVinDoesNotReadTheFile) {
    QZERebrandedVinChecker checker(dir / "list.xml");
    ASSERT_EQ(checker.checkVinForMake(kRenaultVin), 6);
    // Remove the file: a short VIN must answer before any read.
    std::filesystem::remove(dir / "list.xml");
    EXPECT_EQ(checker.checkVinForMake(std::string("5Z6AD0ET0A")), 0);
    EXPECT_FALSE(checker.matched());
    ASSERT_EQ(checker.checkVinForMake(std::nullopt), 0);
    EXPECT_FALSE(checker.matched());
    EXPECT_TRUE(lines->errors.empty());
}

TEST_F(RebrandedVinCheckerTest, UnreadableOrUndecryptableFileAnswersNoMatch) {
    QZERebrandedVinChecker missing(dir / "none.xml");
    EXPECT_EQ(missing.checkVinForMake(kRenaultVin), 0);
    EXPECT_FALSE(missing.matched());

    writeText(dir / "plain.xml", kList);  // not encrypted
    QZERebrandedVinChecker plain(dir / "plain.xml");
    testing::internal::CaptureStderr();
    EXPECT_EQ(plain.checkVinForMake(kRenaultVin), 0);
    testing::internal::GetCapturedStderr();
    EXPECT_FALSE(plain.matched());
}

TEST_F(RebrandedVinCheckerTest, MalformedDocumentKeepsEarlierMatch) {
    writeDefinitionFile(dir / "broken.xml",
                        "<r><brand parent=\"Renault\" squishvins=\"5Z6AD0ETAC\"/><oops></r>");
    QZERebrandedVinChecker checker(dir / "broken.xml");
    EXPECT_EQ(checker.checkVinForMake(kRenaultVin), 6);
    EXPECT_TRUE(checker.matched());
}

TEST_F(RebrandedVinCheckerTest, NoFileNameLogsOnEveryCheck) {
    QZERebrandedVinChecker checker(std::nullopt);
    EXPECT_EQ(checker.checkVinForMake(kRenaultVin), 0);
    EXPECT_EQ(checker.checkVinForMake(kRenaultVin), 0);
    EXPECT_FALSE(checker.matched());
    EXPECT_EQ(lines->errors,
              (std::vector<std::string>(2, "Error, no filename provided for cross listed vins")));
}

TEST(RebrandedVinXmlParserTest, SquishVinAndParentTable) {
    EXPECT_EQ(QZERebrandedVinXmlParser::squishVinFor(std::string("WZ1DB4C05LW021234")),
              "WZ1DB4C0LW");
    EXPECT_EQ(QZERebrandedVinXmlParser::squishVinFor(std::string("WZ1DB4C05L")), std::nullopt);
    EXPECT_EQ(QZERebrandedVinXmlParser::squishVinFor(std::nullopt), std::nullopt);
    const std::pair<const char*, int64_t> known[] = {
        {"Chrysler", 2},    {"Daimler", 9}, {"GM", 1},         {"Mazda", 11},
        {"Mitsubishi", 12}, {"Renault", 6}, {"Subaru", 13},    {"Toyota", 4},
        {"BMW", 5},         {"VAG", 8},     {"VOLKSWAGEN", 8}, {"Suzuki", 0}};
    for (const auto& [name, code] : known) {
        EXPECT_EQ(QZERebrandedVinXmlParser::makeCodeForParent(name), code) << name;
    }
    for (const char* name : {"Ford", "Honda", "Hyundai", "JLR", "gm", ""}) {
        EXPECT_EQ(QZERebrandedVinXmlParser::makeCodeForParent(name), std::nullopt) << name;
    }
}

// The list that ships with the library, as the build encrypted it.
TEST(ShippedRebrandedVinListTest, AnswersForKnownRebadgedVehicles) {
    const auto path = std::filesystem::path(QZ_BINARY_DIR) / "resources" /
                      DefinitionFile::kEnhancedDiagDirectory / "Rebranded-VINs.xml";
    ASSERT_TRUE(std::filesystem::exists(path));
    QZERebrandedVinChecker checker(path);
    struct Case {
        const char* vin;
        int64_t make;
        bool matched;
    };
    const Case cases[] = {
        {"WZ1DB4C05LW021234", 5, true},   // Toyota GR Supra: BMW
        {"5Z6AD0ET3AC412345", 6, true},   // Suzuki Equator: Nissan
        {"JS2YB413X7M100921", 0, true},   // Suzuki SX4: Suzuki
        {"2V4RW3D17AR512345", 2, true},   // Volkswagen Routan: Chrysler
        {"JF1ZNAA18D8712345", 13, true},  // Scion FR-S: Subaru
        {"3MYDLBYVXHY123456", 11, true},  // Toyota Yaris iA: Mazda
        {"WP1AB29P09LA12345", 0, false},  // not listed
        {"4F2YU08171KM12345", 0, false},  // Mazda Tribute: Ford group, no enhanced match
    };
    for (const auto& c : cases) {
        EXPECT_EQ(checker.checkVinForMake(std::string(c.vin)), c.make) << c.vin;
        EXPECT_EQ(checker.matched(), c.matched) << c.vin;
    }
}

}  // namespace
}  // namespace qz
