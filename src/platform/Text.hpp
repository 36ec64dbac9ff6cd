#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qz {

// User-perceived characters (extended grapheme clusters) of UTF-8 text, over ICU.
// Invalid UTF-8 sequences count as one U+FFFD character each, and the functions that
// return text return valid UTF-8 with them replaced.
namespace text {

// Number of user-perceived characters.
size_t characterCount(std::string_view utf8);
// Consecutive pieces of at most `maxCharacters` user-perceived characters each
// (no piece when `utf8` is empty; `maxCharacters` 0 is taken as 1).
std::vector<std::string> split(std::string_view utf8, size_t maxCharacters);
// Whether `bytes` is valid UTF-8.
bool isValidUTF8(std::string_view bytes);
// Whether every byte is below 0x80.
bool isAscii(std::string_view bytes);
// `split` for ASCII text, as views into it (every byte is one character, "\r\n" is one).
std::vector<std::string_view> splitAscii(std::string_view ascii, size_t maxCharacters);
// `bytes` with each invalid sequence replaced by U+FFFD.
std::string sanitizeUTF8(std::string_view bytes);

}  // namespace text
}  // namespace qz
