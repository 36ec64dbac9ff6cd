#include <gtest/gtest.h>

#include "api/Live/SmogInfoReport.hpp"
#include "api/Live/SmogInfoRetriever.hpp"

using namespace qz;

namespace {

std::shared_ptr<SmogInfoReport> report(std::vector<std::string> monitors, int64_t confirmed = 0,
                                       int64_t pending = 0) {
    auto r = SmogInfoReport::makeForTesting();
    if (!monitors.empty()) r->monitorStatus()->setData(std::move(monitors));
    r->setNumConfirmed(confirmed);
    r->setNumPending(pending);
    return r;
}

// MIL off, no codes, every supported monitor complete.
const std::vector<std::string> kReady = {"00", "07", "65", "00"};

}  // namespace

TEST(SmogVerdict, FollowsMilCodesAndMonitorsInOrder) {
    EXPECT_EQ(report(kReady)->smogCheckResult(), SmogReportStatus::pass);
    EXPECT_EQ(report({"80", "07", "65", "00"})->smogCheckResult(), SmogReportStatus::fail);
    EXPECT_EQ(report(kReady, 1)->smogCheckResult(), SmogReportStatus::fail);
    EXPECT_EQ(report(kReady, 0, 1)->smogCheckResult(), SmogReportStatus::warning);
    EXPECT_EQ(report({"00", "07", "65", "04"})->smogCheckResult(), SmogReportStatus::warning);
    EXPECT_EQ(report({"00", "07", "65", "04"}, 2)->smogCheckResult(), SmogReportStatus::fail);
    // Unsupported monitors never keep a vehicle from passing.
    EXPECT_EQ(report({"00", "00", "00", "00"})->smogCheckResult(), SmogReportStatus::pass);
    // Monitors never read: not complete.
    EXPECT_EQ(report({})->smogCheckResult(), SmogReportStatus::warning);
    EXPECT_EQ(report({}, 1)->smogCheckResult(), SmogReportStatus::fail);
}

TEST(SmogVerdict, IsFixedAtItsFirstRead) {
    auto r = report(kReady);
    EXPECT_EQ(r->smogCheckResult(), SmogReportStatus::pass);
    r->setNumConfirmed(3);
    EXPECT_EQ(r->smogCheckResult(), SmogReportStatus::pass);
    r->setSmogCheckResult(SmogReportStatus::incomplete);
    EXPECT_EQ(r->smogCheckResult(), SmogReportStatus::incomplete);
}

TEST(SmogReport, StartsEmptyAndDescribesItsFigures) {
    auto r = report({}, 2, 1);
    EXPECT_EQ(r->runTimeSinceEngineStart()->pid(), 0x1Fu);
    EXPECT_EQ(r->distanceMilOn()->pid(), 0x21u);
    EXPECT_EQ(r->distanceMilOff()->pid(), 0x31u);
    EXPECT_EQ(r->timeMilOn()->pid(), 0x4Du);
    EXPECT_EQ(r->timeMilOff()->pid(), 0x4Eu);
    EXPECT_EQ(r->timeMilOff()->shortName(), "CLR_TIME");
    EXPECT_EQ(r->runTimeSinceEngineStart()->maxValue(), 65535.0);
    const std::string text = r->description();
    EXPECT_EQ(text.front(), '[');
    EXPECT_EQ(text.find(r->runTimeSinceEngineStart()->description()), 1u);
    std::string monitors = "\r";
    monitors += r->monitorStatus()->description();
    monitors += "\rNum confirmed: 2\r";
    EXPECT_NE(text.find(monitors), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 16), "\rNum pending: 1]");
}

TEST(SmogCodeCount, CountsLinesThatStartWithACode) {
    EXPECT_EQ(SmogInfoRetriever::countCodeLines("P0420\rP0171\r\r>"), 2);
    EXPECT_EQ(SmogInfoRetriever::countCodeLines("NO DATA\r>"), 0);
    EXPECT_EQ(SmogInfoRetriever::countCodeLines("U0100-87\r>"), 1);
    EXPECT_EQ(SmogInfoRetriever::countCodeLines("p0420\r>"), 0);
    EXPECT_EQ(SmogInfoRetriever::countCodeLines("KQTC\rC1234\nB0001\r\n>"), 2);
    EXPECT_EQ(SmogInfoRetriever::countCodeLines(""), 0);
}
