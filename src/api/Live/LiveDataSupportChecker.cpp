#include "api/Live/LiveDataSupportChecker.hpp"

#include <algorithm>
#include <array>
#include <optional>

#include "api/Communication/Relay.hpp"
#include "api/Logging/Log.hpp"
#include "api/PIDs/HexText.hpp"
#include "api/PIDs/PIDRequest.hpp"
#include "lib/Decoders/QZEReplyText.hpp"

namespace qz {

namespace {

// Whether an answer holds data bytes (spaced or not): the prompt, a notice or the sensor's words
// alone do not.
bool holdsByte(std::string_view answer) {
    const auto t = reply::tokens(answer);
    return std::any_of(t.begin(), t.end(), [](std::string_view token) {
        return token.size() >= 2 && reply::isHexToken(token);
    });
}

}  // namespace

Result<std::vector<bool>, CommError> LiveDataSupportChecker::checkSupport(
    bool controlMultiResponse) {
    if (!relay_) return std::unexpected(CommError::noDelegate);
    if (controlMultiResponse) {
        auto on = relay_->sendToSensor("KQX1", false, 0, MultiResponseStrategy::bitwiseOr);
        if (!on) return std::unexpected(on.error());
    }
    std::array<SupportPid, 6> blocks;
    for (size_t i = 0; i < blocks.size(); ++i) blocks[i].pid = static_cast<int64_t>(i) * 0x20;
    std::optional<CommError> noVehicle;
    for (auto& block : blocks) {
        const PIDRequest request{0x01, static_cast<uint8_t>(block.pid), SupportPid::kBytes};
        auto answer = request.ask(*relay_, named_, true, 2, MultiResponseStrategy::bitwiseOr);
        // Every OBD-II vehicle answers 01 00: without an answer there is no vehicle to walk.
        if (block.pid == 0 && (!answer || reply::holdsNoData(*answer) ||
                               reply::holdsSensorError(*answer) || !holdsByte(*answer))) {
            noVehicle = answer ? CommError::noData : answer.error();
            Log::e(std::string("Support walk failed: 0100 not answered (") +
                   (answer ? *answer : describe(answer.error())) + ")");
            break;
        }
        if (!answer) break;
        if (!block.setSupport(*answer)) {
            Log::i("next block not supported");
            break;
        }
    }
    if (controlMultiResponse) {
        auto off = relay_->sendToSensor("KQX0", false, 0, MultiResponseStrategy::bitwiseOr);
        if (!off) return std::unexpected(off.error());
    }
    if (noVehicle) return std::unexpected(*noVehicle);
    std::vector<bool> flags;
    flags.reserve(kFlagCount);
    flags.push_back(true);
    for (const auto& block : blocks)
        flags.insert(flags.end(), block.supportArray.begin(), block.supportArray.end());
    return flags;
}

Result<bool, CommError> LiveDataSupportChecker::checkVinSupport() {
    if (!relay_) return std::unexpected(CommError::noDelegate);
    auto answer = PIDRequest{0x09, 0x00, SupportPid::kBytes}.ask(*relay_, named_, true, 0,
                                                                 MultiResponseStrategy::bitwiseOr);
    if (!answer) return std::unexpected(answer.error());
    std::string text;
    for (char c : *answer)
        if (c != ' ') text.push_back(c);
    for (size_t at = 0; (at = text.find("\r>", at)) != std::string::npos;) text.erase(at, 2);
    if (text.empty()) return std::unexpected(CommError::invalidData);
    auto value = parseHex64(text);
    if (!value) return std::unexpected(CommError::invalidData);
    return ((*value >> 30) & 1u) != 0;
}

}  // namespace qz
