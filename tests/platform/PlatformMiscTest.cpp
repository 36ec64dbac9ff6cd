#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>
#include <unordered_set>

#include "platform/Application.hpp"
#include "platform/Bundle.hpp"
#include "platform/Console.hpp"
#include "platform/DateFormat.hpp"
#include "platform/Describe.hpp"
#include "platform/FileSystem.hpp"
#include "platform/NotificationCenter.hpp"
#include "platform/UUID.hpp"

namespace qz {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

TEST(UUIDTest, RandomIdsAreVersion4UpperCaseAndParseBack) {
    std::unordered_set<UUID> seen;
    for (int i = 0; i < 100; ++i) {
        UUID id = UUID::random();
        std::string text = id.uuidString();
        ASSERT_EQ(text.size(), 36u);
        EXPECT_EQ(text[14], '4');
        EXPECT_NE(std::string("89AB").find(text[19]), std::string::npos);
        for (char c : text) EXPECT_FALSE(c >= 'a' && c <= 'z') << text;
        EXPECT_EQ(UUID::fromString(text), id);
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 100u);
}

TEST(UUIDTest, ParsesEitherCaseAndRejectsMalformedText) {
    auto lower = UUID::fromString("0000180a-0000-1000-8000-00805f9b34fb");
    ASSERT_TRUE(lower);
    EXPECT_EQ(lower->uuidString(), "0000180A-0000-1000-8000-00805F9B34FB");
    EXPECT_FALSE(UUID::fromString(""));
    EXPECT_FALSE(UUID::fromString("0000180a00000-1000-8000-00805f9b34fb"));
    EXPECT_FALSE(UUID::fromString("0000180g-0000-1000-8000-00805f9b34fb"));
    EXPECT_FALSE(UUID::fromString("0000180a-0000-1000-8000-00805f9b34fb0"));
}

class DateFormatTest : public ::testing::Test {
  protected:
    void TearDown() override { DateFormat::setTimeZone(std::nullopt); }
};

TEST_F(DateFormatTest, FormatsTheLogPatternWithTruncatedMilliseconds) {
    DateFormat f;
    system_clock::time_point t{milliseconds(1700000000123) + microseconds(999)};
    EXPECT_EQ(f.string(t, 0), "2023-11-14 22:13:20.123");
    EXPECT_EQ(f.string(t, 5 * 3600 + 45 * 60), "2023-11-15 03:58:20.123");
    EXPECT_EQ(f.string(t, -(3 * 3600 + 30 * 60)), "2023-11-14 18:43:20.123");
    EXPECT_EQ(DateFormat("yy/M/d h:mm a 'at' ''Z''").string(t, 3600),
              "23/11/14 11:13 PM at '+0100'");
    EXPECT_EQ(DateFormat("EEE MMM").string(t, 0), "Tue Nov");
}

TEST_F(DateFormatTest, OffsetTextHasSignHoursAndTwoDigitMinutes) {
    EXPECT_EQ(DateFormat::gmtOffsetText(0), "+0:00");
    EXPECT_EQ(DateFormat::gmtOffsetText(-(3 * 3600 + 30 * 60)), "-3:30");
    EXPECT_EQ(DateFormat::gmtOffsetText(5 * 3600 + 45 * 60), "+5:45");
    EXPECT_EQ(DateFormat::gmtOffsetText(14 * 3600), "+14:00");
}

TEST_F(DateFormatTest, TimeZoneCanBeSetForTheWholeProcess) {
    EXPECT_FALSE(DateFormat::timeZoneName().empty());
    ASSERT_TRUE(DateFormat::setTimeZone("Asia/Kathmandu"));
    EXPECT_EQ(DateFormat::timeZoneName(), "Asia/Kathmandu");
    EXPECT_EQ(DateFormat::gmtOffsetSeconds(), 5 * 3600 + 45 * 60);
    system_clock::time_point t{milliseconds(1700000000123)};
    EXPECT_EQ(DateFormat().string(t), "2023-11-15 03:58:20.123");

    ASSERT_TRUE(DateFormat::setTimeZone("America/St_Johns"));  // -3:30 in winter
    EXPECT_EQ(DateFormat::gmtOffsetText(DateFormat::gmtOffsetSeconds(t)), "-3:30");
    EXPECT_FALSE(DateFormat::setTimeZone("Nowhere/Nothing"));
    EXPECT_EQ(DateFormat::timeZoneName(), "America/St_Johns");
}

TEST(DescribeTest, PrintsValuesAsTheLogLinesShowThem) {
    EXPECT_EQ(describe(std::string("text")), "text");
    EXPECT_EQ(describe(true), "true");
    EXPECT_EQ(describe(-42), "-42");
    EXPECT_EQ(describe(1.0), "1.0");
    EXPECT_EQ(describe(0.1), "0.1");
    EXPECT_EQ(describe(1e-5), "1e-05");
    EXPECT_EQ(describe(1e16), "1e+16");
    EXPECT_EQ(describe(100000.0), "100000.0");
    EXPECT_EQ(describe(2.5f), "2.5");
    EXPECT_EQ(describe(std::function<void()>([] {})), "(Function)");
    EXPECT_EQ(describe(std::optional<int>(3)), "Optional(3)");
    EXPECT_EQ(describe(std::optional<std::string>("a")), "Optional(\"a\")");
    EXPECT_EQ(describe(std::optional<int>()), "nil");
    EXPECT_EQ(describe(std::vector<std::string>{"a", "b\"c"}), "[\"a\", \"b\\\"c\"]");
    EXPECT_EQ(describe(std::vector<int>{}), "[]");
    EXPECT_EQ(describe(std::vector<uint8_t>{1, 2, 3}), "3 bytes");
    EXPECT_EQ(describe(std::map<std::string, int>{{"k", 1}}), "[\"k\": 1]");
    EXPECT_EQ(qz::quoted("a\"b"), "\"a\\\"b\"");
    EXPECT_EQ(stringLiteral(std::string("a\\b\n\t\r\x01", 7) + std::string(1, '\0')),
              "\"a\\\\b\\n\\t\\r\\u{1}\\0\"");
}

TEST(PathsTest, DocumentsFollowHomeUnlessOverridden) {
    ScopedHome home;
    EXPECT_EQ(Paths::home(), home.path());
    EXPECT_EQ(Paths::documentsDirectory(), home.path() / "Documents");
    EXPECT_EQ(Paths::preferencesDirectory(), home.path() / "Library" / "Preferences");
    EXPECT_EQ(Paths::applicationSupportDirectory(),
              home.path() / "Library" / "Application Support");
    EXPECT_TRUE(fs::is_directory(Paths::temporaryDirectory()));
    Paths::setDocumentsDirectory(home.path() / "elsewhere");
    EXPECT_EQ(Paths::documentsDirectory(), home.path() / "elsewhere");
    Paths::setDocumentsDirectory({});
    EXPECT_EQ(Paths::documentsDirectory(), home.path() / "Documents");

    EXPECT_TRUE(Paths::createDirectories(home.path() / "a" / "b" / "c"));
    auto u1 = Paths::makeUniqueDirectory("x");
    auto u2 = Paths::makeUniqueDirectory("x");
    ASSERT_TRUE(u1 && u2);
    EXPECT_NE(*u1, *u2);
    EXPECT_EQ(u1->parent_path(), Paths::temporaryDirectory());
}

TEST(PathsTest, ScopedHomeRestoresThePreviousFolders) {
    auto before = Paths::home();
    fs::path inner;
    {
        ScopedHome home;
        inner = home.path();
        EXPECT_TRUE(fs::is_directory(inner));
    }
    EXPECT_EQ(Paths::home(), before);
    EXPECT_FALSE(fs::exists(inner));
}

TEST(BundleTest, FindsResourcesInTheLibraryAndMainFolders) {
    ScopedHome home;
    fs::create_directories(home.path() / "res" / "XML");
    std::ofstream(home.path() / "res" / "XML" / "codes.xml") << "<x/>";
    std::ofstream(home.path() / "res" / "plain") << "p";
    Bundle::setLibraryPath(home.path() / "res");
    auto lib = Bundle::library();
    EXPECT_EQ(lib.path("codes", "xml", "XML"), home.path() / "res" / "XML" / "codes.xml");
    EXPECT_EQ(lib.path("codes", ".xml", "XML"), home.path() / "res" / "XML" / "codes.xml");
    EXPECT_EQ(lib.path("plain", ""), home.path() / "res" / "plain");
    EXPECT_EQ(lib.path("codes", "xml"), std::nullopt);
    EXPECT_EQ(lib.path("XML", ""), std::nullopt);  // a folder is not a resource
    Bundle::setLibraryPath({});

    ::setenv("QZ_RESOURCE_DIR", (home.path() / "res").c_str(), 1);
    EXPECT_EQ(Bundle::library().bundlePath(), home.path() / "res");
    ::unsetenv("QZ_RESOURCE_DIR");
    // Found from the library's own file: the build's resource folder beside it.
    EXPECT_TRUE(fs::equivalent(Bundle::library().bundlePath(), fs::path(QZ_BINARY_DIR) / "resources"));

    Bundle::setMainPath(home.path());
    EXPECT_EQ(Bundle::main().bundlePath(), home.path());
    Bundle::setMainPath({});
    EXPECT_TRUE(fs::exists(Bundle::main().bundlePath()));
}

TEST(ApplicationTest, LifecycleNotificationsReachObservers) {
    auto& center = NotificationCenter::defaultCenter();
    std::vector<std::string> seen;
    auto a = center.addObserver(Application::didEnterBackgroundNotification,
                                [&](const Notification& n) { seen.push_back(n.name); });
    auto b = center.addObserver(Application::didBecomeActiveNotification,
                                [&](const Notification& n) { seen.push_back(n.name); });
    Application::enterBackground();
    Application::becomeActive();
    center.removeObserver(a);
    center.removeObserver(b);
    EXPECT_EQ(seen, (std::vector<std::string>{"UIApplicationDidEnterBackgroundNotification",
                                              "UIApplicationDidBecomeActiveNotification"}));
}

TEST(ApplicationTest, SystemVersionIsNumericAndOverridable) {
    auto v = Device::systemVersion();
    ASSERT_FALSE(v.empty());
    EXPECT_EQ(v.find_first_not_of("0123456789."), std::string::npos) << v;
    Device::setSystemVersion("17.2");
    EXPECT_EQ(Device::systemVersion(), "17.2");
    Device::setSystemVersion(std::nullopt);
    EXPECT_EQ(Device::systemVersion(), v);
}

// A sink's owner may go once the sink is replaced: a line it is writing on another thread ends
// first. A sink may replace itself.
TEST(ConsoleTest, AReplacedSinkIsDoneWithOnceSetSinkReturns) {
    std::mutex m;
    std::condition_variable cv;
    bool entered = false, replacing = false;
    std::atomic<bool> finished{false};
    auto previous = console::setSink([&](const std::string&) {
        std::unique_lock lock(m);
        entered = true;
        cv.notify_all();
        cv.wait(lock, [&] { return replacing; });
        finished = true;
    });
    std::thread writer([] { console::log("line"); });
    {
        std::unique_lock lock(m);
        cv.wait(lock, [&] { return entered; });
        replacing = true;
        cv.notify_all();
    }
    auto replaced = console::setSink(previous);
    EXPECT_TRUE(finished);
    writer.join();
    EXPECT_TRUE(replaced);

    int calls = 0;
    console::setSink([&](const std::string&) {
        ++calls;
        console::setSink(previous);
    });
    console::log("once");
    console::log("to the previous sink");
    EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace qz
