#include "platform/Text.hpp"

#include <gtest/gtest.h>

namespace qz {
namespace {

using text::characterCount;
using text::split;

const std::string kFamily =
    "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";  // 👨‍👩‍👧
const std::string kFlagDE = "\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA";                  // 🇩🇪
const std::string kCombined = "e\xCC\x81";                      // e + combining acute
const std::string kThumb = "\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD";  // 👍🏽

std::string join(const std::vector<std::string>& pieces) {
    std::string out;
    for (auto& p : pieces) out += p;
    return out;
}

TEST(TextTest, CountsUserPerceivedCharacters) {
    EXPECT_EQ(characterCount(""), 0u);
    EXPECT_EQ(characterCount("hello"), 5u);
    EXPECT_EQ(characterCount("a\r\nb"), 3u);  // CR LF is one character
    EXPECT_EQ(characterCount("a\n\rb"), 4u);
    EXPECT_EQ(characterCount(kFamily), 1u);
    EXPECT_EQ(characterCount(kFlagDE + kFlagDE), 2u);
    EXPECT_EQ(characterCount(kCombined), 1u);
    EXPECT_EQ(characterCount(kThumb + "x"), 2u);
    EXPECT_EQ(characterCount("\xC3\xA4\xC3\xB6"), 2u);  // äö
}

TEST(TextTest, SplitKeepsClustersWholeAndPiecesWithinTheLimit) {
    std::string s = "ab" + kFamily + kCombined + kFlagDE + "\r\n" + kThumb + "z";
    for (size_t n : {1, 2, 3, 255}) {
        auto pieces = split(s, n);
        EXPECT_EQ(join(pieces), s) << n;
        size_t total = 0;
        for (auto& p : pieces) {
            EXPECT_GE(characterCount(p), 1u);
            EXPECT_LE(characterCount(p), n);
            total += characterCount(p);
        }
        EXPECT_EQ(total, 8u);
    }
    auto two = split(s, 2);
    ASSERT_EQ(two.size(), 4u);
    EXPECT_EQ(two[1], kFamily + kCombined);
    EXPECT_EQ(two[2], kFlagDE + "\r\n");
    EXPECT_TRUE(split("", 5).empty());
    EXPECT_EQ(split("abc", 0), (std::vector<std::string>{"a", "b", "c"}));
}

TEST(TextTest, SplitsLongAsciiLinesIntoFullPieces) {
    std::string line(600, 'x');
    auto pieces = split(line, 255);
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(pieces[0].size(), 255u);
    EXPECT_EQ(pieces[1].size(), 255u);
    EXPECT_EQ(pieces[2].size(), 90u);
    // "\r\n" straddling a piece boundary stays together.
    std::string crlf = std::string(254, 'y') + "\r\n" + "z";
    auto p = split(crlf, 255);
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[0].size(), 256u);
    EXPECT_EQ(p[1], "z");
}

TEST(TextTest, InvalidUtf8IsHandledSafely) {
    const std::string bad =
        "ok\xFF\xFE"
        "a\xE2\x82";  // stray bytes, truncated sequence
    EXPECT_FALSE(text::isValidUTF8(bad));
    EXPECT_TRUE(text::isValidUTF8("ok " + kFamily));
    EXPECT_EQ(text::sanitizeUTF8(bad),
              "ok\xEF\xBF\xBD\xEF\xBF\xBD"
              "a\xEF\xBF\xBD");
    EXPECT_EQ(characterCount(bad), 6u);
    auto pieces = split(bad, 4);
    ASSERT_EQ(pieces.size(), 2u);
    for (auto& p : pieces) EXPECT_TRUE(text::isValidUTF8(p));
    EXPECT_EQ(join(pieces), text::sanitizeUTF8(bad));
    // A lone surrogate encoded in UTF-8 and an overlong form are invalid too.
    EXPECT_FALSE(text::isValidUTF8("\xED\xA0\x80"));
    EXPECT_FALSE(text::isValidUTF8("\xC0\xAF"));
}

}  // namespace
}  // namespace qz
