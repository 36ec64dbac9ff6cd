// Scans and clears through the gateway, the MFi session and the simulated vehicle: each scan
// type, analytics, refusals, prompts, clears and a link lost in the middle of a scan.

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "ScanTestSupport.hpp"
#include "api/Communication/Relay.hpp"
#include "api/Communication/SessionController.hpp"
#include "api/DB/MyPersistentContainer.hpp"
#include "api/Scan/InstanceStorage.hpp"
#include "api/Scan/ScanController.hpp"
#include "lib/Logging/QZELogging.hpp"
#include "sim/SensorCore.hpp"

using namespace qz;
using namespace qz::scantest;
using qz::sim::Fault;
using qz::sim::VehicleProfile;

namespace {

const char* kHondaVin = "1HGCM82633A004352";
const char* kBmwVin = "WBAVB33526PX12345";
const char* kKeyFlick = "A Keyflick is required before this scan.";

// A car with stored, pending and permanent generic codes, one both stored and pending.
VehicleProfile genericCar() {
    return VehicleProfile::fromText(R"({"sensor": {"version": "4.08", "bus": 6},
        "vin": "1HGCM82633A004352",
        "ecus": [{"address": "7E8", "mode1": {"0D": "00"}, "stored": ["P0420", "P0101"],
                  "pending": ["P0171", "P0101"], "permanent": ["P0300"]}]})");
}
const char* kGenericCodes =
    "OBD: P0420/CONFIRMED P0101/CONFIRMED/PENDING P0171/PENDING P0300/PERMANENT";

// A BMW without manufacturer modules: its scans wait for a key flick first.
VehicleProfile bmwCar() {
    return VehicleProfile::fromText(R"({"sensor": {"version": "4.08", "bus": 6},
        "vin": "WBAVB33526PX12345",
        "ecus": [{"address": "7E8", "mode1": {"0D": "00"}, "stored": ["P0420"]}]})");
}

bool isPrompt(const PelkScanProgress& p) {
    return p.kind() == PelkScanProgress::Kind::interactionRequired;
}

class GatewayScan : public ScanTest {
  protected:
    std::shared_ptr<PelkModule> moduleNamed(const PelkModules& modules,
                                            const std::string& acronym) {
        for (const auto& m : modules)
            if (m->acronym() == acronym) return m;
        return nullptr;
    }
    size_t deinits() { return occurrences(gwtest::libraryLogText(), "Scan controller deinit"); }
};

TEST_F(GatewayScan, EachScanTypeReportsProgressTheResultAndAnalytics) {
    ASSERT_NO_FATAL_FAILURE(connectTo(genericCar()));
    struct Case {
        PelkScanType type;
        const char* raw;
    };
    size_t scans = 0;
    for (const Case& c : {Case{PelkScanType::cel, "cel"}, Case{PelkScanType::cdl, "com"},
                          Case{PelkScanType::all, "all"}}) {
        SCOPED_TRACE(c.raw);
        core->clearCommands();
        ScanRecorder recorder;
        auto end = scan(c.type, kHondaVin, recorder);
        ++scans;
        ASSERT_TRUE(end);
        const auto modules = modulesOf(end);
        ASSERT_FALSE(modules.empty());
        EXPECT_EQ(moduleLines({modules.back()}), Texts{kGenericCodes});
        EXPECT_EQ(modules.back()->results()[0]->codeDescription(),
                  "Catalyst system efficiency below threshold, bank 1");
        EXPECT_EQ(modules.back()->lightCategory(), PelkLightCategory::engine);
        EXPECT_TRUE(recorder.entries().back().onGatewayQueue)
            << "a result with a VIN comes on the queue of every other result";
        const auto updates = recorder.updates();
        if (c.type == PelkScanType::cel) {
            // Two reads expected, one merged generic module reported.
            EXPECT_EQ(recorder.kinds(), (Texts{"update", "complete"}));
            EXPECT_EQ(updates, std::vector<float>{0.5f});
            for (const auto& cmd : core->commands())
                EXPECT_FALSE(cmd.starts_with("KQSH")) << "no module is read: " << cmd;
        } else {
            EXPECT_GT(updates.size(), 1u);
            EXPECT_TRUE(std::is_sorted(updates.begin(), updates.end()));
            EXPECT_EQ(recorder.kinds().back(), "complete");
        }
        auto events = waitForEvents(2 * scans);
        ASSERT_EQ(events.size(), 2 * scans);
        // Events are posted apart and may arrive in either order: each found by its type.
        auto last = [&](const std::string& type) {
            return *std::find_if(events.rbegin(), events.rend(),
                                 [&](const Event& e) { return e.type == type; });
        };
        ASSERT_EQ(std::count_if(events.begin(), events.end(),
                                [](const Event& e) { return e.type == "logScanStarted"; }),
                  static_cast<std::ptrdiff_t>(scans));
        const Event started = last("logScanStarted");
        const Event finished = last("logScanFinished");
        EXPECT_EQ(started.type, "logScanStarted");
        EXPECT_EQ(started.body["scanType"], c.raw);
        EXPECT_EQ(started.body["vin"], kHondaVin);
        EXPECT_EQ(started.body["odometer"], 0);
        EXPECT_EQ(started.body["mac"], "001A2B3C4D5E");
        EXPECT_EQ(finished.type, "logScanFinished");
        EXPECT_EQ(finished.body["scanType"], c.raw);
        // A code of two kinds is in both lists.
        EXPECT_EQ(finished.body["confirmedCodes"], nlohmann::json({"P0420", "P0101"}));
        EXPECT_EQ(finished.body["pendingCodes"], nlohmann::json({"P0101", "P0171"}));
        EXPECT_EQ(finished.body["permanantCodes"], nlohmann::json({"P0300"}));
        gwtest::drainQueues();
        EXPECT_FALSE(gateway->isBusy());
        EXPECT_EQ(deinits(), scans) << "the controller is released with the result";
    }
    EXPECT_EQ(
        lines->endingWith(" -> Scan completed with results :" + describe(PelkModules{})).size(),
        0u);
    EXPECT_EQ(lines->containing("Scan completed with results :[\U0001F697 PelkModule: Emissions"),
              3u);
}

TEST_F(GatewayScan, WithoutAVinTheScanRunsGenericallyAndReportsAtOnce) {
    ASSERT_NO_FATAL_FAILURE(connectTo(genericCar()));
    ScanRecorder recorder;
    auto end = scan(PelkScanType::all, std::nullopt, recorder);
    ASSERT_TRUE(end);
    const auto kinds = recorder.kinds();
    EXPECT_EQ(kinds.front(), "error:enhancedUnsupported");
    EXPECT_EQ(kinds.back(), "complete");
    EXPECT_TRUE(recorder.entries().back().onGatewayQueue) << "no analytics to wait for";
    EXPECT_EQ(lines
                  ->endingWith(" -> Enhanced Scan requested, but not supported, continuing with "
                               "basic scan.")
                  .size(),
              1u);
    // The start is reported; the finish is not (it would have come before the result).
    auto events = waitForEvents(1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].body["vin"], "");
    EXPECT_FALSE(gateway->vin());

    // The make check sets the VIN, which stays set.
    EXPECT_TRUE(gateway->supportsEnhancedDiagnostics(kHondaVin));
    EXPECT_EQ(gateway->vin(), kHondaVin);
    EXPECT_FALSE(gateway->supportsEnhancedDiagnostics("NOT A VIN"));
    EXPECT_EQ(gateway->vin(), "NOT A VIN");
}

TEST_F(GatewayScan, TheResultArrivesWhenTheAnalyticsEventFails) {
    ASSERT_NO_FATAL_FAILURE(connectTo(genericCar()));
    // The backend refuses: the events are kept for later.
    backendStatus = 500;
    auto refused = scan(PelkScanType::cel, kHondaVin);
    ASSERT_TRUE(refused && modulesOf(refused).size() == 1);
    gwtest::drainQueues();
    EXPECT_GE(gateway->persistentContainer()->eventCount().value_or(0), 1u);

    // An event that cannot be encoded (the VIN is not UTF-8) is not sent at all.
    backendStatus = 200;
    const size_t before = waitForEvents(2).size();
    auto unencodable = scan(PelkScanType::cel, std::string(kHondaVin).substr(0, 16) + "\xff");
    ASSERT_TRUE(unencodable);
    EXPECT_TRUE(unencodable->result() && *unencodable->result());
    gwtest::drainQueues();
    EXPECT_EQ(waitForEvents(before).size(), before);
    EXPECT_FALSE(gateway->isBusy());
    EXPECT_EQ(deinits(), 2u);
}

TEST_F(GatewayScan, WhileAScanWaitsForTheKeyFlickEveryVehicleOperationIsRefused) {
    ASSERT_NO_FATAL_FAILURE(connectTo(bmwCar()));
    ScanRecorder running;
    gateway->performScan(kBmwVin, PelkScanType::all, running.listener());
    auto prompt = running.waitFor(isPrompt);
    ASSERT_TRUE(prompt);
    EXPECT_EQ(prompt->interaction()->kind(), InteractionType::Kind::custom);
    EXPECT_EQ(prompt->interaction()->msg(), kKeyFlick);
    EXPECT_TRUE(gateway->isBusy());

    const size_t publicLines = lines->lines().size();
    ScanRecorder second;
    gateway->performScan(kBmwVin, PelkScanType::cel, second.listener());
    ASSERT_EQ(second.kinds(), Texts{"error:deviceBusy"}) << "at once, on the caller's thread";
    EXPECT_FALSE(second.entries()[0].onGatewayQueue);
    EXPECT_EQ(lines->lines().size(), publicLines + 1) << "only the call line";

    gwtest::Received<PelkClearResult> clear;
    gateway->clearModule(nullptr, clear.callback());
    ASSERT_EQ(clear.size(), 1u);
    EXPECT_EQ(clear.at(0).value, PelkClearResult::error(PelkClearError::deviceBusy()));
    EXPECT_EQ(lines->endingWith(" -> Could not clear module, device busy").size(), 1u);

    gwtest::Received<Result<std::shared_ptr<PIDInfo>, CommError>> pid;
    gateway->updatePID(gateway->pids().front(), pid.callback());
    ASSERT_TRUE(pid.waitFor(1));
    EXPECT_EQ(pid.at(0).value, std::unexpected(CommError::deviceBusy));
    gwtest::Received<Result<std::shared_ptr<SmogInfoReport>, SmogInfoError>> smog;
    gateway->requestSmogInfo(smog.callback());
    ASSERT_TRUE(smog.waitFor(1));
    EXPECT_EQ(smog.at(0).value, std::unexpected(SmogInfoError::deviceBusy));

    // The user answers from another thread; the scan goes on.
    prompt->interaction()->listener()();
    auto end = running.waitForEnd();
    ASSERT_TRUE(end);
    EXPECT_EQ(moduleLines(modulesOf(end)).back(), "OBD: P0420/CONFIRMED");
    EXPECT_EQ(running.kinds().front(), "interactionRequired");
    gwtest::drainQueues();
    EXPECT_FALSE(gateway->isBusy());
    EXPECT_NE(gwtest::libraryLogText().find("Key flick completed"), std::string::npos);
}

TEST_F(GatewayScan, AnEndedScansListenerHearsNoLaterPrompt) {
    ASSERT_NO_FATAL_FAILURE(connectTo(bmwCar()));
    auto& center = NotificationCenter::defaultCenter();
    auto prompt = [&](const std::string& msg) {
        center.post("PelkInteractionRequired", nullptr, {{"msg", msg}});
    };
    // Ends of every kind: a result without analytics, a failed load, and a result after
    // analytics (the key flick answered at once).
    ScanRecorder noVin, failedLoad, answered;
    answered.onInteraction([](const InteractionType& t) { t.listener()(); });
    ASSERT_TRUE(scan(PelkScanType::cel, std::nullopt, noVin));
    core->addFault(Fault::noData(1, "KQDP"));
    auto failed = scan(PelkScanType::all, kBmwVin, failedLoad);
    ASSERT_TRUE(failed);
    EXPECT_EQ(failedLoad.kinds().back(), "error:errorLoading");
    EXPECT_EQ(lines->endingWith(" -> Error loading scan controller").size(), 1u);
    EXPECT_FALSE(gateway->isBusy());
    ASSERT_TRUE(scan(PelkScanType::all, kBmwVin, answered));
    gwtest::drainQueues();
    EXPECT_EQ(deinits(), 3u) << "a prompt the listener keeps does not keep its controller";

    const size_t heard =
        noVin.entries().size() + failedLoad.entries().size() + answered.entries().size();
    prompt("nobody listens");
    EXPECT_EQ(noVin.entries().size() + failedLoad.entries().size() + answered.entries().size(),
              heard);

    // The prompt of the scan that runs reaches its own listener only.
    ScanRecorder current;
    gateway->performScan(kBmwVin, PelkScanType::all, current.listener());
    auto flick = current.waitFor(isPrompt);
    ASSERT_TRUE(flick);
    prompt("Turn the ignition off");
    auto custom = current.waitFor([](const PelkScanProgress& p) {
        return isPrompt(p) && p.interaction()->msg() != kKeyFlick;
    });
    ASSERT_TRUE(custom);
    EXPECT_EQ(custom->interaction()->msg(), "Turn the ignition off");
    EXPECT_EQ(noVin.entries().size() + failedLoad.entries().size() + answered.entries().size(),
              heard);
    // An answer to an ended scan's prompt does not let this one go on.
    auto old = answered.entries().front().value;
    ASSERT_TRUE(isPrompt(old));
    old.interaction()->listener()();
    EXPECT_TRUE(gateway->isBusy());
    flick->interaction()->listener()();
    ASSERT_TRUE(current.waitForEnd());
}

TEST_F(GatewayScan, WithoutAnOpenSessionScansAndClearsReportDisconnectedAtOnce) {
    gateway = Gateway::create();
    ScanRecorder never;
    auto end = scan(PelkScanType::all, kHondaVin, never);
    ASSERT_TRUE(end);
    EXPECT_EQ(never.kinds(), Texts{"complete:disconnected"});
    ASSERT_TRUE(end->result() && !*end->result());
    EXPECT_TRUE(end->result()->error().modules().empty());
    EXPECT_EQ(lines->endingWith(" -> Could not perform scan. No sensor connected.").size(), 1u);
    gwtest::Received<PelkClearResult> clear;
    gateway->clearModule(nullptr, clear.callback());
    ASSERT_EQ(clear.size(), 1u);
    EXPECT_EQ(clear.at(0).value, PelkClearResult::error(PelkClearError::disconnected()));
    EXPECT_EQ(lines->endingWith(" -> Could not clear modules, disconncted from sensor").size(), 1u);

    // Connected once, then closed: no command goes out and the relay is not locked out.
    gateway.reset();
    ASSERT_NO_FATAL_FAILURE(connectTo(genericCar()));
    auto cel = scan(PelkScanType::cel, kHondaVin);
    ASSERT_TRUE(cel && cel->result() && *cel->result());
    gateway->disconnect();
    gwtest::drainQueues();
    ASSERT_EQ(gateway->status(), SensorConnectionStatus::disconnected);
    core->clearCommands();
    ScanRecorder closed;
    ASSERT_TRUE(scan(PelkScanType::all, kHondaVin, closed));
    EXPECT_EQ(closed.kinds(), Texts{"complete:disconnected"});
    gwtest::Received<PelkClearResult> clearClosed;
    gateway->clearModule(modulesOf(cel).front(), clearClosed.callback());
    EXPECT_EQ(clearClosed.at(0).value, PelkClearResult::error(PelkClearError::disconnected()));
    gwtest::drainQueues();
    EXPECT_TRUE(core->commands().empty());
    EXPECT_FALSE(gateway->relay()->timedOut());
}

TEST_F(GatewayScan, ASensorThatIsNotInitialisedIsNotScanned) {
    ASSERT_NO_FATAL_FAILURE(connectTo(genericCar()));
    gateway->sessionController()->activeSensor()->setIsIntialized(false);
    ScanRecorder recorder;
    ASSERT_TRUE(scan(PelkScanType::all, kHondaVin, recorder));
    EXPECT_EQ(recorder.kinds(), Texts{"error:notInitialized"});
    EXPECT_EQ(lines->endingWith(" -> Could not perform scan. Sensor is not initialized.").size(),
              1u);
    EXPECT_FALSE(gateway->isBusy());
}

TEST_F(GatewayScan, TheGenericClearSendsOneClearAndHoldsNoBusyFlag) {
    ASSERT_NO_FATAL_FAILURE(connectTo(genericCar()));
    auto first = scan(PelkScanType::cel, kHondaVin);
    auto obd = moduleNamed(modulesOf(first), "OBD");
    ASSERT_TRUE(obd);
    gwtest::Received<PelkClearResult> cleared;
    ScanRecorder next;
    {
        QueueGate gate;
        gateway->clearModule(obd, cleared.callback());
        EXPECT_FALSE(gateway->isBusy()) << "while the clear still waits on the queue";
        gateway->performScan(kHondaVin, PelkScanType::cel, next.listener());
        EXPECT_TRUE(next.kinds().empty()) << "the scan is accepted";
        EXPECT_EQ(cleared.size(), 0u);
    }
    ASSERT_TRUE(cleared.waitFor(1));
    EXPECT_EQ(cleared.at(0).value, PelkClearResult::complete(true));
    EXPECT_TRUE(cleared.at(0).onGatewayQueue);
    auto after = next.waitForEnd();
    ASSERT_TRUE(after);
    EXPECT_EQ(moduleLines(modulesOf(after)), Texts{"OBD: P0300/PERMANENT"})
        << "stored and pending codes are gone";
    EXPECT_EQ(sent("KQCC"), 1u);

    // Modules of an earlier scan, even one equal in every field, are not cleared.
    auto newest = moduleNamed(modulesOf(after), "OBD");
    ASSERT_TRUE(scan(PelkScanType::cel, kHondaVin));
    for (const auto& stale : {obd, newest, std::shared_ptr<PelkModule>()}) {
        gwtest::Received<PelkClearResult> refused;
        gateway->clearModule(stale, refused.callback());
        ASSERT_EQ(refused.size(), 1u);
        EXPECT_EQ(refused.at(0).value, PelkClearResult::error(PelkClearError::notScanned()));
    }
    EXPECT_EQ(lines
                  ->endingWith(" -> Could not clear moule as no scan has been performed in this "
                               "session")
                  .size(),
              3u);
    EXPECT_EQ(sent("KQCC"), 1u);
}

TEST_F(GatewayScan, AGenericClearWithoutAnswerReportsTheCommunicationError) {
    ASSERT_NO_FATAL_FAILURE(connectTo(genericCar(), Waits::quick));
    auto obd = moduleNamed(modulesOf(scan(PelkScanType::cel, kHondaVin)), "OBD");
    ASSERT_TRUE(obd);
    core->addFault(Fault::silence(1, "KQCC"));
    EXPECT_EQ(clear(obd), PelkClearResult::error(PelkClearError::communication(
                              "The operation couldn\u2019t be completed. (QZEnhanced.CommError "
                              "error 0.)")));
    EXPECT_FALSE(gateway->isBusy());
}

TEST_F(GatewayScan, ManufacturerClearsThatCannotRunCompleteFalseAndFreeTheGateway) {
    ASSERT_NO_FATAL_FAILURE(connectTo("bmw.json"));
    ScanRecorder recorder;
    recorder.onInteraction([](const InteractionType& t) { t.listener()(); });
    auto modules = modulesOf(scan(PelkScanType::all, kBmwVin, recorder));
    auto dme = std::find_if(modules.begin(), modules.end(), [](const auto& m) {
        return m->acronym() != "OBD" && !m->results().empty();
    });
    ASSERT_NE(dme, modules.end());
    auto record = InstanceStorage::record(*dme);
    ASSERT_TRUE(record);
    const auto bus = record->busType();

    for (const std::optional<std::string>& broken :
         {std::optional<std::string>(), std::optional<std::string>("x1"),
          std::optional<std::string>("1 ")}) {
        record->setBusType(broken);
        EXPECT_EQ(clear(*dme), PelkClearResult::complete(false)) << broken.value_or("none");
        EXPECT_FALSE(gateway->isBusy());
    }
    EXPECT_EQ(lines->containing("Could not clear module, its bus type is not a number"), 3u);
    record->setBusType(bus);

    core->addFault(Fault::noData(1, "KQDP"));
    core->clearCommands();
    EXPECT_EQ(clear(*dme), PelkClearResult::complete(false));
    EXPECT_EQ(lines->endingWith(" -> Prepare for clear failed, communication error").size(), 1u);
    EXPECT_FALSE(gateway->isBusy());

    EXPECT_EQ(clear(*dme), PelkClearResult::complete(true)) << "and with a sound sensor it clears";
    EXPECT_FALSE(gateway->isBusy()) << "freed before the result is reported";
}

TEST_F(GatewayScan, ALinkLostInTheMiddleOfAScanEndsItWithTheModulesSoFar) {
    ASSERT_NO_FATAL_FAILURE(connectTo("bmw.json", Waits::quick));
    ScanRecorder whole;
    whole.onInteraction([](const InteractionType& t) { t.listener()(); });
    const auto all = modulesOf(scan(PelkScanType::all, kBmwVin, whole));
    ASSERT_GT(all.size(), 2u);
    const int commands = static_cast<int>(core->commands().size());

    core->clearCommands();
    core->addFault(Fault::disconnect(-1, 1).after(commands / 2));
    ScanRecorder broken;
    broken.onInteraction([](const InteractionType& t) { t.listener()(); });
    auto end = scan(PelkScanType::all, kBmwVin, broken);
    ASSERT_TRUE(end);
    ASSERT_TRUE(end->result());
    ASSERT_FALSE(*end->result());
    const auto& error = end->result()->error();
    EXPECT_EQ(error.kind(), PelkScanError::Kind::communicaton);
    EXPECT_FALSE(error.modules().empty());
    EXPECT_LT(error.modules().size(), all.size());
    EXPECT_LT(broken.updates().size(), whole.updates().size());
    EXPECT_EQ(lines->containing("Scan failed with results :"), 1u);
    gwtest::drainQueues();
    EXPECT_FALSE(gateway->isBusy());
    // The modules reported before the drop can be found for a clear, which then meets no sensor.
    EXPECT_TRUE(InstanceStorage::record(error.modules().front()));
    EXPECT_EQ(clear(error.modules().front()),
              PelkClearResult::error(PelkClearError::disconnected()));
}

TEST_F(GatewayScan, NoProgressIsComputedWithoutExpectedModules) {
    ASSERT_NO_FATAL_FAILURE(connectTo(genericCar()));
    core->addFault(Fault::noData(1, "KQDP"));
    std::vector<PelkScanProgress> heard;
    auto controller = ScanController::create(kHondaVin, PelkScanType::all,
                                             [&](PelkScanProgress p) { heard.push_back(p); });
    int64_t total = -1;
    Gateway::gatewayQueue()->sync([&] { total = controller->load(); });
    ASSERT_EQ(total, 0);
    ASSERT_TRUE(controller->scanner());
    auto record = std::make_shared<QZEModuleData>();
    record->setAccronym(std::string("ECM"));
    record->setDescription(std::string("Engine"));
    record->setCodeList(Texts{"P0420"});
    record->setResponseState(ResponseStateHasData);
    controller->scannedModule(record);
    EXPECT_EQ(controller->scannedModules().size(), 1u);
    EXPECT_TRUE(heard.empty());
}

// The engine's module reports come on the main queue; the end waits for those still queued there.
// Once the last code list is in, the main queue is held until the scan ends or for a while: an
// end that did not wait for the "OBD" module queued behind comes first. Held until the scan ends,
// the scan ends at the bound of its wait without it, not complete, and it is not heard after.
TEST_F(GatewayScan, TheResultHoldsAModuleStillQueuedOnTheMainQueue) {
    struct Row {
        const char* name;
        double hold;  // seconds at most, on the scan clock
        bool complete;
    };
    const std::vector<Row> rows = {
        {"a fifth of a second", 0.2, true},
        {"until the scan ends", 60, false},
    };
    ASSERT_NO_FATAL_FAILURE(connectTo(genericCar()));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        // Held past the bound: the bound's wait costs a tenth of its length.
        std::optional<ScopedClock> quick;
        if (!row.complete) quick.emplace(std::make_shared<QuickClock>(0.1));
        std::mutex mutex;
        std::condition_variable cv;
        bool ended = false;
        std::vector<PelkScanProgress> heard;
        auto controller =
            ScanController::create(kHondaVin, PelkScanType::cel, [&](PelkScanProgress p) {
                std::lock_guard lock(mutex);
                ended = p.kind() == PelkScanProgress::Kind::complete;
                heard.push_back(std::move(p));
                cv.notify_all();
            });
        struct Holder : LoggerInterface {
            std::function<void()> hold;
            void logVerbose(const std::optional<std::string>&) override {}
            void logDebug(const std::optional<std::string>&) override {}
            void logInfo(const std::optional<std::string>& t) override {
                if (t && t->starts_with("Perm Codes Result")) DispatchQueue::main()->async(hold);
            }
            void logWarning(const std::optional<std::string>&) override {}
            void logError(const std::optional<std::string>&) override {}
        };
        auto holder = std::make_shared<Holder>();
        holder->hold = [&] {
            std::unique_lock lock(mutex);
            Clock::current()->waitFor(lock, cv, row.hold, [&] { return ended; });
        };
        const auto before = QZELogging::shared().adapter();
        QZELogging::shared().registerLoggerInterface(holder);
        Gateway::gatewayQueue()->sync([&] {
            ASSERT_EQ(controller->load(), 2);
            controller->start();
        });
        QZELogging::shared().registerLoggerInterface(before);
        gwtest::drainQueues();
        std::lock_guard lock(mutex);
        ASSERT_FALSE(heard.empty());
        const auto& end = heard.back();
        ASSERT_EQ(end.kind(), PelkScanProgress::Kind::complete);
        ASSERT_TRUE(end.result());
        if (row.complete) {
            ASSERT_TRUE(*end.result());
            EXPECT_EQ(moduleLines(**end.result()), (Texts{kGenericCodes}));
        } else {
            ASSERT_FALSE(*end.result());
            EXPECT_EQ(end.result()->error().kind(), PelkScanError::Kind::communicaton);
        }
    }
}

}  // namespace
