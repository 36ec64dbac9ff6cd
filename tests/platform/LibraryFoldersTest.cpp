// Where the library keeps its logs, settings and data: an app's own folder layout under a home
// that the host sets, else the XDG base directories of the user.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "api/Data/PelkData.hpp"
#include "platform/FileSystem.hpp"
#include "support/QzdiagRun.hpp"
#include "support/TestSupport.hpp"

namespace fs = std::filesystem;
using qz::Paths;
using qz::ScopedHome;

namespace {

TEST(LibraryFolders, AHomeSetByTheHostKeepsTheAppLayout) {
    ScopedHome home;
    EXPECT_EQ(Paths::documentsDirectory(), home.path() / "Documents");
    EXPECT_EQ(Paths::applicationSupportDirectory(),
              home.path() / "Library" / "Application Support");
    EXPECT_EQ(Paths::preferencesDirectory(), home.path() / "Library" / "Preferences");
    EXPECT_EQ(Paths::cachesDirectory(), home.path() / "Library" / "Caches");
    EXPECT_FALSE(Paths::earlierPreferencesDirectory()) << "nothing to take along";
    EXPECT_FALSE(Paths::earlierApplicationSupportDirectory());
}

TEST(LibraryFolders, CopyIfMissingTakesAFileOrAFolderOnlyWhereNothingIs) {
    ScopedHome home;
    const fs::path from = home.path() / "from";
    fs::create_directories(from / "store" / "inner");
    qz::testsupport::writeText(from / "settings.json", "{\"a\":1}");
    qz::testsupport::writeText(from / "store" / "inner" / "events", "e");
    qz::testsupport::writeText(home.path() / "present.json", "mine");

    struct Case {
        const char* what;
        fs::path from, to;
        bool copied;
        fs::path check;  // a file that holds `expected` afterwards
        std::string expected;
    };
    const fs::path to = home.path() / "to";
    const std::vector<Case> cases = {
        {"a file into missing folders", from / "settings.json", to / "a" / "settings.json", true,
         to / "a" / "settings.json", "{\"a\":1}"},
        {"a folder with what it holds", from / "store", to / "store", true,
         to / "store" / "inner" / "events", "e"},
        {"never over what is there", from / "settings.json", home.path() / "present.json", false,
         home.path() / "present.json", "mine"},
        {"nothing to copy", from / "missing.json", to / "missing.json", false, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Paths::copyIfMissing(c.from, c.to), c.copied);
        if (!c.check.empty())
            EXPECT_EQ(qz::testsupport::text(qz::testsupport::readFileBytes(c.check)), c.expected);
        else
            EXPECT_FALSE(fs::exists(c.to));
    }
}

// The demo run without a home of its own, in a user account whose folders are a test's.
class LibraryFoldersOfAUser : public qz::testsupport::QzdiagFixture {
  protected:
    // Runs `qzdiag info` with HOME and the given variable assignments ("" unsets them all).
    qz::testsupport::QzdiagRun run(const std::string& assignments) const {
        qz::testsupport::QzdiagRun run;
        int rc = -1;
        run.out = qz::testsupport::runCommand(
            "env -u XDG_DATA_HOME -u XDG_CONFIG_HOME -u XDG_CACHE_HOME HOME='" + user().string() +
                "' " + assignments + " " + std::string(QZ_BINARY_DIR) + "/qzdiag info 2>/dev/null",
            &rc);
        run.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
        return run;
    }
    fs::path user() const { return home.path() / "user"; }
    static std::string settingsFile() { return std::string(qz::PelkData::kSuiteName) + ".json"; }
};

TEST_F(LibraryFoldersOfAUser, LogsDataAndSettingsGoToTheXdgFolders) {
    struct Case {
        const char* what;
        std::string assignments;
        fs::path data, config;  // the library's folders expected
    };
    const fs::path u = home.path() / "user";
    const std::vector<Case> cases = {
        {"defaults under the home", "", u / ".local/share/QZEnhanced", u / ".config/QZEnhanced"},
        {"the variables",
         "XDG_DATA_HOME='" + (home.path() / "d").string() + "' XDG_CONFIG_HOME='" +
             (home.path() / "c").string() + "'",
         home.path() / "d/QZEnhanced", home.path() / "c/QZEnhanced"},
        {"relative variables count as unset", "XDG_DATA_HOME=d XDG_CONFIG_HOME=c",
         u / ".local/share/QZEnhanced", u / ".config/QZEnhanced"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::create_directories(u);
        ASSERT_EQ(run(c.assignments).status, 0);
        EXPECT_TRUE(fs::is_regular_file(c.data / "Logs" / "pelklog-0.log"));
        EXPECT_TRUE(fs::is_regular_file(c.data / "AnalyticsEvent" / "AnalyticsEvent.sqlite"));
        auto settings = nlohmann::json::parse(
            qz::testsupport::text(qz::testsupport::readFileBytes(c.config / settingsFile())),
            nullptr, false);
        EXPECT_EQ(settings["activeSensorVersion"], 405) << settings;
        for (const char* appFolder : {"Documents", "Library"})
            EXPECT_FALSE(fs::exists(u / appFolder)) << appFolder;
        fs::remove_all(u);
        fs::remove_all(home.path() / "d");
        fs::remove_all(home.path() / "c");
    }
}

TEST_F(LibraryFoldersOfAUser, SettingsAndCachedEventsOfTheAppLayoutAreTakenAlong) {
    const fs::path earlier = user() / "Library";
    fs::create_directories(earlier / "Preferences");
    fs::create_directories(earlier / "Application Support" / "AnalyticsEvent");
    qz::testsupport::writeText(earlier / "Preferences" / settingsFile(),
                               R"({"customVehicleMan": "Kept"})");
    qz::testsupport::writeText(earlier / "Application Support" / "AnalyticsEvent" / "marker", "m");

    ASSERT_EQ(run("").status, 0);
    const fs::path config = user() / ".config/QZEnhanced";
    auto settings = nlohmann::json::parse(
        qz::testsupport::text(qz::testsupport::readFileBytes(config / settingsFile())), nullptr,
        false);
    EXPECT_EQ(settings["customVehicleMan"], "Kept") << settings;
    EXPECT_EQ(settings["activeSensorVersion"], 405);
    EXPECT_TRUE(fs::exists(user() / ".local/share/QZEnhanced/AnalyticsEvent/marker"));
    EXPECT_TRUE(fs::exists(earlier / "Preferences" / settingsFile())) << "copied, not moved";
}

}  // namespace
