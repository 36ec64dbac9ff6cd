#include "api/PIDs/Enums/MultiResponseStrategy.hpp"

#include <gtest/gtest.h>

namespace qz {
namespace {

std::string run(MultiResponseStrategy s, std::string_view reply) {
    return s.process(reply);
}

TEST(MultiResponseStrategyTest, CasesAreNumberedInOrder) {
    EXPECT_EQ(MultiResponseStrategy(MultiResponseStrategy::bitwiseOr).index(), 0);
    EXPECT_EQ(MultiResponseStrategy(MultiResponseStrategy::largestValue).index(), 1);
    EXPECT_EQ(MultiResponseStrategy(MultiResponseStrategy::smallestValue).index(), 2);
    EXPECT_EQ(MultiResponseStrategy(MultiResponseStrategy::unchanged).index(), 3);
    EXPECT_EQ(MultiResponseStrategy().index(), 0);
}

TEST(MultiResponseStrategyTest, BitwiseOrMergesWidestLines) {
    auto s = MultiResponseStrategy::bitwiseOr;
    EXPECT_EQ(run(s, "80 01\r01 80\r>"), "81 81");
    EXPECT_EQ(run(s, "41 0C 1A F8\r\r>"), "41 0C 1A F8");
    EXPECT_EQ(run(s, "a 0c"), "0A 0C");
    EXPECT_EQ(run(s, "NO DATA\r>"), "NO DATA");
    EXPECT_EQ(run(s, "01 02 03\rFF FF\r>"), "01 02 03");
    EXPECT_EQ(run(s, ">"), ">");
    EXPECT_EQ(run(s, "7f\t 01\n"), "7F 01");
}

TEST(MultiResponseStrategyTest, BitwiseOrKeepsNonHexTokensOfTheFirstLine) {
    EXPECT_EQ(run(MultiResponseStrategy::bitwiseOr, "41 XX\r41 01\r"), "41 XX");
    // Too wide for 64 bits: kept as it came, never wraps.
    EXPECT_EQ(run(MultiResponseStrategy::bitwiseOr, "1FFFFFFFFFFFFFFFF 01\r"),
              "1FFFFFFFFFFFFFFFF 01");
}

TEST(MultiResponseStrategyTest, UnicodeLineBreaksAndSpacesSeparate) {
    // U+2028 separates lines, U+00A0 separates tokens.
    EXPECT_EQ(run(MultiResponseStrategy::bitwiseOr,
                  "80\xC2\xA0"
                  "01\xE2\x80\xA8"
                  "01 80"),
              "81 81");
    EXPECT_EQ(run(MultiResponseStrategy::bitwiseOr,
                  "01\xC2\x85"
                  "02"),
              "03");
}

TEST(MultiResponseStrategyTest, LargestAndSmallestPickWholeLines) {
    EXPECT_EQ(run(MultiResponseStrategy::largestValue, "01 02\r01 03\r>"), "01 03");
    EXPECT_EQ(run(MultiResponseStrategy::smallestValue, "01 02\r01 03\r>"), "01 02");
    EXPECT_EQ(run(MultiResponseStrategy::largestValue, "01 2\r0  12\r"), "01 2");
    EXPECT_EQ(run(MultiResponseStrategy::smallestValue, "0 12\r01 2\r"), "0 12");
    EXPECT_EQ(run(MultiResponseStrategy::largestValue, "41 0C"), "41 0C");
}

TEST(MultiResponseStrategyTest, LargestAndSmallestRejectUnreadableLines) {
    EXPECT_EQ(run(MultiResponseStrategy::largestValue, "01 02\r01 0G"), "");
    EXPECT_EQ(run(MultiResponseStrategy::smallestValue, "80 00 00 00 00 00 00 00\r"), "");
    EXPECT_EQ(run(MultiResponseStrategy::largestValue, "7F FF FF FF FF FF FF FF\r"),
              "7F FF FF FF FF FF FF FF");
    EXPECT_EQ(run(MultiResponseStrategy::largestValue, "00 01 02 03 04 05 06 07 08"),
              "00 01 02 03 04 05 06 07 08");
    EXPECT_EQ(run(MultiResponseStrategy::largestValue, "01 01 02 03 04 05 06 07 08"), "");
}

TEST(MultiResponseStrategyTest, UnchangedAndEmptyReplies) {
    EXPECT_EQ(run(MultiResponseStrategy::unchanged, "41 0C\r41 0D\r\r>"), "41 0C\r41 0D\r\r>");
    for (auto s : {MultiResponseStrategy::bitwiseOr, MultiResponseStrategy::largestValue,
                   MultiResponseStrategy::smallestValue}) {
        EXPECT_EQ(run(s, ""), "");
        EXPECT_EQ(run(s, "\r\r  \r"), "");
    }
}

}  // namespace
}  // namespace qz
