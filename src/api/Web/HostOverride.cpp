#include "api/Web/HostOverride.hpp"

#include "platform/Locked.hpp"

namespace qz {

std::string HostOverride::value() const {
    return lockedCopy(mutex_, value_);
}

void HostOverride::set(const std::string& address) {
    lockedAssign(mutex_, value_, withoutTrailingSlashes(address));
}

std::string HostOverride::withoutTrailingSlashes(std::string address) {
    while (!address.empty() && address.back() == '/') address.pop_back();
    return address;
}

}  // namespace qz
