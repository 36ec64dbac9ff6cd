// Scans through the gateway that meet what real cars and sensors do: a generic read that fails,
// modules that answer with the sensor's words or junk, keep saying "response pending", or whose
// multi-frame answer is cut short, damaged module lists, J1850 modules that answer NO DATA
// first. The result says "no codes" only where that is true.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <tuple>

#include "ScanTestSupport.hpp"
#include "api/Communication/Relay.hpp"
#include "lib/Content/DefinitionFile.hpp"
#include "lib/Decoders/QZEReplyText.hpp"
#include "lib/Logging/QZELogging.hpp"
#include "lib/Utils/DataAES256.hpp"
#include "platform/Bundle.hpp"
#include "sim/SensorCore.hpp"

using namespace qz;
using namespace qz::scantest;
using namespace qz::testsupport;
using qz::sim::ModuleProfile;
using qz::sim::VehicleProfile;

namespace {

namespace fs = std::filesystem;

VehicleProfile sample(const std::string& file) {
    return VehicleProfile::load(VehicleProfile::sampleFolder() / file);
}

// A car with stored, pending and permanent generic codes, one both stored and pending.
VehicleProfile genericCar(nlohmann::json answers = nlohmann::json::object()) {
    auto doc = nlohmann::json::parse(R"({"sensor": {"version": "4.08", "bus": 6},
        "vin": "1HGCM82633A004352",
        "ecus": [{"address": "7E8", "mode1": {"0D": "00"}, "stored": ["P0420", "P0101"],
                  "pending": ["P0171", "P0101"], "permanent": ["P0300"]}]})");
    doc["sensor"]["answers"] = std::move(answers);
    return VehicleProfile::fromJson(doc);
}

ModuleProfile::Answer words(const std::string& text) {
    ModuleProfile::Answer answer;
    answer.text = text;
    return answer;
}

ModuleProfile::Answer bytesOf(std::vector<uint8_t> message) {
    ModuleProfile::Answer answer;
    answer.push_back(std::move(message));
    return answer;
}

// "7F <the request's service> 78".
ModuleProfile::Answer pendingFor(const std::string& request) {
    auto byteAt = [&](size_t at) {
        return request.size() >= at + 2
                   ? static_cast<uint8_t>(std::stoul(request.substr(at, 2), nullptr, 16))
                   : 0;
    };
    // A MUT line request begins with its length: the service follows it.
    const uint8_t service = byteAt(0) < 0x10 && request.size() >= 4 ? byteAt(2) : byteAt(0);
    return bytesOf({0x7F, service, 0x78});
}

// Every answer of every module (its cleared ones too) replaced.
void answerAll(VehicleProfile& profile,
               const std::function<ModuleProfile::Answers(const std::string&, size_t)>& answer) {
    for (size_t i = 0; i < profile.modules.size(); ++i)
        for (auto* table : {&profile.modules[i].replies, &profile.modules[i].cleared})
            for (auto& [request, answers] : *table) answers = answer(request, i);
}

// The module of that name, else the first whose name begins so.
ModuleProfile& moduleNamed(VehicleProfile& profile, const std::string& prefix) {
    for (auto& m : profile.modules)
        if (m.name == prefix) return m;
    for (auto& m : profile.modules)
        if (m.name.starts_with(prefix)) return m;
    throw std::invalid_argument("no module " + prefix);
}

// Keeps the engine's log lines ("W:<text>") and passes them on to the library's log.
class EngineLines : public LoggerInterface {
  public:
    explicit EngineLines(std::shared_ptr<LoggerInterface> next) : next_(std::move(next)) {}
    void logVerbose(const std::optional<std::string>& t) override {
        seen.logVerbose(t);
        if (next_) next_->logVerbose(t);
    }
    void logDebug(const std::optional<std::string>& t) override {
        seen.logDebug(t);
        if (next_) next_->logDebug(t);
    }
    void logInfo(const std::optional<std::string>& t) override {
        seen.logInfo(t);
        if (next_) next_->logInfo(t);
    }
    void logWarning(const std::optional<std::string>& t) override {
        seen.logWarning(t);
        if (next_) next_->logWarning(t);
    }
    void logError(const std::optional<std::string>& t) override {
        seen.logError(t);
        if (next_) next_->logError(t);
    }
    const std::shared_ptr<LoggerInterface>& next() const { return next_; }
    testsupport::RecordingLogger seen;

  private:
    std::shared_ptr<LoggerInterface> next_;
};

class ScanTruthBase : public ScanTest {
  protected:
    void TearDown() override {
        if (engineLines) QZELogging::shared().registerLoggerInterface(engineLines->next());
        ScanTest::TearDown();
    }
    // Connects, and from then on keeps the engine's log lines.
    void connectAndListen(VehicleProfile profile, Waits waits = Waits::real) {
        connectTo(std::move(profile), waits);
        engineLines = std::make_shared<EngineLines>(QZELogging::shared().adapter());
        QZELogging::shared().registerLoggerInterface(engineLines);
    }
    size_t logged(const std::string& start) const {
        return engineLines->seen.countStartingWith(start);
    }

    // A scan with every prompt answered; its last value.
    std::optional<PelkScanProgress> answeredScan(PelkScanType type, std::optional<std::string> vin,
                                                 ScanRecorder& recorder) {
        recorder.onInteraction([](const InteractionType& t) { t.listener()(); });
        return scan(type, std::move(vin), recorder);
    }
    // A full scan of the vehicle: the kind of its end and the lines of the modules it reported
    // (those of its error when it failed).
    std::pair<std::string, Texts> scanEnd(const VehicleProfile& profile,
                                          PelkScanType type = PelkScanType::all) {
        core->setProfile(profile);
        ScanRecorder recorder;
        auto end = answeredScan(type, profile.vin, recorder);
        const auto kinds = recorder.kinds();
        updates = static_cast<size_t>(std::count(kinds.begin(), kinds.end(), "update"));
        if (!end || !end->result()) return {end ? recorder.kinds().back() : "no end", {}};
        const PelkModules modules =
            *end->result() ? **end->result() : end->result()->error().modules();
        return {recorder.kinds().back(), moduleLines(modules)};
    }
    Texts scanLines(const VehicleProfile& profile, PelkScanType type = PelkScanType::all) {
        auto [end, lines] = scanEnd(profile, type);
        EXPECT_EQ(end, "complete");
        return lines;
    }
    // Another vehicle, on its own bus: the gateway learns the bus as at a connect.
    void changeVehicle(const VehicleProfile& profile) {
        core->setProfile(profile);
        Gateway::gatewayQueue()->sync([&] { gateway->vehicle()->initializeVehicle(); });
    }

    std::shared_ptr<EngineLines> engineLines;
    size_t updates = 0;  // the progress reports of the last scanEnd
};

// Over either session: what the link does never changes what a scan says.
class ScanTruth : public ScanTruthBase, public ::testing::WithParamInterface<Transport> {
  protected:
    void SetUp() override {
        ScanTruthBase::SetUp();
        transport = GetParam();
    }
};

}  // namespace

// The generic read answered otherwise than with a code list: a silent command, "?", the sensor's
// error words, junk. The scan fails and keeps the codes it did read; "no codes" only when the
// sensor said so.
TEST_P(ScanTruth, AGenericReadThatFailsNeverSaysNoCodes) {
    struct Case {
        const char* name;
        nlohmann::json answers;
        std::string end;
        Texts modules;
        std::vector<sim::Fault> faults = {};
        std::string noted = {};  // an engine line, when given
        bool echo = false;       // the sensor echoes commands
    };
    const std::vector<Case> cases = {
        {"answered",
         nlohmann::json::object(),
         "complete",
         {"OBD: P0420/CONFIRMED P0101/CONFIRMED/PENDING P0171/PENDING P0300/PERMANENT"}},
        {"a car without codes",
         {{"KQTC", "NO DATA"}, {"KQTCP", "NO DATA"}, {"KQTCA", "NO DATA"}},
         "complete",
         {"OBD:"}},
        {"all three silent",
         {{"KQTC", nullptr}, {"KQTCP", nullptr}, {"KQTCA", nullptr}},
         "complete:communicaton",
         {}},
        {"stored codes silent",
         {{"KQTC", nullptr}},
         "complete:communicaton",
         {"OBD: P0171/PENDING P0101/PENDING P0300/PERMANENT"}},
        {"stored codes not understood",
         {{"KQTC", "?"}},
         "complete:communicaton",
         {"OBD: P0171/PENDING P0101/PENDING P0300/PERMANENT"}},
        {"pending codes: a bus error",
         {{"KQTCP", "CAN ERROR"}},
         "complete:communicaton",
         {"OBD: P0420/CONFIRMED P0101/CONFIRMED P0300/PERMANENT"}},
        {"permanent codes: no bus",
         {{"KQTCA", "BUS INIT: ...ERROR"}},
         "complete:communicaton",
         {"OBD: P0420/CONFIRMED P0101/CONFIRMED/PENDING P0171/PENDING"}},
        // A code list that is no list: the vehicle's refusal, a code cut short, junk.
        {"junk is a failed read",
         {{"KQTC", "P04 20"}},
         "complete:communicaton",
         {"OBD: P0171/PENDING P0101/PENDING P0300/PERMANENT"}},
        {"the stored codes refused",
         {{"KQTC", "7F 03 22"}},
         "complete:communicaton",
         {"OBD: P0171/PENDING P0101/PENDING P0300/PERMANENT"}},
        // Its whole codes are kept.
        {"the last pending code cut short",
         {{"KQTCP", "P0171\rP01"}},
         "complete:communicaton",
         {"OBD: P0420/CONFIRMED P0101/CONFIRMED P0171/PENDING P0300/PERMANENT"}},
        {"a junk token among the permanent codes",
         {{"KQTCA", "P04#0\rX"}},
         "complete:communicaton",
         {"OBD: P0420/CONFIRMED P0101/CONFIRMED/PENDING P0171/PENDING"}},
        {"a damaged stored code before a whole one",
         {{"KQTC", "P04#0\rP0101"}},
         "complete:communicaton",
         {"OBD: P0101/CONFIRMED/PENDING P0171/PENDING P0300/PERMANENT"}},
        {"a stored code that lost its letter",
         {{"KQTC", "P0101 0420"}},
         "complete:communicaton",
         {"OBD: P0101/CONFIRMED/PENDING P0171/PENDING P0300/PERMANENT"}},
        {"a pending code that lost its letter, alone on its line",
         {{"KQTCP", "P0171\r420"}},
         "complete:communicaton",
         {"OBD: P0420/CONFIRMED P0101/CONFIRMED P0171/PENDING P0300/PERMANENT"}},
        // Replies as adapters print them: headers, a byte count, "SEARCHING...", a failure-type
        // byte, nothing but the prompt.
        {"headers and a byte count",
         {{"KQTC", "7E8 P0420\r7E8 P0101"}, {"KQTCP", "02\rP0171\rP0101"}},
         "complete",
         {"OBD: P0420/CONFIRMED P0101/CONFIRMED/PENDING P0171/PENDING P0300/PERMANENT"}},
        {"searching first, a failure-type byte",
         {{"KQTC", "SEARCHING...\rU0100-87\rP0420\rP0101"}},
         "complete",
         {"OBD: U0100/CONFIRMED P0420/CONFIRMED P0101/CONFIRMED/PENDING P0171/PENDING "
          "P0300/PERMANENT"}},
        {"only the prompt", {{"KQTC", ""}, {"KQTCP", ""}, {"KQTCA", ""}}, "complete", {"OBD:"}},
        {"unable to connect",
         {{"KQTC", "SEARCHING...\rUNABLE TO CONNECT"}},
         "complete:communicaton",
         {"OBD: P0171/PENDING P0101/PENDING P0300/PERMANENT"}},
        // No vehicle bus (the ignition off): NO DATA says nothing of codes; codes read are codes.
        {"no vehicle bus",
         {{"KQDP", "0"}, {"KQTC", "NO DATA"}, {"KQTCP", "NO DATA"}, {"KQTCA", "NO DATA"}},
         "complete:communicaton",
         {}},
        {"no vehicle bus, codes read",
         {{"KQDP", "0"}},
         "complete",
         {"OBD: P0420/CONFIRMED P0101/CONFIRMED/PENDING P0171/PENDING P0300/PERMANENT"}},
        {"nothing but refusals",
         {{"KQTC", "?"}, {"KQTCP", "?"}, {"KQTCA", "NO DATA"}},
         "complete:communicaton",
         {}},
        // A list that stops before its end: its whole codes, and what happened in words.
        {"the stored codes stop after the first",
         nlohmann::json::object(),
         "complete:communicaton",
         {"OBD: P0420/CONFIRMED P0171/PENDING P0101/PENDING P0300/PERMANENT"},
         {sim::Fault::reply("P0420\r", -1, "KQTC")},
         "E:Generic code read stopped before its end: KQTC after P0420"},
        // Stopped after the echo: nothing of the list came, the echo is no code.
        {"the stored codes stop after the echo",
         nlohmann::json::object(),
         "complete:communicaton",
         {"OBD: P0171/PENDING P0101/PENDING P0300/PERMANENT"},
         {sim::Fault::reply("", -1, "KQTC")},
         "E:Generic code read stopped before its end: KQTC",
         true},
    };
    ASSERT_NO_FATAL_FAILURE(connectAndListen(genericCar()));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        core->setProfile(genericCar(c.answers));
        core->setEcho(c.echo);
        core->clearFaults();
        for (const auto& f : c.faults) core->addFault(f);
        engineLines->seen.clear();
        // A silent or stopped command costs its wait: those cases run once, and on a clock on
        // which it costs a quarter of its 3 s (an answer has that long to come). The others keep
        // the whole wait for every answer.
        const bool silent =
            !c.faults.empty() || std::any_of(c.answers.begin(), c.answers.end(),
                                             [](const auto& answer) { return answer.is_null(); });
        scanClock.reset();
        if (silent)
            scanClock.emplace(std::make_shared<QuickClock>(0.25));
        else
            scanClock.emplace(std::make_shared<modtest::InstantSleepClock>());
        std::vector<PelkScanType> types = {PelkScanType::cel};
        if (!silent) types.push_back(PelkScanType::all);
        for (auto type : types) {
            ScanRecorder recorder;
            auto end = scan(type, std::nullopt, recorder);
            ASSERT_TRUE(end && end->result());
            EXPECT_EQ(recorder.kinds().back(), c.end);
            const PelkModules modules =
                *end->result() ? **end->result() : end->result()->error().modules();
            EXPECT_EQ(moduleLines(modules), c.modules);
            EXPECT_FALSE(gateway->isBusy());
        }
        if (!c.noted.empty()) {
            const auto errors = engineLines->seen.linesStartingWith("E:");
            EXPECT_EQ(std::count(errors.begin(), errors.end(), c.noted), 1)
                << ::testing::PrintToString(errors);
        }
    }
}

// Every make's vehicle whose modules answer with nothing but the sensor's words or junk, give
// only refusals, or keep saying "response pending" or "busy": the scan lists no manufacturer
// module at all. Modules that answered and could not be read (pending or busy to the end) end the
// scan in its communication error, with the generic codes still read. And the vehicle as it is,
// with the app's main queue held (twice the relay's wait) as the first module is asked, or as a
// module's read goes out (over BLE the read waits there to go out): the scan reads what it reads
// with the main queue free.
class ModulesThatNeverAnswer
    : public ScanTruthBase,
      public ::testing::WithParamInterface<std::tuple<std::string, Transport>> {
  protected:
    void SetUp() override {
        ScanTruthBase::SetUp();
        transport = std::get<1>(GetParam());
    }
    // Holds the main queue, from the first module request the sensor gets on, for twice the
    // relay's wait on the scan clock.
    void holdMainQueueAtFirstModuleRequest() { holdMainQueueAt(isModuleRequest); }
    // Holds the main queue as the first read that a module answers goes out after a set-up (in
    // `commands`, the scan's commands): from the set-up's answer on, for twice the relay's wait on
    // the scan clock. Over BLE the read then waits on the main queue to go out. False when no such
    // read is found.
    bool holdMainQueueAsAReadGoesOut(const VehicleProfile& profile, const Texts& commands) {
        sim::SensorCore probe(profile);
        size_t before = 0;
        for (size_t i = 0; i < commands.size() && before == 0; ++i) {
            const std::string answer = probe.answer(commands[i]);
            const auto words = reply::tokens(answer);
            const bool answered = answer.find("NO DATA") == std::string::npos &&
                                  answer.find('?') == std::string::npos &&
                                  std::find(words.begin(), words.end(), "7F") == words.end();
            if (i > 0 && commands[i - 1].starts_with("KQ") && isModuleRequest(commands[i]) &&
                answered)
                before = i;  // the set-up's count among the commands, from 1
        }
        if (before == 0) return false;
        auto count = std::make_shared<std::atomic<size_t>>(0);
        core->addHandler([count, before](const std::string&) -> std::optional<std::string> {
            // Queued behind the set-up's answer: the hold begins once the relay has it.
            if (++*count == before)
                DispatchQueue::main()->async(
                    [] { DispatchQueue::main()->async([] { holdThisThread(); }); });
            return std::nullopt;
        });
        return true;
    }
    static bool isModuleRequest(const std::string& command) {
        return !command.empty() && std::isxdigit(command[0]) && !command.starts_with("01") &&
               !command.starts_with("09");
    }
};

TEST_P(ModulesThatNeverAnswer, AreNotListed) {
    const auto original = sample(std::get<0>(GetParam()));
    ASSERT_NO_FATAL_FAILURE(connectTo(original));
    const Texts theWords = {"?",       "NO DATA",  "CAN ERROR", "BUS INIT: ...ERROR",
                            "STOPPED", "59 0? F#", "ERROR"};
    auto saying = original;
    answerAll(saying, [&](const std::string&, size_t module) {
        return ModuleProfile::Answers{words(theWords[module % theWords.size()])};
    });
    // Service not supported, sub-function not supported, conditions not correct, out of range.
    const std::vector<uint8_t> refusals = {0x11, 0x12, 0x22, 0x31};
    auto refusing = original;
    answerAll(refusing, [&](const std::string& request, size_t module) {
        auto answer = pendingFor(request);
        answer.front().back() = refusals[module % refusals.size()];
        return ModuleProfile::Answers{answer};
    });
    // Response pending, busy.
    auto waiting = original;
    answerAll(waiting, [](const std::string& request, size_t module) {
        auto answer = pendingFor(request);
        if (module % 2) answer.front().back() = 0x21;
        return ModuleProfile::Answers{answer};
    });
    // A vehicle whose make has no module scan reads none of them.
    const Texts read = scanLines(original);
    const Texts commands = gwtest::SimulatedSensorTest::sent();
    const bool readsModules = std::any_of(read.begin(), read.end(), [](const std::string& line) {
        return !line.starts_with("OBD:");
    });
    enum class Held { no, atFirstModuleRequest, asAReadGoesOut };
    struct Row {
        const char* name;
        const VehicleProfile* profile;
        const char* end;
        Held held = Held::no;  // then every module of the plain scan is listed
    };
    const std::vector<Row> rows = {
        {"words", &saying, "complete"},
        {"refusals", &refusing, "complete"},
        {"waiting", &waiting, readsModules ? "complete:communicaton" : "complete"},
        {"the main queue held", &original, "complete", Held::atFirstModuleRequest},
        {"the main queue held as a read goes out", &original, "complete", Held::asAReadGoesOut}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (row.held != Held::no) {
            // Waits without an answer a quarter of their length: the hold outlasts the relay's
            // wait.
            scanClock.reset();
            scanClock.emplace(std::make_shared<QuickClock>(0.25));
        }
        if (row.held == Held::atFirstModuleRequest) holdMainQueueAtFirstModuleRequest();
        if (row.held == Held::asAReadGoesOut) {
            EXPECT_EQ(holdMainQueueAsAReadGoesOut(original, commands), readsModules);
        }
        const auto [kind, lines] = scanEnd(*row.profile);
        EXPECT_EQ(kind, row.end);
        if (row.held != Held::no) {
            EXPECT_EQ(lines, read);
            continue;
        }
        for (const auto& line : lines) EXPECT_TRUE(line.starts_with("OBD:")) << line;
        EXPECT_FALSE(lines.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(SimulatedVehicles, ModulesThatNeverAnswer,
                         ::testing::Combine(::testing::ValuesIn(profilesWithModules()),
                                            ::testing::Values(Transport::mfi, Transport::ble)),
                         [](const auto& info) {
                             return profileTestName({std::get<0>(info.param), info.index}) + "_" +
                                    transportName({std::get<1>(info.param), info.index});
                         });

// A Toyota ECM that says "response pending" before its data, and an ABS whose multi-frame answer
// is cut short (the sensor's headers-off display, a frame lost). An answer still cut short after
// its re-reads, or still pending, ends the scan in its communication error, with the module's
// codes so far; every other module and the generic codes are still read.
TEST_P(ScanTruth, PendingAnswersAreWaitedOutAndCutShortAnswersReadAgain) {
    const auto original = sample("toyota.json");
    const std::string absFull = "00A\r0: 53 04 52 01 52 41 \r1: 52 49 53 36 ";
    const std::string absLastLost = "00A\r0: 53 04 52 01 52 41 ";
    const std::string absFirstLost = "00A\r1: 52 49 53 36 ";
    // A byte of the first frame lost: every byte after it shifts.
    const std::string absFrameShort = "00A\r0: 53 04 52 01 52 \r1: 52 49 53 36 ";
    // Frames the adapter flags as damaged.
    const std::string absFirstFlagged = "00A\r0: 53 04 52 01 52 41 <RX ERROR\r1: 52 49 53 36 ";
    const std::string absLastFlagged = "00A\r0: 53 04 52 01 52 41 \r1: 52 49 53 36 <DATA ERROR";
    const auto data = bytesOf({0x53, 0x02, 0x11, 0x35, 0x16, 0x56});
    const auto pending = pendingFor("13");
    struct Case {
        const char* name;
        std::string module;
        ModuleProfile::Answers answers;  // to its read, one per repeat
        std::string line;                // its line ("" when it is not listed)
        size_t rereads;
        size_t incomplete;
    };
    const std::string ecm = "ECM: P1135/STORED P1656/STORED";
    const std::string abs = "ABS: C1201/STORED C1241/STORED C1249/STORED C1336/STORED";
    const std::vector<Case> cases = {
        {"three pending, then data", "ECM (CAN)", {pending, pending, pending, data}, ecm, 0, 0},
        {"five pending, then data",
         "ECM (CAN)",
         {pending, pending, pending, pending, pending, data},
         ecm,
         0,
         0},
        {"pending for good", "ECM (CAN)", {pending}, "", 0, 1},
        {"busy for good", "ECM (CAN)", {bytesOf({0x7F, 0x13, 0x21})}, "", 0, 1},
        {"pending after SEARCHING..., then data",
         "ECM (CAN)",
         {words("SEARCHING...\r7F 13 78"), data},
         ecm,
         0,
         0},
        {"a frame lost once", "ABS (CAN", {words(absLastLost), words(absFull)}, abs, 1, 0},
        {"a frame lost twice",
         "ABS (CAN",
         {words(absLastLost), words(absLastLost), words(absFull)},
         abs,
         2,
         0},
        {"a frame short, then whole",
         "ABS (CAN",
         {words(absFrameShort), words(absFull)},
         abs,
         1,
         0},
        {"the first frame flagged, then whole",
         "ABS (CAN",
         {words(absFirstFlagged), words(absFull)},
         abs,
         1,
         0},
        {"the last frame flagged, then whole",
         "ABS (CAN",
         {words(absLastFlagged), words(absFull)},
         abs,
         1,
         0},
        {"the last frame lost for good",
         "ABS (CAN",
         {words(absLastLost)},
         "ABS: C1201/STORED C1241/STORED",
         2,
         1},
        {"the first frame lost for good", "ABS (CAN", {words(absFirstLost)}, "", 2, 1},
        // Read again, the module no longer answers: its codes stay those of the cut-short answer.
        {"a frame lost, then no answer",
         "ABS (CAN",
         {words(absLastLost), words("NO DATA")},
         "ABS: C1201/STORED C1241/STORED",
         1,
         1},
        // A damaged frame is an answer that could not be read, never one of no codes; nothing of
        // its message is a code, not even what came before the damage.
        {"the last frame flagged for good", "ABS (CAN", {words(absLastFlagged)}, "", 2, 1},
        {"only a flag for good", "ABS (CAN", {words("<RX ERROR")}, "", 2, 1},
        // The module's bytes answering nothing asked are an answer that could not be read.
        {"a refusal behind two bytes for good",
         "ECM (CAN)",
         {bytesOf({0x41, 0x00, 0x7F, 0x13, 0x12})},
         "",
         2,
         1},
    };
    ASSERT_NO_FATAL_FAILURE(connectAndListen(original));
    const Texts baseline = scanLines(original);
    ASSERT_NE(std::find(baseline.begin(), baseline.end(), ecm), baseline.end());
    ASSERT_NE(std::find(baseline.begin(), baseline.end(), abs), baseline.end());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto profile = original;
        moduleNamed(profile, c.module).replies["13"] = c.answers;
        engineLines->seen.clear();
        const auto [end, lines] = scanEnd(profile);
        const std::string acronym = c.module.substr(0, 3) + ":";
        Texts expected;
        for (const auto& line : baseline) {
            if (!line.starts_with(acronym)) {
                expected.push_back(line);
                continue;
            }
            if (!c.line.empty()) expected.push_back(c.line);
        }
        EXPECT_EQ(end, c.incomplete ? "complete:communicaton" : "complete");
        EXPECT_EQ(lines, expected);
        EXPECT_EQ(logged("I:Reading module again"), c.rereads);
        EXPECT_EQ(logged("W:Incomplete answer from module"), c.incomplete);
    }
}

// Negative answers alone are no read: such a module is left out as one that did not answer,
// whatever came before them.
TEST_P(ScanTruth, ModulesThatOnlyRefuseAreLeftOut) {
    const auto data = bytesOf({0x53, 0x02, 0x11, 0x35, 0x16, 0x56});
    const auto pending = pendingFor("13");
    struct Case {
        const char* name;
        std::string profile;
        std::string module;
        std::string request;             // as the profile keys it
        ModuleProfile::Answers answers;  // to its read, one per repeat
        std::string line;                // its line ("" when it is not listed)
    };
    const std::vector<Case> cases = {
        {"data", "toyota.json", "ECM (CAN)", "13", {data}, "ECM: P1135/STORED P1656/STORED"},
        {"conditions not correct",
         "toyota.json",
         "ECM (CAN)",
         "13",
         {bytesOf({0x7F, 0x13, 0x22})},
         ""},
        {"service not supported",
         "toyota.json",
         "ECM (CAN)",
         "13",
         {bytesOf({0x7F, 0x13, 0x11})},
         ""},
        {"busy, then data",
         "toyota.json",
         "ECM (CAN)",
         "13",
         {bytesOf({0x7F, 0x13, 0x21}), data},
         "ECM: P1135/STORED P1656/STORED"},
        {"pending, then a refusal",
         "toyota.json",
         "ECM (CAN)",
         "13",
         {pending, bytesOf({0x7F, 0x13, 0x22})},
         ""},
        {"GM: a refusal", "gm.json", "PSCM (GMLAN)", "A98112", {bytesOf({0x7F, 0xA9, 0x12})}, ""},
        // A 7F is a negative answer only where a message begins.
        {"a code with 7F and 78 in its first bytes",
         "ford.json",
         "TCM (UDS",
         "1902FF",
         {bytesOf({0x59, 0x02, 0x7F, 0x17, 0x78, 0x00, 0x2F})},
         "TCM: P1778-00/CONFIRMED/PENDING"},
        {"the body gateway's answer with a code byte 7F",
         "toyota.json",
         "BODY (behind",
         "13",
         {bytesOf({0x53, 0x02, 0x7F, 0x19, 0x96, 0x50})},
         "BODY: C3F19/STORED B1650/STORED"},
        {"a bare negative byte behind the body gateway",
         "toyota.json",
         "BODY (behind",
         "13",
         {bytesOf({0x7F})},
         ""},
        // Negative answers cut short.
        {"a bare negative byte", "toyota.json", "ECM (CAN)", "13", {bytesOf({0x7F})}, ""},
        {"no response code", "toyota.json", "ECM (CAN)", "13", {bytesOf({0x7F, 0x13})}, ""},
        {"GM: no response code", "gm.json", "PSCM (GMLAN)", "A98112", {bytesOf({0x7F, 0xA9})}, ""},
    };
    // Both vehicles are on 11-bit CAN: one connection serves them.
    ASSERT_NO_FATAL_FAILURE(connectTo(sample("toyota.json")));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto profile = sample(c.profile);
        moduleNamed(profile, c.module).replies[c.request] = c.answers;
        const Texts lines = scanLines(profile);
        const std::string acronym = c.module.substr(0, c.module.find(' ')) + ":";
        Texts mine;
        for (const auto& line : lines)
            if (line.starts_with(acronym)) mine.push_back(line);
        EXPECT_EQ(mine, c.line.empty() ? Texts{} : Texts{c.line});
    }
}

// A set-up command the sensor does not accept ("?", NO DATA, an error word) and a module whose
// codes stay partly unknown (a fault table not answered, an answer still cut short after its
// re-reads, or stopped before its prompt; only another address answering): the modules are never
// read on a bus the sensor did not select, every other module and the generic codes are read,
// and the scan ends in its communication error; the sensor is restored all the same. An answer
// that comes whole when read again ends the scan complete.
TEST_P(ScanTruth, ARefusedSetUpOrAPartReadEndsTheScanWithTheModulesReadSoFar) {
    struct Case {
        const char* name;
        std::string profile;
        // A sensor command answered otherwise, or "<module>/<request>": a module's read
        // answered with the text as it stands (only the first time: `once`); none: the vehicle
        // changed alone.
        std::string command, answer;
        bool once;
        std::string lines;  // "|" between modules
        bool complete = false;
        std::function<void(VehicleProfile&)> change = {};  // to the vehicle besides
        // Modules a set-up not accepted kept unread and no pass heard from on the same line (bus,
        // pins, method): logged once each, a module's pin pairs together.
        size_t notRead = 0;
        std::string warning = {};  // a warning the scan logs
        // The request's first answers (that many) stop before their prompt: the text, no more.
        int stops = 0;
        // The request's first answers (that many) are the text, with the prompt.
        int repeats = 0;
    };
    const std::string fordHs =
        "PCM: P1000/ACTIVE/MIL P1131/STORED|TCM: P1744-00/CONFIRMED/PENDING"
        "|GWM: U2023-00/CONFIRMED|DDM: B1318/STORED|ABS: C1145/ACTIVE";
    const std::string fordPwm = "PCM: P1000/STORED P0420/STORED|ABS: C1155/STORED";
    const std::string bmwDme = "BMWVB33DME: P29CC-00/CONFIRMED P2A82-12/MIL/CONFIRMED/PENDING";
    const std::string bmwKLine = "BMWVB33IHKA-80: B1E10/STORED|BMWVB33RDC-70: C0035/PENDING";
    const std::string vwUds =
        "01: P0171-00/CONFIRMED P0299-00/CONFIRMED/PENDING|15: B1001-00/CONFIRMED";
    const std::string vwOthers = "03: C1130/STORED|17: U0155/STORED|OBD:";
    const std::string chryslerToCab =
        "PCM: P1281/ACTIVE/MIL P1684/STORED|BCM: B1A00/STORED|TIPM: U1110/ACTIVE"
        "|PCM: P1294/STORED P1693/STORED|CAB: 36/STORED 32/STORED /STORED 71/STORED /STORED";
    const std::string chryslerAfterCab = "BCM: B1210/STORED|ACM: B1001/STORED|MIC:|OBD:";
    const std::string hyundaiCan =
        "ECM: P1326-00/CONFIRMED/PENDING P1529-00/MIL/CONFIRMED|ABS: C1611-00/CONFIRMED"
        "|SMK: B1602-00/CONFIRMED";
    const std::string hyundaiToMut =
        hyundaiCan +
        "|ECM-80: P1166/MIL/NOT PRESENT|ABS-D0: C0035/PRESENT|ETACS-70: B1602/INTERMITTENT";
    const std::string hyundaiMut = "ABS: C0051/PRESENT|SRS: B0001/MIL/PRESENT|ETACS:";
    const std::string chryslerCan =
        "PCM: P1281/ACTIVE/MIL P1684/STORED|BCM: B1A00/STORED|TIPM: U1110/ACTIVE";
    const std::string cab = "CAB: 36/STORED 32/STORED /STORED 71/STORED 54/STORED /STORED";
    const std::string mitsubishi =
        "AT: P1751/STORED|SRS: B0001|ENG: P1400/STORED P1510/ACTIVE"
        "|ETACS: U1100/STORED|OBD:";
    // The units read on K-line and DIAG-H: the second reading named by its line.
    const std::string hondaWithoutSrs =
        "PGMFI: P1456/ACTIVE/MIL P1259/STORED|AT: P0740/STORED P0753/STORED"
        "|ABS: C0040/STORED 31/STORED|ABS*DIAGH: C0040/STORED 31/STORED|EPS*DIAGH: U0131/ACTIVE"
        "|IMMO: U0155/STORED|OBD:";
    const std::string tp2 = "01 Engine: TP2.0 channel/1000041800FF00";
    const std::string tp2Cut = "B1 \r20 00 08 58 02 41 2C 20 \r11 45 11 ";
    const std::string tp2Flagged = "B1 \r20 00 08 58 02 41 2C 20 <RX ERROR\r11 45 11 60 ";
    const std::string toyotaEcm = "ECM: P1135/STORED P1656/STORED";
    const std::string toyotaAbs = "ABS: C1201/STORED C1241/STORED C1249/STORED C1336/STORED";
    const std::string toyotaAfterEcm = "EPS: U0293/STORED|" + toyotaAbs +
                                       "|BODY: B1650/STORED|TPMS: U0100/STORED U0121/STORED|OBD:";
    const std::string toyotaWithoutBody =
        toyotaEcm + "|EPS: U0293/STORED|" + toyotaAbs + "|TPMS: U0100/STORED U0121/STORED|OBD:";
    const std::string nissanWithoutAbs =
        "ECM: P1148/STORED P1614/ACTIVE|BCM:|AIRBAG: B1000/STORED|ABS: C1101/CONFIRMED"
        "|BCM: U1000/MIL/CONFIRMED U1001/PENDING|AIRBAG:|OBD:";
    const std::string gmWithoutEcm =
        "PSCM: C0460/CURRENT/HISTORY|EBCM: C0035/HISTORY|BCM: B1000/MIL"
        "|PCM: P0171/CURRENT/MIL P1380/HISTORY|EBCM: C0040/CURRENT|OBD: P0171/CONFIRMED";
    const std::string hondaAfterAt =
        "ABS: C0040/STORED 31/STORED|SRS: B0001/ACTIVE B0052/ACTIVE|ABS*DIAGH: C0040/STORED "
        "31/STORED|SRS*DIAGH: B0001/ACTIVE B0052/ACTIVE|EPS*DIAGH: U0131/ACTIVE|IMMO: "
        "U0155/STORED|OBD:";
    const std::string mercedes =
        "ESP9: C1020-00/CONFIRMED C1032-00/CONFIRMED|IC204:"
        "|$7E0: P0016-00/CONFIRMED P0171-00/CONFIRMED/PENDING P2004-00/PENDING|OBD:";
    const std::string gmAll = "ECM: P1101/CURRENT/HISTORY/MIL P0171/CURRENT|" + gmWithoutEcm;
    const std::string gmToPcm =
        "ECM: P1101/CURRENT/HISTORY/MIL P0171/CURRENT|PSCM: C0460/CURRENT/HISTORY"
        "|EBCM: C0035/HISTORY|BCM: B1000/MIL|";
    const std::string gmAfterPcm = "EBCM: C0040/CURRENT|OBD: P0171/CONFIRMED";
    // clang-format off
    const std::vector<Case> cases = {
        // Set-ups: the Ford's MS-CAN modules would be the HS-CAN ones under new names, and so on.
        {"Ford: MS-CAN refused", "ford.json", "KQSP=", "?", false, fordHs + "|" + fordPwm + "|OBD:",
         false, {}, 21},
        {"Mazda: MS-CAN not answered", "mazda.json", "KQSP=", "NO DATA", false,
         "PCM: P1603/ACTIVE/MIL P0300/STORED|TCM: P0700-00/CONFIRMED/PENDING|OBD:", false, {}, 21},
        {"Mercedes: pins 9/0 refused", "mercedes-kline.json", "KQSM90", "?", false,
         "KLA_KL-D0: B1000/INTERMITTENT|HFM62-70: P0100/MIL/PRESENT P0130/MIL/NOT PRESENT"
         "|ABR-70: C1200/PRESENT|AB-B0: B1000/NOT PRESENT|ME-70: P1570/MIL/PRESENT|OBD:", false, {},
         16},
        {"BMW: pins 8/0 refused", "bmw.json", "KQSM80", "?", false,
         bmwDme + "|BMWVB33DSC: C1E20-00/PENDING|BMWVB33KOMBI:|BMWVB33RDC-70: C0035/PENDING|OBD:",
         false, {}, 15},
        {"Hyundai: pins 8/0 a bus error", "hyundai.json", "KQSM80", "CAN ERROR", false,
         "ECM: P1326-00/CONFIRMED/PENDING P1529-00/MIL/CONFIRMED|ABS: C1611-00/CONFIRMED"
         "|SMK: B1602-00/CONFIRMED|ABS-D0: C0035/PRESENT|ETACS-70: B1602/INTERMITTENT"
         "|ABS: C0051/PRESENT|SRS: B0001/MIL/PRESENT|ETACS:|OBD:", false, {}, 9},
        {"GM: headers off refused", "gm.json", "KQH0", "?", false,
         "ECM: P1101/CURRENT/HISTORY/MIL P0171/CURRENT|PSCM: C0460/CURRENT/HISTORY"
         "|EBCM: C0035/HISTORY|BCM: B1000/MIL|OBD: P0171/CONFIRMED", false, {}, 16},
        // What the sensor refused is not in force: a later set-up is not skipped as selected.
        {"Mercedes: K-line protocol 5 refused", "mercedes-kline.json", "KQSP5", "?", false,
         "KLA_KL-D0: B1000/INTERMITTENT|ABR-70: C1200/PRESENT|AB-B0: B1000/NOT PRESENT"
         "|ME-70: P1570/MIL/PRESENT|OBD:", false, {}, 7},
        {"Hyundai: MUT pins refused", "hyundai.json", "KQSMC0", "?", false, hyundaiToMut + "|OBD:",
         false, {}, 15},
        {"BMW: pins 7/0 refused", "bmw.json", "KQSM70", "?", false,
         bmwDme + "|BMWVB33DSC: C1E20-00/PENDING|BMWVB33KOMBI:|BMWVB33IHKA-80: B1E10/STORED|OBD:",
         false, {}, 15},
        {"Mercedes: pins D/0 refused", "mercedes-kline.json", "KQSMD0", "?", false,
         "HFM62-70: P0100/MIL/PRESENT P0130/MIL/NOT PRESENT|ABR-70: C1200/PRESENT"
         "|AB-B0: B1000/NOT PRESENT|ME-70: P1570/MIL/PRESENT|OBD:", false, {}, 16},
        {"Hyundai: MUT header refused", "hyundai.json", "KQSH8040F1", "?", false,
         hyundaiToMut + "|OBD:", false, {}, 6},
        {"Toyota: gateway header refused", "toyota.json", "KQSH750", "?", false,
         "ECM: P1135/STORED P1656/STORED|EPS: U0293/STORED"
         "|ABS: C1201/STORED C1241/STORED C1249/STORED C1336/STORED|OBD:", false, {}, 8},
        {"Hyundai: K-line protocol refused", "hyundai.json", "KQSP5", "?", false,
         hyundaiCan + "|OBD:", false, {}, 15},
        {"BMW: K-line protocol refused", "bmw.json", "KQSP5", "?", false,
         bmwDme + "|BMWVB33DSC: C1E20-00/PENDING|BMWVB33KOMBI:|OBD:", false, {}, 15},
        // Refused for the K-line bus, the next bus (the MUT line) is still read.
        {"Hyundai: K-line bus's protocol refused once", "hyundai.json", "KQSP5", "?", true,
         hyundaiCan + "|" + hyundaiMut + "|OBD:", false, {}, 9},
        // A 2003 C-Class on CAN: refused for its K-line units, its CAN units are listed.
        {"Mercedes: the K-line units' protocol refused beside CAN units", "mercedes.json", "KQSP5",
         "?", false, "ME20: P1570/MIL/PRESENT|EGS52: P0715/PRESENT|OBD:", false,
         [](VehicleProfile& p) {
             p.vin = "WDBRF61J03F123456";
             // KWP2000 on CAN at the engine's and transmission's identifiers.
             auto kwp = [&](const char* unit, std::vector<uint8_t> codes) {
                 moduleNamed(p, unit).replies = {{"1A87", {bytesOf({0x5A, 0x87, 0x01})}},
                                                 {"1802FF00", {bytesOf(std::move(codes))}}};
             };
             kwp("Engine", {0x58, 0x01, 0x15, 0x70, 0xE0});
             kwp("VGS2FE", {0x58, 0x01, 0x07, 0x15, 0x60});
         },
         3},
        // No K-line unit listed for the chassis: the protocol is not asked for.
        {"Mercedes: K-line protocol refused, no K-line unit", "mercedes.json", "KQSP5", "?",
         false,
         "ESP9: C1020-00/CONFIRMED C1032-00/CONFIRMED|IC204:"
         "|$7E0: P0016-00/CONFIRMED P0171-00/CONFIRMED/PENDING P2004-00/PENDING|OBD:",
         true},
        // A put-back refused (headers hidden again after a read): the read is done, and the next
        // one works with the headers still shown. Nothing is missed.
        {"Mercedes: the headers' put-back refused", "mercedes.json", "KQH0", "?", false,
         "ESP9: C1020-00/CONFIRMED C1032-00/CONFIRMED|IC204:"
         "|$7E0: P0016-00/CONFIRMED P0171-00/CONFIRMED/PENDING P2004-00/PENDING|OBD:",
         true},
        // The restore refused: the generic codes are not read on a bus the sensor may not be on.
        {"Toyota: the mask's restore refused", "toyota.json", "KQCM7F8", "?", false,
         "ECM: P1135/STORED P1656/STORED|EPS: U0293/STORED"
         "|ABS: C1201/STORED C1241/STORED C1249/STORED C1336/STORED|BODY: B1650/STORED"
         "|TPMS: U0100/STORED U0121/STORED"},
        // A module's own pins refused: it is not read on the pins still selected.
        // The CAN units answer on any pins here: read on the K-line pins they would be listed.
        {"Nissan: the CAN units' own pins refused", "nissan.json", "KQSM7F", "?", false,
         "ECM: P1148/STORED P1614/ACTIVE|ABS: C1101/PENDING|BCM:|AIRBAG: B1000/STORED|OBD:",
         false, [](VehicleProfile& p) { for (auto& m : p.modules) m.pins.clear(); }, 7},
        // Fault tables: the module with the codes of the tables answered; with none found
        // nothing is known of it, and it is left out.
        {"Honda: SRS table 30 busy to the end", "honda.json", "SRS/2130", "7F 21 21", false,
         hondaWithoutSrs},
        // Every table busy to the end: nothing is known of the unit, on either line.
        {"Honda: SRS busy to the end", "honda.json", "", "", false, hondaWithoutSrs, false,
         [](VehicleProfile& p) {
             for (auto& [request, answers] : moduleNamed(p, "SRS").replies)
                 answers = {bytesOf({0x7F, 0x21, 0x21})};
         }},
        {"Honda: SRS table 30 not understood", "honda.json", "SRS/2130", "?", false,
         hondaWithoutSrs},
        {"Mitsubishi: ENG table 20 NO DATA", "mitsubishi.json", "ENG (bit/2120", "NO DATA", false,
         "ABS: C1210/STORED|" + mitsubishi},
        {"Mitsubishi: ENG table 21 flagged damaged", "mitsubishi.json", "ENG (bit/2121",
         "61 21 FF <RX ERROR", false, "ABS: C1210/STORED|ENG: P0100 P0335|" + mitsubishi},
        {"Chrysler: CAB read-out 22 20 01 NO DATA", "chrysler.json", "CAB/222001", "NO DATA",
         false, chryslerToCab + "|" + chryslerAfterCab},
        {"Chrysler: CAB read-out 22 20 01 refused by the module", "chrysler.json", "CAB/222001",
         "7F 22 20 01 00 12", false, chryslerToCab + "|" + chryslerAfterCab, true},
        // Answers cut short: the codes of the whole records received (none: left out).
        {"BMW: DSC cut short for good", "bmw.json", "DSC/1902FF", "F1 10 07 59 02 FF 5E 20 \r",
         false, bmwDme + "|BMWVB33KOMBI:|" + bmwKLine + "|OBD:"},
        {"BMW: DSC's record list ends inside a record", "bmw.json", "DSC/1902FF",
         "F1 06 59 02 FF 5E 20 00 \r", false, bmwDme + "|BMWVB33KOMBI:|" + bmwKLine + "|OBD:"},
        {"VW: airbag's record list ends inside its second record", "volkswagen.json",
         "15 Airbag/1902FF", "77F 10 09 59 02 FF 90 01 00 \r77F 21 08 90 02 ", false,
         vwUds + "|01: P0300/STORED P1297/ACTIVE|" + vwOthers},
        {"VW: airbag's answer ends before its mask", "volkswagen.json", "15 Airbag/1902FF",
         "59 02", false,
         "01: P0171-00/CONFIRMED P0299-00/CONFIRMED/PENDING|01: P0300/STORED P1297/ACTIVE|" +
             vwOthers},
        {"VW: TP2.0 engine a byte short for good", "volkswagen.json", tp2, tp2Cut, false,
         vwUds + "|01: P0300/STORED|" + vwOthers},
        {"VW: TP2.0 engine a byte short once", "volkswagen.json", tp2, tp2Cut, true,
         vwUds + "|01: P0300/STORED P1297/ACTIVE|" + vwOthers, true},
        // A block flagged damaged is read again, never taken for silence.
        {"VW: TP2.0 engine a block flagged once", "volkswagen.json", tp2, tp2Flagged, true,
         vwUds + "|01: P0300/STORED P1297/ACTIVE|" + vwOthers, true},
        // A J1850 answer (headers off) ending inside a code, and a TP2.0 channel set-up answer
        // cut short, are read again as any other.
        {"Chrysler: ACM's J1850 answer cut inside its code for good", "chrysler.json", "ACM/13",
         "53 90", false, chryslerCan + "|PCM: P1294/STORED P1693/STORED|" + cab +
             "|BCM: B1210/STORED|MIC:|OBD:"},
        {"Chrysler: the J1850 PCM's answer cut inside its second code for good", "chrysler.json",
         "PCM (J1850 VPW)/13", "53 12 94 16", false,
         chryslerCan + "|PCM: P1294/STORED|" + cab + "|" + chryslerAfterCab},
        {"Chrysler: the J1850 PCM's answer cut inside a code once", "chrysler.json",
         "PCM (J1850 VPW)/13", "53 12 94 16", true,
         chryslerCan + "|PCM: P1294/STORED P1693/STORED|" + cab + "|" + chryslerAfterCab, true},
        {"Chrysler: ACM's answer cut inside its code once", "chrysler.json",
         "ACM (J1850 VPW)/13", "53 90", true,
         chryslerCan + "|PCM: P1294/STORED P1693/STORED|" + cab + "|" + chryslerAfterCab, true},
        {"VW: TP2.0 engine's channel set-up answer cut for good", "volkswagen.json",
         "01 Engine: TP2.0 channel set-up/01C0", "00 D0 00 03 4", false, vwUds + "|" + vwOthers},
        {"VW: TP2.0 engine's channel set-up answer flagged for good", "volkswagen.json",
         "01 Engine: TP2.0 channel set-up/01C0", "00 D0 00 03 <RX ERROR", false,
         vwUds + "|" + vwOthers},
        {"VW: TP2.0 engine's channel parameters flagged for good", "volkswagen.json",
         "01 Engine: TP2.0 channel/A0", "A1 0F 8A <RX ERROR", false, vwUds + "|" + vwOthers},
        {"VW: TP2.0 engine's channel set-up answer cut once", "volkswagen.json",
         "01 Engine: TP2.0 channel set-up/01C00010000301", "00 D0 00 03 40", true,
         vwUds + "|01: P0300/STORED P1297/ACTIVE|" + vwOthers, true},
        {"VW: TP2.0 brakes' only block flagged for good", "volkswagen.json",
         "03 Brakes: TP2.0 channel/1000041800FF00", "B1 \r10 00 05 58 01 01 1B 20 <RX ERROR",
         false, vwUds + "|01: P0300/STORED P1297/ACTIVE|17: U0155/STORED|OBD:"},
        {"VW: TP2.0 brakes' only block garbled for good", "volkswagen.json",
         "03 Brakes: TP2.0 channel/1000041800FF00", "B1 \r10 00 05 58 01 01 1G 20", false,
         vwUds + "|01: P0300/STORED P1297/ACTIVE|17: U0155/STORED|OBD:"},
        {"VW: TP2.0 brakes' only block cut inside a byte for good", "volkswagen.json",
         "03 Brakes: TP2.0 channel/1000041800FF00", "B1 \r10 00 05 58 01 01 1", false,
         vwUds + "|01: P0300/STORED P1297/ACTIVE|17: U0155/STORED|OBD:"},
        // An answer that stops before its prompt is one cut short: read again, its codes so far;
        // a "response pending" that stops is waited out.
        {"Toyota: the ECM's answer stops inside its codes, every read", "toyota.json",
         "ECM (CAN)/13", "53 02 11 35 16 ", false, "ECM: P1135/STORED|" + toyotaAfterEcm, false,
         {}, 0, "", 3},
        {"Toyota: the ECM's answer stops inside its codes once", "toyota.json", "ECM (CAN)/13",
         "53 02 11 35 16 ", false, toyotaEcm + "|" + toyotaAfterEcm, true, {}, 0, "", 1},
        {"Toyota: the ECM's pending answer stops, four times", "toyota.json", "ECM (CAN)/13",
         "7F 13 78 \r", false, toyotaEcm + "|" + toyotaAfterEcm, true, {}, 0, "", 4},
        // Only another address answering: the module is not read, nor left out in silence.
        {"Nissan: ABS answers from 29", "nissan.json", "", "", false, nissanWithoutAbs, false,
         [](VehicleProfile& p) { moduleNamed(p, "ABS (KWP2000)").response = 0x29; },
         0, "answer from 29 set aside for ABS (28)"},
        {"GM: the ECM's frames come on another unit's identifier", "gm.json", "", "", false,
         gmWithoutEcm, false,
         [](VehicleProfile& p) { moduleNamed(p, "ECM (GMLAN)").response = 0x7E9; },
         0, "answer from 7E9 set aside for ECM (7E8)"},
        // The module's bytes answering nothing asked: read again, never left out in silence.
        {"GM: the PSCM's bytes answer nothing asked", "gm.json", "", "", false,
         "ECM: P1101/CURRENT/HISTORY/MIL P0171/CURRENT|EBCM: C0035/HISTORY|BCM: B1000/MIL"
         "|PCM: P0171/CURRENT/MIL P1380/HISTORY|EBCM: C0040/CURRENT|OBD: P0171/CONFIRMED", false,
         [](VehicleProfile& p) {
             moduleNamed(p, "PSCM (GMLAN)").replies["A98112"] = {
                 bytesOf({0x41, 0x00, 0x7F, 0xA9, 0x12})};
         }},
        {"Toyota: the tire pressure unit's late answer to the body's request", "toyota.json",
         "BODY (behind/13", "58 06 53 02 C1 00 C1 21", false, toyotaWithoutBody, false, {}, 0,
         "answer from 58 set aside for BODY (40)"},
        // GMLAN: a module's frames on the identifier paired with the one it answers from.
        {"GM: the ECM's frames on its paired identifier", "gm.json", "", "", false, gmAll, true,
         [](VehicleProfile& p) { moduleNamed(p, "ECM (GMLAN)").response = 0x5E8; }},
        // GM lists end with their end record; a frame or message cut inside its record is cut.
        {"GM: the Class 2 PCM's list without its end", "gm.json", "PCM (Class 2)/19D2FF00",
         "59 01 71 82", false, gmToPcm + "PCM: P0171/CURRENT/MIL|" + gmAfterPcm},
        {"GM: the Class 2 PCM's second code cut short", "gm.json", "PCM (Class 2)/19D2FF00",
         "59 01 71 82 \r59 13 \r59 00 00 FF ", false,
         gmToPcm + "PCM: P0171/CURRENT/MIL|" + gmAfterPcm},
        {"GM: the Class 2 PCM's first code cut short", "gm.json", "PCM (Class 2)/19D2FF00",
         "59 01 \r59 13 80 10 \r59 00 00 FF ", false, gmToPcm + "PCM: P1380/HISTORY|" + gmAfterPcm},
        {"GM: the Class 2 PCM's list without its end once", "gm.json", "PCM (Class 2)/19D2FF00",
         "59 01 71 82", true, gmAll, true},
        // A message after a list's end belongs to no list of the module's.
        {"GM: a Class 2 message after the PCM's list's end", "gm.json", "PCM (Class 2)/19D2FF00",
         "59 01 71 82 \r59 00 00 FF \r59 13 80 10 ", false,
         gmToPcm + "PCM: P0171/CURRENT/MIL|" + gmAfterPcm},
        {"GM: the ECM's second frame cut short", "gm.json", "ECM (GMLAN)/A98112",
         "7E8 81 11 01 00 92 00 00 00 \r81 01 71 00 \r81 00 00 00 FF 00 00 00 ", false,
         "ECM: P1101/CURRENT/HISTORY/MIL|" + gmWithoutEcm},
        // Read in the form the engine set (headers off, here without blanks), a frame cut
        // inside a byte is cut short: its whole codes, never the sensor's words.
        {"Toyota: the ABS's answer without blanks cut inside a byte", "toyota.json",
         "ABS (CAN/13", "5304520152415249533", false,
         "ECM: P1135/STORED P1656/STORED|EPS: U0293/STORED"
         "|ABS: C1201/STORED C1241/STORED C1249/STORED|BODY: B1650/STORED"
         "|TPMS: U0100/STORED U0121/STORED|OBD:",
         false, [](VehicleProfile& p) { p.noSpaces = true; }},
        // An identification that stops before its end identifies nothing, whatever came of it
        // (VGS2FE, the first unit read), and leaves the read not whole.
        {"Mercedes: VGS2FE's identification stops, every time", "mercedes.json",
         "VGS2FE/22F100", "7E9 07 62 F1 00 0A ", false, mercedes, false, {}, 0,
         "Mercedes unit VGS2FE not identified (its answer: cut short)", 3},
        // The TCM's refusal cut by a stall, the ECM's late rest glued to it: never a TCM listed
        // without codes.
        {"GM: the TCM's refusal with the ECM's late rest", "gm.json",
         "TCM (GMLAN/A98112", "7EA 7F A81 01 71 00 0A 00 00 00 \r81 00 00 00 FF 00 00 00 ",
         false, gmAll},
        // Stalled three times in a row, the late rest of one answer comes with the next one's
        // first frame (as the relay hands it over): a frame too long, never a code of bytes from
        // two answers.
        {"VW: the ECM's code read stalls three times in a row", "volkswagen.json",
         "01 Engine (UDS/1902FF", "7E8 10 0B 59 02 FF 01 71  19 78 ", false,
         "15: B1001-00/CONFIRMED|01: P0300/STORED P1297/ACTIVE|" + vwOthers, false, {}, 0, "", 0,
         3},
        // A reply that stops inside its first bytes holds the module's bytes: cut short, read
        // again, never the sensor's words.
        {"GM: the ECM's read stops right after its identifier, every time", "gm.json",
         "ECM (GMLAN)/A98112", "7E8 ", false, gmWithoutEcm, false, {}, 0, "", 3},
        {"Honda: AT's table answer stops after its first byte, every time", "honda.json",
         "AT (K-line/2140", "48 6B 12 61 ", false,
         "PGMFI: P1456/ACTIVE/MIL P1259/STORED|" + hondaAfterAt, false,
         [](VehicleProfile& p) { p.iso9141Headers = true; }, 0, "", 3},
        {"Honda: PGMFI's answer stops after its first byte, every time", "honda.json",
         "PGMFI (K-line/1800FF00", "48 6B 11 58 ", false,
         "AT: P0740/STORED P0753/STORED|" + hondaAfterAt, false,
         [](VehicleProfile& p) { p.iso9141Headers = true; }, 0, "", 3},
        // A module without faults answers "53 00 00": the response byte alone is cut short.
        {"Chrysler: ACM's J1850 answer of its response byte alone for good", "chrysler.json",
         "ACM/13", "53", false, chryslerCan + "|PCM: P1294/STORED P1693/STORED|" + cab +
             "|BCM: B1210/STORED|MIC:|OBD:"},
        // A sensor that echoes: an answer that stopped after the echo (the CAN PCM's "pending"),
        // or the module's first bytes run into a late rest's NO DATA (Nissan's CAN BCM), is no
        // answer of nothing: read again, the units are whole.
        {"Chrysler: the CAN PCM's answer stopped after the echo", "chrysler.json", "PCM/1800FF00",
         "", false, chryslerCan + "|PCM: P1294/STORED P1693/STORED|" + cab +
             "|BCM: B1210/STORED|ACM: B1001/STORED|MIC:|OBD:", true,
         [](VehicleProfile& p) { p.echo = true; }, 0, "", 1},
        {"Nissan: the CAN BCM's first bytes run into NO DATA", "nissan.json", "", "", false,
         "ECM: P1148/STORED P1614/ACTIVE|ABS: C1101/PENDING|BCM:|AIRBAG: B1000/STORED"
         "|ABS: C1101/CONFIRMED|BCM: U1000/MIL/CONFIRMED U1001/PENDING|AIRBAG:|OBD:", true,
         [](VehicleProfile& p) {
             p.echo = true;
             p.vin = "JN1AZ34D95M654321";  // a car whose units answered nothing before
             auto& answers = moduleNamed(p, "BCM on the CAN").replies["1902FF"];
             answers.insert(answers.begin(), words("765 0NO DATA"));
         }},
        // Bytes that answer nothing asked (its own "7F" and a neighbour's late bytes) are an
        // answer that could not be read: the unit is there, its codes are read, the read is not
        // whole.
        {"Mercedes: ESP9's identification answered with a neighbour's late bytes", "mercedes.json",
         "ESP9/22F100", "7A9 03 7F 0A 05 21 10 \r", false, mercedes, false, {}, 0,
         "Mercedes unit ESP9 not identified (its answer: damaged)"},
        // On K-line a message of odd length holds no count, whatever its first code byte: three
        // codes, never a counted message a byte short.
        {"Toyota: the K-line ECM's three codes, the first byte 03", "toyota.json", "", "", false,
         "ECM: P0300/STORED P1200/STORED P2511/STORED|ABS: C1249/STORED|BODY: B1650/STORED|OBD:",
         true, [](VehicleProfile& p) {
             p.bus = 5;
             p.vin = "JT2BG22K1Y0123456";
             moduleNamed(p, "ECM (K-line").replies["13"] = {
                 bytesOf({0x53, 0x03, 0x00, 0x12, 0x00, 0x25, 0x11})};
         }},
        // On CAN a count of none reads one pair; a count above the pairs present is a message cut
        // at its end: its whole pair kept, the read not whole.
        {"Toyota: the EPS's count of none", "toyota.json", "EPS (CAN)/13", "53 00 C2 93", false,
         toyotaEcm + "|" + toyotaAfterEcm, true},
        {"Toyota: the EPS's count above its pair", "toyota.json", "EPS (CAN)/13", "53 02 C2 93",
         false, toyotaEcm + "|" + toyotaAfterEcm},
        // A K-line message cut short no longer tells by its length whether a count follows: no
        // code of it, the read not whole.
        {"Toyota: the K-line ECM's answer stops inside its codes, every read", "toyota.json",
         "ECM (K-line/13", "87 F1 10 53 03 00 03 01 ", false, "OBD:", false,
         [](VehicleProfile& p) {
             p.bus = 3;
             moduleNamed(p, "ECM (K-line").replies["13"] = {
                 bytesOf({0x53, 0x03, 0x00, 0x03, 0x01, 0x03, 0x02})};
         }, 0, "", 3},
        // Another answer's first frame, then this one's last frame holding more bytes than it
        // needs: never a code of two answers.
        {"Chrysler: the PCM's last frame holds another answer's first bytes, every read",
         "chrysler.json", "PCM (KWP2000/1800FF00",
         "008\r0: 58 02 12 81 E0 16 \r1: 84 20 91 EA 20 ", false,
         "BCM: B1A00/STORED|TIPM: U1110/ACTIVE|PCM: P1294/STORED P1693/STORED|" + cab + "|" +
             chryslerAfterCab,
         false, {}, 0, "", 0, 3},
        // GM lists end with the record of the code bytes 00 00, not with a code P00xx.
        {"GM: the Class 2 PCM's list with a P00xx code first", "gm.json", "PCM (Class 2)/19D2FF00",
         "59 00 12 82 \r59 01 71 82 \r59 00 00 FF ", false,
         gmToPcm + "PCM: P0012/CURRENT/MIL P0171/CURRENT/MIL|" + gmAfterPcm, true},
        // Without blanks, an 11-bit line cut inside a byte is cut short behind the identifier
        // the display shows: the whole records before it are kept.
        {"Subaru: the ECM's last line without blanks cut inside a byte, every read", "subaru.json",
         "ECM (UDS/1902FF", "7E8100F5902FF013016\r7E821081443002C0301\r7E822000", false,
         "ECM: P0130/CONFIRMED P1443/CONFIRMED/PENDING|VDC: C0021/CONFIRMED|METER:"
         "|ECM: P0031/STORED P1152/PENDING|ABS: C0022/ACTIVE|OBD:",
         false, [](VehicleProfile& p) {
             p.noSpaces = true;
             p.headersEveryLine = true;
         }},
        {"Nissan: the CAN BCM's last line without blanks cut inside a byte, every read",
         "nissan.json", "BCM on the CAN/1902FF", "765100B5902FFD00087\r7652188D001880", false,
         "ECM: P1148/STORED P1614/ACTIVE|ABS: C1101/PENDING|BCM:|AIRBAG: B1000/STORED"
         "|ABS: C1101/CONFIRMED|BCM: U1000/MIL/CONFIRMED|AIRBAG:|OBD:",
         false, [](VehicleProfile& p) {
             p.noSpaces = true;
             p.headersEveryLine = true;
         }},
        {"Toyota: the K-line ECM's P0171 on bus 3", "toyota.json", "", "", false,
         "ECM: P0171/STORED|OBD:", true,
         [](VehicleProfile& p) {
             p.bus = 3;
             moduleNamed(p, "ECM (K-line").replies["13"] = {bytesOf({0x53, 0x01, 0x71})};
         }},
        {"Toyota: the K-line ECM's misfire triple on bus 3", "toyota.json", "", "", false,
         "ECM: P0300/STORED P0301/STORED P0302/STORED|OBD:", true,
         [](VehicleProfile& p) {
             p.bus = 3;
             moduleNamed(p, "ECM (K-line").replies["13"] = {
                 bytesOf({0x53, 0x03, 0x00, 0x03, 0x01, 0x03, 0x02})};
         }},
        // Under ISO 9141 headers no length byte is shown: the message's own length tells.
        {"Toyota: the K-line ECM's P0171 on bus 3 under ISO 9141 headers", "toyota.json", "", "",
         false, "ECM: P0171/STORED|OBD:", true,
         [](VehicleProfile& p) {
             p.bus = 3;
             p.iso9141Headers = true;
             moduleNamed(p, "ECM (K-line").replies["13"] = {bytesOf({0x53, 0x01, 0x71})};
         }},
        {"Toyota: the K-line ECM's misfire triple on bus 3 under ISO 9141 headers", "toyota.json",
         "", "", false, "ECM: P0300/STORED P0301/STORED P0302/STORED|OBD:", true,
         [](VehicleProfile& p) {
             p.bus = 3;
             p.iso9141Headers = true;
             moduleNamed(p, "ECM (K-line").replies["13"] = {
                 bytesOf({0x53, 0x03, 0x00, 0x03, 0x01, 0x03, 0x02})};
         }},
    };
    // clang-format on
    ASSERT_NO_FATAL_FAILURE(connectAndListen(sample("toyota.json")));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto profile = sample(c.profile);
        if (c.change) c.change(profile);
        const size_t slash = c.command.find('/');
        const std::string request = c.command.substr(slash + 1);
        core->clearFaults();
        // A reply that never ends costs its wait: on a clock on which it costs a quarter of it.
        scanClock.reset();
        if (c.stops)
            scanClock.emplace(std::make_shared<QuickClock>(0.25));
        else
            scanClock.emplace(std::make_shared<modtest::InstantSleepClock>());
        if (c.command.empty()) {
            // The vehicle changed alone.
        } else if (c.stops) {
            core->addFault(sim::Fault::reply(c.answer, c.stops, request));
        } else if (c.once || c.repeats) {
            core->addFault(sim::Fault::reply(c.answer + "\r\r>", c.once ? 1 : c.repeats, request));
        } else if (slash == std::string::npos) {
            profile.answers[c.command] = c.answer;
        } else {
            moduleNamed(profile, c.command.substr(0, slash)).replies[request] = {words(c.answer)};
        }
        changeVehicle(profile);
        core->clearCommands();
        engineLines->seen.clear();
        const auto [end, lines] = scanEnd(profile);
        Texts expected;
        for (size_t at = 0; at <= c.lines.size();) {
            const size_t bar = std::min(c.lines.find('|', at), c.lines.size());
            expected.push_back(c.lines.substr(at, bar - at));
            at = bar + 1;
        }
        EXPECT_EQ(end, c.complete ? "complete" : "complete:communicaton");
        EXPECT_EQ(lines, expected);
        if (!c.warning.empty()) {
            EXPECT_GE(logged("W:" + c.warning), 1u)
                << ::testing::PrintToString(engineLines->seen.linesStartingWith("W:"));
        }
        const auto notRead = engineLines->seen.linesStartingWith(
            "E:Modules not read, the sensor did not accept their set-up: ");
        ASSERT_LE(notRead.size(), 1u);
        EXPECT_EQ(notRead.empty() ? 0 : std::count(notRead[0].begin(), notRead[0].end(), ';') + 1,
                  static_cast<long>(c.notRead))
            << (notRead.empty() ? "" : notRead[0]);
        // Progress goes on to the end: every module listed came with its report.
        EXPECT_GE(updates, expected.size());
        // Refused wherever it is sent (every module or pin pass that needs it, the restore).
        if (slash == std::string::npos && !c.command.empty() && !c.complete) {
            EXPECT_GE(logged("E:Setup command refused: " + c.command) +
                          logged("E:Restore command refused: " + c.command),
                      1u);
        }
        EXPECT_EQ(sent("010D"), 1u) << "the restore";
    }
}

// A module list the make has that is damaged, missing, empty or holds no module ends a module
// scan with errorLoading; a check-engine scan and a make without manufacturer support keep the
// generic scan.
TEST_P(ScanTruth, ADamagedModuleListEndsTheScanWithErrorLoading) {
    const fs::path shipped = Bundle::library().bundlePath();
    TempDir copy{"qz-damaged-lists"};
    const fs::path file = copy.path() / "enhanceddiag" / "Toyota_CAN.xml";
    const Data key = DataAES256::definitionFileKey();
    struct Case {
        const char* name;
        std::function<void(Data&)> damage;  // the encrypted file's bytes
    };
    const Data plain = DefinitionFile::load(shipped / "enhanceddiag" / "Toyota_CAN.xml").value();
    const std::vector<Case> cases = {
        {"cut short", [](Data& d) { d.resize(d.size() / 2); }},
        {"cut short on a block", [](Data& d) { d.resize(d.size() / 32 * 16); }},
        {"64 bytes flipped",
         [](Data& d) {
             for (size_t i = 0; i < 64; ++i) d[(i * 997 + 100) % (d.size() - 32)] ^= 0x5A;
         }},
        {"under another key",
         [&](Data& d) { d = DataAES256::encryptedWithKey(plain, bytes("Marshquill")).value(); }},
        {"empty", [](Data& d) { d.clear(); }},
        {"an empty text", [&](Data& d) { d = DataAES256::encryptedWithKey({}, key).value(); }},
        {"no module",
         [&](Data& d) {
             d = DataAES256::encryptedWithKey(bytes("<modules></modules>"), key).value();
         }},
        {"another document",
         [&](Data& d) {
             d = DataAES256::encryptedWithKey(bytes("<troublecodes><sae><tc><c>P0420</c>"
                                                    "<d>Catalyst</d></tc></sae></troublecodes>"),
                                              key)
                     .value();
         }},
        {"missing", nullptr},
    };
    ASSERT_NO_FATAL_FAILURE(connectAndListen(sample("toyota.json")));
    const std::string vin = core->profile().vin;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(copy.path());
        fs::copy(shipped, copy.path(), fs::copy_options::recursive);
        if (c.damage) {
            Data bytes = readFileBytes(file);
            c.damage(bytes);
            writeFileBytes(file, bytes);
        } else {
            fs::remove(file);
        }
        Bundle::setLibraryPath(copy.path());
        for (auto type : {PelkScanType::all, PelkScanType::cdl}) {
            ScanRecorder recorder;
            scan(type, vin, recorder);
            EXPECT_EQ(recorder.kinds(), Texts{"error:errorLoading"});
            EXPECT_FALSE(gateway->isBusy());
        }
        Texts generic = {"OBD:"};
        for (auto vinOrNone : {std::optional<std::string>(vin), std::optional<std::string>()}) {
            ScanRecorder recorder;
            auto end = scan(vinOrNone ? PelkScanType::cel : PelkScanType::all, vinOrNone, recorder);
            EXPECT_EQ(recorder.kinds().back(), "complete");
            EXPECT_EQ(moduleLines(modulesOf(end)), generic);
        }
        Bundle::setLibraryPath({});
    }
    // Each module scan, and the check-engine scan, which reads the lists but needs none.
    EXPECT_EQ(logged("E:Module list Toyota_CAN could not be read"), cases.size() * 3);
}

// The Mercedes lists are JSON: the chassis table, the chassis's list of the model year, the
// K-line list, each unit's file. One that is missing (the chassis table, the K-line list), does
// not decrypt or parse, or holds no entry at all ends a module scan with errorLoading, as a
// damaged module list of any other make does.
TEST_P(ScanTruth, ADamagedMercedesListEndsTheScanWithErrorLoading) {
    const fs::path shipped = Bundle::library().bundlePath();
    const fs::path folder = fs::path("enhanceddiag") / "mercedes";
    const fs::path yearList = folder / "years" / "2008" / "204.json";
    // A unit the list names.
    const auto list = DefinitionFile::load(shipped / yearList).value();
    const auto units = nlohmann::json::parse(list.begin(), list.end());
    std::string unit = units.at(0).at(0).get<std::string>();
    if (auto at = unit.find("*1"); at != std::string::npos) unit.erase(at, 2);
    const Data key = DataAES256::definitionFileKey();
    auto holding = [&](const std::string& text) {
        return
            [&key, text](Data& d) { d = DataAES256::encryptedWithKey(bytes(text), key).value(); };
    };
    const auto cutShort = [](Data& d) { d.resize(d.size() / 2); };
    struct Case {
        fs::path file;
        const char* name;
        std::function<void(Data&)> damage;  // the encrypted file's bytes; none: missing
    };
    const std::vector<Case> cases = {
        {folder / "chassis.json", "cut short", cutShort},
        {folder / "chassis.json", "missing", nullptr},
        {folder / "chassis.json", "no chassis", holding("{}")},
        {yearList, "cut short", cutShort},
        {yearList, "no unit", holding("[]")},
        {folder / "kline_modules.json", "missing", nullptr},
        {folder / "kline_modules.json", "no module", holding("{}")},
        {folder / "ecus" / (unit + ".json"), "cut short", cutShort},
        {folder / "ecus" / (unit + ".json"), "decrypts but does not parse",
         [&](Data& d) {
             Data plain = DataAES256::decryptedWithKey(d, key).value();
             plain.resize(plain.size() / 2);
             d = DataAES256::encryptedWithKey(plain, key).value();
         }},
    };
    TempDir copy{"qz-damaged-mercedes"};
    ASSERT_NO_FATAL_FAILURE(connectAndListen(sample("mercedes.json")));
    const std::string vin = core->profile().vin;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.string() + ": " + c.name);
        fs::remove_all(copy.path());
        fs::copy(shipped, copy.path(), fs::copy_options::recursive);
        ASSERT_TRUE(fs::exists(copy.path() / c.file));
        if (c.damage) {
            Data bytes = readFileBytes(copy.path() / c.file);
            c.damage(bytes);
            writeFileBytes(copy.path() / c.file, bytes);
        } else {
            fs::remove(copy.path() / c.file);
        }
        Bundle::setLibraryPath(copy.path());
        engineLines->seen.clear();
        for (auto type : {PelkScanType::all, PelkScanType::cdl}) {
            ScanRecorder recorder;
            scan(type, vin, recorder);
            EXPECT_EQ(recorder.kinds(), Texts{"error:errorLoading"});
            EXPECT_FALSE(gateway->isBusy());
        }
        ScanRecorder recorder;
        auto end = scan(PelkScanType::cel, vin, recorder);
        EXPECT_EQ(recorder.kinds().back(), "complete");
        EXPECT_EQ(moduleLines(modulesOf(end)), Texts{"OBD:"});
        EXPECT_GE(logged("E:Module list mercedes/" + c.file.lexically_relative(folder).string()),
                  2u);
        Bundle::setLibraryPath({});
    }
}

// A J1850 module may answer NO DATA to the first request after a bus switch: asked again, it
// gives its codes, and a clear clears.
TEST_P(ScanTruth, J1850ModulesAreAskedAgainAfterNoData) {
    for (const char* file : {"ford.json", "gm.json", "chrysler.json"}) {
        SCOPED_TRACE(file);
        auto original = sample(file);
        auto late = original;
        size_t j1850 = 0;
        for (auto& m : late.modules) {
            const bool onJ1850 = std::any_of(m.protocols.begin(), m.protocols.end(),
                                             [](const auto& p) { return p == "1" || p == "2"; });
            if (!onJ1850) continue;
            ++j1850;
            for (auto* table : {&m.replies, &m.cleared})
                for (auto& [request, answers] : *table)
                    answers.insert(answers.begin(), words("NO DATA"));
        }
        ASSERT_GT(j1850, 0u);
        if (!core) {
            ASSERT_NO_FATAL_FAILURE(connectTo(original));
        }
        const Texts baseline = scanLines(original);
        EXPECT_EQ(scanLines(late), baseline);
    }
}

// The sensor is put back as the scan found it: the 29-bit mask after a scan begun on 29-bit CAN.
TEST_P(ScanTruth, TheRestoreAfterA29BitScanSendsThe29BitMask) {
    const std::vector<std::pair<int, std::string>> cases = {
        {7, "KQCMFFFFFF00"}, {9, "KQCMFFFFFF00"}, {6, "KQCM7F8"}};
    auto profile = sample("chrysler.json");
    ASSERT_NO_FATAL_FAILURE(connectTo(profile));
    for (const auto& [bus, mask] : cases) {
        SCOPED_TRACE(bus);
        profile.bus = bus;
        core->setProfile(profile);
        // The gateway learns the new bus as at a connect.
        Gateway::gatewayQueue()->sync([&] { gateway->vehicle()->initializeVehicle(); });
        core->clearCommands();
        ScanRecorder recorder;
        answeredScan(PelkScanType::all, profile.vin, recorder);
        const Texts commands = gwtest::SimulatedSensorTest::sent();
        auto restore = std::find(commands.rbegin(), commands.rend(), "010D");
        ASSERT_NE(restore, commands.rend());
        const Texts tail(commands.begin(), restore.base());
        EXPECT_EQ(std::count(tail.begin(), tail.end(), mask), 1);
        for (const char* other : {"KQCMFFFFFF00", "KQCM7F8"})
            if (other != mask) {
                EXPECT_EQ(std::count(tail.begin(), tail.end(), other), 0) << other;
            }
    }
}

// A Mitsubishi module whose erase is refused ("7F FC 22") is not cleared, and the next scan
// still shows its codes.
TEST_P(ScanTruth, ARefusedEraseIsNotCleared) {
    auto profile = sample("mitsubishi.json");
    for (auto& m : profile.modules)
        for (const auto& clear : m.clear)
            m.replies[clear] = {bytesOf(
                {0x7F, static_cast<uint8_t>(std::stoul(clear.substr(0, 2), nullptr, 16)), 0x22})};
    ASSERT_NO_FATAL_FAILURE(connectTo(profile));
    ScanRecorder recorder;
    const PelkModules modules = modulesOf(answeredScan(PelkScanType::all, profile.vin, recorder));
    size_t cleared = 0;
    for (const auto& m : modules) {
        if (m->acronym() == "OBD" || m->results().empty()) continue;
        EXPECT_EQ(clear(m), PelkClearResult::complete(false)) << m->acronym();
        ++cleared;
    }
    EXPECT_GE(cleared, 4u);
    ScanRecorder again;
    EXPECT_EQ(moduleLines(modulesOf(answeredScan(PelkScanType::all, profile.vin, again))),
              moduleLines(modules));
}

INSTANTIATE_TEST_SUITE_P(Sessions, ScanTruth, ::testing::Values(Transport::mfi, Transport::ble),
                         transportName);
