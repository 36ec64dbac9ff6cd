#include <gtest/gtest.h>

#include "api/Utils/AttributedString.hpp"
#include "api/Utils/ByteBits.hpp"
#include "api/Utils/OptionalCollection.hpp"
#include "api/Utils/StringXor.hpp"

using namespace qz;

TEST(StringXorTest, ScramblesEveryByteButPromptAndReturn) {
    EXPECT_EQ(xorString("ATZ\r"), std::string("\x1A\x0F\x01\r"));
    EXPECT_EQ(xorString(">"), ">");
    EXPECT_EQ(xorString(xorString("KQD\r41 00 BE 3F>")), "KQD\r41 00 BE 3F>");
    EXPECT_EQ(xorString(""), "");
    // "e" and "V" scramble to the bytes that pass unchanged: not their own inverse.
    EXPECT_EQ(xorString("eV"), ">\r");
    EXPECT_EQ(xorString(xorString("eV")), ">\r");
}

TEST(StringXorTest, NonAsciiTextIsScrambledNotEmptied) {
    // Any text without "e" or "V", whose scrambled bytes are the prompt and the line end.
    const std::string text = "Fahrzig \xC3\xBC\xE2\x82\xAC";  // "Fahrzig ü€"
    std::string scrambled = xorString(text);
    EXPECT_EQ(scrambled.size(), text.size());
    EXPECT_NE(scrambled, text);
    EXPECT_EQ(xorString(scrambled), text);
    EXPECT_EQ(xorData(Data{0xC3, 0x3E, 0x0D, 0x00}), (Data{0x98, 0x3E, 0x0D, 0x5B}));
}

TEST(ByteBitsTest, Ranges) {
    EXPECT_EQ(bits(0xB6, 2, 4), 5);
    EXPECT_EQ(bits(0xB6, 0, 7), 0xB6);
    EXPECT_EQ(bits(0xB6, 4, 11), 0x0B);
    EXPECT_EQ(bits(0xB6, 8, 9), 0);
    EXPECT_EQ(bits(0x81, -1, 0), 2);
    EXPECT_EQ(bits(0xFF, -9, 0), 0);
    EXPECT_EQ(bits(0xFF, 0, 0), 1);
    EXPECT_EQ(bits(0xFF, INT64_MIN, INT64_MAX), 0);
}

TEST(OptionalCollectionTest, Conveniences) {
    std::optional<std::string> none;
    std::optional<std::string> empty("");
    std::optional<std::vector<int>> list(std::vector<int>{1});
    EXPECT_TRUE(isNilOrEmpty(none));
    EXPECT_TRUE(isNilOrEmpty(empty));
    EXPECT_FALSE(isNilOrEmpty(list));
    EXPECT_FALSE(nonEmpty(empty).has_value());
    EXPECT_EQ(nonEmpty(list), list);
    EXPECT_EQ(unwrapped(none, std::string("d")), "d");
    EXPECT_EQ(unwrapped(empty, std::string("d")), "");
}

TEST(AttributedStringTest, ReadsHtml) {
    auto s = html2AttributedString(
        "<p>Check <b>fuel</b> <i>cap</i></p><p>Then <a href=\"https://x.example\">see</a></p>");
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(s->string, "Check fuel cap\nThen see\n");
    bool bold = false, italic = false, link = false;
    for (const auto& run : s->runs) {
        auto part = s->string.substr(run.location, run.length);
        while (!part.empty() && part.back() == ' ') part.pop_back();
        if (run.attributes.bold) bold = part == "fuel";
        if (run.attributes.italic) italic = part == "cap";
        if (run.attributes.link)
            link = part == "see" && *run.attributes.link == "https://x.example";
    }
    EXPECT_TRUE(bold);
    EXPECT_TRUE(italic);
    EXPECT_TRUE(link);

    auto lines = html2AttributedString("a<br>b &amp; c");
    ASSERT_TRUE(lines.has_value());
    EXPECT_EQ(lines->string, "a\nb & c\n");
    auto empty = html2AttributedString("");
    ASSERT_TRUE(empty.has_value());
    EXPECT_TRUE(empty->string.empty() && empty->runs.empty());
}
