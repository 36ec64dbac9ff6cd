#include "lib/Records/QZEModuleData.hpp"

namespace qz {

QZEValue QZEModuleData::extra(const std::string& key) const {
    if (!m_extras) return {};
    auto it = m_extras->find(key);
    return it == m_extras->end() ? QZEValue() : it->second;
}

void QZEModuleData::setExtra(const std::string& key, QZEValue value) {
    if (!m_extras) m_extras.emplace();
    (*m_extras)[key] = std::move(value);
}

void QZEModuleData::removeExtra(const std::string& key) {
    if (m_extras) m_extras->erase(key);
}

std::string QZEModuleData::requestResponseKey() const {
    std::string third;
    if (auto tp2 = extra("TP2").text()) third += *tp2;
    if (auto callUp = extra("CallUp").text()) third += *callUp;
    return m_requestId.value_or("(null)") + ":" + m_responseId.value_or("(null)") + ":" + third;
}

std::shared_ptr<QZEModuleData> QZEModuleData::copy() const {
    auto out = std::make_shared<QZEModuleData>(*this);
    out->m_responseState = 0;
    return out;
}

void QZEModuleData::encode(KeyedArchiver& coder) const {
    coder.encode("accronym", m_accronym);
    coder.encode("description", m_description);
    coder.encode("requestId", m_requestId);
    coder.encode("responseId", m_responseId);
    coder.encode("codeList", m_codeList);
    coder.encode("statusList", m_statusList);
    coder.encode("defnList", m_definitionList);
    coder.encode("busType", m_busType);
    coder.encode("light", m_light);
    coder.encode("category", m_category);
}

std::shared_ptr<QZEModuleData> QZEModuleData::decode(const KeyedUnarchiver& coder) {
    auto out = std::make_shared<QZEModuleData>();
    out->m_accronym = coder.decodeText("accronym");
    out->m_description = coder.decodeText("description");
    out->m_requestId = coder.decodeText("requestId");
    out->m_responseId = coder.decodeText("responseId");
    out->m_codeList = coder.decodeTextList("codeList");
    out->m_definitionList = coder.decodeTextList("defnList");
    out->m_statusList = coder.decodeTextList("statusList");
    out->m_busType = coder.decodeText("busType");
    out->m_light = coder.decodeText("light");
    out->m_category = coder.decodeText("category");
    return out;
}

}  // namespace qz
