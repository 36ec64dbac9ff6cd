// The driver's credit flow and state machine under the module's timings: credit that comes
// late, credit returned only after the platform's ready-to-send, bus mode values that arrive
// in any state, subscriptions the module refuses.
#include <gtest/gtest.h>

#include "BleTestSupport.hpp"
#include "platform/NotificationCenter.hpp"

using namespace qz;
using namespace qz::bletest;
using qz::sim::SimulatedBGX13;

// Writes of any size complete, within the credit, whenever the credit comes: the module's first
// credit after the first write began (it then waits), and each chunk's credit only after the
// platform said the chunk went out.
TEST_F(DriverTest, WritesCompleteWhateverTheCreditTiming) {
    struct Row {
        double creditDelay;
        double returnDelay;
        uint16_t buffer;
        size_t size;
    };
    for (Row row : {Row{0.2, 0, 2048, 12}, Row{0.2, 0, 64, 1000}, Row{0, 0.05, 64, 1000},
                    Row{0, 0.05, 2048, 5000}, Row{0.2, 0.05, 10, 95}}) {
        SCOPED_TRACE(std::to_string(row.creditDelay) + "/" + std::to_string(row.returnDelay) + "/" +
                     std::to_string(row.buffer) + "/" + std::to_string(row.size));
        auto clock = std::make_shared<VirtualClock>();
        ScopedClock scoped(clock);
        recorder = std::make_shared<Recorder>();
        world = sim::SimulatedBluetooth::create();
        sim::SimulatedBluetooth::Installation local(world);
        auto module = addModule(options([&](auto& o) {
            o.creditDelay = row.creditDelay;
            o.creditReturnDelay = row.returnDelay;
            o.receiveBuffer = row.buffer;
            o.maxWriteWithoutResponse = 20;
            o.feedsSensor = false;
        }));
        auto device = connected();
        Data payload(row.size);
        for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 13);
        ASSERT_TRUE(device->writeData(payload));
        // Time passes only as the test lets it: each step lets one round of credit come.
        ASSERT_TRUE(eventually([&] {
            clock->advance(0.1);
            drainMain();
            return recorder->count(recorder->written) == 1;
        }));
        Data joined;
        for (const auto& chunk : module->writes(BGXUUID::peripheralRX))
            joined.insert(joined.end(), chunk.begin(), chunk.end());
        EXPECT_EQ(joined, payload);
        EXPECT_EQ(module->creditOverrun(), 0u);
        EXPECT_TRUE(device->writeString("next")) << "the device takes the next write";
        device->disconnect();
        ASSERT_TRUE(eventually([&] { return device->deviceState() == DeviceState::Disconnected; }));
        scanner.reset();
    }
}

// A bus mode value moves only an interrogating device to Connected, and only when it differs
// from the stored one; in every other state it changes no state (at most the stored mode).
TEST_F(DriverTest, ABusModeValueMovesOnlyAnInterrogatingDeviceToConnected) {
    auto clock = std::make_shared<VirtualClock>();  // the connection timer never fires here
    ScopedClock scoped(clock);
    struct Row {
        DeviceState state;
        bool closing;  // disconnect asked for just before the value arrives
        uint8_t value;
        DeviceState next;
    };
    using S = DeviceState;
    const Row rows[] = {
        {S::Interrogating, false, 0, S::Interrogating},  // the stored value: not a first value
        {S::Interrogating, false, 1, S::Connected},     {S::Connecting, false, 1, S::Connecting},
        {S::Connected, false, 1, S::Connected},         {S::Connected, false, 2, S::Connected},
        {S::Interrogating, true, 1, S::Disconnecting},  {S::Connected, true, 2, S::Disconnecting},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(BGXDevice::nameForDeviceState(static_cast<uint64_t>(row.state)) +
                     (row.closing ? " closing, " : ", ") + std::to_string(row.value));
        recorder = std::make_shared<Recorder>();
        world = sim::SimulatedBluetooth::create();
        sim::SimulatedBluetooth::Installation local(world);
        auto module =
            addModule(options([&](auto& o) { o.answersBusMode = row.state != S::Interrogating; }));
        if (row.state == S::Connecting)
            module->setConnectAnswer(SimulatedBGX13::ConnectAnswer::silent);
        auto device = discover();
        device->connect();
        ASSERT_TRUE(eventually([&] {
            // Interrogating with its characteristics known: the model number was read.
            return device->deviceState() == row.state &&
                   (row.state != S::Interrogating || device->modelNumber().has_value());
        }));
        drainMain();
        const auto changesBefore = recorder->count(recorder->states);
        const BleCharacteristic mode{BGXUUID::busMode, BleProperty::notify | BleProperty::read,
                                     BGXUUID::streamingService, BGXUUID::busMode};
        DeviceState next;
        size_t changes;
        // Read on the driver's queue, before the central's report of a closed link follows.
        DispatchQueue::main()->sync([&] {
            if (row.closing) device->disconnect();
            device->didUpdateValueForCharacteristic(device->peripheral(), mode, {row.value},
                                                    std::nullopt);
            next = device->deviceState();
            changes = recorder->count(recorder->states);
        });
        EXPECT_EQ(next, row.next);
        const size_t expectedChanges = changesBefore + (row.closing ? 1 : 0) +
                                       (row.next == S::Connected && row.state != S::Connected);
        EXPECT_EQ(changes, expectedChanges);
        device->disconnect();
        drainMain();
        scanner.reset();
    }
}

// A subscription the module refuses leaves a link that cannot be used: it is closed with the
// error, whichever of the three it is.
TEST_F(DriverTest, ARefusedSubscriptionClosesTheLinkWithItsError) {
    for (const char* uuid : {BGXUUID::peripheralRX, BGXUUID::peripheralTX, BGXUUID::busMode}) {
        SCOPED_TRACE(uuid);
        recorder = std::make_shared<Recorder>();
        world = sim::SimulatedBluetooth::create();
        sim::SimulatedBluetooth::Installation local(world);
        ConsoleLines console;
        int errorPosts = 0;
        ScopedObserver observer("Error", [&](const Notification&) { ++errorPosts; });
        addModule(options([&](auto& o) { o.refusedSubscriptions = {uuid}; }));
        auto device = discover();
        device->connect();
        ASSERT_TRUE(eventually([&] { return recorder->count(recorder->errors) == 1; }));
        ASSERT_TRUE(eventually([&] { return device->deviceState() == DeviceState::Disconnected; }));
        EXPECT_EQ(errorPosts, 1);
        EXPECT_EQ(
            console.containing("subscribing to the characteristic (UUID): " + bleUUIDText(uuid)),
            1u);
        scanner.reset();
    }
}
