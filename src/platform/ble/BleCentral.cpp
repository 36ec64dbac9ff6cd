#include "platform/ble/BleCentral.hpp"

#include "platform/Console.hpp"
#include "platform/ble/BlueZCentral.hpp"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <mutex>

namespace qz {

namespace {

constexpr const char* kBaseUUIDTail = "-0000-1000-8000-00805f9b34fb";

struct FactorySlot {
    std::mutex mutex;
    BleCentralFactory factory;
    BleLogSink log;
};

// Leaked: centrals log from their bus threads until the process ends.
FactorySlot& factorySlot() {
    static auto* s = new FactorySlot;
    return *s;
}

}  // namespace

BleError BleError::att(int code) {
    return BleError{kATTErrorDomain, code, "The handle is invalid."};
}

std::string BleError::errorDescription() const {
    return "Error Domain=" + domain + " Code=" + std::to_string(code) + " \"" + description +
           "\" UserInfo={NSLocalizedDescription=" + description + "}";
}

std::string normalizedBleUUID(const std::string& text) {
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower.size() == 4) return "0000" + lower + kBaseUUIDTail;
    if (lower.size() == 8) return lower + kBaseUUIDTail;
    return lower;
}

std::string bleUUIDText(const std::string& uuid) {
    std::string text = normalizedBleUUID(uuid);
    const std::string tail = kBaseUUIDTail;
    if (text.size() == 8 + tail.size() && text.ends_with(tail))
        text = text.starts_with("0000") ? text.substr(4, 4) : text.substr(0, 8);
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

std::string BlePeripheral::description() const {
    return name().value_or("(no name)") + " (" + identifier().uuidString() + ")";
}

BleCentralFactory setBleCentralFactory(BleCentralFactory factory) {
    std::lock_guard lock(factorySlot().mutex);
    std::swap(factorySlot().factory, factory);
    return factory;
}

std::shared_ptr<BleCentral> makeBleCentral(std::weak_ptr<BleCentralDelegate> delegate,
                                           std::shared_ptr<DispatchQueue> queue) {
    BleCentralFactory factory;
    {
        std::lock_guard lock(factorySlot().mutex);
        factory = factorySlot().factory;
    }
    if (!queue) queue = DispatchQueue::main();
    if (factory) return factory(std::move(delegate), std::move(queue));
    BlueZOptions options;
    if (const char* adapter = std::getenv("QZ_BLE_ADAPTER")) options.adapter = adapter;
    return BlueZCentral::create(std::move(delegate), std::move(queue), options);
}

void setBleLogSink(BleLogSink sink) {
    std::lock_guard lock(factorySlot().mutex);
    factorySlot().log = std::move(sink);
}

void bleLog(const std::string& line) {
    BleLogSink sink;
    {
        std::lock_guard lock(factorySlot().mutex);
        sink = factorySlot().log;
    }
    if (sink)
        sink(line);
    else
        console::log(line);
}

std::string describe(BleManagerState state) {
    switch (state) {
        case BleManagerState::unknown:
            return "unknown";
        case BleManagerState::resetting:
            return "resetting";
        case BleManagerState::unsupported:
            return "unsupported";
        case BleManagerState::unauthorized:
            return "unauthorized";
        case BleManagerState::poweredOff:
            return "poweredOff";
        case BleManagerState::poweredOn:
            return "poweredOn";
    }
    return "unknown";
}

}  // namespace qz
