#include <gtest/gtest.h>

#include <filesystem>

#include <nlohmann/json.hpp>

#include "VehicleTestSupport.hpp"
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
        const Data encrypted = readBytes(built);
        const Data plain = readBytes(entry.path());
        EXPECT_NE(encrypted, plain);
        auto decrypted = DefinitionFile::load(built);
        ASSERT_TRUE(decrypted);
        EXPECT_EQ(*decrypted, plain);

        const auto extension = relative.extension();
        if (extension == ".xml") {
            XMLParser parser(std::move(*decrypted));
            EXPECT_TRUE(parser.parse()) << parser.parserError()->description;
        } else if (extension == ".json") {
            EXPECT_NO_THROW((void)nlohmann::json::parse(decrypted->begin(), decrypted->end()));
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
    EXPECT_EQ(text(*DefinitionFile::load(*moved)), "<r/>");
    EXPECT_FALSE(DefinitionFile::path("Missing", "xml"));
}

}  // namespace
}  // namespace qz
