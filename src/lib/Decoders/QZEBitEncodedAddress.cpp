#include "lib/Decoders/QZEBitEncodedAddress.hpp"

namespace qz {

bool QZEBitEncodedAddress::setBit(uint64_t bit, uint64_t byte, const std::string& faultId,
                                  const std::string& description,
                                  const std::optional<std::string>& status) {
    auto& codes = m_codeList.try_emplace(byte, 16, std::string()).first->second;
    std::vector<std::string>* statuses = nullptr;
    if (status) statuses = &m_statusList.try_emplace(byte, 8, std::string()).first->second;
    if (bit >= 8) return false;
    codes[2 * bit] = faultId;
    codes[2 * bit + 1] = description;
    if (statuses) (*statuses)[bit] = *status;
    return true;
}

std::optional<std::vector<std::string>> QZEBitEncodedAddress::infoForBit(uint64_t bit,
                                                                         uint64_t byte) const {
    auto codes = m_codeList.find(byte);
    if (codes == m_codeList.end() || bit > 7) return std::nullopt;
    std::vector<std::string> out{codes->second[2 * bit], codes->second[2 * bit + 1]};
    if (auto statuses = m_statusList.find(byte); statuses != m_statusList.end())
        out.push_back(statuses->second[bit]);
    return out;
}

std::vector<uint64_t> QZEBitEncodedAddress::addresses() const {
    std::vector<uint64_t> out;
    out.reserve(m_codeList.size());
    for (const auto& [byte, codes] : m_codeList) out.push_back(byte);
    return out;
}

}  // namespace qz
