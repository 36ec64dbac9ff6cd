#include "platform/UserDefaults.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "platform/FileSystem.hpp"

namespace qz {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

json readFile(const fs::path& path) {
    std::ifstream in(path);
    return json::parse(in, nullptr, false);
}

TEST(UserDefaultsTest, ValuesPersistAsJsonUnderPreferences) {
    ScopedHome home;
    {
        auto prefs = UserDefaults::suite("com.example.PelkData");
        ASSERT_NE(prefs, nullptr);
        EXPECT_EQ(prefs->filePath(),
                  home.path() / "Library" / "Preferences" / "com.example.PelkData.json");
        prefs->set("firmware", "1.2.3");
        prefs->set("count", 42);
        prefs->set("flag", true);
        prefs->set("ratio", 0.5);
        prefs->set("makes", json::array({"Ford", "BMW"}));
        // Written at once.
        auto onDisk = readFile(prefs->filePath());
        ASSERT_TRUE(onDisk.is_object());
        EXPECT_EQ(onDisk["firmware"], "1.2.3");
        EXPECT_EQ(onDisk["makes"], json::array({"Ford", "BMW"}));
    }
    auto reopened = UserDefaults::suite("com.example.PelkData");
    EXPECT_EQ(reopened->string("firmware"), "1.2.3");
    EXPECT_EQ(reopened->integer("count"), 42);
    EXPECT_TRUE(reopened->boolean("flag"));
    EXPECT_DOUBLE_EQ(reopened->doubleValue("ratio"), 0.5);
    EXPECT_EQ(reopened->object("makes"), json::array({"Ford", "BMW"}));
}

TEST(UserDefaultsTest, NullAndRemoveDeleteTheKey) {
    ScopedHome home;
    auto prefs = UserDefaults::suite("suite");
    prefs->set("a", "x");
    prefs->set("b", "y");
    prefs->set("a", nullptr);
    prefs->removeObject("b");
    EXPECT_EQ(prefs->object("a"), std::nullopt);
    EXPECT_EQ(prefs->string("b"), std::nullopt);
    EXPECT_EQ(prefs->integer("b"), 0);
    EXPECT_FALSE(prefs->boolean("b"));
    EXPECT_EQ(readFile(prefs->filePath()), json::object());
}

TEST(UserDefaultsTest, TypedGettersConvertLikeTheirPlatformCounterparts) {
    ScopedHome home;
    auto prefs = UserDefaults::suite("conv");
    prefs->set("numText", "12");
    prefs->set("yes", "YES");
    prefs->set("no", "NO");
    prefs->set("num", 3);
    prefs->set("list", json::array());
    EXPECT_EQ(prefs->integer("numText"), 12);
    EXPECT_DOUBLE_EQ(prefs->doubleValue("numText"), 12.0);
    EXPECT_TRUE(prefs->boolean("yes"));
    EXPECT_FALSE(prefs->boolean("no"));
    EXPECT_TRUE(prefs->boolean("num"));
    EXPECT_EQ(prefs->string("num"), "3");
    EXPECT_EQ(prefs->string("list"), std::nullopt);
    EXPECT_EQ(prefs->integer("yes"), 0);
}

TEST(UserDefaultsTest, SuiteIsSharedPerNameAndRejectsUnusableNames) {
    ScopedHome home;
    auto a = UserDefaults::suite("same");
    auto b = UserDefaults::suite("same");
    EXPECT_EQ(a, b);
    EXPECT_NE(a, UserDefaults::suite("different"));
    EXPECT_EQ(UserDefaults::suite(""), nullptr);
    EXPECT_EQ(UserDefaults::suite("../escape"), nullptr);
    EXPECT_EQ(UserDefaults::suite(".."), nullptr);
}

TEST(UserDefaultsTest, DamagedFileReadsAsEmptyAndIsReplacedOnTheNextChange) {
    ScopedHome home;
    fs::create_directories(Paths::preferencesDirectory());
    auto file = Paths::preferencesDirectory() / "broken.json";
    std::ofstream(file) << "{\"half\": ";
    auto prefs = UserDefaults::suite("broken");
    EXPECT_EQ(prefs->dictionaryRepresentation(), json::object());
    prefs->set("k", 1);
    EXPECT_EQ(readFile(file), (json{{"k", 1}}));
}

// {"k": [[...]]} with `depth` nested lists under the top object.
std::string nested(size_t depth) {
    return "{\"k\": " + std::string(depth, '[') + std::string(depth, ']') + "}";
}

TEST(UserDefaultsTest, FilesTooLargeOrTooDeepReadAsEmptyAndAreReplaced) {
    ScopedHome home;
    fs::create_directories(Paths::preferencesDirectory());
    const std::string huge = "{\"k\": \"" + std::string(UserDefaults::kMaxFileBytes, 'x') + "\"}";
    const struct {
        std::string content;
        std::optional<std::string> problem;
    } cases[] = {
        {nested(UserDefaults::kMaxDepth), std::nullopt},
        {nested(UserDefaults::kMaxDepth + 1), "nested deeper than 64 levels"},
        {nested(100000), "nested deeper than 64 levels"},
        {huge, "larger than 4194304 bytes"},
        {"{\"half\": ", "not a JSON object"},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.content.substr(0, 40));
        const std::string name = "suite" + std::to_string(n++);
        const auto file = Paths::preferencesDirectory() / (name + ".json");
        std::ofstream(file) << c.content;
        auto prefs = UserDefaults::suite(name);
        EXPECT_EQ(prefs->takeLoadProblem(), c.problem);
        EXPECT_EQ(prefs->takeLoadProblem(), std::nullopt) << "reported once";
        EXPECT_EQ(prefs->dictionaryRepresentation().empty(), c.problem.has_value());
        prefs->set("v", 1);
        EXPECT_TRUE(prefs->lastWriteSucceeded());
        EXPECT_EQ(readFile(file)["v"], 1);
    }
}

TEST(UserDefaultsTest, OpeningASuiteRemovesWhatKilledWritesLeftBehind) {
    ScopedHome home;
    const auto dir = Paths::preferencesDirectory();
    fs::create_directories(dir);
    const std::string own = std::to_string(::getpid());
    // Written by a process that is gone, by this one, by a running one, and for another suite.
    for (const std::string& name :
         std::vector<std::string>{"s.json.tmp-999999999-3", "s.json.tmp-" + own + "-7",
                                  "s.json.tmp-1-0", "other.json.tmp-999999999-0"})
        std::ofstream(dir / name) << "{\"half";
    auto prefs = UserDefaults::suite("s");
    EXPECT_FALSE(fs::exists(dir / "s.json.tmp-999999999-3"));
    EXPECT_FALSE(fs::exists(dir / ("s.json.tmp-" + own + "-7")));
    EXPECT_TRUE(fs::exists(dir / "s.json.tmp-1-0"));
    EXPECT_TRUE(fs::exists(dir / "other.json.tmp-999999999-0"));
    EXPECT_EQ(prefs->takeLoadProblem(), std::nullopt);
}

TEST(UserDefaultsTest, ConcurrentWritersLoseNothingAndTheFileIsAlwaysWhole) {
    ScopedHome home;
    auto prefs = UserDefaults::suite("busy");
    prefs->set("seed", 0);
    std::atomic<bool> stop{false};
    std::atomic<int> badReads{0};
    std::thread reader([&] {
        while (!stop) {
            auto parsed = readFile(prefs->filePath());
            if (!parsed.is_object()) ++badReads;
        }
    });
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) {
                std::string key = std::to_string(t * 1000 + i);
                prefs->set(key, i);
            }
        });
    for (auto& w : writers) w.join();
    stop = true;
    reader.join();
    EXPECT_EQ(badReads.load(), 0);
    auto onDisk = readFile(prefs->filePath());
    EXPECT_EQ(onDisk.size(), 101u);
    EXPECT_TRUE(prefs->lastWriteSucceeded());
    // No temporary files left behind.
    int files = 0;
    for (auto& entry : fs::directory_iterator(Paths::preferencesDirectory())) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 1);
}

}  // namespace
}  // namespace qz
