// The BGX13 driver over the simulated central and module.
#include <gtest/gtest.h>

#include "BleTestSupport.hpp"
#include "bgx/SafeType.hpp"
#include "bgx/Version.hpp"
#include "platform/NotificationCenter.hpp"
#include "sim/LinkScrambler.hpp"

using namespace qz;
using namespace qz::bletest;
using qz::sim::SimulatedBGX13;

namespace {

Data bytesOf(const std::string& s) {
    return Data(s.begin(), s.end());
}

// The module's view of one link: the writes to its TX characteristic.
std::vector<Data> txWrites(const SimulatedBGX13& m) {
    return m.writes(BGXUUID::peripheralTX);
}

}  // namespace

TEST_F(DriverTest, ScannerFollowsThePowerAndReportsEveryDiscovery) {
    auto module = addModule();
    auto device = discover();
    EXPECT_EQ(recorder->get(recorder->scanStates),
              (std::vector{ScanState::Idle, ScanState::Scanning}));
    EXPECT_EQ(recorder->get(recorder->bluetoothStates), std::vector{5});
    EXPECT_EQ(device->identifier(), module->identifier());
    EXPECT_EQ(device->name(), "Ostrel BLE");

    // Seen again: reported again, listed once.
    world->advertise(module);
    ASSERT_TRUE(eventually([&] { return recorder->count(recorder->discovered) == 2; }));
    EXPECT_EQ(recorder->get(recorder->discovered).at(1), device);
    EXPECT_EQ(scanner->devicesDiscovered().size(), 1u);
    EXPECT_EQ(
        BGXScanner::indexOfDiscoveredDevice(*device->peripheral(), scanner->devicesDiscovered()),
        0u);
    EXPECT_FALSE(scanner->startScan()) << "already scanning";

    world->setPowered(false);
    ASSERT_TRUE(eventually([&] { return recorder->count(recorder->bluetoothStates) == 2; }));
    EXPECT_EQ(scanner->scanState(), ScanState::Unavailable);
    EXPECT_FALSE(scanner->stopScan());
    world->setPowered(true);
    // The state reaches the recorder on the main queue, after the scanner has taken it.
    ASSERT_TRUE(eventually([&] {
        return scanner->scanState() == ScanState::Idle &&
               recorder->count(recorder->bluetoothStates) == 3;
    }));
    EXPECT_EQ(recorder->get(recorder->bluetoothStates), (std::vector{5, 4, 5}));
    EXPECT_TRUE(scanner->startScan());
    EXPECT_TRUE(scanner->stopScan());
    EXPECT_EQ(scanner->scanState(), ScanState::Idle);
}

TEST_F(DriverTest, InterrogatesAndGrantsTheModuleItsCredit) {
    auto module = addModule();
    ConsoleLines console;
    auto device = connected();
    EXPECT_EQ(
        recorder->get(recorder->states),
        (std::vector{DeviceState::Connecting, DeviceState::Interrogating, DeviceState::Connected}));
    EXPECT_EQ(device->modelNumber(), "BGX13P");
    ASSERT_TRUE(eventually([&] { return device->bootloaderVersion().has_value(); }));
    EXPECT_EQ(device->firmwareRevision(), "1.2.2738.2");
    EXPECT_EQ(device->bootloaderVersion(), "1524");
    ASSERT_TRUE(eventually([&] { return device->device_unique_id().has_value(); }));
    EXPECT_EQ(device->device_unique_id(), "3C2EF50012ABCDEF");
    EXPECT_EQ(device->busMode(), 1);
    EXPECT_EQ(recorder->get(recorder->busModes), std::vector<BusMode>{1});
    EXPECT_TRUE(device->fastAck());
    EXPECT_FALSE(device->writeWithResponse());
    device->setWriteWithResponse(true);
    EXPECT_FALSE(device->writeWithResponse());
    EXPECT_EQ(console.containing("BGX Warning: Attempt to set writeWithResponse YES failed"), 1u);
    EXPECT_EQ(console.containing("deviceState changing from Interrogating to Connected"), 1u);
    // Entering Connected tells the module it may send 32767 bytes.
    ASSERT_TRUE(eventually([&] { return !txWrites(*module).empty(); }));
    EXPECT_EQ(txWrites(*module).at(0), (Data{0x00, 0xFF, 0x7F}));
    ASSERT_TRUE(eventually([&] { return device->fastAckTxBytes() == 2048; }));
    EXPECT_TRUE(device->canWrite());
    EXPECT_NE(
        device->description().find("Ostrel BLE rssi=-58 id=" + module->identifier().uuidString() +
                                   " DeviceState=Connected"),
        std::string::npos);
}

TEST_F(DriverTest, WithoutFastAcknowledgementWritesWaitForResponses) {
    auto module = addModule(options([](auto& o) {
        o.fastAck = false;
        o.maxWriteWithResponse = 20;
    }));
    auto device = connected();
    EXPECT_FALSE(device->fastAck());
    EXPECT_TRUE(device->writeWithResponse());
    EXPECT_TRUE(device->writeData(sim::scramble("KQI\r")));
    ASSERT_TRUE(eventually([&] { return recorder->count(recorder->reads) == 1; }));
    EXPECT_EQ(sim::toString(sim::scramble(recorder->get(recorder->reads).at(0))), "OSAPI 4.05\r>");
    EXPECT_TRUE(txWrites(*module).empty()) << "no credit messages";

    // A credit message all the same: logged (with no lock of the driver held) and taken.
    ConsoleLines console([&](const std::string& line) {
        if (line.starts_with("Warning: fastAck")) {
            EXPECT_FALSE(device->fastAck());
        }
    });
    BleCharacteristic rx{BGXUUID::peripheralRX, BleProperty::write, BGXUUID::streamingService,
                         BGXUUID::peripheralRX};
    DispatchQueue::main()->sync([&] {
        device->didUpdateValueForCharacteristic(device->peripheral(), rx, Data{0x00, 0x10, 0x00},
                                                std::nullopt);
    });
    EXPECT_EQ(console.containing("Warning: fastAck received but fastAck is not enabled."), 1u);
    EXPECT_EQ(device->fastAckTxBytes(), 16);
}

// Each write goes out in chunks of min(remaining, write length, credit); the module never sees
// more than its credit, and the write completes once.
TEST_F(DriverTest, WritesInChunksWithinLengthAndCredit) {
    struct Row {
        bool fastAck;
        size_t maxWrite;
        uint16_t buffer;
        size_t size;
    };
    for (Row row : {Row{true, 244, 2048, 65536}, Row{true, 20, 2048, 1000}, Row{true, 244, 10, 95},
                    Row{false, 20, 0, 45}, Row{true, 244, 2048, 1}}) {
        SCOPED_TRACE(std::to_string(row.maxWrite) + "/" + std::to_string(row.buffer) + "/" +
                     std::to_string(row.size));
        recorder = std::make_shared<Recorder>();
        world = sim::SimulatedBluetooth::create();
        sim::SimulatedBluetooth::Installation local(world);
        auto module = addModule(options([&](auto& o) {
            o.maxWriteWithResponse = row.maxWrite;
            o.maxWriteWithoutResponse = row.maxWrite + 5;
            o.fastAck = row.fastAck;
            o.receiveBuffer = row.buffer;
            o.feedsSensor = false;
        }));
        auto device = connected();
        Data payload(row.size);
        for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 7);
        ASSERT_TRUE(device->writeData(payload));
        ASSERT_TRUE(eventually([&] { return recorder->count(recorder->written) == 1; }));
        auto chunks = module->writes(BGXUUID::peripheralRX);
        Data joined;
        const size_t limit =
            row.fastAck ? std::min<size_t>(row.maxWrite, row.buffer) : row.maxWrite;
        for (size_t i = 0; i < chunks.size(); ++i) {
            joined.insert(joined.end(), chunks[i].begin(), chunks[i].end());
            if (i + 1 < chunks.size()) {
                EXPECT_EQ(chunks[i].size(), limit) << "chunk " << i;
            }
        }
        EXPECT_EQ(joined, payload);
        EXPECT_EQ(module->creditOverrun(), 0u);
        drainMain();
        EXPECT_EQ(device->fastAckTxBytes(), row.fastAck ? row.buffer : 0);
        device->disconnect();
        ASSERT_TRUE(eventually([&] { return device->deviceState() == DeviceState::Disconnected; }));
        scanner.reset();
    }
}

TEST_F(DriverTest, EveryReceivedChunkIsHandedOnThenCredited) {
    auto module = addModule(options([](auto& o) { o.notifySize = 20; }));
    module->core().addHandler([](const std::string& command) -> std::optional<std::string> {
        if (command == "LONG") return std::string(30, 'A');
        return std::nullopt;
    });
    auto device = connected();
    size_t creditsAtFirstChunk = 99;
    recorder->onData = [&](const Data&) {
        if (creditsAtFirstChunk == 99) creditsAtFirstChunk = txWrites(*module).size();
    };
    ASSERT_TRUE(device->writeData(sim::scramble("LONG\r")));
    ASSERT_TRUE(eventually([&] { return recorder->count(recorder->reads) == 2; }));
    auto reads = recorder->get(recorder->reads);
    EXPECT_EQ(reads.at(0).size(), 20u);
    EXPECT_EQ(reads.at(1).size(), 12u);  // 30 'A', "\r>"
    ASSERT_TRUE(eventually([&] { return txWrites(*module).size() == 3; }));
    EXPECT_EQ(creditsAtFirstChunk, 1u) << "the chunk is handed on before its credit goes back";
    EXPECT_EQ(txWrites(*module).at(1), (Data{0x01, 0x14, 0x00}));
    EXPECT_EQ(txWrites(*module).at(2), (Data{0x01, 0x0C, 0x00}));
    EXPECT_EQ(device->fastAckRxBytes(), kInitialFastAckRxBytes);
}

TEST_F(DriverTest, ReceiveCreditNeverGoesBelowZero) {
    addModule();
    auto device = connected();
    ConsoleLines console;
    BleCharacteristic tx{BGXUUID::peripheralTX, BleProperty::notify, BGXUUID::streamingService,
                         BGXUUID::peripheralTX};
    DispatchQueue::main()->sync([&] {
        device->didUpdateValueForCharacteristic(device->peripheral(), tx, Data(40000, 0x1B),
                                                std::nullopt);
        EXPECT_EQ(device->fastAckRxBytes(), 0);
    });
    EXPECT_EQ(console.containing("BGX Warning: the module sent 7233 bytes beyond its receive "
                                 "credit; credit kept at 0."),
              1u);
    drainMain();
    EXPECT_EQ(device->fastAckRxBytes(), kInitialFastAckRxBytes);
}

TEST_F(DriverTest, RefusedFailedAndInterruptedWritesLeaveTheDeviceWritable) {
    auto module = addModule(options([](auto& o) { o.feedsSensor = false; }));
    auto device = discover();
    EXPECT_FALSE(device->writeString("X")) << "not connected";
    device->connect();
    ASSERT_TRUE(eventually([&] { return device->deviceState() == DeviceState::Connected; }));
    EXPECT_FALSE(device->writeData({})) << "nothing to write";
    drainMain();  // the credit message of `Connected` is out before the write fault is armed

    // A failed write is dropped: the next one goes.
    module->injectFault(SimulatedBGX13::Fault::write);
    ASSERT_TRUE(device->writeString("lost"));
    ASSERT_TRUE(device->writeString("kept"));
    ASSERT_TRUE(eventually([&] { return recorder->count(recorder->written) == 1; }));
    EXPECT_EQ(module->writes(BGXUUID::peripheralRX), std::vector<Data>{bytesOf("kept")});

    // A write cut off by the link's end does not block the next link.
    DispatchQueue::main()->sync([&] {
        ASSERT_TRUE(device->writeData(Data(5000, 1)));  // waits for credit after 2048 bytes
        EXPECT_FALSE(device->writeString("busy")) << "a write is pending";
        module->dropLink();
    });
    ASSERT_TRUE(eventually([&] { return device->deviceState() == DeviceState::Disconnected; }));
    device->connect();
    ASSERT_TRUE(eventually([&] { return device->deviceState() == DeviceState::Connected; }));
    EXPECT_TRUE(device->writeString("again"));
}

// Errors while interrogating or reading close the link with that error.
TEST_F(DriverTest, InterrogationErrorsDisconnect) {
    for (auto fault :
         {SimulatedBGX13::Fault::serviceDiscovery, SimulatedBGX13::Fault::characteristicDiscovery,
          SimulatedBGX13::Fault::valueUpdate}) {
        SCOPED_TRACE(static_cast<int>(fault));
        recorder = std::make_shared<Recorder>();
        world = sim::SimulatedBluetooth::create();
        sim::SimulatedBluetooth::Installation local(world);
        auto module = addModule();
        module->injectFault(fault);
        int errorPosts = 0;
        const void* object = nullptr;
        ScopedObserver observer("Error", [&](const Notification& n) {
            ++errorPosts;
            object = n.object;
        });
        auto device = discover();
        device->connect();
        ASSERT_TRUE(eventually([&] { return device->deviceState() == DeviceState::Disconnected; }));
        EXPECT_EQ(recorder->count(recorder->errors), 1u);
        EXPECT_EQ(errorPosts, 1);
        ASSERT_NE(object, nullptr);
        EXPECT_EQ(static_cast<const BleError*>(object)->code, 1);
        EXPECT_EQ(static_cast<const BleError*>(object)->domain, BleError::kATTErrorDomain);
        EXPECT_FALSE(recorder->count(recorder->busModes));
        scanner.reset();
    }
}

TEST_F(DriverTest, FirmwareRevisionTexts) {
    struct Row {
        std::string text;
        std::optional<std::string> revision;
        std::optional<std::string> bootloader;
        bool disconnects;
    };
    for (const Row& row : {Row{"BGX13P.1.2.2738.2-1524-2738", "1.2.2738.2", "1524", false},
                           Row{"BGX13S-77-x", std::nullopt, "77", false},
                           Row{"OTHER.3-9-1", "OTHER.3-9-1", "9", false},
                           Row{"BGX13P.1.2-1524", std::nullopt, std::nullopt, true},
                           Row{"BGX13P.1.\xff-1524-2738", std::nullopt, std::nullopt, true}}) {
        SCOPED_TRACE(row.text);
        recorder = std::make_shared<Recorder>();
        world = sim::SimulatedBluetooth::create();
        sim::SimulatedBluetooth::Installation local(world);
        ConsoleLines console;
        addModule(options([&](auto& o) { o.firmwareRevision = row.text; }));
        auto device = discover();
        device->connect();
        if (row.disconnects) {
            ASSERT_TRUE(
                eventually([&] { return device->deviceState() == DeviceState::Disconnected; }));
        } else {
            ASSERT_TRUE(eventually([&] { return device->bootloaderVersion() == row.bootloader; }));
        }
        EXPECT_EQ(device->firmwareRevision(), row.revision);
        EXPECT_EQ(console.containing("Unexpected firmware revision string format"),
                  row.text.starts_with("OTHER") ? 1u : 0u);
        device->disconnect();
        drainMain();
        scanner.reset();
    }
}

// The interrogation's lines name the peripheral by its own name and the services as the platform
// writes their identifiers; a value that is not UTF-8 is no text; the reads and subscriptions go
// out in the order of the characteristics; errors are written as the platform describes them.
TEST_F(DriverTest, InterrogationLinesValuesAndRequestOrder) {
    auto module = addModule(options([](auto& o) {
        o.name = "";
        o.localName = "Ostrel adv";
        o.modelNumber = "\xff\xfe";
        o.feedsSensor = false;
    }));
    ConsoleLines console;
    auto device = connected();
    EXPECT_EQ(device->name(), "Ostrel adv");
    EXPECT_TRUE(device->description().starts_with("Ostrel adv rssi=-58 id="));
    EXPECT_EQ(console.containing("peripheral: (null) didDiscoverServices"), 1u);
    EXPECT_EQ(console.containing("peripheral: (null) didDiscoverCharacteristicsForService: "
                                 "331A36F5-2459-45EA-9D95-6142F0C4B307"),
              1u);
    EXPECT_EQ(console.containing("peripheral: (null) didDiscoverCharacteristicsForService: 180A"),
              1u);
    EXPECT_EQ(device->modelNumber(), std::nullopt);
    EXPECT_EQ(console.containing("Model Number: (null)"), 1u);

    const std::string rx = BGXUUID::peripheralRX, tx = BGXUUID::peripheralTX,
                      mode = BGXUUID::busMode, uid = BGXUUID::deviceUniqueId,
                      model = BGXUUID::modelNumber;
    EXPECT_EQ(
        module->requests(),
        (std::vector<std::string>{"notify " + rx, "notify " + tx, "notify " + mode, "read " + uid,
                                  "read " + std::string(BGXUUID::firmwareRevision), "read " + model,
                                  "read " + mode}));
    ASSERT_TRUE(eventually([&] { return device->device_unique_id() == "3C2EF50012ABCDEF"; }));

    // A table that lists the unique id first: read before the subscriptions, and the value of
    // the characteristic found before is gone until it is read again.
    auto c = [](const std::string& uuid, uint32_t properties) {
        return BleCharacteristic{uuid, properties, BGXUUID::streamingService, uuid};
    };
    const size_t before = module->requests().size();
    std::vector<std::string> requests;
    DispatchQueue::main()->sync([&] {
        device->didDiscoverCharacteristicsForService(
            device->peripheral(), {BGXUUID::streamingService, BGXUUID::streamingService},
            {c(uid, BleProperty::read), c(rx, BleProperty::write | BleProperty::notify),
             c(tx, BleProperty::notify), c(mode, BleProperty::notify | BleProperty::read)},
            std::nullopt);
        EXPECT_EQ(device->device_unique_id(), std::nullopt);
        requests = module->requests();  // before the answers come back
    });
    EXPECT_EQ(std::vector<std::string>(requests.begin() + static_cast<std::ptrdiff_t>(before),
                                       requests.end()),
              (std::vector<std::string>{"read " + uid, "notify " + rx, "notify " + tx,
                                        "notify " + mode, "read " + model}));
    EXPECT_TRUE(eventually([&] { return device->device_unique_id() == "3C2EF50012ABCDEF"; }));

    module->injectFault(SimulatedBGX13::Fault::write);
    ASSERT_TRUE(device->writeString("x"));
    ASSERT_TRUE(eventually([&] { return console.containing("writing to the characteristic"); }));
    EXPECT_EQ(console.containing("Error Error Domain=CBATTErrorDomain Code=3 \"Writing is not "
                                 "permitted.\" UserInfo={NSLocalizedDescription=Writing is not "
                                 "permitted.} writing to the characteristic (UUID): "
                                 "A9DA6040-0823-4995-94EC-9CE41CA28833"),
              1u);
}

// Attempts the modules never answer end when cancelled (each of them), or when Bluetooth goes off.
TEST_F(DriverTest, UnansweredAttemptsEndWhenCancelledOrWhenBluetoothGoesOff) {
    for (const char* name : {"one", "two"})
        addModule(options([&](auto& o) {
            o.name = name;
        }))->setConnectAnswer(SimulatedBGX13::ConnectAnswer::silent);
    scanner = BGXScanner::create(DispatchQueue::main(), recorder);
    ASSERT_TRUE(eventually([&] { return scanner->scanState() == ScanState::Idle; }));
    scanner->startScan();
    ASSERT_TRUE(eventually([&] { return scanner->devicesDiscovered().size() == 2; }));
    auto devices = scanner->devicesDiscovered();
    for (const auto& d : devices) {
        d->setDeviceDelegate(recorder);
        EXPECT_TRUE(d->connect());
    }
    for (const auto& d : devices) EXPECT_TRUE(d->disconnect());
    for (const auto& d : devices)
        ASSERT_TRUE(eventually([&] { return d->deviceState() == DeviceState::Disconnected; }));
    EXPECT_EQ(recorder->count(recorder->timeouts), 0u);

    for (const auto& d : devices) d->connect();
    world->setPowered(false);
    for (const auto& d : devices)
        ASSERT_TRUE(eventually([&] { return d->deviceState() == DeviceState::Disconnected; }));
    EXPECT_EQ(recorder->count(recorder->timeouts), 2u);
}

// The module holds the central to the properties of its characteristics.
TEST(SimulatedBGX13Module, WritesOnlyWhatItsCharacteristicsTake) {
    struct QuietLink : SimulatedBGX13::Link {
        void notify(const std::string&, const Data&) override {}
        void dropped(const BleError&) override {}
    };
    auto module = SimulatedBGX13::create(std::make_shared<sim::SensorCore>(),
                                         options([](auto& o) { o.feedsSensor = false; }));
    module->attach(std::make_shared<QuietLink>());
    struct Row {
        const char* uuid;
        BleWriteType type;
        bool taken;
    };
    for (const Row& row : {Row{BGXUUID::peripheralRX, BleWriteType::withResponse, true},
                           Row{BGXUUID::peripheralRX, BleWriteType::withoutResponse, true},
                           Row{BGXUUID::peripheralTX, BleWriteType::withoutResponse, true},
                           Row{BGXUUID::peripheralTX, BleWriteType::withResponse, false},
                           Row{BGXUUID::busMode, BleWriteType::withResponse, true},
                           Row{BGXUUID::busMode, BleWriteType::withoutResponse, false},
                           Row{BGXUUID::deviceUniqueId, BleWriteType::withResponse, false},
                           Row{BGXUUID::modelNumber, BleWriteType::withoutResponse, false}}) {
        SCOPED_TRACE(std::string(row.uuid) +
                     (row.type == BleWriteType::withResponse ? " request" : " command"));
        auto error = module->write(row.uuid, {0x01, 0x02, 0x00}, row.type);
        EXPECT_EQ(!error, row.taken);
        if (error) {
            EXPECT_EQ(error->code, 3);
        }
    }
    EXPECT_TRUE(module->read(BGXUUID::peripheralTX).error);
    EXPECT_EQ(module->read(BGXUUID::busMode).value, Data{1});
}

TEST_F(DriverTest, ConnectionTimerRunsUntilConnected) {
    auto clock = std::make_shared<VirtualClock>();
    ScopedClock scoped(clock);
    // A module that never reports its bus mode, and one that never answers the connect.
    for (bool silent : {false, true}) {
        SCOPED_TRACE(silent ? "silent connect" : "no bus mode");
        recorder = std::make_shared<Recorder>();
        world = sim::SimulatedBluetooth::create();
        sim::SimulatedBluetooth::Installation local(world);
        auto module = addModule(options([](auto& o) { o.answersBusMode = false; }));
        if (silent) module->setConnectAnswer(SimulatedBGX13::ConnectAnswer::silent);
        auto device = discover();
        device->connect();
        auto waiting = silent ? DeviceState::Connecting : DeviceState::Interrogating;
        ASSERT_TRUE(eventually([&] { return device->deviceState() == waiting; }));
        clock->advance(29.9);
        drainMain();
        EXPECT_EQ(device->deviceState(), waiting);
        clock->advance(0.2);
        ASSERT_TRUE(eventually([&] { return device->deviceState() == DeviceState::Disconnected; }));
        drainMain();  // the delegate hears of the state after it is set
        EXPECT_EQ(recorder->count(recorder->timeouts), 1u);
        EXPECT_EQ(recorder->get(recorder->states).back(), DeviceState::Disconnected);
        scanner.reset();
    }
}

TEST_F(DriverTest, AFailedConnectReportsATimeoutThenDisconnected) {
    auto module = addModule();
    module->setConnectAnswer(SimulatedBGX13::ConnectAnswer::refuse);
    auto device = discover();
    EXPECT_TRUE(device->connect());
    ASSERT_TRUE(eventually([&] { return device->deviceState() == DeviceState::Disconnected; }));
    EXPECT_EQ(recorder->count(recorder->timeouts), 1u);
    EXPECT_FALSE(device->disconnect());

    // A device whose link closed sits in the second list; a failed reconnect still reaches it.
    module->setConnectAnswer(SimulatedBGX13::ConnectAnswer::accept);
    device->connect();
    ASSERT_TRUE(eventually([&] { return device->deviceState() == DeviceState::Connected; }));
    EXPECT_TRUE(device->disconnect());
    ASSERT_TRUE(eventually([&] { return device->deviceState() == DeviceState::Disconnected; }));
    drainMain();
    EXPECT_EQ(scanner->devicesDiscoveredWhichHaveDisconnected(), std::vector{device});
    module->setConnectAnswer(SimulatedBGX13::ConnectAnswer::refuse);
    device->connect();
    ASSERT_TRUE(eventually([&] { return recorder->count(recorder->timeouts) == 2; }));
    EXPECT_TRUE(eventually([&] { return device->deviceState() == DeviceState::Disconnected; }));
}

TEST_F(DriverTest, ReconnectingAConnectedDeviceInterrogatesAgain) {
    addModule();
    auto device = connected();
    device->connect();
    ASSERT_TRUE(eventually([&] { return recorder->count(recorder->states) == 6; }));
    EXPECT_TRUE(eventually([&] { return device->deviceState() == DeviceState::Connected; }));
    EXPECT_EQ(device->busMode(), 1);
}

TEST_F(DriverTest, BusModeReadsAndWrites) {
    auto module = addModule();
    auto device = connected();
    EXPECT_TRUE(device->readBusMode());
    EXPECT_FALSE(device->writeBusMode(1)) << "the current mode";
    std::atomic<int> calls = 0;
    std::optional<BleError> seen{BleError{}};
    auto handler = [&](const std::shared_ptr<BGXDevice>& d, const std::optional<BleError>& e) {
        ++calls;
        seen = e;
        EXPECT_EQ(d, device);
    };
    EXPECT_FALSE(device->writeBusMode(1, "pw", handler)) << "nothing written, nothing queued";
    EXPECT_TRUE(device->writeBusMode(2, "pw", handler));
    ASSERT_TRUE(eventually([&] { return device->busMode() == 2; }));
    drainMain();
    EXPECT_EQ(calls.load(), 1);
    EXPECT_FALSE(seen);
    EXPECT_EQ(module->writes(BGXUUID::busMode), (std::vector<Data>{{2, 'p', 'w', 0}}));
    EXPECT_EQ(recorder->get(recorder->busModes), (std::vector<BusMode>{1, 2}));
    // A write with no handler keeps later completions with their own writes.
    EXPECT_TRUE(device->writeBusMode(3));
    EXPECT_TRUE(device->writeBusMode(1, std::nullopt, handler));
    ASSERT_TRUE(eventually([&] { return calls == 2; }));
    device->disconnect();
    ASSERT_TRUE(eventually([&] { return device->deviceState() == DeviceState::Disconnected; }));
    EXPECT_FALSE(device->readBusMode());
    EXPECT_EQ(device->busMode(), 0);
}

TEST_F(DriverTest, PollsTheSignalStrengthEveryFifteenSeconds) {
    auto clock = std::make_shared<VirtualClock>();
    ScopedClock scoped(clock);
    auto module = addModule();
    auto device = connected();
    int announced = 0;
    auto token = device->observers().addObserver("rssi", [&](const Notification&) { ++announced; });
    module->setRssi(-70);
    clock->advance(14.9);
    drainMain();
    EXPECT_EQ(device->rssi(), -58);
    clock->advance(0.2);
    ASSERT_TRUE(eventually([&] { return device->rssi() == -70; }));
    clock->advance(15);
    drainMain();
    device->observers().removeObserver(token);
    EXPECT_EQ(recorder->get(recorder->rssis), std::vector{-70}) << "an unchanged value is quiet";
    EXPECT_EQ(announced, 1);
}

TEST_F(DriverTest, StartScanKeepsOnlyTheActiveDevices) {
    auto first = addModule(options([](auto& o) { o.name = "one"; }));
    addModule(options([](auto& o) { o.name = "two"; }));
    addModule(options([](auto& o) { o.name = "three"; }));
    scanner = BGXScanner::create(DispatchQueue::main(), recorder);
    ASSERT_TRUE(eventually([&] { return scanner->scanState() == ScanState::Idle; }));
    scanner->startScan();
    ASSERT_TRUE(eventually([&] { return scanner->devicesDiscovered().size() == 3; }));
    auto device = scanner->trackedDevice(first->identifier());
    device->setDeviceDelegate(recorder);
    device->connect();
    ASSERT_TRUE(eventually([&] { return device->deviceState() == DeviceState::Connected; }));
    scanner->stopScan();
    scanner->startScan();
    EXPECT_EQ(scanner->devicesDiscovered().front(), device);
    drainMain();
    EXPECT_EQ(scanner->devicesDiscovered().size(), 3u) << "the others are discovered anew";
    EXPECT_TRUE(scanner->devicesDiscoveredWhichHaveDisconnected().empty());
    first->dropLink();
    ASSERT_TRUE(eventually([&] { return device->deviceState() == DeviceState::Disconnected; }));
    drainMain();
    EXPECT_EQ(scanner->devicesDiscoveredWhichHaveDisconnected(), std::vector{device});
}

TEST(BGXUtilities, NamesVersionsAndCasts) {
    for (uint64_t s = 0; s < 5; ++s)
        EXPECT_EQ(BGXDevice::nameForDeviceState(s),
                  (std::vector<std::string>{"Interrogating", "Disconnected", "Connecting",
                                            "Connected", "Disconnecting"})[s]);
    EXPECT_EQ(BGXDevice::nameForDeviceState(7), "?");

    EXPECT_EQ(Version("1.2.3.4").compare(Version("1.2.10.0")), ComparisonResult::orderedAscending);
    EXPECT_EQ(Version(" 2.0x.-1.7").compare(Version("2.0.-1.7")), ComparisonResult::orderedSame);
    EXPECT_EQ(Version("3.0.0.0").compare(Version("2.9.9.9")), ComparisonResult::orderedDescending);
    EXPECT_EQ(Version::versionFromString("1.2.3.4").description(), "Version: 1.2.3.4");
    auto message = [](const std::string& text) {
        try {
            Version v(text);
        } catch (const std::invalid_argument& e) {
            return std::string(e.what());
        }
        return std::string("no exception");
    };
    EXPECT_EQ(message("1.2.3"), "Invalid version string: 1.2.3. Expected 4 components, got 3");
    EXPECT_EQ(message("x.2.3.4"), "Invalid major version: x. Expected an integer.");
    EXPECT_EQ(message("1.2.b.4"), "Invalid build version: b. Expected an integer.");

    std::shared_ptr<BGXScanDelegate> recorder = std::make_shared<Recorder>();
    EXPECT_EQ(SafeType<BGXSerialDelegate>(recorder).get(),
              static_cast<BGXSerialDelegate*>(static_cast<Recorder*>(recorder.get())));
    EXPECT_EQ(SafeType<BGXScanner>(recorder), nullptr);

    EXPECT_EQ(bleUUIDText(BGXUUID::deviceInformationService), "180A");
    EXPECT_EQ(bleUUIDText("00012a24-0000-1000-8000-00805f9b34fb"), "00012A24");
    EXPECT_EQ(bleUUIDText(BGXUUID::busMode), "75A9F022-AF03-4E41-B4BC-9DE90A47D50B");
    EXPECT_EQ(BleError::att(1).errorDescription(),
              "Error Domain=CBATTErrorDomain Code=1 \"The handle is invalid.\" "
              "UserInfo={NSLocalizedDescription=The handle is invalid.}");

    auto m = FastAckMessage::parse({0x01, 0x40, 0x00});
    ASSERT_TRUE(m);
    EXPECT_EQ(m->count, 64);
    EXPECT_FALSE(FastAckMessage::parse({0x01, 0x40}));
}
