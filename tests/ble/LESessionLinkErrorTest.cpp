// How the BLE session reports a link the driver closes because of an error: before the link
// was reported open, the connect failed; once it was, the link ended like any other.
#include <gtest/gtest.h>

#include <atomic>

#include "BleTestSupport.hpp"
#include "api/Communication/LESessionController.hpp"
#include "api/Communication/PelkNotifications.hpp"
#include "api/Communication/SessionController.hpp"
#include "api/Gateway/Gateway.hpp"
#include "api/Logging/Log.hpp"
#include "platform/FileSystem.hpp"

using namespace qz;
using namespace qz::bletest;
using namespace qz::simtest;
using qz::sim::SimulatedBGX13;

namespace {

using S = SensorConnectionStatus;

// The error hits the device in this way, on the driver's queue.
enum class Cause {
    unusableFirmwareRevision,  // while interrogating
    failedBusModeRead,         // the app reads the bus mode of the open link
    lateRefusedSubscription,   // a refusal the central answers after the link opened
};

class LESessionLinkErrorTest : public SessionWorldTest {
  protected:
    // Time stands still: no connection time-out can end a link here.
    LESessionLinkErrorTest() : SessionWorldTest(std::make_shared<VirtualClock>()) {}
};

}  // namespace

TEST_F(LESessionLinkErrorTest, AnErrorFailsTheConnectOnlyBeforeTheLinkWasReportedOpen) {
    struct Row {
        Cause cause;
        std::vector<S> heard;
        int posts;  // "DeviceDisconnected"
    };
    const Row rows[] = {
        {Cause::unusableFirmwareRevision, {S::errorOpeningConnection}, 0},
        {Cause::failedBusModeRead, {S::connected, S::disconnected}, 1},
        {Cause::lateRefusedSubscription, {S::connected, S::disconnected}, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.cause));
        posted = 0;
        const size_t sightings = broadcasts.seen().size();
        auto module = addModule(options([&](auto& o) {
            if (row.cause == Cause::unusableFirmwareRevision)
                o.firmwareRevision = "BGX13P.1.2-1524";
        }));
        ASSERT_TRUE(eventually([&] { return broadcasts.seen().size() > sightings; }));
        StatusLog log;
        controller->connect(broadcasts.seen().back().sensor, log.listener());
        if (row.cause != Cause::unusableFirmwareRevision) {
            ASSERT_TRUE(eventually([&] { return log.saw(S::connected); }));
            auto device = session()->controller()->device();
            if (row.cause == Cause::failedBusModeRead) {
                module->injectFault(SimulatedBGX13::Fault::valueUpdate);
                EXPECT_TRUE(device->readBusMode());
            } else {
                const BleCharacteristic tx{BGXUUID::peripheralTX, BleProperty::notify,
                                           BGXUUID::streamingService, BGXUUID::peripheralTX};
                DispatchQueue::main()->sync([&] {
                    device->didUpdateNotificationStateForCharacteristic(device->peripheral(), tx,
                                                                        BleError::att(3));
                });
            }
        }
        ASSERT_TRUE(eventually([&] { return log.seen().size() == row.heard.size(); }));
        drainMain();
        Gateway::gatewayQueue()->sync([] {});
        EXPECT_EQ(log.seen(), row.heard);
        EXPECT_EQ(posted.load(), row.posts);
        world->remove(module);
    }
}
