#pragma once

#include <optional>
#include <string>
#include <variant>

#include "api/milstatus/CompressionTests.hpp"
#include "api/milstatus/SparkTests.hpp"

namespace qz {

// The engine's ignition type with the status of each non-continuous monitor.
class MonitorTestType {
  public:
    enum class Kind { spark, compression, unknown };

    static MonitorTestType spark(SparkTests sparkTests) { return MonitorTestType(sparkTests); }
    static MonitorTestType compression(CompressionTests compressionTests) {
        return MonitorTestType(compressionTests);
    }
    static MonitorTestType unknown() { return MonitorTestType(std::monostate{}); }

    Kind kind() const;
    // The group of a spark / compression type; nothing for the other kinds.
    std::optional<SparkTests> sparkTests() const;
    std::optional<CompressionTests> compressionTests() const;

    // "spark(sparkTests: EGR System: ...)", "compression(compressionTests: ...)" or "unknown".
    std::string description() const;

    bool operator==(const MonitorTestType&) const = default;

  private:
    using Storage = std::variant<SparkTests, CompressionTests, std::monostate>;
    explicit MonitorTestType(Storage s) : storage_(std::move(s)) {}
    Storage storage_;
};

}  // namespace qz
