#include <gtest/gtest.h>

#include <algorithm>

#include "LiveTestSupport.hpp"
#include "api/PIDs/Mode1/Mode1PIDs.hpp"
#include "api/PIDs/PID0902.hpp"
#include "api/PIDs/PIDInterface.hpp"
#include "support/TestSupport.hpp"

using namespace qz;
using namespace qz::sim;
using namespace qz::livetest;
using qz::testsupport::errorOf;

namespace {

class CatalogueOperations : public ::testing::Test {
  protected:
    void use(VehicleProfile profile) {
        rig_.reset();  // its clock goes before the next one is installed
        rig_ = std::make_unique<RelayRig>(std::move(profile));
        pids_.setRelay(rig_->relay);
    }
    void SetUp() override { use(VehicleProfile::builtIn()); }

    std::vector<std::shared_ptr<PIDInfo>> catalogueObjects(uint64_t number) {
        auto map = pids_.pidMap();
        auto it = map->find(number);
        return it == map->end() ? std::vector<std::shared_ptr<PIDInfo>>{} : it->second;
    }
    void markSupported(uint64_t number) {
        for (auto& p : catalogueObjects(number)) p->setSupportStatus(SupportStatus::supported);
    }
    static std::vector<uint64_t> numbers(const std::vector<std::shared_ptr<PIDInfo>>& list) {
        std::vector<uint64_t> out;
        for (auto& p : list) out.push_back(p->pid());
        out.erase(std::unique(out.begin(), out.end()), out.end());
        return out;
    }

    std::unique_ptr<RelayRig> rig_;
    PIDInterface pids_;
};

using Tokens = std::vector<std::string>;

}  // namespace

TEST_F(CatalogueOperations, RefreshesThePidPassedInWhenNoCatalogueObjectIsSupported) {
    auto rpm = std::make_shared<PID010C>();
    auto r = pids_.updatePid(rpm);
    ASSERT_TRUE(r);
    EXPECT_EQ(*r, rpm);
    EXPECT_EQ(rpm->data(), (Tokens{"1A", "F8"}));
    EXPECT_EQ(rig_->commands(), Tokens{"010C"});
    for (auto& p : catalogueObjects(0x0C)) EXPECT_TRUE(p->data().empty());
}

TEST_F(CatalogueOperations, FeedsEverySupportedObjectOfTheNumber) {
    markSupported(0x01);
    auto fresh = std::make_shared<PID0101_MIL>();
    auto r = pids_.updatePid(fresh);
    ASSERT_TRUE(r);
    EXPECT_EQ(*r, fresh);  // the object passed in comes back, unchanged
    EXPECT_TRUE(fresh->data().empty());
    auto objects = catalogueObjects(0x01);
    ASSERT_GE(objects.size(), 2u);
    for (auto& p : objects) EXPECT_EQ(p->data(), (Tokens{"81", "07", "65", "04"}));
}

TEST_F(CatalogueOperations, CleansMultiLineAnswersByService) {
    auto rpm = std::make_shared<PID010C>();
    rig_->core().addFault(Fault::reply("7E8 1A F8\r7E9 1B F9 \r>"));
    ASSERT_TRUE(pids_.updatePid(rpm));
    EXPECT_EQ(rpm->data(), (Tokens{"1A", "F8", "1B", "F9"}));

    auto info =
        std::make_shared<DirectDataPID>(Mode::VehicleInfo, 0x04, PIDCategory::other, "Calibration",
                                        "CAL", 2, std::nullopt, std::nullopt);
    rig_->core().addFault(Fault::reply("7E8 1A F8\r7E9 1B F9 \r>"));
    ASSERT_TRUE(pids_.updatePid(info));
    EXPECT_EQ(info->data(), (Tokens{"7E8", "1A", "F8", "7E9", "1B", "F9"}));
    EXPECT_EQ(rig_->commands().back(), "0904");
}

TEST_F(CatalogueOperations, RejectsAnswersWithoutUsableBytes) {
    auto rpm = std::make_shared<PID010C>();
    rpm->setData({"01", "02"});
    for (const char* bad : {"NO DATA\r>", "1A\r>", ">", "   \r>", "1A F8\r  \r>", "?\r>"}) {
        rig_->core().addFault(Fault::reply(bad));
        auto r = pids_.updatePid(rpm);
        ASSERT_FALSE(r) << bad;
        EXPECT_EQ(r.error(), CommError::invalidData) << bad;
        EXPECT_EQ(rpm->data(), (Tokens{"01", "02"})) << bad;
    }
    rig_->core().addFault(Fault::reply("1A F8 00\r>"));  // more bytes are accepted
    ASSERT_TRUE(pids_.updatePid(rpm));
    EXPECT_EQ(rpm->data(), (Tokens{"1A", "F8", "00"}));
}

TEST_F(CatalogueOperations, AModeNineAnswerNeverLandsInModeOneObjects) {
    markSupported(0x0C);
    auto info = std::make_shared<DirectDataPID>(Mode::VehicleInfo, 0x0C, PIDCategory::other,
                                                "Other", "O", 1, std::nullopt, std::nullopt);
    rig_->core().addFault(Fault::reply("41 42 \r>"));
    ASSERT_TRUE(pids_.updatePid(info));
    EXPECT_EQ(info->data(), (Tokens{"41", "42"}));
    for (auto& p : catalogueObjects(0x0C)) EXPECT_TRUE(p->data().empty());
}

TEST_F(CatalogueOperations, ExchangeFailuresPassThrough) {
    rig_->core().addFault(Fault::silence(1, "010C"));
    auto r = pids_.updatePid(std::make_shared<PID010C>());
    EXPECT_EQ(errorOf(r), CommError::timedOut);

    PIDInterface unwired;
    EXPECT_EQ(errorOf(unwired.updatePid(std::make_shared<PID010C>())), CommError::noDelegate);
    EXPECT_EQ(errorOf(unwired.updatePid(std::make_shared<PID0902>())), CommError::noDelegate);
    EXPECT_EQ(errorOf(unwired.checkSupport()), PelkError::initialization());
    EXPECT_EQ(errorOf(unwired.checkVinSupport()), PelkError::initialization());
}

TEST_F(CatalogueOperations, ReadsTheVinOffCanWithMultipleResponses) {
    auto vin = std::make_shared<PID0902>();
    ASSERT_TRUE(pids_.updatePid(vin));
    EXPECT_EQ(vin->valueAsText(false), "1HGCM82633A004352");
    EXPECT_EQ(rig_->commands(), (Tokens{"KQX1", "0902", "KQX0"}));
    EXPECT_EQ(vin->data().front(), "31");
    EXPECT_EQ(vin->data().size(), 17u);
}

TEST_F(CatalogueOperations, VinLinesFromSeveralUnitsCountOnce) {
    rig_->core().addFault(Fault::reply(
        "01 00 00 00 31\r02 48 47 43 4D\r01 00 00 00 31\r02 48 47 43 4D\r>", 1, "0902"));
    auto vin = std::make_shared<PID0902>();
    ASSERT_TRUE(pids_.updatePid(vin));
    EXPECT_EQ(vin->data(), (Tokens{"31", "48", "47", "43", "4d"}));
    EXPECT_EQ(vin->valueAsText(false), "1HGCM");

    rig_->core().addFault(Fault::silence(1, "0902"));
    EXPECT_EQ(errorOf(pids_.updatePid(vin)), CommError::timedOut);
    EXPECT_EQ(rig_->commands().back(), "KQX0");  // switched back also after a failure
}

TEST_F(CatalogueOperations, CleaningHelpers) {
    EXPECT_EQ(PIDInterface::requestText(PID010C()), "010C");
    EXPECT_EQ(PIDInterface::requestText(PID0902()), "0902");
    EXPECT_EQ(PIDInterface::vinData("NO DATA\r>"), Tokens{""});
    // " \r>" goes in one pass: what its removal joins up stays and still separates lines.
    EXPECT_EQ(PIDInterface::vinData("31 \r \r>>32\r>"), (Tokens{"31", "32"}));
    EXPECT_EQ(PIDInterface::cleanAnswer("1A F8 \r>", Mode::LiveData, 2).value(),
              (Tokens{"1A", "F8"}));
    EXPECT_EQ(PIDInterface::cleanAnswer("1A  F8\r>", Mode::LiveData, 2).value(),
              (Tokens{"1A", "", "F8"}));
    // An answer printed with its service and PID: its bytes when every line names the request
    // asked, first or after its header; none when one names another, or none.
    const struct {
        const char* answer;
        std::optional<std::string> bytes;
    } named[] = {
        {"41 0D 32 \r>", "32 \r>"},
        {"41 0d 32\r\r>", "32 \r\r>"},
        {"7E8 41 0D 32 \r7E9 41 0D 33 \r>", "7E8 32 \r7E9 33 \r>"},
        {"41 0C 1A F8 \r>", std::nullopt},
        {"7E8 41 0D 32 \r7E9 41 0C 1A F8 \r>", std::nullopt},
        {"32 \r>", std::nullopt},
        {"8 \r>", std::nullopt},
        {"49 0D 32 \r>", std::nullopt},
        {"NO DATA\r>", std::nullopt},
    };
    for (const auto& c : named)
        EXPECT_EQ(PIDInterface::namedAnswer(c.answer, PID010D()), c.bytes) << c.answer;
    EXPECT_TRUE(PIDInterface::namesRequest("F8 \r41 0D 32 \r>", PID010D()));
    EXPECT_TRUE(PIDInterface::namesRequest("NO DATA\r>", PID010D()));
    EXPECT_FALSE(PIDInterface::namesRequest("F8 \r>", PID010D()));
    EXPECT_FALSE(PIDInterface::namesRequest("41 0C 1A F8 \r>", PID010D()));
}

TEST_F(CatalogueOperations, ListsBeforeAnyDiscovery) {
    auto all = pids_.getPids();
    EXPECT_GT(all.size(), 300u);
    for (auto& p : all) EXPECT_EQ(p->supportStatus(), SupportStatus::unknown);
    EXPECT_TRUE(pids_.supportedPIDs().empty());
    EXPECT_TRUE(rig_->commands().empty());
}

TEST_F(CatalogueOperations, DiscoveryMarksTheFlaggedNumbers) {
    auto result = pids_.checkSupport();
    ASSERT_TRUE(result);
    EXPECT_EQ(numbers(*result), (std::vector<uint64_t>{0x01, 0x05, 0x0C, 0x0D, 0x1C, 0x1F, 0x21,
                                                       0x30, 0x31, 0x4D, 0x4E}));
    for (auto& p : *result) EXPECT_EQ(p->supportStatus(), SupportStatus::supported);
    // The same objects as the catalogue's.
    EXPECT_EQ((*result)[0], catalogueObjects((*result)[0]->pid()).front());
    EXPECT_EQ(rig_->commands().front(), "KQX1");
}

TEST_F(CatalogueOperations, DiscoveryReadsLayoutAndMaximaThroughItsOwnObjects) {
    use(profileWith(R"({"13": "01", "24": "80 00 80 00", "4F": "02 00 00 00", "0C": "1A F8"})"));
    auto result = pids_.checkSupport();
    ASSERT_TRUE(result);
    auto cmds = rig_->commands();
    EXPECT_EQ(std::count(cmds.begin(), cmds.end(), "0113"), 1);
    EXPECT_EQ(std::count(cmds.begin(), cmds.end(), "014F"), 4);
    auto nums = numbers(*result);
    EXPECT_EQ(std::count(nums.begin(), nums.end(), 0x13u), 0);
    EXPECT_EQ(std::count(nums.begin(), nums.end(), 0x4Fu), 0);
    bool sawLambda = false;
    for (auto& p : *result) {
        if (auto* lambda = dynamic_cast<PID0124_LAMBDA*>(p.get())) {
            sawLambda = true;
            EXPECT_DOUBLE_EQ(lambda->scalar(), 2.0 / 65535.0);
            EXPECT_DOUBLE_EQ(lambda->maxValue(), 2.0);
        }
    }
    EXPECT_TRUE(sawLambda);
}

TEST_F(CatalogueOperations, ReportedMaximaRescaleOnlyWhenNotZero) {
    auto o2Current = [&]() -> PIDScaledByPID4FC* {
        for (auto& p : pids_.supportedPIDs())
            if (auto* c = dynamic_cast<PIDScaledByPID4FC*>(p.get()); c && p->pid() == 0x34)
                return c;
        return nullptr;
    };
    use(profileWith(R"({"13": "01", "34": "80 00 80 00", "4F": "00 00 80 00"})"));
    ASSERT_TRUE(pids_.checkSupport());
    auto* lambda = dynamic_cast<PIDScaledByPID4FA*>(catalogueObjects(0x34).front().get());
    ASSERT_TRUE(lambda);
    EXPECT_DOUBLE_EQ(lambda->scalar(), 3.05e-05);  // equivalence-ratio maximum 0: kept
    auto* current = o2Current();
    ASSERT_TRUE(current);
    EXPECT_DOUBLE_EQ(current->scalar(), 128.0 / 32768.0);
    EXPECT_DOUBLE_EQ(current->offset(), -128.0);
    EXPECT_DOUBLE_EQ(current->minValue(), -128.0);

    rig_->core().setProfile(
        profileWith(R"({"13": "01", "34": "80 00 80 00", "4F": "00 00 40 00"})"));
    ASSERT_TRUE(pids_.checkSupport());
    EXPECT_DOUBLE_EQ(current->scalar(), 64.0 / 32768.0);
    EXPECT_DOUBLE_EQ(current->offset(), -64.0);
    EXPECT_DOUBLE_EQ(current->minValue(), -64.0);
}

TEST_F(CatalogueOperations, SupportBitsDecideAfterTheWalk) {
    use(profileWith(R"({"9C": "05 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"})"));
    auto result = pids_.checkSupport();
    ASSERT_TRUE(result);
    std::vector<std::string> names;
    for (auto& p : *result) names.push_back(p->shortName());
    EXPECT_EQ(names, (std::vector<std::string>{"O2S13_PCT", "O2S23_PCT"}));  // bits 0 and 2
    for (auto& p : catalogueObjects(0x9C)) EXPECT_EQ(p->data().size(), 17u);
}

TEST_F(CatalogueOperations, AFailedLayoutReadFailsTheDiscoveryAndChangesNothing) {
    use(profileWith(R"({"13": "01", "0C": "1A F8"})"));
    rig_->core().addFault(Fault::noData(1, "0113"));
    EXPECT_EQ(errorOf(pids_.checkSupport()), PelkError::initialization());
    for (auto& p : pids_.getPids()) EXPECT_EQ(p->supportStatus(), SupportStatus::unknown);
}

TEST_F(CatalogueOperations, ASecondVehicleNeverShowsTheFirstOnesParameters) {
    use(profileWith(R"({"0C": "1A F8", "0D": "32"})"));
    ASSERT_TRUE(pids_.checkSupport());
    EXPECT_EQ(numbers(pids_.supportedPIDs()), (std::vector<uint64_t>{0x0C, 0x0D}));
    rig_->core().setProfile(profileWith(R"({"05": "5A"})"));
    ASSERT_TRUE(pids_.checkSupport());
    EXPECT_EQ(numbers(pids_.supportedPIDs()), (std::vector<uint64_t>{0x05}));
}

TEST_F(CatalogueOperations, WalkFailureIsInitialization) {
    rig_->core().addFault(Fault::silence(1, "KQX1"));
    EXPECT_EQ(errorOf(pids_.checkSupport()), PelkError::initialization());
    // No vehicle answers 01 00.
    use(VehicleProfile::load(VehicleProfile::sampleFolder() / "no-vehicle.json"));
    EXPECT_EQ(errorOf(pids_.checkSupport()), PelkError::initialization());
    EXPECT_EQ(rig_->commands().back(), "KQX0");
}

TEST_F(CatalogueOperations, VinSupportAndItsErrors) {
    EXPECT_EQ(pids_.checkVinSupport(), true);
    rig_->core().addFault(Fault::silence(1, "0900"));
    auto r = pids_.checkVinSupport();
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), PelkError::general("timedOut", 0));
}
