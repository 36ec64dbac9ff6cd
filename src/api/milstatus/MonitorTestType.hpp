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

    // The three cases: a spark or compression engine with its monitors, or not known yet.
    static MonitorTestType spark(SparkTests sparkTests) { return MonitorTestType(sparkTests); }
    static MonitorTestType compression(CompressionTests compressionTests) {
        return MonitorTestType(compressionTests);
    }
    static MonitorTestType unknown() { return MonitorTestType(std::monostate{}); }

    // Which case it is.
    Kind kind() const;
    // The group of a spark / compression type; nothing for the other kinds.
    std::optional<SparkTests> sparkTests() const;
    std::optional<CompressionTests> compressionTests() const;

    // "spark(sparkTests: EGR System: ...)", "compression(compressionTests: ...)" or "unknown".
    std::string description() const;

    // Equal when the case and its monitors are.
    bool operator==(const MonitorTestType&) const = default;

  private:
    using Storage = std::variant<SparkTests, CompressionTests, std::monostate>;
    explicit MonitorTestType(Storage s) : storage_(std::move(s)) {}
    Storage storage_;
};

}  // namespace qz
