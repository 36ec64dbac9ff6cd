#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <tuple>

#include <nlohmann/json.hpp>

#include "VehicleTestSupport.hpp"
#include "api/VIN/VIN.hpp"
#include "lib/Content/DefinitionFile.hpp"
#include "platform/Bundle.hpp"
#include "platform/xml/XMLParser.hpp"

namespace qz {
namespace {

namespace fs = std::filesystem;
using namespace vehicletest;

const fs::path kSources = fs::path(QZ_SOURCE_DIR) / "resources";
const fs::path kBuilt = fs::path(QZ_BINARY_DIR) / "resources";

// Every plain definition file under resources/ was encrypted by the build into the library's
// resource folder, decrypts to the same bytes and parses.
TEST(ResourcesTest, EveryShippedFileDecryptsAndParses) {
    int files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(kSources)) {
        if (!entry.is_regular_file() || entry.path().extension() == ".md") continue;
        const auto relative = fs::relative(entry.path(), kSources);
        SCOPED_TRACE(relative.string());
        ++files;

        const auto built = kBuilt / relative;
        ASSERT_TRUE(fs::exists(built));
        const Data encrypted = readFileBytes(built);
        const Data plain = readFileBytes(entry.path());
        EXPECT_NE(encrypted, plain);
        auto decrypted = DefinitionFile::load(built);
        ASSERT_TRUE(decrypted);
        EXPECT_EQ(*decrypted, plain);

        const auto extension = relative.extension();
        if (extension == ".xml") {
            XMLParser parser(std::move(*decrypted));
            EXPECT_TRUE(parser.parse())
                << parser.parserError().value_or(XMLParseError{}).description;
        } else if (extension == ".json") {
            EXPECT_NO_THROW(std::ignore =
                                nlohmann::json::parse(decrypted->begin(), decrypted->end()));
        }
    }
    EXPECT_GE(files, 1);
}

TEST(ResourcesTest, LibraryFindsItsResourceFolderAndHostsCanMoveIt) {
    auto path = DefinitionFile::path("Rebranded-VINs", "xml");
    ASSERT_TRUE(path);
    EXPECT_TRUE(fs::equivalent(*path, kBuilt / "enhanceddiag" / "Rebranded-VINs.xml"));

    TempDir dir;
    fs::create_directories(dir / "enhanceddiag");
    writeDefinitionFile(dir.path() / "enhanceddiag" / "Rebranded-VINs.xml", "<r/>");
    Bundle::setLibraryPath(dir.path());
    auto moved = DefinitionFile::path("Rebranded-VINs", "xml");
    Bundle::setLibraryPath({});
    ASSERT_TRUE(moved);
    EXPECT_EQ(text(DefinitionFile::load(*moved).value()), "<r/>");
    EXPECT_FALSE(DefinitionFile::path("Missing", "xml"));
}

}  // namespace
}  // namespace qz

namespace qz {
namespace {

// The shipped rebranded-VIN list names every maker group of the WMI table as a parent, and
// every squish VIN has the form the checker compares: ten characters.
TEST(ResourcesTest, RebrandedListCoversEveryParentOfTheWmiTable) {
    auto document = DefinitionFile::load(kBuilt / "enhanceddiag" / "Rebranded-VINs.xml");
    ASSERT_TRUE(document);
    struct Parents : XMLParserDelegate {
        std::set<std::string> parents;
        std::vector<std::string> badSquish;
        void didStartElement(XMLParser&, const std::string& name, const std::string&,
                             const std::string&, const XMLAttributes& a) override {
            if (name != "brand") return;
            parents.insert(a.at("parent"));
            std::string list = a.at("squishvins");
            for (std::size_t start = 0;;) {
                auto comma = list.find(',', start);
                auto item = list.substr(start, comma - start);
                if (item.size() != 10) badSquish.push_back(item);
                if (comma == std::string::npos) break;
                start = comma + 1;
            }
        }
    } reader;
    XMLParser parser(std::move(*document));
    parser.setDelegate(&reader);
    ASSERT_TRUE(parser.parse());
    EXPECT_TRUE(reader.badSquish.empty());
    for (const auto& record : VIN::wmiTable().value()) {
        if (record.parent) {
            EXPECT_TRUE(reader.parents.count(*record.parent)) << *record.parent;
        }
    }
    EXPECT_TRUE(reader.parents.count("Suzuki"));
}

TEST(ResourcesTest, DefinitionFilesAreReadWhole) {
    TempDir dir;
    for (size_t size : {size_t{0}, size_t{1}, size_t{3 << 20}}) {
        Data bytes(size);
        for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 7);
        writeFileBytes(dir / "file", bytes);
        auto read = DefinitionFile::read(dir / "file");
        ASSERT_TRUE(read) << size;
        EXPECT_EQ(*read, bytes) << size;
    }
    EXPECT_FALSE(DefinitionFile::read(dir / "missing"));
    EXPECT_FALSE(DefinitionFile::read(dir.path()));
}

}  // namespace
}  // namespace qz
