#include "lib/Descriptions/QZESubaruCodeStore.hpp"

#include "lib/Descriptions/QZETroubleCodes.hpp"
#include "lib/Utils/EnhancedProtocolManufacturer.hpp"

namespace qz {

void QZESubaruCodeStore::addDetailCode(const std::string& detailCode, const std::string& dtc,
                                       const std::string& description) {
    std::lock_guard lock(m_mutex);
    m_detailToDtc[detailCode] = dtc;
    m_descriptions[detailCode] = description;
}

void QZESubaruCodeStore::addDetailCode(const std::string& detailCode, const std::string& j2012) {
    // Looked up before taking the lock: the catalogue may load a table first.
    auto description = QZETroubleCodes::TheCodes().troubleCodeDef(
        j2012, static_cast<int64_t>(EnhancedProtocolManufacturer::Subaru));
    std::lock_guard lock(m_mutex);
    m_detailToJ2012[detailCode] = j2012;
    m_descriptions[detailCode] = std::move(description);
}

std::optional<std::string> QZESubaruCodeStore::find(const QZECodeTable& table,
                                                    const std::string& key) {
    auto it = table.find(key);
    if (it == table.end()) return std::nullopt;
    return it->second;
}

std::optional<std::string> QZESubaruCodeStore::getJ2012ForDetailCode(
    const std::string& detailCode) const {
    std::lock_guard lock(m_mutex);
    return find(m_detailToJ2012, detailCode);
}

std::optional<std::string> QZESubaruCodeStore::getDtcForDetailCode(
    const std::string& detailCode) const {
    std::lock_guard lock(m_mutex);
    return find(m_detailToDtc, detailCode);
}

std::optional<std::string> QZESubaruCodeStore::getDescriptionForDetailCode(
    const std::string& detailCode) const {
    std::lock_guard lock(m_mutex);
    return find(m_descriptions, detailCode);
}

}  // namespace qz
