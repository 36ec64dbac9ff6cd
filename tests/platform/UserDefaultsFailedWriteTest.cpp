// A settings suite whose writes the disk refuses: what was set stays readable, also when the
// suite is opened again after every reference to it was let go, and the next change once the
// disk takes writes again writes every value. The refusals are made so that they hold for root
// too (a path in the way, not file permissions).

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/FileSystem.hpp"
#include "platform/UserDefaults.hpp"

namespace qz {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

TEST(UserDefaultsFailedWrite, ValuesStayReadableAndTheNextChangeWritesThemAll) {
    const struct {
        const char* name;
        void (*block)(const fs::path& file);
        void (*unblock)(const fs::path& file);
    } cases[] = {
        {"the preferences folder is a file",
         [](const fs::path& file) {
             fs::create_directories(file.parent_path().parent_path());
             std::ofstream(file.parent_path()) << "in the way";
         },
         [](const fs::path& file) { fs::remove(file.parent_path()); }},
        {"the suite's file is a folder",
         [](const fs::path& file) { fs::create_directories(file / "inside"); },
         [](const fs::path& file) { fs::remove_all(file); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedHome home;
        const fs::path file = Paths::preferencesDirectory() / "suite.json";
        c.block(file);
        {
            auto prefs = UserDefaults::suite("suite");
            ASSERT_TRUE(prefs);
            prefs->set("activeSensorVersion", 408);
            prefs->set("vehicleParentMan", "Toyota");
            EXPECT_FALSE(prefs->lastWriteSucceeded());
        }
        // Opened again with nothing holding it, as every read of the settings store does.
        auto again = UserDefaults::suite("suite");
        EXPECT_EQ(again->integer("activeSensorVersion"), 408);
        EXPECT_EQ(again->string("vehicleParentMan"), "Toyota");

        c.unblock(file);
        again->set("obd2Protocol", 6);
        EXPECT_TRUE(again->lastWriteSucceeded());
        std::ifstream in(file);
        EXPECT_EQ(json::parse(in, nullptr, false), (json{{"activeSensorVersion", 408},
                                                         {"vehicleParentMan", "Toyota"},
                                                         {"obd2Protocol", 6}}));
    }
}

}  // namespace
}  // namespace qz
