#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "api/Communication/CommError.hpp"
#include "api/Communication/PelkError.hpp"
#include "api/PIDs/PIDInfo.hpp"
#include "platform/Result.hpp"

namespace qz {

class Relay;
class Vehicle;

// Owns the catalogue of Mode 1 parameters: for every PID number the library decodes, the ordered
// list of parameter objects one answer feeds. The catalogue is built on its first read and its
// objects are shared with whoever reads them; later refreshes change them in place.
class PIDInterface {
  public:
    using PIDList = std::vector<std::shared_ptr<PIDInfo>>;
    using PIDMap = std::map<uint64_t, PIDList>;

    // No relay, no vehicle, catalogue not built.
    PIDInterface() = default;
    PIDInterface(const PIDInterface&) = delete;
    PIDInterface& operator=(const PIDInterface&) = delete;

    // Every catalogue object whose support status is `supported`.
    PIDList supportedPIDs() const;

    std::shared_ptr<Relay> relay() const;
    void setRelay(std::shared_ptr<Relay> relay);
    std::shared_ptr<Vehicle> vehicle() const;
    void setVehicle(std::shared_ptr<Vehicle> vehicle);

    // The catalogue, built on the first read (once, also under concurrent first reads).
    std::shared_ptr<const PIDMap> pidMap() const;
    // Replaces the stored catalogue.
    void setPidMap(PIDMap map);

    // Every catalogue object, supported or not, in the catalogue's iteration order.
    PIDList getPids() const;

    // Support discovery over the whole catalogue (blocks on the relay): runs the support walk,
    // reads the oxygen-sensor layout (01 13, 01 1D) and the reported maxima (01 4F, 01 50)
    // through objects of its own, then resets every catalogue object's support and marks,
    // adapts, rescales and bit-checks the flagged ones. Any failure before the marking is
    // `initialization` (`notConnected` when the link to the sensor went away) and leaves the
    // catalogue untouched; where the sensor did not take the set-up that has it name the PIDs,
    // the public line `kSupportNotRead` says so. The result is `supportedPIDs()`.
    Result<PIDList, PelkError> checkSupport();
    // The opening of the public line of a discovery that failed on the sensor's set-up, before
    // what the sensor did: "Supported PIDs not read: the sensor did not answer the set-up command
    // KQRP1".
    static constexpr const char* kSupportNotRead = "Supported PIDs not read: ";

    // Refreshes one parameter number (blocks on the relay): sends "0MPP", cleans the answer
    // into byte texts and hands them to every supported catalogue object of the same service
    // and number, or to `pid` itself when there is none. Mode 9 PID 02 takes the VIN route.
    // Non-hexadecimal, empty or blank answers and too few bytes are `invalidData`. With a
    // vehicle, the sensor names the service and PID before the bytes ("KQRP1"): an answer that
    // names another request is `invalidData`, and a late reply of an earlier request is waited
    // past (Relay::ReplyCheck); the other reads have it print the bytes alone again.
    Result<std::shared_ptr<PIDInfo>, CommError> updatePid(const std::shared_ptr<PIDInfo>& pid);

    // Whether the vehicle reports its VIN over Mode 9 (blocks on the relay).
    Result<bool, PelkError> checkVinSupport();

    // "010C", "0902": the mode and the PID number as two upper-case hex digits each.
    static std::string requestText(const PIDInfo& pid);

    // The cleaned byte texts of a Mode 1 / Mode 9 answer (see updatePid), or `invalidData`.
    static Result<std::vector<std::string>, CommError> cleanAnswer(const std::string& answer,
                                                                   Mode mode,
                                                                   int64_t responseBytes);
    // An answer printed with its service and PID ("41 0D 32 \r>" to "010D"), without them
    // ("32 \r>"): every line of bytes must name `pid`'s request, first or after its header;
    // none when one does not (it answers another request).
    static std::optional<std::string> namedAnswer(std::string_view answer, const PIDInfo& pid);
    // Whether a reply printed with services and PIDs is the answer to `pid`'s request: a line
    // names it, or the sensor's words ("NO DATA", "?") answer it.
    static bool namesRequest(std::string_view reply, const PIDInfo& pid);
    // The VIN characters of a "0902" answer as lower-case hex byte texts (distinct lines
    // once, bytes that are no digit or upper-case letter dropped).
    static std::vector<std::string> vinData(const std::string& answer);

    // The vehicle's active bus is one of the four CAN buses (false without a vehicle).
    static bool onCanBus(const std::shared_ptr<Vehicle>& vehicle);

    // A freshly built catalogue (143 PIDs, 348 objects), independent of any PIDInterface.
    static PIDMap buildCatalogue();

  private:
    // Reads the VIN (Mode 9 PID 02) into `pid` only; on buses other than CAN the sensor's
    // multiple-response mode is switched on around the request.
    Result<std::shared_ptr<PIDInfo>, CommError> updateVinPid(const std::shared_ptr<PIDInfo>& pid);

    mutable std::mutex mutex_;  // guards the three fields below
    std::shared_ptr<Relay> relay_;
    std::shared_ptr<Vehicle> vehicle_;
    mutable std::shared_ptr<const PIDMap> pidMap_;
};

}  // namespace qz
