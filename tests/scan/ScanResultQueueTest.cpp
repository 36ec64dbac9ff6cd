// The thread a scan's last value reaches the app on: "GatewayQueue" on every path, whether the
// backend answers the scan-finished event, refuses it, holds it past the result's wait, or is
// not asked at all, and whether the scan completes or fails; and the value comes once.

#include <gtest/gtest.h>

#include <mutex>

#include "ScanTestSupport.hpp"
#include "api/Scan/ScanController.hpp"

using namespace qz;
using namespace qz::scantest;

namespace {

const char* kVin = "1HGCM82633A004352";

// With `refused`, the sensor refuses the stored codes' request: the scan fails.
sim::VehicleProfile car(bool refused = false) {
    auto profile = sim::VehicleProfile::fromText(R"({"sensor": {"version": "4.08", "bus": 6},
        "vin": "1HGCM82633A004352",
        "ecus": [{"address": "7E8", "mode1": {"0D": "00"}, "stored": ["P0420"]}]})");
    if (refused) profile.answers["KQTC"] = "?";
    return profile;
}

enum class Backend { answers, refuses, holds };

struct Case {
    const char* name;
    Backend backend;
    bool withVin;
    bool connected;
    bool fails;
    const char* end;  // the kind of the last value
};

class ScanResultQueue : public ScanTest {};

}  // namespace

TEST_F(ScanResultQueue, TheLastValueComesOnceOnGatewayQueue) {
    const Case cases[] = {
        {"the backend answers", Backend::answers, true, true, false, "complete"},
        {"the backend refuses", Backend::refuses, true, true, false, "complete"},
        {"the backend holds the event", Backend::holds, true, true, false, "complete"},
        {"no VIN, no event", Backend::answers, false, true, false, "complete"},
        {"the scan fails", Backend::answers, true, true, true, "complete:communicaton"},
        {"no sensor", Backend::answers, true, false, false, "complete:disconnected"},
    };
    // Sleeps pass at once; the result's wait for a held event lasts its second.
    ASSERT_NO_FATAL_FAILURE(connectTo(car()));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        core->setProfile(car(c.fails));
        if (!c.connected) {
            gateway->disconnect();
            gwtest::drainQueues();
        }
        // Set under the backend's lock: a held request of the row before may still be answering.
        answerBackend(c.backend == Backend::refuses ? 500 : 200);
        if (c.backend == Backend::holds) holdBackend("logScanFinished");
        ScanRecorder recorder;
        auto end = scan(PelkScanType::cel,
                        c.withVin ? std::optional<std::string>(kVin) : std::nullopt, recorder);
        ASSERT_TRUE(end);
        answerBackend(200);
        gwtest::drainQueues();
        const auto entries = recorder.entries();
        ASSERT_FALSE(entries.empty());
        EXPECT_EQ(recorder.kinds().back(), c.end);
        EXPECT_TRUE(entries.back().onGatewayQueue);
        size_t ends = 0;
        for (const auto& e : entries) ends += ScanRecorder::isEnd(e.value);
        EXPECT_EQ(ends, 1u);
        EXPECT_FALSE(gateway->isBusy());
        if (!c.connected) continue;

        // The scan's controller, without the gateway's guard, ends the scan once as well.
        std::mutex mutex;
        Texts finals;
        auto controller = ScanController::create(kVin, PelkScanType::cel, [&](PelkScanProgress p) {
            if (p.kind() != PelkScanProgress::Kind::complete) return;
            std::lock_guard lock(mutex);
            finals.push_back(*p.result() ? "complete" : "complete:communicaton");
        });
        Gateway::gatewayQueue()->sync([&] {
            if (controller->load() > 0) controller->start();
        });
        gwtest::drainQueues();
        std::lock_guard lock(mutex);
        EXPECT_EQ(finals, Texts{c.end});
    }
}
