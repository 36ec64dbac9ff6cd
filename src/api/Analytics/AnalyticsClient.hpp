#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "api/Communication/YMME.hpp"
#include "platform/Result.hpp"

namespace qz {

class DispatchQueue;
class MyPersistentContainer;
class PelkWeb;
class Vehicle;

// What the analytics events report of the sensor and the vehicle bus.
struct AnalyticsVehicleInfo {
    std::string busProtocol = "UNKNOWN";  // the bus's protocol text
    double sensorVersion = 0;             // the sensor firmware version
};

// Sends scan events to the backend (PelkWeb::postEvent under the event type). An event
// whose post fails (no answer, transport error, status outside 200-299) is kept in the
// container and re-sent, then deleted, by processCachedEvents(). Events are JSON objects
// with "eventId" (a UUID, so the backend can drop a re-sent duplicate), "eventType",
// "timestamp" (UTC, ISO 8601), "vin", "scanType", "odometer", "ymme", "mac",
// "systemVersion", "libraryVersion", "sensorVersion", "busProtocol", "modelYear" and
// "parentMake"; the finished event adds the code lists.
class AnalyticsClient : public std::enable_shared_from_this<AnalyticsClient> {
  public:
    using VehicleInfoSource = std::function<AnalyticsVehicleInfo()>;
    using Completion = std::function<void(bool)>;

    static constexpr const char* kScanStartedEvent = "logScanStarted";
    static constexpr const char* kScanFinishedEvent = "logScanFinished";

    // The gateway's client: bus and sensor version read from `vehicle` (held weakly) when
    // an event is built.
    AnalyticsClient(const std::shared_ptr<Vehicle>& vehicle,
                    std::shared_ptr<MyPersistentContainer> container);

    // `container` may be null: failed events are then lost (and logged). `web` defaults
    // to a client of the default backend over the shared URL session.
    AnalyticsClient(VehicleInfoSource vehicle, std::shared_ptr<MyPersistentContainer> container,
                    std::shared_ptr<PelkWeb> web = nullptr);

    // Re-sends the cached events on the client's data queue and deletes those the
    // backend took; returns at once. `done`, when given, receives the numbers sent and
    // still failing once every re-send has been answered.
    void processCachedEvents(std::function<void(size_t sent, size_t failed)> done = {});

    // The completion receives whether the backend took the event; it is called on the URL
    // session's callback thread, after a failed event was cached. An event that cannot be
    // encoded is logged and not posted, and the completion receives false at once.
    void logScanStarted(const std::string& vin, const std::string& scanType, int64_t odometer,
                        const std::optional<YMME>& ymme, const std::optional<std::string>& mac,
                        Completion completionHandler);

    void logScanComplete(const std::string& vin, const std::string& scanType,
                         const std::vector<std::string>& confirmedCodes,
                         const std::vector<std::string>& pendingCodes,
                         const std::vector<std::string>& permanantCodes,
                         const std::map<std::string, std::vector<std::string>>& enhancedCodes,
                         int64_t odometer, const std::optional<YMME>& ymme,
                         const std::optional<std::string>& mac, Completion completionHandler);

    const std::shared_ptr<MyPersistentContainer>& container() const;

    struct State;

  private:
    void send(const std::string& eventType, Data payload, Completion completion);

    VehicleInfoSource vehicle_;
    std::shared_ptr<State> state_;
};

}  // namespace qz
