#include <nlohmann/json.hpp>

#include "CloudFixture.hpp"
#include "api/Analytics/AnalyticsClient.hpp"
#include "api/Communication/Relay.hpp"
#include "api/Communication/Vehicle.hpp"
#include "api/DB/MyPersistentContainer.hpp"
#include "logging/LogFileReader.hpp"
#include "platform/Application.hpp"
#include "sim/FakeSensorLink.hpp"

using namespace qz;
using qz::test::CloudTest;
using qz::test::LoopbackServer;

namespace {

const std::string kVin = "1HGCM82633A004352";

// The backend's analytics endpoint: answers with `status` and keeps what it took.
struct EventSink {
    std::mutex m;
    std::vector<std::pair<std::string, nlohmann::json>> received;
    std::atomic<int> status{200};

    void install(httplib::Server& server) {
        server.Post(R"(/api/v2/analytics/(\w+))",
                    [this](const httplib::Request& req, httplib::Response& res) {
                        res.status = status.load();
                        if (res.status / 100 != 2) return;
                        std::lock_guard lock(m);
                        received.emplace_back(req.matches[1], nlohmann::json::parse(req.body));
                    });
    }
    size_t count() {
        std::lock_guard lock(m);
        return received.size();
    }
};

std::shared_ptr<MyPersistentContainer> store() {
    auto c = std::make_shared<MyPersistentContainer>(
        "AnalyticsEvent", ManagedObjectModel::named("AnalyticsEvent").value());
    EXPECT_TRUE(c->loadPersistentStores());
    return c;
}

std::shared_ptr<AnalyticsClient> client(std::shared_ptr<MyPersistentContainer> container) {
    return std::make_shared<AnalyticsClient>(
        [] {
            return AnalyticsVehicleInfo{"CAN11_500", 4.05};
        },
        std::move(container));
}

class AnalyticsTest : public CloudTest {
  protected:
    EventSink sink;

    bool started(AnalyticsClient& c, const std::string& vin = kVin) {
        return await<bool>([&](auto cb) {
            c.logScanStarted(vin, "all", 0, YMME{kVin, "Honda", "Accord", "3.0L V6", "EX", 2003},
                             std::string("00:11:22:33:44:55"), cb);
        });
    }
    bool finished(AnalyticsClient& c, const std::string& vin = kVin) {
        return await<bool>([&](auto cb) {
            c.logScanComplete(vin, "cel", {"P0301"}, {"P0420"}, {}, {{"ABS", {"C0035"}}}, 0,
                              std::nullopt, std::nullopt, cb);
        });
    }
    std::pair<size_t, size_t> resend(AnalyticsClient& c) {
        return await<std::pair<size_t, size_t>>([&](auto cb) {
            c.processCachedEvents([cb](size_t sent, size_t failed) { cb({sent, failed}); });
        });
    }
};

}  // namespace

TEST_F(AnalyticsTest, ScanEventsArePostedAsJsonUnderTheirEventType) {
    sink.install(srv.server);
    startServer();
    Device::setSystemVersion("17.2");
    auto container = store();
    auto c = client(container);

    EXPECT_TRUE(started(*c));
    EXPECT_TRUE(finished(*c));
    Device::setSystemVersion(std::nullopt);
    ASSERT_EQ(sink.count(), 2u);
    EXPECT_EQ(container->eventCount().value(), 0u);

    auto [type, start] = sink.received[0];
    EXPECT_EQ(type, "logScanStarted");
    EXPECT_EQ(start["eventType"], "logScanStarted");
    EXPECT_EQ(start["vin"], kVin);
    EXPECT_EQ(start["scanType"], "all");
    EXPECT_EQ(start["odometer"], 0);
    EXPECT_EQ(start["mac"], "00:11:22:33:44:55");
    EXPECT_EQ(start["systemVersion"], "17.2");
    EXPECT_EQ(start["busProtocol"], "CAN11_500");
    EXPECT_EQ(start["modelYear"], 2003);
    EXPECT_EQ(start["parentMake"], "Honda");
    EXPECT_EQ(start["libraryVersion"], "1.6.194");
    EXPECT_EQ(start["ymme"]["model"], "Accord");
    EXPECT_EQ(start["ymme"]["year"], 2003);
    EXPECT_EQ(start["eventId"].get<std::string>().size(), 36u);
    EXPECT_EQ(start["timestamp"].get<std::string>().back(), 'Z');

    auto [ftype, finish] = sink.received[1];
    EXPECT_EQ(ftype, "logScanFinished");
    EXPECT_EQ(finish["confirmedCodes"], nlohmann::json({"P0301"}));
    EXPECT_EQ(finish["pendingCodes"], nlohmann::json({"P0420"}));
    EXPECT_EQ(finish["permanantCodes"], nlohmann::json::array());
    EXPECT_EQ(finish["enhancedCodes"], (nlohmann::json{{"ABS", {"C0035"}}}));
    EXPECT_TRUE(finish["ymme"].is_null());
    EXPECT_TRUE(finish["mac"].is_null());
    EXPECT_NE(finish["eventId"], start["eventId"]);
}

TEST_F(AnalyticsTest, EventsRefusedByTheBackendAreCachedAndResentOnce) {
    sink.install(srv.server);
    sink.status = 500;
    startServer();
    auto container = store();
    auto c = client(container);

    EXPECT_FALSE(started(*c));
    EXPECT_FALSE(finished(*c));
    // Cached before the completion reported the failure.
    ASSERT_EQ(container->eventCount().value(), 2u);
    EXPECT_EQ(resend(*c), (std::pair<size_t, size_t>{0, 2}));
    EXPECT_EQ(container->eventCount().value(), 2u);
    EXPECT_EQ(sink.count(), 0u);

    sink.status = 200;
    auto cached = container->fetchEvents().value();
    EXPECT_EQ(resend(*c), (std::pair<size_t, size_t>{2, 0}));
    EXPECT_EQ(container->eventCount().value(), 0u);
    ASSERT_EQ(sink.count(), 2u);
    EXPECT_EQ(sink.received[0].first, "logScanStarted");
    EXPECT_EQ(sink.received[1].first, "logScanFinished");
    EXPECT_EQ(sink.received[0].second, nlohmann::json::parse(cached[0].payload));
    EXPECT_EQ(resend(*c), (std::pair<size_t, size_t>{0, 0}));
    EXPECT_EQ(sink.count(), 2u);
}

TEST_F(AnalyticsTest, OnlyStatusesFrom200To299CountAsSent) {
    sink.install(srv.server);
    startServer();
    auto container = store();
    auto c = client(container);
    for (int status : {201, 204, 299}) {
        sink.status = status;
        EXPECT_TRUE(started(*c)) << status;
    }
    EXPECT_EQ(container->eventCount().value(), 0u);
    size_t cached = 0;
    for (int status : {300, 400, 404}) {
        sink.status = status;
        EXPECT_FALSE(started(*c)) << status;
        EXPECT_EQ(container->eventCount().value(), ++cached) << status;
    }
}

TEST_F(AnalyticsTest, EventsCachedWhileTheBackendIsDownSurviveARestart) {
    startServer();
    srv.stop();  // nothing listens on the backend's port any more
    {
        auto c = client(store());
        EXPECT_FALSE(started(*c));
        EXPECT_FALSE(finished(*c));
        EXPECT_EQ(c->container()->eventCount().value(), 2u);
    }
    // The app starts again; the backend is back (on another port).
    LoopbackServer backend;
    sink.install(backend.server);
    backend.start();
    PelkWeb::setBackendHost(backend.origin());
    auto container = store();
    auto c = client(container);
    EXPECT_EQ(resend(*c), (std::pair<size_t, size_t>{2, 0}));
    EXPECT_EQ(container->eventCount().value(), 0u);
    EXPECT_EQ(sink.count(), 2u);
}

TEST_F(AnalyticsTest, MoreCachedEventsThanOneReadHoldsAreAllResent) {
    sink.install(srv.server);
    startServer();
    auto container = store();
    const size_t cached = 1001;  // one more than a page of the store's read
    std::string json = R"({"eventType": "logScanStarted"})";
    for (size_t i = 0; i < cached; ++i)
        ASSERT_TRUE(
            container->insertEvent({0, "logScanStarted", Data(json.begin(), json.end()), 1.0}));
    auto c = client(container);
    EXPECT_EQ(resend(*c), (std::pair<size_t, size_t>{cached, 0}));
    EXPECT_EQ(container->eventCount().value(), 0u);
    EXPECT_EQ(sink.count(), cached);
}

TEST_F(AnalyticsTest, OverlappingResendsPostEachEventOnce) {
    sink.install(srv.server);
    sink.status = 503;
    startServer();
    auto container = store();
    auto c = client(container);
    for (int i = 0; i < 5; ++i) EXPECT_FALSE(started(*c));
    sink.status = 200;
    std::mutex m;
    std::condition_variable cv;
    size_t sent = 0, runs = 0;
    for (int i = 0; i < 3; ++i)
        c->processCachedEvents([&](size_t s, size_t) {
            std::lock_guard lock(m);
            sent += s;
            ++runs;
            cv.notify_all();
        });
    std::unique_lock lock(m);
    ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(30), [&] { return runs == 3; }));
    EXPECT_EQ(sent, 5u);
    EXPECT_EQ(sink.count(), 5u);
    EXPECT_EQ(container->eventCount().value(), 0u);
}

TEST_F(AnalyticsTest, AnEventThatCannotBeEncodedFailsAtOnceAndIsNotPosted) {
    sink.install(srv.server);
    startServer();
    auto container = store();
    auto c = client(container);
    const std::string notUtf8 = "1HGCM82633A00435\xff";
    // Both completions are called (with false) on the caller's thread.
    std::optional<bool> a, b;
    c->logScanStarted(notUtf8, "all", 0, std::nullopt, std::nullopt, [&](bool ok) { a = ok; });
    c->logScanComplete(kVin, "all", {"P0301\xc3"}, {}, {}, {}, 0, std::nullopt, std::nullopt,
                       [&](bool ok) { b = ok; });
    EXPECT_EQ(a, false);
    EXPECT_EQ(b, false);
    // The log's text, its records joined (a long line is stored in several).
    const std::string text = qz::testing::libraryLogText();
    const std::string line = "Logging Scan complete event failed, json data was invalid : ";
    int errorLines = 0;
    for (auto at = text.find(line); at != std::string::npos; at = text.find(line, at + 1))
        ++errorLines;
    EXPECT_EQ(errorLines, 2);
    EXPECT_TRUE(finished(*c));  // the client still works
    EXPECT_EQ(sink.count(), 1u);
    EXPECT_EQ(container->eventCount().value(), 0u);
}

TEST_F(AnalyticsTest, WithoutAStoreFailedEventsAreOnlyReported) {
    sink.install(srv.server);
    sink.status = 500;
    startServer();
    auto c = client(nullptr);
    EXPECT_FALSE(started(*c));
    EXPECT_EQ(resend(*c), (std::pair<size_t, size_t>{0, 0}));
}

TEST_F(AnalyticsTest, EventsDescribeTheGatewaysVehicle) {
    sink.install(srv.server);
    startServer();
    auto vehicle = Vehicle::create(std::nullopt);
    auto c = std::make_shared<AnalyticsClient>(vehicle, store());
    EXPECT_TRUE(started(*c));

    // The built-in profile: sensor 4.05 on bus 6 (CAN 11-bit, 500 kbit/s).
    auto link = sim::FakeSensorLink::create(
        std::make_shared<sim::SensorCore>(sim::VehicleProfile::builtIn()));
    vehicle->setRelay(Relay::createWithSensor(link));
    ASSERT_TRUE(vehicle->initializeVehicle());
    EXPECT_TRUE(started(*c));
    vehicle.reset();  // a client that outlives its vehicle still reports
    EXPECT_TRUE(started(*c));

    ASSERT_EQ(sink.count(), 3u);
    EXPECT_EQ(sink.received[0].second["busProtocol"], "UNKNOWN");
    EXPECT_EQ(sink.received[0].second["sensorVersion"], 0.0);
    EXPECT_EQ(sink.received[1].second["busProtocol"], "CAN11_500");
    EXPECT_NEAR(sink.received[1].second["sensorVersion"].get<double>(), 4.05, 1e-5);
    EXPECT_EQ(sink.received[2].second["busProtocol"], "UNKNOWN");
}
