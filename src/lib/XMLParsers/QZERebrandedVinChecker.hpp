#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace qz {

// Answers whether a VIN is on the rebranded-VIN list and, if so, the make code of its parent.
// The list is read, decrypted and parsed anew on every check. One check at a time.
class QZERebrandedVinChecker {
  public:
    explicit QZERebrandedVinChecker(std::optional<std::filesystem::path> filename);

    // Make code of the VIN's parent (0 when not listed or unknown); sets matched().
    int64_t checkVinForMake(const std::optional<std::string>& vin);

    // Whether the last check found the VIN.
    bool matched() const { return m_matched; }

    const std::optional<std::filesystem::path>& filename() const { return m_filename; }

  private:
    std::optional<std::filesystem::path> m_filename;
    bool m_matched = false;
};

}  // namespace qz
