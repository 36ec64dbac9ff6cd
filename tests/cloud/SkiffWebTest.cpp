#include <nlohmann/json.hpp>

#include "CloudFixture.hpp"
#include "api/Firmware/FirmwareDownloadState.hpp"
#include "api/Firmware/FirmwareUpdateState.hpp"
#include "api/Firmware/SkiffUpdater.hpp"
#include "support/TestSupport.hpp"

using namespace qz;
using qz::test::CloudTest;
using qz::testsupport::errorOf;

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
    EXPECT_EQ(errorOf(badArgs), FirmwareError::invalidArguments());

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
    ASSERT_TRUE(updater.fwData());
    EXPECT_EQ(updater.fwData()->size(), image.size());

    auto gone = await<ImageResult>(
        [](auto cb) { SkiffWeb::downloadFirmware("1.6.194", "old", "405", false, cb); });
    EXPECT_EQ(errorOf(gone), FirmwareError::invalidResponse(410));
    auto empty = await<ImageResult>(
        [](auto cb) { SkiffWeb::downloadFirmware("1.6.194", "none", "405", false, cb); });
    EXPECT_EQ(errorOf(empty), FirmwareError::invalidPayload());
    auto noKey = await<ImageResult>(
        [](auto cb) { SkiffWeb::downloadFirmware("1.6.194", "", "405", false, cb); });
    EXPECT_EQ(errorOf(noKey), FirmwareError::invalidArguments());
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

namespace {

// An image of `records` records, each a header frame and `dataFrames` data frames, then
// the last frame.
Data framedImage(int records, int dataFrames) {
    Data image;
    auto frame = [&](uint8_t kind, uint8_t fill) {
        image.push_back(kind);
        image.insert(image.end(), 14, fill);
    };
    for (int r = 0; r < records; ++r) {
        frame(0x01, static_cast<uint8_t>(r));
        for (int d = 0; d < dataFrames; ++d) frame(0x02, static_cast<uint8_t>(d));
    }
    frame(0x04, 0);
    return image;
}

}  // namespace

TEST(SkiffUpdaterBlocks, CutsTheImageIntoBlocksOfWholeFramesWithTheirAcks) {
    // 10 records of 1 header + 9 data frames, and the last frame: 101 frames, 1515 bytes.
    Data image = framedImage(10, 9);
    auto blocks = SkiffUpdater::makeBlocks(image, 375);
    ASSERT_TRUE(blocks);
    ASSERT_EQ(blocks->size(), 5u);  // 4 x 25 frames + 1 frame
    EXPECT_EQ((*blocks)[0].data.size(), 375u);
    EXPECT_EQ((*blocks)[0].acksExpected, 3);  // frames 0, 10, 20
    EXPECT_EQ((*blocks)[1].acksExpected, 2);  // frames 30, 40
    EXPECT_EQ((*blocks)[4].data.size(), 15u);
    EXPECT_EQ((*blocks)[4].acksExpected, 0);
    Data joined;
    int64_t acks = 0;
    for (const auto& b : *blocks) {
        joined.insert(joined.end(), b.data.begin(), b.data.end());
        acks += b.acksExpected;
    }
    EXPECT_EQ(joined, image);
    EXPECT_EQ(acks, 10);
}

TEST(SkiffUpdaterBlocks, RefusesImagesThatAreNotWholeFramesEndingWithTheLastFrame) {
    Data image = framedImage(2, 3);
    EXPECT_EQ(errorOf(SkiffUpdater::makeBlocks({}, 375)), FirmwareUpdateError::malformedPayload);
    Data cut(image.begin(), image.end() - 1);
    EXPECT_EQ(errorOf(SkiffUpdater::makeBlocks(cut, 375)), FirmwareUpdateError::malformedPayload);
    Data noEnd(image.begin(), image.end() - 15);
    EXPECT_EQ(errorOf(SkiffUpdater::makeBlocks(noEnd, 375)), FirmwareUpdateError::malformedPayload);
    Data earlyEnd = image;
    earlyEnd[15] = 0x04;
    EXPECT_EQ(errorOf(SkiffUpdater::makeBlocks(earlyEnd, 375)),
              FirmwareUpdateError::malformedPayload);
    EXPECT_EQ(errorOf(SkiffUpdater::makeBlocks(image, 100)), FirmwareUpdateError::setupFailed);
}
