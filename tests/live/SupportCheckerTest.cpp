#include <gtest/gtest.h>

#include "LiveTestSupport.hpp"
#include "api/Live/LiveDataSupportChecker.hpp"
#include "support/TestSupport.hpp"

using namespace qz;
using namespace qz::sim;
using namespace qz::livetest;
using qz::testsupport::errorOf;

namespace {

std::vector<size_t> setFlags(const std::vector<bool>& flags) {
    std::vector<size_t> out;
    for (size_t i = 0; i < flags.size(); ++i)
        if (flags[i]) out.push_back(i);
    return out;
}

}  // namespace

TEST(SupportPid, ReadsTheBitmapMostSignificantBitFirst) {
    SupportPid block;
    EXPECT_TRUE(block.setSupport("BE 1F A8 13"));
    std::vector<int> set;
    for (int k = 0; k < 32; ++k)
        if (block.supportArray[k]) set.push_back(block.pid + 1 + k);
    EXPECT_EQ(set, (std::vector<int>{0x01, 0x03, 0x04, 0x05, 0x06, 0x07, 0x0C, 0x0D, 0x0E, 0x0F,
                                     0x10, 0x11, 0x13, 0x15, 0x1C, 0x1F, 0x20}));

    SupportPid lower;  // only upper-case digits count
    EXPECT_TRUE(lower.setSupport("be 1f a8 13"));
    set.clear();
    for (int k = 0; k < 32; ++k)
        if (lower.supportArray[k]) set.push_back(1 + k);
    EXPECT_EQ(set, (std::vector<int>{0x14, 0x15, 0x1C, 0x1F, 0x20}));
}

TEST(SupportPid, AnswersWithoutABitmapFlagNothing) {
    for (const char* answer :
         {"NO DATA", "NO DATA\r>", "?", "", ">", "SEARCHING... BE 1F", "1 23 45 67 89"}) {
        SupportPid block;
        block.pid = 0x20;
        EXPECT_FALSE(block.setSupport(answer)) << answer;
        for (bool f : block.supportArray) EXPECT_FALSE(f) << answer;
    }
    SupportPid zeros;  // leading zeros alone do not overflow
    EXPECT_TRUE(zeros.setSupport("00 00 00 00 01"));
}

TEST(SupportChecker, WalksTheBlocksTheVehicleAnnounces) {
    RelayRig rig;
    auto flags = LiveDataSupportChecker(rig.relay).checkSupport(true);
    ASSERT_TRUE(flags);
    ASSERT_EQ(flags->size(), 193u);
    EXPECT_EQ(setFlags(*flags), (std::vector<size_t>{0x00, 0x01, 0x05, 0x0C, 0x0D, 0x1C, 0x1F, 0x20,
                                                     0x21, 0x30, 0x31, 0x40, 0x4D, 0x4E}));
    EXPECT_EQ(rig.commands(), (std::vector<std::string>{"KQX1", "0100", "0120", "0140", "KQX0"}));
}

TEST(SupportChecker, EveryUnitsBitmapIsMerged) {
    RelayRig rig(VehicleProfile::load(VehicleProfile::sampleFolder() / "two-ecus-can.json"));
    auto flags = LiveDataSupportChecker(rig.relay).checkSupport(true);
    ASSERT_TRUE(flags);
    // 80 18 00 00 | 88 08 00 00
    EXPECT_EQ(setFlags(*flags), (std::vector<size_t>{0x00, 0x01, 0x05, 0x0C, 0x0D}));
}

TEST(SupportChecker, NoDataEndsTheWalkWithoutFlags) {
    RelayRig rig;
    rig.core().addFault(Fault::noData(-1, "0120"));
    auto flags = LiveDataSupportChecker(rig.relay).checkSupport(true);
    ASSERT_TRUE(flags);
    EXPECT_EQ(setFlags(*flags),
              (std::vector<size_t>{0x00, 0x01, 0x05, 0x0C, 0x0D, 0x1C, 0x1F, 0x20}));
    EXPECT_EQ(rig.commands(),
              (std::vector<std::string>{"KQX1", "0100", "0120", "0120", "0120", "KQX0"}));
}

TEST(SupportChecker, ASilentBlockEndsTheWalkAndModeIsSwitchedBack) {
    RelayRig rig;
    rig.core().addFault(Fault::silence(1, "0120"));
    auto flags = LiveDataSupportChecker(rig.relay).checkSupport(true);
    ASSERT_TRUE(flags);
    EXPECT_EQ(flags->size(), 193u);
    EXPECT_TRUE((*flags)[0x20]);
    EXPECT_FALSE((*flags)[0x21]);
    EXPECT_EQ(rig.commands(), (std::vector<std::string>{"KQX1", "0100", "0120", "KQX0"}));
}

TEST(SupportChecker, StopsAfterTheLastBlockAndWithoutModeCommands) {
    RelayRig rig;
    rig.core().addFault(Fault::reply("FF FF FF FF \r>", -1));
    auto flags = LiveDataSupportChecker(rig.relay).checkSupport(false);
    ASSERT_TRUE(flags);
    EXPECT_EQ(setFlags(*flags).size(), 193u);
    EXPECT_EQ(rig.commands(),
              (std::vector<std::string>{"0100", "0120", "0140", "0160", "0180", "01A0"}));
}

TEST(SupportChecker, ModeSwitchFailuresAndAnUnansweredFirstBlockFailTheWalk) {
    using Commands = std::vector<std::string>;
    const struct {
        const char* name;
        Fault fault;
        CommError error;
        Commands commands;
    } cases[] = {
        {"KQX1 silent", Fault::silence(1, "KQX1"), CommError::timedOut, {"KQX1"}},
        {"KQX0 silent",
         Fault::silence(1, "KQX0"),
         CommError::timedOut,
         {"KQX1", "0100", "0120", "0140", "KQX0"}},
        // No vehicle: the mode is still switched back.
        {"0100 silent", Fault::silence(1, "0100"), CommError::timedOut, {"KQX1", "0100", "KQX0"}},
        {"0100 NO DATA",
         Fault::noData(-1, "0100"),
         CommError::noData,
         {"KQX1", "0100", "0100", "0100", "KQX0"}},
        {"0100 ?", Fault::unknown(1, "0100"), CommError::noData, {"KQX1", "0100", "KQX0"}},
        {"0100 CAN ERROR",
         Fault::reply("CAN ERROR\r>", 1, "0100"),
         CommError::noData,
         {"KQX1", "0100", "KQX0"}},
        {"0100 answered by the prompt alone",
         Fault::reply(">", 1, "0100"),
         CommError::noData,
         {"KQX1", "0100", "KQX0"}},
        {"0100 answered by the search notice alone",
         Fault::reply("SEARCHING...\r>", 1, "0100"),
         CommError::noData,
         {"KQX1", "0100", "KQX0"}},
        {"0100 UNABLE TO CONNECT",
         Fault::reply("SEARCHING...\rUNABLE TO CONNECT\r>", 1, "0100"),
         CommError::noData,
         {"KQX1", "0100", "KQX0"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RelayRig rig;
        rig.core().addFault(c.fault);
        auto flags = LiveDataSupportChecker(rig.relay).checkSupport(true);
        ASSERT_FALSE(flags);
        EXPECT_EQ(flags.error(), c.error);
        EXPECT_EQ(rig.commands(), c.commands);
    }
    RelayRig noVehicle(VehicleProfile::load(VehicleProfile::sampleFolder() / "no-vehicle.json"));
    EXPECT_EQ(errorOf(LiveDataSupportChecker(noVehicle.relay).checkSupport(false)),
              CommError::noData);
    RelayRig unspaced;  // bytes printed without blanks are an answer
    unspaced.core().addFault(Fault::reply("BE1FA812\r>", 1, "0100"));
    EXPECT_TRUE(LiveDataSupportChecker(unspaced.relay).checkSupport(false));
}

TEST(SupportChecker, VinSupportIsBit30OfTheAnswer) {
    RelayRig rig;
    EXPECT_EQ(LiveDataSupportChecker(rig.relay).checkVinSupport(), true);
    rig.core().addFault(Fault::reply("55 40 00 00 \r>"));
    EXPECT_EQ(LiveDataSupportChecker(rig.relay).checkVinSupport(), true);
    rig.core().addFault(Fault::reply("15 40 00 00 \r>"));
    EXPECT_EQ(LiveDataSupportChecker(rig.relay).checkVinSupport(), false);
    rig.core().addFault(Fault::noData(1, "0900"));
    EXPECT_EQ(errorOf(LiveDataSupportChecker(rig.relay).checkVinSupport()), CommError::invalidData);
    rig.core().addFault(Fault::reply(">"));
    EXPECT_EQ(errorOf(LiveDataSupportChecker(rig.relay).checkVinSupport()), CommError::invalidData);
    EXPECT_EQ(rig.commands().back(), "0900");
}
