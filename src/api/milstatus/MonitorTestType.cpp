#include "api/milstatus/MonitorTestType.hpp"

namespace qz {

MonitorTestType::Kind MonitorTestType::kind() const {
    if (std::holds_alternative<SparkTests>(storage_)) return Kind::spark;
    if (std::holds_alternative<CompressionTests>(storage_)) return Kind::compression;
    return Kind::unknown;
}

std::optional<SparkTests> MonitorTestType::sparkTests() const {
    if (auto* s = std::get_if<SparkTests>(&storage_)) return *s;
    return std::nullopt;
}

std::optional<CompressionTests> MonitorTestType::compressionTests() const {
    if (auto* c = std::get_if<CompressionTests>(&storage_)) return *c;
    return std::nullopt;
}

std::string MonitorTestType::description() const {
    if (auto* s = std::get_if<SparkTests>(&storage_))
        return "spark(sparkTests: " + s->description() + ")";
    if (auto* c = std::get_if<CompressionTests>(&storage_))
        return "compression(compressionTests: " + c->description() + ")";
    return "unknown";
}

}  // namespace qz
