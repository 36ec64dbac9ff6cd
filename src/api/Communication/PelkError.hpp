#pragma once

#include <cstdint>
#include <string>

namespace qz {

// The public error of connection-level and catalogue-level operations.
class PelkError {
  public:
    enum class Kind {
        general,              // with a text and a code: the link did not open ("Could not open
                              // stream", 99); connect again
        dataError,            // declared for the app; the library does not report it
        initialization,       // the vehicle did not answer the supported-parameter requests,
                              // or the sensor did not take their set-up (a public log line
                              // names it)
        callbackDeallocated,  // the gateway was released before the work ran
        notConnected,         // no connected sensor: connect first
        deviceBusy            // another operation holds the gateway: try again after it
    };

    // One value per case.
    static PelkError general(std::string description, int64_t code) {
        return PelkError(Kind::general, std::move(description), code);
    }
    static PelkError dataError() { return PelkError(Kind::dataError); }
    static PelkError initialization() { return PelkError(Kind::initialization); }
    static PelkError callbackDeallocated() { return PelkError(Kind::callbackDeallocated); }
    static PelkError notConnected() { return PelkError(Kind::notConnected); }
    static PelkError deviceBusy() { return PelkError(Kind::deviceBusy); }

    // Which case it is.
    Kind kind() const { return kind_; }
    // Values of general; empty and 0 for the other cases.
    const std::string& generalDescription() const { return description_; }
    int64_t code() const { return code_; }

    // Equal when the case and its values are.
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

// The error's description().
std::string describe(const PelkError& error);

}  // namespace qz
