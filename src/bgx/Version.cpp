#include "bgx/Version.hpp"

#include <cctype>
#include <climits>
#include <optional>
#include <stdexcept>
#include <vector>

namespace qz {

namespace {

// The leading signed integer of `text` (white space skipped, the rest ignored), saturated to
// 32 bits; none when the text does not begin with one.
std::optional<int32_t> leadingInt(const std::string& text) {
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i >= text.size() || !std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
    long long value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) value = INT_MAX;
    if (value < INT_MIN) value = INT_MIN;
    return static_cast<int32_t>(value);
}

}  // namespace

Version::Version(const std::string& text) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t dot = text.find('.', start);
        parts.push_back(
            text.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    if (parts.size() != 4)
        throw std::invalid_argument("Invalid version string: " + text +
                                    ". Expected 4 components, got " + std::to_string(parts.size()));
    static const char* names[] = {"major", "minor", "build", "revision"};
    int32_t* fields[] = {&major_, &minor_, &build_, &revision_};
    for (size_t i = 0; i < 4; ++i) {
        auto value = leadingInt(parts[i]);
        if (!value)
            throw std::invalid_argument("Invalid " + std::string(names[i]) +
                                        " version: " + parts[i] + ". Expected an integer.");
        *fields[i] = *value;
    }
}

ComparisonResult Version::compare(const Version& other) const {
    const int32_t mine[] = {major_, minor_, build_, revision_};
    const int32_t theirs[] = {other.major_, other.minor_, other.build_, other.revision_};
    for (size_t i = 0; i < 4; ++i) {
        if (mine[i] < theirs[i]) return ComparisonResult::orderedAscending;
        if (mine[i] > theirs[i]) return ComparisonResult::orderedDescending;
    }
    return ComparisonResult::orderedSame;
}

std::string Version::description() const {
    return "Version: " + std::to_string(major_) + "." + std::to_string(minor_) + "." +
           std::to_string(build_) + "." + std::to_string(revision_);
}

}  // namespace qz
