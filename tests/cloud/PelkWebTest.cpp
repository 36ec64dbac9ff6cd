#include <nlohmann/json.hpp>

#include "CloudFixture.hpp"

using namespace qz;
using qz::test::CloudTest;

namespace {

using RepairResult = Result<RepairAsset, WebError>;
using XmlResult = Result<std::string, WebError>;

const std::string kVin = "1HGCM82633A004352";

Data bytes(const std::string& s) {
    return Data(s.begin(), s.end());
}

}  // namespace

TEST_F(CloudTest, BaseURLEndsInTheFixedPathAndFollowsTheDeploymentHost) {
    EXPECT_EQ(PelkWeb::defaultBaseURL(), std::string(PelkWeb::kDefaultBackendHost) + "/api/v2/");
    PelkWeb::setBackendHost("http://127.0.0.1:9/");
    EXPECT_EQ(PelkWeb().BAAS_API, "http://127.0.0.1:9/api/v2/");
    EXPECT_EQ(PelkWeb().urlSession, URLSession::shared());
    PelkWeb::setBackendHost("");
    EXPECT_EQ(PelkWeb().BAAS_API, std::string(PelkWeb::kDefaultBackendHost) + "/api/v2/");
}

TEST_F(CloudTest, RepairLookupPostsJsonWithCredentialsAndDecodesTheAsset) {
    nlohmann::json seen;
    std::string clientId, clientkey, clientPass, contentType;
    srv.server.Post("/api/v2/repair", [&](const httplib::Request& req, httplib::Response& res) {
        seen = nlohmann::json::parse(req.body);
        clientId = req.get_header_value("clientId");
        clientkey = req.get_header_value("clientkey");
        clientPass = req.get_header_value("clientPass");
        contentType = req.get_header_value("Content-Type");
        res.set_content(R"({"vin":"1HGCM82633A004352","repairs":[
            {"dtc":"P0301","title":"Replace ignition coil 1","laborHours":0.6,
             "url":"https://example.invalid/coil"},
            {"dtc":"P0420","title":"Replace catalytic converter","description":"Bank 1"}]})",
                        "application/json");
    });
    startServer();
    ASSERT_TRUE(ConfigManager::initialize(
        bytes(R"({"clientId":"app-1","clientkey":"k-2","clientPass":"p-3"})")));

    auto r = await<RepairResult>([](auto cb) {
        PelkWeb().requestRepairInfo("1hgcm82633a004352", {"P0301", "p0420"}, cb);
    });
    ASSERT_TRUE(r.has_value()) << r.error().description();
    EXPECT_EQ(seen, (nlohmann::json{{"vin", kVin}, {"dtcs", {"P0301", "P0420"}}}));
    EXPECT_EQ(clientId, "app-1");
    EXPECT_EQ(clientkey, "k-2");
    EXPECT_EQ(clientPass, "p-3");
    EXPECT_EQ(contentType, "application/json");
    ASSERT_EQ(r->repairs.size(), 2u);
    EXPECT_EQ(r->vin, kVin);
    EXPECT_EQ(r->repairs[0].title, "Replace ignition coil 1");
    EXPECT_EQ(r->repairs[0].laborHours, 0.6);
    EXPECT_FALSE(r->repairs[0].description);
    EXPECT_EQ(r->repairs[1].description, "Bank 1");
}

TEST_F(CloudTest, RepairLookupMapsEveryFailure) {
    std::atomic<int> requests{0};
    std::string answer = "{\"vin\":1}";
    int status = 200;
    srv.server.Post("/api/v2/repair", [&](const httplib::Request&, httplib::Response& res) {
        ++requests;
        res.status = status;
        res.set_content(answer, "application/json");
    });
    startServer();
    PelkWeb web;

    // Input that must never reach the backend (the VIN also goes into URLs).
    for (auto vin : {"", "1HGCM82633A00435", "1HGCM82633A0043/2", "1HGCM82633A00435I"}) {
        auto r = await<RepairResult>([&](auto cb) { web.requestRepairInfo(vin, {"P0301"}, cb); });
        ASSERT_FALSE(r.has_value());
        EXPECT_EQ(r.error(), WebError::invalidParameter("vin")) << vin;
    }
    for (auto dtcs :
         std::vector<std::vector<std::string>>{{}, {"X0301"}, {"P03"}, {"P0301", "P0301-G1"}}) {
        auto r = await<RepairResult>([&](auto cb) { web.requestRepairInfo(kVin, dtcs, cb); });
        ASSERT_FALSE(r.has_value());
        EXPECT_EQ(r.error(), WebError::invalidParameters());
    }
    EXPECT_EQ(requests.load(), 0);

    auto undecodable =
        await<RepairResult>([&](auto cb) { web.requestRepairInfo(kVin, {"U0100-87"}, cb); });
    ASSERT_FALSE(undecodable.has_value());
    EXPECT_EQ(undecodable.error(), WebError::unableToDecodeResponse());

    status = 503;
    answer = "down";
    auto unavailable =
        await<RepairResult>([&](auto cb) { web.requestRepairInfo(kVin, {"P0301"}, cb); });
    ASSERT_FALSE(unavailable.has_value());
    EXPECT_EQ(unavailable.error().kind(), WebError::Kind::general);
    EXPECT_EQ(unavailable.error().code(), 503);

    srv.stop();
    auto refused =
        await<RepairResult>([&](auto cb) { web.requestRepairInfo(kVin, {"P0301"}, cb); });
    ASSERT_FALSE(refused.has_value());
    EXPECT_EQ(refused.error().kind(), WebError::Kind::general);
    EXPECT_NE(refused.error().code(), 0);
}

TEST_F(CloudTest, RepairLookupReportsAnEndedRequestAsAFailure) {
    test::Gate gate;
    srv.server.Post("/api/v2/repair",
                    [gate](const httplib::Request&, httplib::Response&) { gate.wait(); });
    startServer();
    auto session = URLSession::create();
    // A client whose session is ended while the backend says nothing reports a failure,
    // not silence; time-outs map to WebError::timeout.
    EXPECT_EQ(PelkWeb::webError(URLError{URLError::Code::timedOut, 28, "t"}), WebError::timeout());
    PelkWeb web(srv.origin() + "/api/v2/", session);
    auto promise = std::make_shared<std::promise<RepairResult>>();
    web.requestRepairInfo(kVin, {"P0301"}, [promise](RepairResult r) { promise->set_value(r); });
    session->cancelAllTasks();
    auto f = promise->get_future();
    ASSERT_TRUE(test::ready(f));
    EXPECT_FALSE(f.get().has_value());
    gate.open();
}

TEST_F(CloudTest, VehicleDocumentsAreFetchedAsXmlByType) {
    std::string accept;
    // The first matching route serves; the broken document's route comes first.
    srv.server.Get(R"(/api/v2/vehicle/(1FTEW1EPXGFA00000)/recalls)",
                   [&](const httplib::Request&, httplib::Response& res) {
                       res.set_content("<recalls><unclosed></recalls>", "application/xml");
                   });
    srv.server.Get(R"(/api/v2/vehicle/([0-9A-Z]{17})/(recalls|bulletins))",
                   [&](const httplib::Request& req, httplib::Response& res) {
                       accept = req.get_header_value("Accept");
                       if (req.matches[2] == "recalls")
                           res.set_content("<recalls vin=\"" + std::string(req.matches[1]) +
                                               "\"><recall id=\"19V-182\"/></recalls>",
                                           "application/xml");
                       else
                           res.set_content("<bulletins><bulletin id=\"A18-03\"/></bulletins>",
                                           "application/xml");
                   });
    startServer();
    PelkWeb web;

    auto recalls =
        await<XmlResult>([&](auto cb) { web.requestXml(kVin, QZVehicleXmlType::recalls, cb); });
    ASSERT_TRUE(recalls.has_value()) << recalls.error().description();
    EXPECT_EQ(*recalls, "<recalls vin=\"1HGCM82633A004352\"><recall id=\"19V-182\"/></recalls>");
    EXPECT_EQ(accept, "application/xml");

    auto tsb = await<XmlResult>(
        [&](auto cb) { web.requestXml(kVin, QZVehicleXmlType::technicalServiceBulletins, cb); });
    ASSERT_TRUE(tsb.has_value());
    EXPECT_NE(tsb->find("A18-03"), std::string::npos);

    auto broken = await<XmlResult>(
        [&](auto cb) { web.requestXml("1FTEW1EPXGFA00000", QZVehicleXmlType::recalls, cb); });
    ASSERT_FALSE(broken.has_value());
    EXPECT_EQ(broken.error(), WebError::unableToDecodeResponse());

    auto unknown = await<XmlResult>(
        [&](auto cb) { web.requestXml("../../admin/xxxxxx", QZVehicleXmlType::recalls, cb); });
    ASSERT_FALSE(unknown.has_value());
    EXPECT_EQ(unknown.error(), WebError::invalidParameter("vin"));
}
