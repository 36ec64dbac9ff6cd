#include "api/Analytics/AnalyticsClient.hpp"

#include <charconv>
#include <cmath>
#include <ctime>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>

#include "Version.hpp"
#include "api/Communication/Vehicle.hpp"
#include "api/DB/MyPersistentContainer.hpp"
#include "api/Logging/Log.hpp"
#include "api/VIN/VIN.hpp"
#include "api/Web/PelkWeb.hpp"
#include "platform/Application.hpp"
#include "platform/Clock.hpp"
#include "platform/DispatchQueue.hpp"
#include "platform/UUID.hpp"

namespace qz {

// What outlives the client in pending posts: the store, the backend client, the data
// queue and the ids being re-sent.
struct AnalyticsClient::State {
    std::shared_ptr<MyPersistentContainer> container;
    std::shared_ptr<PelkWeb> web;
    std::shared_ptr<DispatchQueue> dataQueue;
    std::mutex mutex;
    std::set<int64_t> resending;

    void cache(const std::string& eventType, const Data& payload) {
        if (!container) {
            Log::e("Analytics event not sent and not cached, no store: " + eventType);
            return;
        }
        double now =
            std::chrono::duration<double>(Clock::current()->wallNow().time_since_epoch()).count();
        auto r = container->insertEvent(CachedEvent{0, eventType, payload, now});
        if (!r) Log::e("Could not cache analytics event: " + r.error().description());
    }
};

namespace {

std::string isoTimestamp(Clock::WallTimePoint time) {
    auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
    std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  static_cast<int>(ms % 1000));
    return buffer;
}

nlohmann::json ymmeJson(const std::optional<YMME>& ymme) {
    if (!ymme) return nullptr;
    nlohmann::json j = nlohmann::json::object();
    auto put = [&](const char* key, const auto& field) {
        if (field) j[key] = *field;
    };
    put("vin", ymme->vin);
    put("make", ymme->make);
    put("model", ymme->model);
    put("engine", ymme->engine);
    put("series", ymme->series);
    put("year", ymme->year);
    return j;
}

nlohmann::json baseEvent(const char* eventType, const AnalyticsVehicleInfo& info,
                         const std::string& vin, const std::string& scanType, int64_t odometer,
                         const std::optional<YMME>& ymme, const std::optional<std::string>& mac) {
    nlohmann::json j;
    j["eventId"] = UUID::random().uuidString();
    j["eventType"] = eventType;
    j["timestamp"] = isoTimestamp(Clock::current()->wallNow());
    j["vin"] = vin;
    j["scanType"] = scanType;
    j["odometer"] = odometer;
    j["ymme"] = ymmeJson(ymme);
    j["mac"] = mac ? nlohmann::json(*mac) : nlohmann::json(nullptr);
    j["systemVersion"] = Device::systemVersion();
    j["libraryVersion"] = libraryVersion();
    j["sensorVersion"] = info.sensorVersion;
    j["busProtocol"] = info.busProtocol;
    auto year = VIN::year(vin);
    j["modelYear"] = year ? nlohmann::json(*year) : nlohmann::json(nullptr);
    j["parentMake"] = VIN::parentString(vin);
    return j;
}

// A version text ("4.08") as the number closest to it; none when it is no decimal number.
std::optional<double> versionNumber(const std::string& text) {
    double value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value, std::chars_format::fixed);
    if (text.empty() || ec != std::errc() || ptr != end || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// The event's JSON bytes, or the encoder's complaint (texts that are not UTF-8).
Result<Data, std::string> encoded(const nlohmann::json& event) {
    try {
        std::string text = event.dump();
        return Data(text.begin(), text.end());
    } catch (const nlohmann::json::exception& e) {
        return std::unexpected(std::string(e.what()));
    }
}

}  // namespace

AnalyticsClient::AnalyticsClient(VehicleInfoSource vehicle,
                                 std::shared_ptr<MyPersistentContainer> container,
                                 std::shared_ptr<PelkWeb> web)
    : vehicle_(std::move(vehicle)), state_(std::make_shared<State>()) {
    state_->container = std::move(container);
    state_->web = web ? std::move(web) : std::make_shared<PelkWeb>();
    state_->dataQueue = DispatchQueue::create("AnalyticsDataQueue", DispatchQueue::serial);
}

AnalyticsClient::AnalyticsClient(const std::shared_ptr<Vehicle>& vehicle,
                                 std::shared_ptr<MyPersistentContainer> container)
    : AnalyticsClient(
          [weak = std::weak_ptr<Vehicle>(vehicle)] {
              AnalyticsVehicleInfo info;
              if (auto v = weak.lock()) {
                  info.busProtocol = obd2ProtocolString(v->activeMainBus());
                  // The sensor's own digits, not the single-precision value widened (4.08,
                  // not 4.079999923706055).
                  info.sensorVersion = versionNumber(v->activeSensorVersionText())
                                           .value_or(static_cast<double>(v->activeSensorVersion()));
              }
              return info;
          },
          std::move(container)) {}

const std::shared_ptr<MyPersistentContainer>& AnalyticsClient::container() const {
    return state_->container;
}

void AnalyticsClient::send(const std::string& eventType, Data payload, Completion completion) {
    auto state = state_;
    state->web->postEvent(eventType, payload,
                          [state, eventType, payload, completion = std::move(completion)](bool ok) {
                              if (!ok) state->cache(eventType, payload);
                              if (completion) completion(ok);
                          });
}

void AnalyticsClient::logScanStarted(const std::string& vin, const std::string& scanType,
                                     int64_t odometer, const std::optional<YMME>& ymme,
                                     const std::optional<std::string>& mac,
                                     Completion completionHandler) {
    AnalyticsVehicleInfo info = vehicle_ ? vehicle_() : AnalyticsVehicleInfo{};
    auto payload = encoded(baseEvent(kScanStartedEvent, info, vin, scanType, odometer, ymme, mac));
    if (!payload) {
        Log::e("Logging Scan complete event failed, json data was invalid : " + payload.error());
        if (completionHandler) completionHandler(false);
        return;
    }
    send(kScanStartedEvent, std::move(*payload), std::move(completionHandler));
}

void AnalyticsClient::logScanComplete(
    const std::string& vin, const std::string& scanType,
    const std::vector<std::string>& confirmedCodes, const std::vector<std::string>& pendingCodes,
    const std::vector<std::string>& permanantCodes,
    const std::map<std::string, std::vector<std::string>>& enhancedCodes, int64_t odometer,
    const std::optional<YMME>& ymme, const std::optional<std::string>& mac,
    Completion completionHandler) {
    AnalyticsVehicleInfo info = vehicle_ ? vehicle_() : AnalyticsVehicleInfo{};
    auto event = baseEvent(kScanFinishedEvent, info, vin, scanType, odometer, ymme, mac);
    event["confirmedCodes"] = confirmedCodes;
    event["pendingCodes"] = pendingCodes;
    event["permanantCodes"] = permanantCodes;
    event["enhancedCodes"] = enhancedCodes;
    auto payload = encoded(event);
    if (!payload) {
        Log::e("Logging Scan complete event failed, json data was invalid : " + payload.error());
        if (completionHandler) completionHandler(false);
        return;
    }
    send(kScanFinishedEvent, std::move(*payload), std::move(completionHandler));
}

void AnalyticsClient::processCachedEvents(std::function<void(size_t, size_t)> done) {
    auto state = state_;
    state->dataQueue->async([state, done = std::move(done)] {
        // Every cached event, read page by page.
        constexpr size_t kPage = 1000;
        std::vector<CachedEvent> events;
        while (state->container) {
            auto fetched =
                state->container->fetchEvents(kPage, events.empty() ? 0 : events.back().id);
            if (!fetched) {
                Log::e("Could not read cached analytics events: " + fetched.error().description());
                break;
            }
            size_t got = fetched->size();
            events.insert(events.end(), std::make_move_iterator(fetched->begin()),
                          std::make_move_iterator(fetched->end()));
            if (got < kPage) break;
        }
        {
            // An event already being re-sent by an earlier call is left to that call.
            std::lock_guard lock(state->mutex);
            std::erase_if(events,
                          [&](const CachedEvent& e) { return state->resending.count(e.id); });
            for (const auto& e : events) state->resending.insert(e.id);
        }
        if (events.empty()) {
            if (done) done(0, 0);
            return;
        }
        // One at a time, oldest first: each answer sends the next.
        struct Run {
            std::vector<CachedEvent> events;
            size_t next = 0, sent = 0, failed = 0;
        };
        auto run = std::make_shared<Run>();
        run->events = std::move(events);
        auto step = std::make_shared<std::function<void()>>();
        *step = [state, run, done, weakStep = std::weak_ptr<std::function<void()>>(step)] {
            const CachedEvent& e = run->events[run->next];
            auto keep = weakStep.lock();
            state->web->postEvent(e.eventType, e.payload, [state, run, done, keep](bool ok) {
                int64_t id = run->events[run->next].id;
                if (ok) {
                    auto r = state->container->deleteEvent(id);
                    if (!r)
                        Log::e("Could not delete sent analytics event: " + r.error().description());
                }
                {
                    std::lock_guard lock(state->mutex);
                    state->resending.erase(id);
                }
                (ok ? run->sent : run->failed)++;
                if (++run->next < run->events.size()) {
                    (*keep)();
                } else if (done) {
                    done(run->sent, run->failed);
                }
            });
        };
        (*step)();
    });
}

}  // namespace qz
