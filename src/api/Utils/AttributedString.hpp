#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qz {

// Styles of a run of styled text.
struct TextAttributes {
    bool bold = false;
    bool italic = false;
    bool underline = false;
    std::optional<std::string> link;
    bool operator==(const TextAttributes&) const = default;
};

// A run of the text (byte offsets into the UTF-8 string) with its styles.
struct AttributedRun {
    size_t location = 0;
    size_t length = 0;
    TextAttributes attributes;
    bool operator==(const AttributedRun&) const = default;
};

// Styled text: the plain text and its styled runs in order.
struct AttributedString {
    std::string string;
    std::vector<AttributedRun> runs;
};

// Reads HTML (UTF-8) into styled text: text content with collapsed blanks, line
// ends after block elements and <br>, bold, italic, underline and links. Empty
// text for empty HTML; none when the HTML reader fails.
std::optional<AttributedString> html2AttributedString(std::string_view html);

}  // namespace qz
