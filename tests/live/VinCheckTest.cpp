#include <gtest/gtest.h>

#include "api/Live/VinCheck.hpp"

using qz::isValidVin;

TEST(VinCheck, LengthAndForbiddenLetters) {
    EXPECT_TRUE(isValidVin("1HGCM82633A004352"));
    EXPECT_FALSE(isValidVin("1HGCM82633A00435"));
    EXPECT_FALSE(isValidVin("1HGCM82633A0043521"));
    EXPECT_FALSE(isValidVin(""));
    EXPECT_FALSE(isValidVin("WVWZZZ1KZ6W00000o"));
    EXPECT_FALSE(isValidVin("WVWZZZ1KZ6W00000i"));
    EXPECT_FALSE(isValidVin("WVWZZZ1KZ6W00000Q"));
}

TEST(VinCheck, OnlyNorthAmericanVinsCarryACheckDigit) {
    EXPECT_TRUE(isValidVin("WVWZZZ1KZ6W000001"));
    EXPECT_TRUE(isValidVin("JT2BF22K1W0123456"));
    EXPECT_TRUE(isValidVin("0ZZZZZZZZZZZZZZZZ"));
    EXPECT_TRUE(isValidVin("9ZZZZZZZZZZZZZZZZ"));
    EXPECT_FALSE(isValidVin("1HGCM82634A004352"));  // wrong check character
    EXPECT_FALSE(isValidVin("1HGCM826#3A004352"));  // neither digit nor X
}

TEST(VinCheck, CheckCharacterXAndLowerCaseLetters) {
    // 1M8GDM9A_KP042788: weighted sum leaves 10.
    EXPECT_TRUE(isValidVin("1M8GDM9AXKP042788"));
    EXPECT_FALSE(isValidVin("1M8GDM9A0KP042788"));
    // Lower-case letters count 0: 1hgcm82633a004352 has a different sum than the upper-case VIN.
    EXPECT_FALSE(isValidVin("1hgcm82633a004352"));
    EXPECT_TRUE(isValidVin("1hgcm82693a004352"));
}
