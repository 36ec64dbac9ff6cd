#include "api/Logging/Log.hpp"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

#include "api/Communication/CommError.hpp"
#include "api/Communication/GatewayLogger.hpp"
#include "api/Communication/PelkSensor.hpp"
#include "api/Logging/AES256Encryption.hpp"
#include "api/Logging/FileLog.hpp"
#include "api/Logging/LogBinder.hpp"
#include "lib/Facades/QZEPitCrew.hpp"
#include "lib/Logging/QZELogging.hpp"
#include "logging/LogFileReader.hpp"
#include "platform/Application.hpp"
#include "platform/DateFormat.hpp"
#include "platform/FileSystem.hpp"

namespace fs = std::filesystem;
using namespace qz;
using namespace qz::testing;

namespace {

class RecordingDelegate : public GatewayLoggerDelegate {
  public:
    void receivedLog(const std::string& string) override {
        std::lock_guard lock(mutex);
        lines.push_back(string);
    }
    std::mutex mutex;
    std::vector<std::string> lines;
};

// The line with its first time ("yyyy-MM-dd HH:mm:ss.SSS") replaced by "<T>".
std::string masked(const std::string& line) {
    const std::string shape = "dddd-dd-dd dd:dd:dd.ddd";
    for (size_t i = 0; i + shape.size() <= line.size(); ++i) {
        bool match = true;
        for (size_t k = 0; k < shape.size() && match; ++k) {
            char c = line[i + k];
            match = shape[k] == 'd' ? (c >= '0' && c <= '9') : c == shape[k];
        }
        if (match) return line.substr(0, i) + "<T>" + line.substr(i + shape.size());
    }
    return line;
}

class LogTest : public ::testing::Test {
  protected:
    void SetUp() override { Log::reset(); }
    void TearDown() override {
        Log::reset();
        GatewayLogger::setDelegate(nullptr);
    }

    // The decrypted lines of file 0 (each piece without its carriage return).
    std::vector<std::string> lines() {
        auto log = Log::fileLogger();
        std::vector<std::string> out;
        for (const auto& r : parseRecords(readFileBytes(log->currentPath()))) {
            auto plain =
                AES256Encryption::originalDataWithHexKey(r.ciphertext, log->key(), log->iv());
            std::string text = plain ? std::string(plain->begin(), plain->end()) : "<failed>";
            if (!text.empty() && text.back() == '\r') text.pop_back();
            out.push_back(text);
        }
        return out;
    }

    ScopedHome home;
};

}  // namespace

TEST_F(LogTest, FirstLineIsPrecededByTheSessionHeader) {
    Log::i("one", "/src/api/Gateway/Gateway.cpp", 10, 5, "connect(withSensor:andListener:)");
    Log::i("two", "Gateway.cpp", 11, 5, "disconnect()");
    auto l = lines();
    ASSERT_EQ(l.size(), 5u);
    const std::string id = Log::sessionId();
    EXPECT_EQ(l[0], "----------------- Starting session " + id + " -----------------");
    EXPECT_EQ(l[1], "----------------- Logs in Current Timezone: " + DateFormat::timeZoneName() +
                        " ----------------- ");
    EXPECT_EQ(l[2], "----------------- GMT Offset: " +
                        DateFormat::gmtOffsetText(DateFormat::gmtOffsetSeconds()) +
                        " ----------------- ");
    EXPECT_EQ(masked(l[3]),
              "[" + id + "] <T> [I][Gateway.cpp]:10 5 connect(withSensor:andListener:) -> one");
    EXPECT_EQ(masked(l[4]), "[" + id + "] <T> [I][Gateway.cpp]:11 5 disconnect() -> two");
    EXPECT_GE(id.size(), 1u);
    EXPECT_LE(id.size(), 8u);
    EXPECT_EQ(id.find_first_not_of("0123456789ABCDEF"), std::string::npos) << id;
}

TEST_F(LogTest, HeaderNamesTimeZoneAndOffset) {
    ASSERT_TRUE(DateFormat::setTimeZone("Asia/Kathmandu"));
    Log::d2("x");
    DateFormat::setTimeZone(std::nullopt);
    auto l = lines();
    ASSERT_EQ(l.size(), 4u);
    EXPECT_EQ(l[1],
              "----------------- Logs in Current Timezone: Asia/Kathmandu ----------------- ");
    EXPECT_EQ(l[2], "----------------- GMT Offset: +5:45 ----------------- ");

    auto h = Log::headerLines("ABCD", "UTC", 0);
    EXPECT_EQ(h[2], "----------------- GMT Offset: +0:00 ----------------- ");
    EXPECT_EQ(Log::headerLines("ABCD", "X", -12600)[2],
              "----------------- GMT Offset: -3:30 ----------------- ");
}

TEST_F(LogTest, SessionIdIsTheLow32BitsInHex) {
    EXPECT_EQ(Log::sessionIdForDraw(0xABCD), "ABCD");
    EXPECT_EQ(Log::sessionIdForDraw(0x7FFF'FFFF'0000'ABCDull), "ABCD");
    EXPECT_EQ(Log::sessionIdForDraw(0xFFFF'FFFFull), "FFFFFFFF");
    EXPECT_EQ(Log::sessionIdForDraw(0), "0");
}

TEST_F(LogTest, LevelTagsAndShortForms) {
    Log::e(1, "a/F.cpp", 1, 2, "f()");
    Log::i(2.5, "a/F.cpp", 1, 2, "f()");
    Log::d(true, "F.cpp", 1, 2, "f()");
    Log::v(std::optional<std::string>("o"), "F.cpp", 1, 2, "f()");
    Log::w("warn", "F.cpp", 1, 2, "f()");
    Log::i(PelkSensor::create("S1", SensorType::mfi("AA", 2)), "F.cpp", 1, 2, "f()");
    Log::i(std::shared_ptr<PelkSensor>(), "F.cpp", 1, 2, "f()");
    Log::e2("E");
    Log::i2("I");
    Log::d2("D");
    Log::v2("V");
    Log::w2("W");
    auto l = lines();
    ASSERT_EQ(l.size(), 15u);
    const std::string p = "[" + Log::sessionId() + "] <T> ";
    std::vector<std::string> expected = {
        p + "[E][F.cpp]:1 2 f() -> 1",
        p + "[I][F.cpp]:1 2 f() -> 2.5",
        p + "[D][F.cpp]:1 2 f() -> true",
        p + "[V][F.cpp]:1 2 f() -> Optional(\"o\")",
        p + "[W][F.cpp]:1 2 f() -> warn",
        p + "[I][F.cpp]:1 2 f() -> PelkSensor: name: S1, type: mfi(\"AA\", 2)",
        p + "[I][F.cpp]:1 2 f() -> nil",
        p + "[E] -> E",
        p + "[I] -> I",
        p + "[D] -> D",
        p + "[V] -> V",
        p + "[W] -> W",
    };
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(masked(l[i + 3]), expected[i]);
}

TEST_F(LogTest, SourcePositionOfTheCaller) {
    const int line = __LINE__ + 1;
    Log::i("here");
    auto l = lines();
    ASSERT_EQ(l.size(), 4u);
    const std::string position = "[I][LogTest.cpp]:" + std::to_string(line) + " ";
    EXPECT_NE(l[3].find(position), std::string::npos) << l[3];
    EXPECT_TRUE(l[3].ends_with(" TestBody() -> here")) << l[3];
}

TEST_F(LogTest, FunctionNames) {
    EXPECT_EQ(Log::functionName("void qz::Relay::send(const std::string&, int)"),
              "send(const std::string&, int)");
    EXPECT_EQ(Log::functionName("qz::Gateway::Gateway()"), "Gateway()");
    EXPECT_EQ(Log::functionName("int main()"), "main()");
    EXPECT_EQ(Log::functionName("std::vector<int> qz::A<B>::list(std::map<int, int>)"),
              "list(std::map<int, int>)");
    EXPECT_EQ(Log::functionName("qz::Foo::bar()::<lambda()>"), "bar()");
    EXPECT_EQ(Log::functionName("void qz::X::operator()(int)"), "operator()(int)");
    EXPECT_EQ(Log::functionName("plain"), "plain");
    EXPECT_EQ(Log::sourceFileName("a/b/c.cpp"), "c.cpp");
    EXPECT_EQ(Log::sourceFileName("c.cpp"), "c.cpp");
}

TEST_F(LogTest, PublicLinesGoToTheFileAndTheHostDelegate) {
    auto delegate = std::make_shared<RecordingDelegate>();
    GatewayLogger::setDelegate(delegate);
    Log::PublicFuncCall({}, "Gateway.cpp", 3, 4, "disconnect()");
    Log::PublicFuncCall({"a\"b", "c\\d\n", "it's"}, "Gateway.cpp", 3, 4, "connect(withSensor:)");
    Log::PublicInfo("info", "Gateway.cpp", 5, 6, "status");
    Log::PublicError(CommError::timedOut, "/x/Gateway.cpp", 7, 8, "scan()");
    Log::i("private", "Gateway.cpp", 1, 1, "f()");

    auto l = lines();
    ASSERT_EQ(l.size(), 8u);
    const std::string p = "[" + Log::sessionId() + "] <T> ";
    EXPECT_EQ(masked(l[3]), p + "[I][Gateway.cpp]:3 4 disconnect() -> Function Called: []");
    EXPECT_EQ(
        masked(l[4]),
        p + R"([I][Gateway.cpp]:3 4 connect(withSensor:) -> Function Called: ["a\"b", "c\\d\n", "it\'s"])");
    EXPECT_EQ(masked(l[5]), p + "[I][Gateway.cpp]:5 6 status -> info");
    EXPECT_EQ(masked(l[6]), p + "[E][Gateway.cpp]:7 8 scan() -> timedOut");

    ASSERT_EQ(delegate->lines.size(), 4u);
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(delegate->lines[i], l[i + 3]);
}

TEST_F(LogTest, BackgroundMarker) {
    Log::i2("before");
    Application::enterBackground();
    Log::i2("hidden");
    Log::PublicInfo("public", "G.cpp", 1, 1, "f()");
    Application::becomeActive();
    Log::i2("after");
    auto l = lines();
    ASSERT_EQ(l.size(), 9u);
    const std::string id = Log::sessionId();
    EXPECT_EQ(masked(l[3]), "[" + id + "] <T> [I] -> before");
    EXPECT_TRUE(masked(l[4]).starts_with("[" + id + "] <T> [I][Log.cpp]:")) << l[4];
    EXPECT_TRUE(l[4].ends_with(" -> App entered the background")) << l[4];
    EXPECT_EQ(masked(l[5]), "[IN BACKGROUND][" + id + "] <T> [I] -> hidden");
    EXPECT_EQ(masked(l[6]), "[" + id + "] <T> [I][G.cpp]:1 1 f() -> public");
    EXPECT_TRUE(l[7].starts_with("[IN BACKGROUND][" + id + "] ")) << l[7];
    EXPECT_TRUE(l[7].ends_with(" -> App became active")) << l[7];
    EXPECT_EQ(masked(l[8]), "[" + id + "] <T> [I] -> after");
}

TEST_F(LogTest, NoMarkerBeforeTheFirstLine) {
    Application::enterBackground();
    EXPECT_FALSE(Log::inBackground());
    Log::i2("x");
    auto l = lines();
    ASSERT_EQ(l.size(), 4u);
    EXPECT_FALSE(l[3].starts_with("[IN BACKGROUND]"));
}

TEST_F(LogTest, ManyThreadsStartOneSession) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([t] {
            std::string line = "t";
            line += std::to_string(t);
            for (int i = 0; i < 20; ++i) Log::d2(line);
        });
    for (auto& th : threads) th.join();
    auto l = lines();
    ASSERT_EQ(l.size(), 3u + 160u);
    int headers = 0;
    const std::string id = Log::sessionId();
    for (const auto& line : l) {
        if (line.starts_with("-----------------")) {
            ++headers;
            continue;
        }
        EXPECT_TRUE(line.starts_with("[" + id + "] ")) << line;
    }
    EXPECT_EQ(headers, 3);
    EXPECT_TRUE(l[0].starts_with("----------------- Starting session "));
}

TEST_F(LogTest, EngineLinesThroughTheBinder) {
    LogBinder binder;
    binder.logWarning(std::nullopt);
    EXPECT_FALSE(fs::exists(Log::fileLogger()->currentPath()))
        << "a null engine line writes nothing";
    binder.logInfo(std::string("a"));
    binder.logWarning(std::string("w"));

    QZEPitCrew crew;
    crew.registerLoggingAdapter(std::make_shared<LogBinder>());
    const std::optional<std::string> none;
    QZELogging::shared().logError("code %@ at %d (%@)", "P0301", 7, none);
    QZELogging::shared().logVerbose("v");
    QZELogging::shared().logDebug("d");
    crew.registerLoggingAdapter(nullptr);

    auto l = lines();
    ASSERT_EQ(l.size(), 8u);
    const std::string p = "[" + Log::sessionId() + "] <T> ";
    EXPECT_EQ(masked(l[3]), p + "[I] -> a");
    EXPECT_EQ(masked(l[4]), p + "[W] -> w");
    EXPECT_EQ(masked(l[5]), p + "[E] -> code P0301 at 7 ((null))");
    EXPECT_EQ(masked(l[6]), p + "[V] -> v");
    EXPECT_EQ(masked(l[7]), p + "[D] -> d");
}

TEST_F(LogTest, ArchiveOfTheLogFolder) {
    Log::i2("archived");
    auto archive = Log::fileLogger()->combinedLog();
    ASSERT_TRUE(archive.has_value());
    int status = -1;
    std::string content = runCommand("gzip -dc '" + archive->string() + "'", &status);
    ASSERT_EQ(status, 0);
    auto log = Log::fileLogger();
    auto texts = decryptAll(Data(content.begin(), content.end()), log->key(), log->iv(),
                            home.path() / "s.bin");
    ASSERT_EQ(texts.size(), 5u);
    EXPECT_EQ(texts[0], "Filename: " + FileLog::fileURLText(log->currentPath()) + "\r");
    EXPECT_TRUE(masked(texts[4]).ends_with("<T> [I] -> archived\r"));
}

TEST(GatewayLoggerTest, LogWithoutDelegateDoesNothing) {
    GatewayLogger::setDelegate(nullptr);
    EXPECT_EQ(GatewayLogger::delegate(), nullptr);
    GatewayLogger::log("dropped");
    auto d = std::make_shared<RecordingDelegate>();
    GatewayLogger::setDelegate(d);
    GatewayLogger::log("kept");
    GatewayLogger::setDelegate(nullptr);
    EXPECT_EQ(d->lines, std::vector<std::string>{"kept"});
}
