#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace qz {

// A 128-bit universally unique identifier.
class UUID {
  public:
    using Bytes = std::array<uint8_t, 16>;

    // All zero.
    UUID() = default;
    explicit UUID(const Bytes& bytes) : bytes_(bytes) {}

    // A random (version 4) identifier.
    static UUID random();
    // Parses "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" (either case); nullopt otherwise.
    static std::optional<UUID> fromString(const std::string& text);

    // Upper-case "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX".
    std::string uuidString() const;
    const Bytes& bytes() const { return bytes_; }

    friend bool operator==(const UUID&, const UUID&) = default;
    friend auto operator<=>(const UUID&, const UUID&) = default;

  private:
    Bytes bytes_{};
};

}  // namespace qz

template <>
struct std::hash<qz::UUID> {
    size_t operator()(const qz::UUID& uuid) const noexcept;
};
