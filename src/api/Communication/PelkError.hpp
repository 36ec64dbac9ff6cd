#pragma once

#include <cstdint>
#include <string>

namespace qz {

// The public error of connection-level and catalogue-level operations.
class PelkError {
  public:
    enum class Kind {
        general,
        dataError,
        initialization,
        callbackDeallocated,
        notConnected,
        deviceBusy
    };

    static PelkError general(std::string description, int64_t code) {
        return PelkError(Kind::general, std::move(description), code);
    }
    static PelkError dataError() { return PelkError(Kind::dataError); }
    static PelkError initialization() { return PelkError(Kind::initialization); }
    static PelkError callbackDeallocated() { return PelkError(Kind::callbackDeallocated); }
    static PelkError notConnected() { return PelkError(Kind::notConnected); }
    static PelkError deviceBusy() { return PelkError(Kind::deviceBusy); }

    Kind kind() const { return kind_; }
    // Values of general; empty and 0 for the other cases.
    const std::string& generalDescription() const { return description_; }
    int64_t code() const { return code_; }

    bool operator==(const PelkError&) const = default;

    // general(description: "...", code: 99), or the case name.
    std::string description() const;

  private:
    explicit PelkError(Kind kind, std::string description = {}, int64_t code = 0)
        : kind_(kind), description_(std::move(description)), code_(code) {}
    Kind kind_;
    std::string description_;
    int64_t code_;
};

std::string describe(const PelkError& error);

}  // namespace qz
