// The thread a scan's last value reaches the app on: "GatewayQueue" on every path, whether the
// backend answers the scan-finished event, refuses it, holds it past the result's wait, or is
// not asked at all; and the value comes once.

#include <gtest/gtest.h>

#include "ScanTestSupport.hpp"

using namespace qz;
using namespace qz::scantest;

namespace {

const char* kVin = "1HGCM82633A004352";

sim::VehicleProfile car() {
    return sim::VehicleProfile::fromText(R"({"sensor": {"version": "4.08", "bus": 6},
        "vin": "1HGCM82633A004352",
        "ecus": [{"address": "7E8", "mode1": {"0D": "00"}, "stored": ["P0420"]}]})");
}

enum class Backend { answers, refuses, holds };

struct Case {
    const char* name;
    Backend backend;
    bool withVin;
    bool connected;
    const char* end;  // the kind of the last value
};

class ScanResultQueue : public ScanTest {};

}  // namespace

TEST_F(ScanResultQueue, TheLastValueComesOnceOnGatewayQueue) {
    const Case cases[] = {
        {"the backend answers", Backend::answers, true, true, "complete"},
        {"the backend refuses", Backend::refuses, true, true, "complete"},
        {"the backend holds the event", Backend::holds, true, true, "complete"},
        {"no VIN, no event", Backend::answers, false, true, "complete"},
        {"no sensor", Backend::answers, true, false, "complete:disconnected"},
    };
    // Sleeps pass at once; the result's wait for a held event lasts its second.
    ASSERT_NO_FATAL_FAILURE(connectTo(car()));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
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
    }
}
