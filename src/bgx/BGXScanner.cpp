#include "bgx/BGXScanner.hpp"

#include <algorithm>

#include "bgx/BGXDevice.hpp"
#include "platform/Console.hpp"
#include "platform/Locked.hpp"

namespace qz {

std::shared_ptr<BGXScanner> BGXScanner::create(std::shared_ptr<DispatchQueue> queue,
                                               const std::shared_ptr<BGXScanDelegate>& delegate) {
    if (!queue) queue = DispatchQueue::main();
    std::shared_ptr<BGXScanner> scanner(new BGXScanner(std::move(queue)));
    scanner->delegate_ = delegate;
    scanner->manager_ = makeBleCentral(scanner, scanner->queue_);
    return scanner;
}

BGXScanner::BGXScanner(std::shared_ptr<DispatchQueue> queue) : queue_(std::move(queue)) {
    devicesDiscovered_.reserve(100);
    devicesDiscoveredWhichHaveDisconnected_.reserve(100);
}

BGXScanner::~BGXScanner() = default;

std::shared_ptr<BGXScanDelegate> BGXScanner::delegate() const {
    return lockedCopy(mutex_, delegate_).lock();
}

void BGXScanner::setDelegate(const std::shared_ptr<BGXScanDelegate>& delegate) {
    lockedAssign(mutex_, delegate_, delegate);
}

std::vector<std::shared_ptr<BGXDevice>> BGXScanner::devicesDiscovered() const {
    return lockedCopy(mutex_, devicesDiscovered_);
}

std::vector<std::shared_ptr<BGXDevice>> BGXScanner::devicesDiscoveredWhichHaveDisconnected() const {
    return lockedCopy(mutex_, devicesDiscoveredWhichHaveDisconnected_);
}

void BGXScanner::setDevicesDiscoveredWhichHaveDisconnected(
    std::vector<std::shared_ptr<BGXDevice>> devices) {
    lockedAssign(mutex_, devicesDiscoveredWhichHaveDisconnected_, std::move(devices));
}

ScanState BGXScanner::scanState() const {
    return lockedCopy(mutex_, scanState_);
}

void BGXScanner::setScanState(ScanState state) {
    lockedAssign(mutex_, scanState_, state);
    observers_.post("scanState", this);
    if (auto d = delegate()) d->scanStateChanged(state);
}

size_t BGXScanner::indexOfDiscoveredDevice(const BlePeripheral& peripheral,
                                           const std::vector<std::shared_ptr<BGXDevice>>& devices) {
    const UUID id = peripheral.identifier();
    for (size_t i = 0; i < devices.size(); ++i)
        if (devices[i] && devices[i]->identifier() == id) return i;
    return NotFound;
}

std::shared_ptr<BGXDevice> BGXScanner::findDevice(const BlePeripheral& peripheral) const {
    std::lock_guard lock(mutex_);
    for (const auto* list : {&devicesDiscovered_, &devicesDiscoveredWhichHaveDisconnected_}) {
        size_t i = indexOfDiscoveredDevice(peripheral, *list);
        if (i != NotFound) return (*list)[i];
    }
    return nullptr;
}

std::shared_ptr<BGXDevice> BGXScanner::trackedDevice(const UUID& identifier) const {
    std::lock_guard lock(mutex_);
    for (const auto* list : {&devicesDiscovered_, &devicesDiscoveredWhichHaveDisconnected_})
        for (const auto& device : *list)
            if (device->identifier() == identifier) return device;
    return nullptr;
}

void BGXScanner::adopt(const std::shared_ptr<BGXDevice>& device) {
    if (!device) return;
    std::lock_guard lock(mutex_);
    for (const auto* list : {&devicesDiscovered_, &devicesDiscoveredWhichHaveDisconnected_})
        if (std::find(list->begin(), list->end(), device) != list->end()) return;
    devicesDiscoveredWhichHaveDisconnected_.push_back(device);
}

bool BGXScanner::startScan() {
    bool wasIdle = false;
    queue_->sync([&] {
        std::vector<std::shared_ptr<BGXDevice>> active;
        for (const auto& device : devicesDiscovered()) {
            auto state = device->deviceState();
            if (state == DeviceState::Interrogating || state == DeviceState::Connecting ||
                state == DeviceState::Connected)
                active.push_back(device);
        }
        console::log("CB: Clearing discovered list...");
        {
            std::lock_guard lock(mutex_);
            devicesDiscovered_ = std::move(active);
            devicesDiscoveredWhichHaveDisconnected_.clear();
            wasIdle = scanState_ == ScanState::Idle;
        }
        if (!wasIdle) return;
        console::log("CB: Restarting scan for service, state Idle...");
        manager_->scanForPeripherals({BGXUUID::streamingService});
        setScanState(ScanState::Scanning);
    });
    return wasIdle;
}

bool BGXScanner::stopScan() {
    bool wasScanning = false;
    queue_->sync([&] {
        wasScanning = scanState() == ScanState::Scanning;
        if (!wasScanning) return;
        manager_->stopScan();
        setScanState(ScanState::Idle);
    });
    return wasScanning;
}

void BGXScanner::centralManagerDidUpdateState(BleManagerState state) {
    if (state != BleManagerState::poweredOn) {
        setScanState(ScanState::Unavailable);
    } else if (scanState() == ScanState::Unavailable) {
        setScanState(ScanState::Idle);
    }
    if (auto d = delegate()) d->bluetoothStateChanged(static_cast<int>(state));
}

void BGXScanner::didDiscoverPeripheral(const std::shared_ptr<BlePeripheral>& peripheral,
                                       const BleAdvertisement& advertisement, int rssi) {
    console::log("CB: didDiscoverPeripheral called: " + peripheral->description());
    std::shared_ptr<BGXDevice> device;
    size_t index;
    {
        std::lock_guard lock(mutex_);
        index = indexOfDiscoveredDevice(*peripheral, devicesDiscovered_);
        if (index != NotFound) device = devicesDiscovered_[index];
    }
    if (device)
        console::log("Scanned for " + peripheral->name().value_or("(null)") +
                     " (previously found).");
    console::log("CB: didDiscoverPeripheral index found: " + std::to_string(index));
    if (!device) {
        device =
            BGXDevice::deviceWithCBPeripheral(peripheral, advertisement, rssi, shared_from_this());
        std::lock_guard lock(mutex_);
        devicesDiscovered_.push_back(device);
    }
    console::log("CB: device discovered: " + device->description());
    if (auto d = delegate()) d->deviceDiscovered(device);
}

void BGXScanner::didConnectPeripheral(const std::shared_ptr<BlePeripheral>& peripheral) {
    console::log("CB: didConnectPeripheral called: " + peripheral->description());
    std::shared_ptr<BGXDevice> device;
    {
        std::lock_guard lock(mutex_);
        size_t i = indexOfDiscoveredDevice(*peripheral, devicesDiscovered_);
        if (i != NotFound) {
            device = devicesDiscovered_[i];
        } else {
            auto& gone = devicesDiscoveredWhichHaveDisconnected_;
            i = indexOfDiscoveredDevice(*peripheral, gone);
            if (i != NotFound) {
                device = gone[i];
                gone.erase(gone.begin() + static_cast<std::ptrdiff_t>(i));
                devicesDiscovered_.push_back(device);
            }
        }
    }
    if (device) device->deviceDidConnect();
}

// A failed attempt or a closed link of a device in either list reaches that device: a device
// reconnected from the second list must not be left connecting or disconnecting for ever.
void BGXScanner::didFailToConnectPeripheral(const std::shared_ptr<BlePeripheral>& peripheral,
                                            const std::optional<BleError>& error) {
    console::log("CB: didFailToConnectPeripheral called: " + peripheral->description());
    if (auto device = findDevice(*peripheral)) device->deviceDidFailToConnect();
}

void BGXScanner::didDisconnectPeripheral(const std::shared_ptr<BlePeripheral>& peripheral,
                                         const std::optional<BleError>& error) {
    console::log("CB: didDisconnectPeripheral called: " + peripheral->description());
    if (auto device = findDevice(*peripheral)) device->deviceDidDisconnect();
    std::shared_ptr<BGXDevice> moved;
    {
        std::lock_guard lock(mutex_);
        size_t i = indexOfDiscoveredDevice(*peripheral, devicesDiscovered_);
        if (i != NotFound) {
            moved = devicesDiscovered_[i];
            devicesDiscovered_.erase(devicesDiscovered_.begin() + static_cast<std::ptrdiff_t>(i));
            devicesDiscoveredWhichHaveDisconnected_.push_back(moved);
        }
    }
    console::log(moved ? "CB: Removing device from list: " + moved->description()
                       : std::string("CB: Device not found"));
}

}  // namespace qz
