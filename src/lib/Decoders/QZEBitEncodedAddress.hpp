#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "lib/Records/QZEValue.hpp"

namespace qz {

// The bit-encoded faults of a module: for each byte number, a fault id and description per bit
// (0-7) and, when the definition gives them, a status text per bit.
class QZEBitEncodedAddress : public QZEObject {
  public:
    QZEBitEncodedAddress() = default;

    // Stores id and description (and the status, when given) for the bit of the byte. The byte's
    // tables are created even for an invalid bit; bits of 8 and above answer false.
    bool setBit(uint64_t bit, uint64_t byte, const std::string& faultId,
                const std::string& description,
                const std::optional<std::string>& status = std::nullopt);

    // [id, description], or [id, description, status] when the byte has statuses; none when the
    // byte has no entry or the bit is above 7. Bits never set read as empty texts.
    std::optional<std::vector<std::string>> infoForBit(uint64_t bit, uint64_t byte) const;

    // Every byte number present, in ascending order.
    std::vector<uint64_t> addresses() const;

    const std::optional<std::string>& status() const { return m_status; }
    void setStatus(std::optional<std::string> value) { m_status = std::move(value); }

  private:
    // byte -> 16 texts: at 2*bit the fault id, at 2*bit+1 its description.
    std::map<uint64_t, std::vector<std::string>> m_codeList;
    // byte -> 8 status texts; only for bytes given a status.
    std::map<uint64_t, std::vector<std::string>> m_statusList;
    std::optional<std::string> m_status;
};

}  // namespace qz
