#include <gtest/gtest.h>

#include <set>
#include <string>

#include "api/VIN/VIN.hpp"
#include "lib/Utils/QZEnhancedUtils.hpp"

namespace qz {
namespace {

std::string vinWithYearChar(const std::string& c, char seventh = '5') {
    // 1HGCM8 2 6 3 3 A 004352 with the 7th and 10th characters replaced
    std::string vin = "1HGCM82633A004352";
    vin[6] = seventh;
    return vin.substr(0, 9) + c + vin.substr(10);
}

struct KnownVin {
    const char* vin;
    int year;
    const char* make;
    const char* parent;
};

// Published VINs of vehicles whose model year and make are known.
const KnownVin kKnownVins[] = {
    {"1HGCM82633A004352", 2003, "Honda", "Honda"},              // Honda Accord EX
    {"JH4KA7561PC008269", 1993, "Acura", "Honda"},              // Acura Legend
    {"1G1ZT53826F109149", 2006, "Chevrolet/Geo", "GM"},         // Chevrolet Malibu
    {"WBA3A5C51CF256985", 2012, "BMW", "BMW"},                  // BMW 328i
    {"1FTFW1ET9DFC10312", 2013, "Ford", "Ford"},                // Ford F-150
    {"2T1BURHEXJC043821", 2018, "Toyota", "Toyota"},            // Toyota Corolla
    {"1C4RJFAG0FC625797", 2015, "Chrysler", "Chrysler"},        // Jeep Grand Cherokee (1C4)
    {"KNDJP3A55H7423125", 2017, "Hyundai/Kia", "Hyundai"},      // Kia Soul
    {"JN1AZ4EH7DM430111", 2013, "Nissan/Infiniti", "Renault"},  // Nissan 370Z
    {"WDDGF4HB1CA645329", 2012, "Mercedes-Benz", "Daimler"},    // Mercedes-Benz C250
    {"JM1BL1SF7A1267720", 2010, "Mazda", "Mazda"},              // Mazda3
    {"JF2SJAEC4FH419324", 2015, "Subaru", "Subaru"},            // Subaru Forester
    {"WAUFFAFL1CN014213", 2012, "Audi", "VOLKSWAGEN"},          // Audi A4
    {"3VWDX7AJ8BM355542", 2011, "Volkswagen", "VOLKSWAGEN"},    // Volkswagen Jetta
    {"JA4AD2A3XEZ008326", 2014, "Mitsubishi", "Mitsubishi"},    // Mitsubishi Outlander
    {"KMHDH4AE1CU262813", 2012, "Hyundai", "Hyundai"},          // Hyundai Elantra
    {"1G1JC1241VM100313", 1997, "Chevrolet/Geo", "GM"},         // Chevrolet Cavalier
    {"2HGFE2F50PH512021", 2023, "Honda", "Honda"},              // Honda Civic
    {"2T3P1RFV7RW432211", 2024, "Toyota", "Toyota"},            // Toyota RAV4
    {"1GCUYDED6SZ102334", 2025, "Chevrolet", "GM"},             // Chevrolet Silverado
    {"JS2YB413X75100921", 2007, "Suzuki", "Suzuki"},            // Suzuki SX4
    {"SBM14DCA2KW002164", 2019, "McLaren", "Unknown"},          // McLaren 600LT
    {"5YJ3E1EA2KF317000", 2019, "Unknown", "Unknown"},          // Tesla Model 3: WMI not listed
};

TEST(VINTest, KnownVehicles) {
    for (const auto& known : kKnownVins) {
        SCOPED_TRACE(known.vin);
        auto year = VIN::year(std::string(known.vin));
        ASSERT_TRUE(year.has_value());
        EXPECT_EQ(*year, known.year);
        EXPECT_EQ(VIN::manufacturerName(std::string(known.vin)), known.make);
        EXPECT_EQ(VIN::parentString(std::string(known.vin)), known.parent);
    }
}

TEST(VINTest, YearOfEveryTenthCharacter) {
    // 7th character a digit: the older cycle, exactly as the table gives it.
    const std::string chars = "ABCDEFGHIJKLMNOPQRSTUVWXYZ123456789";
    const int years[] = {2010, 2011, 2012, 2013, 2014, 2015, 2016, 2017, 2018, 2018, 2019, 2020,
                         2021, 2022, 2023, 1993, 1994, 1994, 1995, 1996, 1997, 1997, 1998, 1999,
                         2000, 2001, 2001, 2002, 2003, 2004, 2005, 2006, 2007, 2008, 2009};
    for (std::size_t i = 0; i < chars.size(); ++i) {
        SCOPED_TRACE(chars.substr(i, 1));
        EXPECT_EQ(VIN::year(vinWithYearChar(chars.substr(i, 1))).value(), years[i]);
    }
}

TEST(VINTest, LetterInSeventhPositionMovesPToYThirtyYearsOn) {
    const std::string chars = "PQRSTUVWXY";
    const int years[] = {2023, 2024, 2024, 2025, 2026, 2027, 2027, 2028, 2029, 2030};
    for (std::size_t i = 0; i < chars.size(); ++i) {
        SCOPED_TRACE(chars.substr(i, 1));
        EXPECT_EQ(VIN::year(vinWithYearChar(chars.substr(i, 1), 'F')).value(), years[i]);
        EXPECT_EQ(VIN::year(vinWithYearChar(chars.substr(i, 1), '4')).value(), years[i] - 30);
    }
    // Every other character keeps its value whatever the 7th character is.
    for (const char* c : {"A", "H", "N", "O", "Z", "1", "9", "0", "a"}) {
        SCOPED_TRACE(c);
        EXPECT_EQ(VIN::year(vinWithYearChar(c, 'F')).value(),
                  VIN::year(vinWithYearChar(c, '4')).value());
    }
}

TEST(VINTest, OddTenthCharacters) {
    EXPECT_EQ(VIN::year(vinWithYearChar("0")).value(), -1);
    EXPECT_EQ(VIN::year(vinWithYearChar("a")).value(), -1);  // not upper-cased
    EXPECT_EQ(VIN::year(vinWithYearChar("-")).value(), -1);
    EXPECT_EQ(VIN::year(vinWithYearChar("\xC3\xA9")).value(), 1996);  // é: no ASCII code
    // A letter with a combining accent is one character, and not an ASCII one.
    EXPECT_EQ(VIN::year(vinWithYearChar("e\xCC\x81")).value(), 1996);
    EXPECT_EQ(VIN::year(vinWithYearChar("A\xCC\x81")).value(), 1996);
}

TEST(VINTest, WrongLength) {
    for (const std::optional<std::string>& vin :
         {std::optional<std::string>(), std::optional<std::string>("1HGCM82633A00435"),
          std::optional<std::string>("1HGCM82633A0043521"), std::optional<std::string>("")}) {
        auto year = VIN::year(vin);
        ASSERT_FALSE(year.has_value());
        EXPECT_EQ(year.error(), VINError::wrongLength);
        EXPECT_EQ(VIN::parentString(vin), "Unknown");
        EXPECT_EQ(VIN::manufacturerName(vin), "Unknown");
    }
    // Length counts characters as seen, not bytes: 16 ASCII + é is 17 characters.
    EXPECT_TRUE(VIN::year(std::string("1HGCM82633A00435\xC3\xA9")).has_value());
    EXPECT_EQ(VIN::manufacturerName(std::string("1HGCM82633A00435\xC3\xA9")), "Honda");
}

TEST(VINTest, LookupRules) {
    EXPECT_EQ(VIN::manufacturerName(std::string("1g1ZT53826F109149")), "Chevrolet/Geo");
    EXPECT_EQ(VIN::parentString(std::string("1g1ZT53826F109149")), "GM");
    // KND is listed twice; the earlier record wins.
    EXPECT_EQ(VIN::manufacturerName(std::string("KNDJP3A55H7423125")), "Hyundai/Kia");
    // SBM: a record without parent and no later record for the WMI.
    EXPECT_EQ(VIN::manufacturerName(std::string("SBM14DCA2KW002164")), "McLaren");
    EXPECT_EQ(VIN::parentString(std::string("SBM14DCA2KW002164")), "Unknown");
    EXPECT_EQ(VIN::parentString(std::string("XXX14DCA2KW002164")), "Unknown");
}

TEST(VINTest, LookupSkipsRecordWithoutTheWantedField) {
    auto table = VIN::decodeTable(
        R"([{"manufacturerName":"First","entry":["AAA"]},
            {"manufacturerName":"Second","parent":"P2","entry":["AAA"]}])");
    ASSERT_TRUE(table);
    EXPECT_EQ(VIN::lookup(*table, "AAA", false), "First");
    EXPECT_EQ(VIN::lookup(*table, "AAA", true), "P2");
    EXPECT_EQ(VIN::lookup(*table, "aaa", true), std::nullopt);  // exact comparison
}

TEST(VINTest, TableWithoutEntryDoesNotDecode) {
    EXPECT_FALSE(VIN::decodeTable(R"([{"manufacturerName":"A","entry":["AAA"]},
                                      {"manufacturerName":"B","parent":"P"}])"));
    EXPECT_FALSE(VIN::decodeTable("not json"));
    EXPECT_FALSE(VIN::decodeTable(R"({"entry":["AAA"]})"));
}

TEST(VINTest, BuiltInTable) {
    const auto& table = VIN::wmiTable();
    ASSERT_TRUE(table);
    ASSERT_EQ(table->size(), 76u);
    std::size_t wmis = 0;
    for (const auto& record : *table) {
        wmis += record.entry.size();
        EXPECT_TRUE(record.manufacturerName.has_value());
        EXPECT_FALSE(record.edType.has_value());
        for (const auto& wmi : record.entry) {
            EXPECT_EQ(wmi.size(), 3u) << wmi;
            for (char c : wmi) EXPECT_TRUE(std::isupper(c) || std::isdigit(c)) << wmi;
        }
    }
    EXPECT_EQ(wmis, 915u);
    EXPECT_EQ(table->front().manufacturerName, "Acura");
    EXPECT_EQ((*table)[50].manufacturerName, "McLaren");
    EXPECT_FALSE((*table)[50].parent.has_value());
    EXPECT_EQ((*table)[16].manufacturerName, "Citro\xC3\xABn");
    EXPECT_EQ(table->back().manufacturerName, "Volvo");

    // Decoded once: the same table, and the same answers, on every call.
    EXPECT_EQ(&VIN::wmiTable(), &table);
    EXPECT_EQ(VIN::parentString(std::string("WBA3A5C51CF256985")), "BMW");
    EXPECT_EQ(VIN::parentString(std::string("WBA3A5C51CF256985")), "BMW");
}

TEST(VINTest, RecordRoundTripsThroughJson) {
    VinMap map{"Make", std::nullopt, {"AB1", "AB2"}, std::nullopt};
    nlohmann::json j = map;
    EXPECT_FALSE(j.contains("parent"));
    auto back = j.get<VinMap>();
    EXPECT_EQ(back.manufacturerName, "Make");
    EXPECT_EQ(back.entry, map.entry);
}

TEST(VINTest, AsciiValues) {
    EXPECT_EQ(asciiValues("AZ09"), (std::vector<uint8_t>{'A', 'Z', '0', '9'}));
    EXPECT_EQ(asciiValues("a\xC3\xA9z"), (std::vector<uint8_t>{'a', 'z'}));
    EXPECT_EQ(asciiValues("a\r\nb\rc\n"), (std::vector<uint8_t>{'a', '\n', 'b', '\r', 'c', '\n'}));
    EXPECT_TRUE(asciiValues("").empty());
    // Characters as the user sees them: a base letter with a combining mark has no code.
    EXPECT_EQ(asciiValues("xA\xCC\x81y"), (std::vector<uint8_t>{'x', 'y'}));
    EXPECT_EQ(asciiValues("\r\n\r\n"), (std::vector<uint8_t>{'\n', '\n'}));
}

}  // namespace
}  // namespace qz

namespace qz {
namespace {

// The engine's model-year decoder and VIN::year agree on every letter and digit a VIN uses
// in position 10, in both year cycles.
TEST(VINTest, EngineModelYearAgrees) {
    const std::string chars = "ABCDEFGHJKLMNPRSTVWXY123456789";
    for (char seventh : {'4', 'F'}) {
        for (char c : chars) {
            const std::string vin = vinWithYearChar(std::string(1, c), seventh);
            SCOPED_TRACE(vin);
            EXPECT_EQ(QZEnhancedUtils::vehicleYearFromVINString(vin), VIN::year(vin).value());
        }
    }
}

}  // namespace
}  // namespace qz
