#include "api/PIDs/PIDInfo.hpp"

#include <gtest/gtest.h>

#include "api/PIDs/HexText.hpp"
#include "api/Utils/ByteBits.hpp"

namespace qz {
namespace {

TEST(PIDInfoTest, FreshParameter) {
    PIDInfo p(Mode::LiveData, 0x05, "Engine Coolant Temperature", PIDCategory::numeric, "ECT", 1,
              std::nullopt);
    EXPECT_EQ(p.supportStatus(), SupportStatus::unknown);
    EXPECT_TRUE(p.data().empty());
    EXPECT_EQ(p.valueAsText(false), "N/A");
    EXPECT_EQ(p.description(), "PID: 05, Engine Coolant Temperature, supported: unknown");
    p.setSupportStatus(SupportStatus::unsupported);
    EXPECT_EQ(p.valueAsText(true), "Unsupported");
    EXPECT_EQ(p.description(), "PID: 05, Engine Coolant Temperature, supported: unsupported");
}

TEST(PIDInfoTest, EqualityIgnoresStateButNotNames) {
    PIDInfo a(Mode::LiveData, 0x05, "Engine Coolant Temperature", PIDCategory::numeric, "A", 1, 3);
    PIDInfo b(Mode::LiveData, 0x05, "Engine Coolant Temperature", PIDCategory::other, "B", 2, 3);
    b.setSupportStatus(SupportStatus::supported);
    b.setData({"01"});
    EXPECT_TRUE(a == b);
    PIDInfo c(Mode::LiveData, 0x05, "Coolant", PIDCategory::numeric, "A", 1, 3);
    EXPECT_FALSE(a == c);
    PIDInfo d(Mode::LiveData, 0x05, "Engine Coolant Temperature", PIDCategory::numeric, "A", 1,
              std::nullopt);
    PIDInfo e(Mode::LiveData, 0x05, "Engine Coolant Temperature", PIDCategory::numeric, "A", 1,
              std::nullopt);
    EXPECT_FALSE(a == d);
    EXPECT_TRUE(d == e);
    PIDInfo f(Mode::VehicleInfo, 0x05, "Engine Coolant Temperature", PIDCategory::numeric, "A", 1,
              3);
    EXPECT_FALSE(a == f);
}

TEST(PIDInfoTest, SupportBitReadsTheFirstDataByte) {
    PIDInfo p(Mode::LiveData, 0x06, "x", PIDCategory::numeric, "x", 2, 3);
    p.setSupportedViaSupportBit();
    EXPECT_EQ(p.supportStatus(), SupportStatus::unknown);  // no data: unchanged
    p.setData({"08", "00"});
    p.setSupportedViaSupportBit();
    EXPECT_EQ(p.supportStatus(), SupportStatus::supported);
    p.setData({"F7"});
    p.setSupportedViaSupportBit();
    EXPECT_EQ(p.supportStatus(), SupportStatus::unsupported);
    p.setData({"08"});
    p.setSupportedViaSupportBit();
    p.setData({""});
    p.setSupportedViaSupportBit();
    EXPECT_EQ(p.supportStatus(), SupportStatus::unsupported);
    p.setData({"0X"});
    p.setSupportStatus(SupportStatus::supported);
    p.setSupportedViaSupportBit();
    EXPECT_EQ(p.supportStatus(), SupportStatus::unsupported);

    PIDInfo wide(Mode::LiveData, 0x06, "x", PIDCategory::numeric, "x", 1, 8);
    wide.setData({"FF"});
    wide.setSupportedViaSupportBit();
    EXPECT_EQ(wide.supportStatus(), SupportStatus::unsupported);
    PIDInfo negative(Mode::LiveData, 0x06, "x", PIDCategory::numeric, "x", 1, -1);
    negative.setData({"FF"});
    negative.setSupportedViaSupportBit();
    EXPECT_EQ(negative.supportStatus(), SupportStatus::unsupported);
    PIDInfo none(Mode::LiveData, 0x06, "x", PIDCategory::numeric, "x", 1, std::nullopt);
    none.setData({"FF"});
    none.setSupportedViaSupportBit();
    EXPECT_EQ(none.supportStatus(), SupportStatus::unknown);
}

TEST(PIDInfoTest, ModeFromRawValue) {
    EXPECT_EQ(modeFromRawValue(1), Mode::LiveData);
    EXPECT_EQ(modeFromRawValue(9), Mode::VehicleInfo);
    EXPECT_EQ(modeFromRawValue(2), std::nullopt);
}

TEST(HexTextTest, TwoDigitHex) {
    EXPECT_EQ(asTwoDigitHex(uint64_t{255}), "FF");
    EXPECT_EQ(asTwoDigitHex(uint64_t{256}), "100");
    EXPECT_EQ(asTwoDigitHex(uint64_t{9}), "09");
    EXPECT_EQ(asTwoDigitHex(uint64_t{0}), "00");
    EXPECT_EQ(asTwoDigitHex(uint64_t{0x1A3}, false), "1a3");
    EXPECT_EQ(asTwoDigitHex(int64_t{-1}), "-1");
    EXPECT_EQ(asTwoDigitHex(int64_t{-26}), "-1A");
    EXPECT_EQ(asTwoDigitHex(INT64_MIN), "-8000000000000000");
}

TEST(HexTextTest, BitReadsAndByteParsing) {
    EXPECT_EQ(bitAt(0x80, 7), 1u);
    EXPECT_EQ(bitAt(0x80, 6), 0u);
    EXPECT_EQ(bitAt(~0ull, 64), 0u);
    EXPECT_EQ(bitAt(~0ull, -1), 0u);
    EXPECT_EQ(bits(0x3C, 4, 5), 3);
    EXPECT_EQ(bits(0x83, 0, 6), 3);
    EXPECT_EQ(bits(0xAB, 0, 7), 0xAB);
    EXPECT_EQ(bits(0xAB, 0, 9), 0xAB);
    EXPECT_EQ(bits(0xAB, 8, 9), 0);
    EXPECT_EQ(bits(0x81, -1, 6), 0x02);
    EXPECT_TRUE(isHex("09afAF") && isHex(""));
    EXPECT_FALSE(isHex("0x1F") || isHex("1 F") || isHex("G"));
    EXPECT_EQ(parseByte("7f"), 0x7F);
    EXPECT_EQ(parseByte("0FF"), 0xFF);
    EXPECT_EQ(parseByte("100"), std::nullopt);
    EXPECT_EQ(parseByte(""), std::nullopt);
    EXPECT_EQ(parseByte("G8"), std::nullopt);
    EXPECT_EQ(parseHex64("FFFFFFFFFFFFFFFF"), ~0ull);
    EXPECT_EQ(parseHex64("0001FFFFFFFFFFFFFFFF"), std::nullopt);
    EXPECT_EQ(parseHex64("00000000000000000001"), 1u);
}

}  // namespace
}  // namespace qz
