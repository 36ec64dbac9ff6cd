#include "platform/accessory/Accessory.hpp"

#include <cstdio>

#include "platform/Describe.hpp"
#include "platform/Locked.hpp"

namespace qz {

Accessory::Accessory(int64_t connectionID, std::string name,
                     std::vector<std::string> protocolStrings,
                     std::map<std::string, std::any> values,
                     std::shared_ptr<AccessoryDevice> device)
    : connectionID_(connectionID),
      name_(std::move(name)),
      protocolStrings_(std::move(protocolStrings)),
      values_(std::move(values)),
      device_(std::move(device)) {}

std::any Accessory::valueForKey(const std::string& key) const {
    auto it = values_.find(key);
    return it == values_.end() ? std::any() : it->second;
}

bool Accessory::isConnected() const {
    return lockedCopy(mutex_, connected_);
}

void Accessory::setConnected(bool connected) {
    lockedAssign(mutex_, connected_, connected);
}

void Accessory::addStreams(std::weak_ptr<InputStream> in, std::weak_ptr<OutputStream> out) {
    std::lock_guard lock(mutex_);
    inputs_.push_back(std::move(in));
    outputs_.push_back(std::move(out));
}

void Accessory::endStreams() {
    std::vector<std::weak_ptr<InputStream>> inputs;
    std::vector<std::weak_ptr<OutputStream>> outputs;
    {
        std::lock_guard lock(mutex_);
        inputs.swap(inputs_);
        outputs.swap(outputs_);
    }
    for (auto& w : inputs)
        if (auto s = w.lock()) s->finish();
    for (auto& w : outputs)
        if (auto s = w.lock()) s->finish();
}

std::string Accessory::description() const {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%p", static_cast<const void*>(this));
    return std::string("<EAAccessory: ") + buf +
           "> {\n  connected:" + (isConnected() ? "YES" : "NO") +
           "\n  connectionID:" + std::to_string(connectionID_) + "\n  name: " + name_ +
           "\n  protocolStrings: " + qz::describe(protocolStrings_) + "\n}";
}

std::string describe(const std::vector<std::string>& protocols) {
    std::string out = "[";
    for (size_t i = 0; i < protocols.size(); ++i) {
        if (i) out += ", ";
        out += quoted(protocols[i]);
    }
    return out + "]";
}

}  // namespace qz
