// The generic clear through the gateway and the simulated sensor: only a reply that answers and
// refuses nothing counts as cleared, and a rescan agrees. And the busy flag of a scan, taken at the
// call: a second scan, or any vehicle operation, asked for before the first scan runs is
// refused at once.

#include <gtest/gtest.h>

#include <thread>

#include "ScanTestSupport.hpp"
#include "api/Communication/SessionController.hpp"
#include "api/Live/SmogInfoReport.hpp"
#include "api/PIDs/PIDInfo.hpp"
#include "sim/SensorCore.hpp"

using namespace qz;
using namespace qz::scantest;
using qz::sim::Fault;
using qz::sim::VehicleProfile;

namespace {

const char* kVin = "1HGCM82633A004352";

VehicleProfile carWithCodes() {
    return VehicleProfile::fromText(R"({"sensor": {"version": "4.08", "bus": 6},
        "vin": "1HGCM82633A004352",
        "ecus": [{"address": "7E8", "mode1": {"0D": "00"}, "stored": ["P0420"],
                  "pending": ["P0171"], "permanent": ["P0300"]}]})");
}
const char* kAllCodes = "OBD: P0420/CONFIRMED P0171/PENDING P0300/PERMANENT";
const char* kPermanentOnly = "OBD: P0300/PERMANENT";

class GenericClear : public ScanTest {
  protected:
    std::shared_ptr<PelkModule> scanGeneric(Texts* lines = nullptr) {
        auto modules = modulesOf(scan(PelkScanType::cel, kVin));
        if (lines) *lines = moduleLines(modules);
        return modules.empty() ? nullptr : modules.back();
    }
};

class ScanBusyFlag : public ScanTest {};

bool isBusyError(const ScanRecorder& r) {
    return r.kinds() == Texts{"error:deviceBusy"};
}

}  // namespace

TEST_F(GenericClear, ARefusalOrErrorWordIsNoClear) {
    ASSERT_NO_FATAL_FAILURE(connectTo(carWithCodes()));
    Texts codes;
    auto obd = scanGeneric(&codes);
    ASSERT_TRUE(obd);
    ASSERT_EQ(codes, Texts{kAllCodes});

    const struct {
        const char* reply;
        bool cleared;
    } refusals[] = {
        {"?\r>", false},
        {"NO DATA\r>", false},
        {"ERROR\r>", false},
        {"CAN ERROR\r>", false},
        {"BUS INIT: ...ERROR\r>", false},
        {"SEARCHING...\rUNABLE TO CONNECT\r>", false},
        {"BUS BUSY\r>", false},
        {"7F 04 22\r>", false},
        {"7E8 03 7F 04 22 \r>", false},  // behind a header
        {"44 \r7F 04 31 \r>", false},    // one unit refused
        {"7F 04 78\r>", false},          // still pending when the reply ended
        {">", false},                    // nothing said
        {"KQCC\r>", false},              // only the echo
        {"O?\r>", false},                // junk
        {"#%&\r>", false},
        {"LP ALERT\r>", false},
        {"NODATA\r>", false},    // the sensor's word without its blank
        {"7F 14 22\r>", false},  // another service's refusal
        {"7F 01 22\r>", false},
    };
    for (const auto& c : refusals) {
        SCOPED_TRACE(c.reply);
        core->addFault(Fault::reply(c.reply, 1, "KQCC"));
        EXPECT_EQ(clear(obd), PelkClearResult::complete(c.cleared));
        EXPECT_FALSE(gateway->isBusy());
    }
    EXPECT_EQ(lines->containing("Generic clear refused by the sensor: "), std::size(refusals));
    EXPECT_EQ(sent("KQCC"), std::size(refusals)) << "one clear each, no retry";

    // Nothing was cleared, and the rescan says so.
    obd = scanGeneric(&codes);
    ASSERT_TRUE(obd);
    EXPECT_EQ(codes, Texts{kAllCodes});

    // The sensor's own answer clears.
    EXPECT_EQ(clear(obd), PelkClearResult::complete(true));
    scanGeneric(&codes);
    EXPECT_EQ(codes, Texts{kPermanentOnly});
}

TEST_F(GenericClear, EveryOtherReplyStaysCleared) {
    ASSERT_NO_FATAL_FAILURE(connectTo(carWithCodes()));
    auto obd = scanGeneric();
    ASSERT_TRUE(obd);
    const struct {
        const char* reply;
        bool headers = false;  // shown, as the vehicle follows them
    } replies[] = {{"OK\r>"},
                   {"44 \r>"},
                   {"7F 04 78\r44 \r>"},
                   {"KQCC\rOK\r>"},
                   {"OK\r>\rtrailing"},
                   {"48 6B 10 44 7F \r>"},
                   // Read in the display form in force: with headers, a unit's 44 behind its
                   // identifier, printed without blanks.
                   {"7E80144\r>", true}};
    for (const auto& c : replies) {
        SCOPED_TRACE(c.reply);
        gateway->vehicle()->proccessPinSwitchCommands(c.headers ? "KQH1" : "KQH0");
        core->addFault(Fault::reply(c.reply, 1, "KQCC"));
        EXPECT_EQ(clear(obd), PelkClearResult::complete(true));
    }
    gateway->vehicle()->proccessPinSwitchCommands("KQH0");
    EXPECT_EQ(lines->containing("Generic clear refused"), 0u);
}

TEST_F(ScanBusyFlag, OnlyOneOfManyScansAskedForAtOnceRuns) {
    ASSERT_NO_FATAL_FAILURE(connectTo(carWithCodes()));
    constexpr int kCallers = 6;
    std::vector<ScanRecorder> recorders(kCallers);
    {
        QueueGate gate;  // nothing runs yet: every call finds the others only asked for
        std::vector<std::thread> callers;
        for (auto& r : recorders)
            callers.emplace_back(
                [&] { gateway->performScan(kVin, PelkScanType::cel, r.listener()); });
        for (auto& t : callers) t.join();
        EXPECT_TRUE(gateway->isBusy());
        int refused = 0;
        for (const auto& r : recorders) refused += isBusyError(r);
        EXPECT_EQ(refused, kCallers - 1) << "refused at the call, before the queue runs";

        // Every vehicle operation is refused while the accepted scan waits.
        gwtest::Received<Result<std::shared_ptr<PIDInfo>, CommError>> pid;
        gateway->updatePID(gateway->pids().front(), pid.callback());
        ASSERT_EQ(pid.size(), 1u);
        EXPECT_EQ(pid.at(0).value, std::unexpected(CommError::deviceBusy));
        gwtest::Received<Result<std::shared_ptr<SmogInfoReport>, SmogInfoError>> smog;
        gateway->requestSmogInfo(smog.callback());
        ASSERT_EQ(smog.size(), 1u);
        EXPECT_EQ(smog.at(0).value, std::unexpected(SmogInfoError::deviceBusy));
    }
    int completed = 0;
    for (auto& r : recorders) {
        if (isBusyError(r)) continue;
        auto end = r.waitForEnd();
        ASSERT_TRUE(end);
        completed += modulesOf(end).size() == 1;
    }
    EXPECT_EQ(completed, 1);
    EXPECT_EQ(sent("KQTC"), 1u) << "one scan read the codes";
    gwtest::drainQueues();
    EXPECT_FALSE(gateway->isBusy());
}

TEST_F(ScanBusyFlag, AReadQueuedBeforeTheScanDoesNotFreeIt) {
    ASSERT_NO_FATAL_FAILURE(connectTo(carWithCodes()));
    gwtest::Received<Result<std::shared_ptr<PIDInfo>, CommError>> pid;
    ScanRecorder accepted, late;
    auto first = std::make_unique<QueueGate>();
    gateway->updatePID(gateway->pids().front(), pid.callback());  // accepted: nothing is busy
    auto second = std::make_unique<QueueGate>();                  // holds the queue after it
    gateway->performScan(kVin, PelkScanType::cel, accepted.listener());
    first.reset();
    ASSERT_TRUE(pid.waitFor(1));
    EXPECT_TRUE(gateway->isBusy()) << "the read ran and did not clear the waiting scan's flag";
    gateway->performScan(kVin, PelkScanType::cel, late.listener());
    EXPECT_TRUE(isBusyError(late));
    second.reset();
    ASSERT_TRUE(accepted.waitForEnd());
    EXPECT_EQ(accepted.kinds().back(), "complete");
}

TEST_F(ScanBusyFlag, AScanThatCannotStartLetsTheFlagGo) {
    ASSERT_NO_FATAL_FAILURE(connectTo(carWithCodes()));
    gateway->sessionController()->activeSensor()->setIsIntialized(false);
    ScanRecorder notInitialised;
    ASSERT_TRUE(scan(PelkScanType::cel, kVin, notInitialised));
    EXPECT_EQ(notInitialised.kinds(), Texts{"error:notInitialized"});
    EXPECT_FALSE(gateway->isBusy());

    gateway->sessionController()->activeSensor()->setIsIntialized(true);
    gateway->disconnect();
    gwtest::drainQueues();
    ScanRecorder disconnected;
    ASSERT_TRUE(scan(PelkScanType::cel, kVin, disconnected));
    EXPECT_EQ(disconnected.kinds(), Texts{"complete:disconnected"});
    EXPECT_FALSE(gateway->isBusy());
}
