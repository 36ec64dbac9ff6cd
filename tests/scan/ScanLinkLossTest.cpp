// A link that drops in the middle of a full scan, over either session: the scan reports its
// failure with the modules read so far within a second of the drop (no relay time-out waited
// out, no restore pause, no K-line retry pause spent on the dead link), and a new connection
// scans again.

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>

#include "ScanTestSupport.hpp"
#include "api/Communication/Relay.hpp"
#include "sim/SensorCore.hpp"
#include "sim/SimTestSupport.hpp"
#include "sim/SimulatedBGX13.hpp"
#include "sim/SimulatedBluetooth.hpp"

using namespace qz;
using namespace qz::scantest;
using qz::sim::Fault;
using qz::sim::VehicleProfile;

namespace {

struct Case {
    const char* transport;  // "mfi" or "ble"
    const char* profile;    // honda: K-line bus, restored with retries; toyota: CAN
};

void PrintTo(const Case& c, std::ostream* os) {
    *os << c.transport << " " << c.profile;
}

// The scan clock, which can drop the link as a pause of the scan begins: the drop is made and
// seen by the library before the first step of that pause is taken.
class DroppingClock : public QuickClock {
  public:
    using QuickClock::QuickClock;
    // Runs `drop` at the next sleep (once) and notes the seconds slept until then.
    void dropAtNextSleep(std::function<void()> drop) {
        std::lock_guard lock(hookMutex_);
        drop_ = std::move(drop);
    }
    double sleptAtDrop() const { return sleptAtDrop_; }
    void sleepFor(double seconds) override {
        std::function<void()> drop;
        {
            std::lock_guard lock(hookMutex_);
            drop.swap(drop_);
        }
        if (drop) {
            sleptAtDrop_ = slept();
            drop();
        }
        QuickClock::sleepFor(seconds);
    }

  private:
    std::mutex hookMutex_;
    std::function<void()> drop_;
    std::atomic<double> sleptAtDrop_{-1};
};

class ScanLinkLoss : public ScanTest, public ::testing::WithParamInterface<Case> {
  protected:
    bool ble() const { return std::string(GetParam().transport) == "ble"; }
    VehicleProfile profile() const {
        return VehicleProfile::load(VehicleProfile::sampleFolder() / GetParam().profile);
    }

    // Connects to the case's vehicle (or `p`) over the case's session; the scan clock runs from
    // then on. Its sleeps pass at once and are counted; a wait lasts ten times its length in real
    // time, so that a relay time-out, which would be a fault here, never comes from a slow
    // machine instead.
    void connect() { connect(profile()); }
    void connect(VehicleProfile p) {
        transport = ble() ? Transport::ble : Transport::mfi;
        ASSERT_NO_FATAL_FAILURE(connectTo(std::move(p)));
        clock = std::make_shared<DroppingClock>(10);
        scanClock.reset();
        scanClock.emplace(clock);
    }
    // Connects again after the drop (the accessory is plugged in anew).
    void reconnect() {
        scanClock.reset();
        if (ble()) {
            ASSERT_NO_FATAL_FAILURE(connectBle());
        } else {
            accessory->plugIn();
            ASSERT_NO_FATAL_FAILURE(reconnectListed());
        }
        scanClock.emplace(clock);
    }
    std::optional<PelkScanProgress> fullScan(ScanRecorder& recorder) {
        recorder.onInteraction([](const InteractionType& t) { t.listener()(); });
        return scan(PelkScanType::all, profile().vin, recorder);
    }

    std::shared_ptr<DroppingClock> clock;

    // Drops the link of the case's session at once, and waits (real time) until the library
    // has seen it closed.
    void dropLink() {
        if (ble())
            module->dropLink();
        else
            accessory->unplug();
        EXPECT_TRUE(simtest::eventually([&] { return !gateway->relay()->linkOpen(); }));
    }
};

}  // namespace

TEST_P(ScanLinkLoss, TheScanReportsTheDropWithinASecond) {
    ASSERT_NO_FATAL_FAILURE(connect());
    ScanRecorder whole;
    const auto all = modulesOf(fullScan(whole));
    ASSERT_GT(all.size(), 2u);
    const int commands = static_cast<int>(core->commands().size());

    // The link drops as the sensor takes the command in the middle of the scan, which it does
    // not answer; the sleeps taken up to the command before are noted as they happen.
    const int dropAt = commands / 2;
    struct Drop {
        std::atomic<int> seen{0};
        std::atomic<double> slept{-1};
    };
    auto drop = std::make_shared<Drop>();
    core->clearCommands();
    core->addHandler(
        [drop, clock = clock, dropAt](const std::string&) -> std::optional<std::string> {
            if (++drop->seen == dropAt - 1) drop->slept = clock->slept();
            return std::nullopt;
        });
    core->addFault(Fault::silence(1).after(dropAt - 1));
    core->addFault(Fault::disconnect(-1).after(dropAt - 1));
    const size_t timeoutsBefore = occurrences(gwtest::libraryLogText(), " timed out, response:");

    ScanRecorder broken;
    auto end = fullScan(broken);
    ASSERT_TRUE(end);
    gwtest::drainQueues();
    ASSERT_GE(drop->slept, 0.0) << "the drop came at the noted command";
    EXPECT_EQ(core->commands().size(), static_cast<size_t>(dropAt))
        << "the unanswered command ends with the link, and nothing follows it";

    ASSERT_TRUE(end->result());
    ASSERT_FALSE(*end->result());
    const auto& error = end->result()->error();
    EXPECT_EQ(error.kind(), PelkScanError::Kind::communicaton);
    EXPECT_FALSE(error.modules().empty());
    EXPECT_LT(error.modules().size(), all.size());
    // Within a second of the drop: no pause of the scan or of the restore, and no reply waited
    // for on the dead link.
    EXPECT_LT(clock->slept() - drop->slept, 1.0);
    EXPECT_EQ(occurrences(gwtest::libraryLogText(), " timed out, response:"), timeoutsBefore);
    EXPECT_FALSE(gateway->isBusy());
    EXPECT_FALSE(gateway->relay()->timedOut());

    // A new connection scans in full again: what the cut-short scan had selected on the
    // sensor is not put back on the new link.
    ASSERT_NO_FATAL_FAILURE(reconnect());
    ScanRecorder again;
    auto after = fullScan(again);
    ASSERT_TRUE(after);
    EXPECT_EQ(moduleLines(modulesOf(after)), moduleLines(all));
}

INSTANTIATE_TEST_SUITE_P(Sessions, ScanLinkLoss,
                         ::testing::Values(Case{"mfi", "honda.json"}, Case{"mfi", "toyota.json"},
                                           Case{"ble", "honda.json"}, Case{"ble", "toyota.json"}),
                         [](const auto& info) {
                             std::string name =
                                 std::string(info.param.transport) + "_" + info.param.profile;
                             return name.substr(0, name.find('.'));
                         });

TEST_P(ScanLinkLoss, ADropAsAPauseBeginsEndsThePause) {
    ASSERT_NO_FATAL_FAILURE(connect());
    const size_t sentBefore = core->commands().size();
    clock->dropAtNextSleep([this] { dropLink(); });
    ScanRecorder recorder;
    auto end = fullScan(recorder);
    ASSERT_TRUE(end);
    gwtest::drainQueues();
    ASSERT_GE(clock->sleptAtDrop(), 0.0) << "the scan paused";
    ASSERT_TRUE(end->result());
    ASSERT_FALSE(*end->result());
    EXPECT_EQ(end->result()->error().kind(), PelkScanError::Kind::communicaton);
    // Any pause of a scan is a second or more: this one, and every later one, ended with the
    // link.
    EXPECT_LT(clock->slept() - clock->sleptAtDrop(), 0.5);
    EXPECT_GT(core->commands().size(), sentBefore) << "the drop came during the scan";
    EXPECT_FALSE(gateway->isBusy());
}

// A link that drops as a scan is asked for, before its work runs (the session's closing not yet
// reported on the queue the scan waits on): the scan reports the dropped link, not a scan that
// could not be loaded.
TEST_P(ScanLinkLoss, ADropJustBeforeTheScanIsADroppedLink) {
    ASSERT_NO_FATAL_FAILURE(connect());
    ScanRecorder recorder;
    {
        gwtest::QueueGate gate;
        gateway->performScan(profile().vin, PelkScanType::all, recorder.listener());
        dropLink();
    }
    auto end = recorder.waitForEnd(60);
    ASSERT_TRUE(end);
    EXPECT_EQ(recorder.kinds().back(), "complete:disconnected");
    gwtest::drainQueues();
    EXPECT_FALSE(gateway->isBusy());
}

// A sensor that goes silent is declared dead by the library after five empty time-outs, which
// drops its link; a BLE session reports the link closed only later. From then on nothing more is
// asked (no restore, no generic read) and nothing is called refused: the scan reports the
// dropped link.
TEST_P(ScanLinkLoss, ASensorDeclaredDeadIsADroppedLink) {
    ASSERT_NO_FATAL_FAILURE(connect());
    // Five time-outs cost their waits: a quarter of them.
    scanClock.reset();
    scanClock.emplace(std::make_shared<QuickClock>(0.25));
    constexpr int kAnswered = 12;
    core->clearCommands();
    core->addFault(Fault::silence(-1).after(kAnswered));
    const std::string before = gwtest::libraryLogText();
    ScanRecorder recorder;
    auto end = fullScan(recorder);
    ASSERT_TRUE(end);
    gwtest::drainQueues();
    EXPECT_EQ(core->commands().size(), static_cast<size_t>(kAnswered + 5));
    ASSERT_TRUE(end->result());
    ASSERT_FALSE(*end->result());
    EXPECT_EQ(end->result()->error().kind(), PelkScanError::Kind::communicaton);
    EXPECT_TRUE(gateway->relay()->timedOut());
    const std::string log = gwtest::libraryLogText();
    for (const char* said :
         {"Restore command refused", "Generic code read failed", "Generic code read stopped"})
        EXPECT_EQ(occurrences(log, said), occurrences(before, said)) << said;
    EXPECT_FALSE(gateway->isBusy());
}

// The Toyota K-line ECM asks for a key cycle on a pending answer.
class KeyCyclePromptLinkLoss : public ScanLinkLoss {};

TEST_P(KeyCyclePromptLinkLoss, AnUnansweredPromptEndsWithTheLink) {
    auto p = profile();
    p.bus = 5;
    p.vin = "JT2BG22K1Y0123456";
    ASSERT_NO_FATAL_FAILURE(connect(p));
    ScanRecorder recorder;
    // The user does not answer; the link goes instead.
    recorder.onInteraction([this](const InteractionType&) { dropLink(); });
    gateway->performScan(p.vin, PelkScanType::all, recorder.listener());
    auto end = recorder.waitForEnd(60);
    ASSERT_TRUE(end) << "the prompt still waits for the user";
    EXPECT_EQ(recorder.kinds().back(), "complete:communicaton");
    gwtest::drainQueues();
    EXPECT_FALSE(gateway->isBusy());
}

INSTANTIATE_TEST_SUITE_P(Sessions, KeyCyclePromptLinkLoss,
                         ::testing::Values(Case{"mfi", "toyota.json"}, Case{"ble", "toyota.json"}),
                         [](const auto& info) { return std::string(info.param.transport); });
