#pragma once

#include <memory>
#include <vector>

#include "api/Communication/CommError.hpp"
#include "api/Live/SupportPid.hpp"
#include "platform/Result.hpp"

namespace qz {

class Relay;

// Asks the vehicle which Mode 1 PIDs it supports (the bitmaps of 01 00, 01 20, ... 01 A0) and
// whether it reports its VIN (09 00). Short-lived: build one with the relay, run one query.
// Synchronous: blocks the caller (the gateway's queue) on every exchange.
class LiveDataSupportChecker {
  public:
    // Flags of PIDs 0x00...0xC0.
    static constexpr size_t kFlagCount = 193;

    // `named`: the sensor names the service and PID before the bytes ("KQRP1" in force).
    explicit LiveDataSupportChecker(std::shared_ptr<Relay> relay, bool named = false)
        : relay_(std::move(relay)), named_(named) {}

    const std::shared_ptr<Relay>& relay() const { return relay_; }

    // The support walk: on success exactly 193 flags, element i for PID i, element 0 always
    // true. With `controlMultiResponse` the checker sends "KQX1" before and "KQX0" after the
    // walk; their failure fails the walk. No answer to the first block (01 00) fails it: the
    // exchange's error, or `noData` for "NO DATA", "?", an error word or an answer without a data
    // byte. A later block that fails, an answer without a usable bitmap or a clear last flag ends
    // the walk; later blocks stay unflagged.
    Result<std::vector<bool>, CommError> checkSupport(bool controlMultiResponse);

    // Whether Mode 9 PID 02 (the VIN) is supported: bit 30 of the answer to "0900".
    Result<bool, CommError> checkVinSupport();

  private:
    std::shared_ptr<Relay> relay_;
    bool named_ = false;
};

}  // namespace qz
