#include "api/Communication/SensorType.hpp"

#include "platform/Describe.hpp"

namespace qz {

std::string SensorType::description() const {
    if (isMfi()) {
        const auto& m = asMfi();
        return "mfi(" + qz::quoted(m.mac) + ", " + std::to_string(m.connectionId) + ")";
    }
    return "le(" + asLe().uuid.uuidString() + ")";
}

std::string describe(const SensorType& type) {
    return type.description();
}

}  // namespace qz
