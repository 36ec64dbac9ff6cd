#pragma once

#include <cstdint>
#include <string>

namespace qz {

// The platform's three-way comparison result.
enum class ComparisonResult : int { orderedAscending = -1, orderedSame = 0, orderedDescending = 1 };

// A four-part version number "major.minor.build.revision".
class Version {
  public:
    // Parses "a.b.c.d": exactly four components, each read as a leading signed 32-bit integer
    // (leading white space skipped, trailing characters ignored). Throws std::invalid_argument
    // otherwise.
    explicit Version(const std::string& text);
    // The same as the constructor (throws as it does).
    static Version versionFromString(const std::string& text) { return Version(text); }

    // Major, then minor, build and revision: the first difference decides (smaller is
    // ascending).
    ComparisonResult compare(const Version& other) const;
    // "Version: 1.2.3.4"
    std::string description() const;

    // The four parts.
    int32_t major() const { return major_; }
    int32_t minor() const { return minor_; }
    int32_t build() const { return build_; }
    int32_t revision() const { return revision_; }

  private:
    int32_t major_ = 0;
    int32_t minor_ = 0;
    int32_t build_ = 0;
    int32_t revision_ = 0;
};

}  // namespace qz
