// Start-up re-sends the analytics events cached while the backend was unreachable.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "GatewayTestSupport.hpp"
#include "api/Analytics/AnalyticsClient.hpp"
#include "api/DB/ManagedObjectModel.hpp"
#include "api/DB/MyPersistentContainer.hpp"
#include "platform/Bundle.hpp"

using namespace qz;
using namespace qz::gwtest;

TEST_F(GatewayTest, StartUpResendsCachedAnalyticsEvents) {
    {
        MyPersistentContainer store("AnalyticsEvent",
                                    ManagedObjectModel::named("AnalyticsEvent").value());
        ASSERT_TRUE(store.loadPersistentStores());
        std::string json = R"({"eventType": "logScanStarted", "vin": "1HGCM82633A004352"})";
        ASSERT_TRUE(store.insertEvent({0, "logScanStarted", Data(json.begin(), json.end()), 1.0}));
    }
    // The handler outlives this body on the server thread: it holds the collector's state.
    Received<std::string> posted;
    srv.server.Post(
        R"(/api/v2/analytics/(\w+))",
        [post = posted.callback()](const httplib::Request& req, httplib::Response& res) {
            res.status = 200;
            post(req.matches[1].str() + " " + req.body);
        });
    startServer();
    auto gateway = Gateway::create();
    ASSERT_TRUE(gateway->analyticsClient());
    EXPECT_EQ(gateway->analyticsClient(), gateway->analyticsClient());
    EXPECT_EQ(gateway->analyticsClient()->container(), gateway->persistentContainer());
    ASSERT_TRUE(posted.waitFor(1));
    EXPECT_EQ(posted.at(0).value.rfind("logScanStarted ", 0), 0u);
    auto store = gateway->persistentContainer();
    // Deleted once the backend took it.
    bool gone = false;
    for (int i = 0; i < 30000 && !gone; ++i) {
        gone = store->eventCount().value_or(1) == 0;
        if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(gone);
}

TEST_F(GatewayTest, StartUpLoadsTheHostConfigurationForTheBackendRequests) {
    // The host app's bundle carries pelkconfig.json; the library's has none.
    auto bundle = home->path() / "App.app";
    std::filesystem::create_directories(bundle);
    std::ofstream(bundle / "pelkconfig.json")
        << R"({"clientId":"host-id","clientkey":"host-key","clientPass":"host-pass"})";
    Bundle::setMainPath(bundle);
    {
        MyPersistentContainer store("AnalyticsEvent",
                                    ManagedObjectModel::named("AnalyticsEvent").value());
        ASSERT_TRUE(store.loadPersistentStores());
        std::string json = R"({"eventType": "logScanStarted"})";
        ASSERT_TRUE(store.insertEvent({0, "logScanStarted", Data(json.begin(), json.end()), 1.0}));
    }
    Received<std::string> ids;
    srv.server.Post(R"(/api/v2/analytics/(\w+))", [id = ids.callback()](const httplib::Request& req,
                                                                        httplib::Response& res) {
        res.status = 200;
        id(req.get_header_value("clientId") + "/" + req.get_header_value("clientkey") + "/" +
           req.get_header_value("clientPass"));
    });
    startServer();
    auto gateway = Gateway::create();
    Bundle::setMainPath({});
    EXPECT_EQ(ConfigManager::credentials(),
              (BackendCredentials{"host-id", "host-key", "host-pass"}));
    ASSERT_TRUE(ids.waitFor(1));
    EXPECT_EQ(ids.at(0).value, "host-id/host-key/host-pass");
}

TEST_F(GatewayTest, StartUpCompletesWithoutAConfigurationDocument) {
    auto empty = home->path() / "Empty.app";
    std::filesystem::create_directories(empty);
    Bundle::setMainPath(empty);
    Bundle::setLibraryPath(empty);
    auto gateway = Gateway::create();
    Bundle::setMainPath({});
    Bundle::setLibraryPath({});
    EXPECT_FALSE(ConfigManager::credentials());
    EXPECT_TRUE(gateway->analyticsClient());
    EXPECT_EQ(lines->endingWith(" -> Gateway initialized").size(), 1u);
}

TEST_F(GatewayTest, AStoreThatCannotBeLoadedDoesNotStopStartUp) {
    // A plain file where the store's folder would go.
    auto blocked = Paths::applicationSupportDirectory() / "AnalyticsEvent";
    std::filesystem::create_directories(blocked.parent_path());
    std::ofstream(blocked) << "not a folder";
    auto gateway = Gateway::create();
    auto container = gateway->persistentContainer();
    ASSERT_TRUE(container);
    EXPECT_FALSE(container->isLoaded());
    EXPECT_EQ(gateway->persistentContainer(), container) << "built once, never again";
    EXPECT_EQ(gateway->analyticsClient()->container(), container);
    EXPECT_EQ(lines->endingWith(" -> Gateway initialized").size(), 1u);
}
