#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "api/Web/VinDatabase.hpp"
#include "lib/Utils/DataAES256.hpp"
#include "platform/Bundle.hpp"
#include "platform/FileSystem.hpp"
#include "support/TestSupport.hpp"

using namespace qz;
using qz::testsupport::errorOf;

namespace {

std::string sourceText() {
    std::ifstream in(std::string(QZ_SOURCE_DIR) + "/resources/vindb/VinDatabase.json");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

YMME vehicle(const std::string& vin) {
    auto r = VinDatabase::lookup(vin);
    EXPECT_TRUE(r.has_value()) << vin << " " << (r ? "" : describe(r.error()));
    return r.value_or(YMME{});
}

struct ScopedLibraryPath {
    explicit ScopedLibraryPath(const std::filesystem::path& p) { Bundle::setLibraryPath(p); }
    ~ScopedLibraryPath() { Bundle::setLibraryPath({}); }
};

}  // namespace

TEST(VinDatabase, ShippedResourceDecryptsToItsSource) {
    auto path = Bundle::library().path("VinDatabase", "json", "vindb");
    ASSERT_TRUE(path);
    std::ifstream in(*path, std::ios::binary);
    Data encrypted((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto plain = DataAES256::decryptedWithKey(encrypted, DataAES256::definitionFileKey());
    ASSERT_TRUE(plain);
    EXPECT_EQ(std::string(plain->begin(), plain->end()), sourceText());
    auto db = VinDatabase::decode(sourceText());
    ASSERT_TRUE(db);
    EXPECT_GE(db->entries().size(), 30u);
    std::set<std::string> makes;
    for (const auto& e : db->entries()) makes.insert(e.make);
    EXPECT_GE(makes.size(), 10u);
}

TEST(VinDatabase, LooksUpYearMakeModelAndEngine) {
    EXPECT_EQ(vehicle("1hgcm82633a004352"),
              (YMME{"1HGCM82633A004352", "Honda", "Accord", "3.0L V6", "EX", 2003}));
    auto f150 = vehicle("1FTEW1EP1GFA00001");
    EXPECT_EQ(f150.make, "Ford");
    EXPECT_EQ(f150.model, "F-150");
    EXPECT_EQ(f150.engine, "2.7L V6 EcoBoost");
    EXPECT_EQ(f150.year, 2016);
    EXPECT_EQ(vehicle("WBA8E9G50HNU12345").series, "330i");
    EXPECT_EQ(vehicle("55SWF4JB3FU012345").model, "C-Class");
    EXPECT_EQ(vehicle("5NPD84LF9HH123456").make, "Hyundai");
    // Years pick between entries of one pattern; '*' matches any character.
    EXPECT_EQ(vehicle("1FMCU9GD1EUA12345").engine, "1.6L I4 EcoBoost");
    EXPECT_EQ(vehicle("1FMCU9GD6HUA12345").engine, "1.5L I4 EcoBoost");
    EXPECT_EQ(vehicle("1FMCU9GX3HUA12345").engine, "1.5L I4 EcoBoost");
    // A tenth character P with a letter in the seventh place is 2023, not 1993.
    EXPECT_EQ(vehicle("5YJ3E1EA7PF123456").year, 2023);
}

TEST(VinDatabase, RefusesBadVinsAndReportsUnknownOnes) {
    for (auto vin :
         {"", "1HGCM82633A00435", "1HGCM82633A0043522", "1HGCM82633A00435O", "1HGCM826/3A004352"})
        EXPECT_EQ(errorOf(VinDatabase::lookup(vin)), VinError::invalidVin) << vin;
    EXPECT_EQ(errorOf(VinDatabase::lookup("1HGCM8267AA004352")), VinError::notFound);  // 2010
    // A tenth character that gives no year matches by pattern alone.
    auto noYear = VinDatabase::lookup("1HGCM82690A004352");
    ASSERT_TRUE(noYear);
    EXPECT_EQ(noYear->model, "Accord");
    EXPECT_FALSE(noYear->year);
    EXPECT_EQ(errorOf(VinDatabase::lookup("ZZZZZZZZ03A004352")), VinError::notFound);
}

TEST(VinDatabase, MissingOrUnreadableDatabaseIsReported) {
    ScopedHome home;
    auto dir = home.path() / "resources";
    std::filesystem::create_directories(dir / "vindb");
    {
        ScopedLibraryPath lib(dir);
        EXPECT_EQ(errorOf(VinDatabase::lookup("1HGCM82633A004352")), VinError::databaseUnavailable);
        std::ofstream(dir / "vindb" / "VinDatabase.json") << sourceText();  // not encrypted
        EXPECT_EQ(errorOf(VinDatabase::lookup("1HGCM82633A004352")), VinError::databaseUnavailable);
    }
    EXPECT_TRUE(VinDatabase::lookup("1HGCM82633A004352"));
    EXPECT_FALSE(VinDatabase::decode(
        R"({"vehicles":[{"pattern":"1HG","years":[1,2],"make":"a","model":"b"}]})"));
    EXPECT_FALSE(VinDatabase::decode(
        R"({"vehicles":[{"pattern":"1HGCM826","years":[2007,2003],"make":"a","model":"b"}]})"));
    EXPECT_FALSE(VinDatabase::decode("[]"));
    // Years must be whole numbers of a calendar's range; none is converted unchecked.
    for (const char* years : {"[1e300,2007]", "[2003,-1e300]", "[2003.5,2007]", "[-1,2007]",
                              "[2003,18446744073709551615]", "[2003,\"2007\"]", "[2003,10000]"})
        EXPECT_FALSE(
            VinDatabase::decode(std::string(R"({"vehicles":[{"pattern":"1HGCM826","years":)") +
                                years + R"(,"make":"a","model":"b"}]})"))
            << years;
    EXPECT_TRUE(VinDatabase::decode(
        R"({"vehicles":[{"pattern":"1HGCM826","years":[2003.0,2007],"make":"a","model":"b"}]})"));
}
