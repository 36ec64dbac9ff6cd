#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "GatewayTestSupport.hpp"
#include "support/TestSupport.hpp"

using namespace qz;
using namespace qz::gwtest;
using qz::testsupport::errorOf;

namespace {

constexpr const char* kVin = "1HGCM82633A004352";

}  // namespace

TEST_F(GatewayTest, RepairInfoArrivesOnTheMainQueue) {
    srv.server.Post("/api/v2/repair", [](const httplib::Request& req, httplib::Response& res) {
        auto body = nlohmann::json::parse(req.body);
        EXPECT_EQ(body["vin"], kVin);
        EXPECT_EQ(body["dtcs"], nlohmann::json::array({"P0420"}));
        res.set_content(R"({"vin": "1HGCM82633A004352", "repairs": [
            {"dtc": "P0420", "title": "Replace catalytic converter", "laborHours": 1.5}]})",
                        "application/json");
    });
    startServer();
    auto gateway = Gateway::create();
    Received<Result<RepairAsset, WebError>> got;
    gateway->requestRepairInfo(kVin, {"P0420"}, got.callback());
    ASSERT_TRUE(got.waitFor(1));
    auto e = got.at(0);
    EXPECT_TRUE(e.onMain);
    ASSERT_TRUE(e.value.has_value()) << describe(e.value.error());
    ASSERT_EQ(e.value->repairs.size(), 1u);
    EXPECT_EQ(e.value->repairs[0].title, "Replace catalytic converter");
}

TEST_F(GatewayTest, RepairInfoForAMalformedVinFailsOnTheMainQueue) {
    startServer();
    auto gateway = Gateway::create();
    Received<Result<RepairAsset, WebError>> got;
    gateway->requestRepairInfo("not a vin", {"P0420"}, got.callback());
    ASSERT_TRUE(got.waitFor(1));
    EXPECT_TRUE(got.at(0).onMain);
    EXPECT_EQ(errorOf(got.at(0).value), WebError::invalidParameter("vin"));
}

TEST_F(GatewayTest, VehicleDocumentsAndServerErrorsArriveOnTheMainQueue) {
    srv.server.Get(std::string("/api/v2/vehicle/") + kVin + "/recalls",
                   [](const httplib::Request&, httplib::Response& res) {
                       res.set_content("<recalls><recall id=\"1\"/></recalls>", "text/xml");
                   });
    srv.server.Get(std::string("/api/v2/vehicle/") + kVin + "/bulletins",
                   [](const httplib::Request&, httplib::Response& res) { res.status = 503; });
    startServer();
    auto gateway = Gateway::create();
    // One request after the other: httplib's compiled library sets up function-local statics on
    // the first request it parses, out of ThreadSanitizer's sight, so a second request served
    // at the same time looks like a race.
    Received<Result<std::string, WebError>> recalls;
    gateway->requestXml(kVin, QZVehicleXmlType::recalls, recalls.callback());
    ASSERT_TRUE(recalls.waitFor(1));
    Received<Result<std::string, WebError>> bulletins;
    gateway->requestXml(kVin, QZVehicleXmlType::technicalServiceBulletins, bulletins.callback());
    ASSERT_TRUE(bulletins.waitFor(1));
    EXPECT_TRUE(recalls.at(0).onMain);
    ASSERT_TRUE(recalls.at(0).value.has_value());
    EXPECT_NE(recalls.at(0).value->find("<recall id=\"1\"/>"), std::string::npos);
    EXPECT_TRUE(bulletins.at(0).onMain);
    ASSERT_FALSE(bulletins.at(0).value.has_value());
    EXPECT_EQ(bulletins.at(0).value.error().code(), 503);
}

TEST_F(GatewayTest, YmmeOfAMalformedVinFailsOnTheMainQueue) {
    auto gateway = Gateway::create();
    Received<Result<YMME, VinError>> got;
    gateway->requestYmme("12345", got.callback());
    ASSERT_TRUE(got.waitFor(1));
    EXPECT_TRUE(got.at(0).onMain);
    ASSERT_FALSE(got.at(0).value.has_value());
    EXPECT_EQ(got.at(0).value.error(), VinError::invalidVin);
}

TEST_F(GatewayTest, YmmeComesFromTheOfflineDatabaseOnTheMainQueue) {
    auto gateway = Gateway::create();
    Received<Result<YMME, VinError>> got;
    gateway->requestYmme(kVin, got.callback());
    ASSERT_TRUE(got.waitFor(1));
    EXPECT_TRUE(got.at(0).onMain);
    ASSERT_TRUE(got.at(0).value.has_value()) << describe(got.at(0).value.error());
    EXPECT_EQ(got.at(0).value->make, "Honda");
    EXPECT_EQ(got.at(0).value->model, "Accord");
    EXPECT_EQ(got.at(0).value->year, 2003);
    EXPECT_EQ(got.at(0).value->vin, kVin);
}
