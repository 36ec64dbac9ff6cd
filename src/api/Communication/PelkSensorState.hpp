#pragma once

#include <optional>
#include <string>

#include "api/Communication/PelkError.hpp"
#include "api/Communication/SensorStatus.hpp"

namespace qz {

// What the connect listener receives: the link opened (with the start-up's outcome), it did
// not open, or it closed.
class PelkSensorState {
  public:
    enum class Kind { onSensorConnected, onError, onSensorDisconnected };

    // One value per case.
    static PelkSensorState onSensorConnected(PelkSensorStatus status) {
        PelkSensorState s(Kind::onSensorConnected);
        s.status_ = status;
        return s;
    }
    static PelkSensorState onError(PelkError error) {
        PelkSensorState s(Kind::onError);
        s.error_ = std::move(error);
        return s;
    }
    static PelkSensorState onSensorDisconnected() {
        return PelkSensorState(Kind::onSensorDisconnected);
    }

    // Which case it is.
    Kind kind() const { return kind_; }
    // Present for onSensorConnected only.
    std::optional<PelkSensorStatus> status() const { return status_; }
    // Present for onError only.
    const std::optional<PelkError>& error() const { return error_; }

    // Equal when the case and its value are.
    bool operator==(const PelkSensorState&) const = default;

    // onSensorConnected(status: initialized), onError(error: ...), onSensorDisconnected
    std::string description() const;

  private:
    explicit PelkSensorState(Kind kind) : kind_(kind) {}
    Kind kind_;
    std::optional<PelkSensorStatus> status_;
    std::optional<PelkError> error_;
};

// The state's description().
std::string describe(const PelkSensorState& state);

}  // namespace qz
