#include <nlohmann/json.hpp>

#include "CloudFixture.hpp"
#include "api/Firmware/FirmwareDownloadState.hpp"
#include "api/Firmware/FirmwareUpdateState.hpp"
#include "api/Firmware/SkiffUpdater.hpp"

using namespace qz;
using qz::test::CloudTest;

namespace {
using VersionResult = Result<std::string, FirmwareError>;
using ImageResult = Result<Data, FirmwareError>;
}  // namespace

TEST_F(CloudTest, FirmwareServerVersionQuery) {
    std::string query;
    std::string answer = R"({"version":"4.10"})";
    int status = 200;
    srv.server.Get("/firmware/version", [&](const httplib::Request& req, httplib::Response& res) {
        query = req.get_param_value("appVersion") + "|" + req.get_param_value("currentVersion") +
                "|" + req.get_param_value("isLe");
        res.status = status;
        res.set_content(answer, "application/json");
    });
    startServer();

    auto v = await<VersionResult>(
        [](auto cb) { SkiffWeb::requestServerVersion("1.6.194", "405", false, cb); });
    ASSERT_TRUE(v.has_value()) << v.error().description();
    EXPECT_EQ(*v, "4.10");
    EXPECT_EQ(query, "1.6.194|405|false");

    for (auto bad : {R"({"ver":"4.10"})", R"({"version":4.1})", R"({"version":""})", "<html>"}) {
        answer = bad;
        auto r = await<VersionResult>(
            [](auto cb) { SkiffWeb::requestServerVersion("1.6.194", "405", true, cb); });
        ASSERT_FALSE(r.has_value()) << bad;
        EXPECT_EQ(r.error(), FirmwareError::invalidPayload());
    }
    EXPECT_EQ(query, "1.6.194|405|true");

    status = 404;
    auto notFound = await<VersionResult>(
        [](auto cb) { SkiffWeb::requestServerVersion("1.6.194", "405", false, cb); });
    ASSERT_FALSE(notFound.has_value());
    EXPECT_EQ(notFound.error(), FirmwareError::invalidResponse(404));

    auto badArgs = await<VersionResult>(
        [](auto cb) { SkiffWeb::requestServerVersion("1.6.194", "4&x=1", false, cb); });
    EXPECT_EQ(badArgs.error(), FirmwareError::invalidArguments());

    srv.stop();
    auto down = await<VersionResult>(
        [](auto cb) { SkiffWeb::requestServerVersion("1.6.194", "405", false, cb); });
    ASSERT_FALSE(down.has_value());
    EXPECT_EQ(down.error().kind(), FirmwareError::Kind::general);
}

TEST_F(CloudTest, FirmwareImageDownloadKeepsEveryByte) {
    Data image(64 * 1024 + 17);
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>((i * 131 + 7) % 256);
    std::string key;
    srv.server.Get("/firmware/download", [&](const httplib::Request& req, httplib::Response& res) {
        key = req.get_param_value("versionKey");
        if (key == "none") {
            res.status = 200;
            return;
        }
        if (key != "recent") {
            res.status = 410;
            return;
        }
        res.set_content(std::string(image.begin(), image.end()), "application/octet-stream");
    });
    startServer();

    auto r = await<ImageResult>(
        [](auto cb) { SkiffWeb::downloadFirmware("1.6.194", "recent", "405", false, cb); });
    ASSERT_TRUE(r.has_value()) << r.error().description();
    EXPECT_EQ(*r, image);
    EXPECT_EQ(key, "recent");

    // The facade keeps the image in the updater.
    SkiffUpdater updater;
    EXPECT_EQ(updater.PACKET_BLOCK_SIZE, 375);
    EXPECT_FALSE(updater.upgradeHasStarted);
    EXPECT_FALSE(updater.inRecovery);
    EXPECT_FALSE(updater.fwData());
    updater.setFwData(*r);
    EXPECT_EQ(updater.fwData()->size(), image.size());

    auto gone = await<ImageResult>(
        [](auto cb) { SkiffWeb::downloadFirmware("1.6.194", "old", "405", false, cb); });
    EXPECT_EQ(gone.error(), FirmwareError::invalidResponse(410));
    auto empty = await<ImageResult>(
        [](auto cb) { SkiffWeb::downloadFirmware("1.6.194", "none", "405", false, cb); });
    EXPECT_EQ(empty.error(), FirmwareError::invalidPayload());
    auto noKey = await<ImageResult>(
        [](auto cb) { SkiffWeb::downloadFirmware("1.6.194", "", "405", false, cb); });
    EXPECT_EQ(noKey.error(), FirmwareError::invalidArguments());
}

TEST(FirmwareStates, DescribeThemselvesByCase) {
    EXPECT_EQ(FirmwareError::general(3, "x").description(), "general(3, \"x\")");
    EXPECT_EQ(FirmwareDownloadState::firmwareDownloadCompleted(
                  FirmwareDownloadStatus::downloadFailed(FirmwareError::notSupported()))
                  .description(),
              "firmwareDownloadCompleted(downloadFailed(notSupported))");
    EXPECT_EQ(FirmwareUpdateState::updateFailed(FirmwareUpdateError::timeOut).description(),
              "updateFailed(timeOut)");
    EXPECT_NE(FirmwareUpdateState::updateFailed(FirmwareUpdateError::timeOut),
              FirmwareUpdateState::updateFailed(FirmwareUpdateError::notConnected));
    EXPECT_EQ(FirmwareUpdateState::updateProgress(0.5f), FirmwareUpdateState::updateProgress(0.5f));
}
