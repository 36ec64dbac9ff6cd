#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lib/Records/QZEValue.hpp"
#include "platform/KeyedArchive.hpp"

namespace qz {

using OptionalTextList = std::optional<std::vector<std::string>>;

// What the scanners read and write of any module record.
class QZEModuleDataInterface {
  public:
    virtual ~QZEModuleDataInterface() = default;
    virtual const std::optional<std::string>& accronym() const = 0;
    virtual void setAccronym(std::optional<std::string> value) = 0;
    virtual const std::optional<std::string>& moduleDescription() const = 0;
    virtual void setModuleDescription(std::optional<std::string> value) = 0;
    virtual const std::optional<std::string>& requestId() const = 0;
    virtual void setRequestId(std::optional<std::string> value) = 0;
    virtual const std::optional<std::string>& responseId() const = 0;
    virtual void setResponseId(std::optional<std::string> value) = 0;
    virtual const std::optional<std::string>& busType() const = 0;
    virtual void setBusType(std::optional<std::string> value) = 0;
    virtual int64_t responseState() const = 0;
    virtual void setResponseState(int64_t value) = 0;
};

// The engine's record of one vehicle module: identity, addresses, the codes found with their
// statuses and descriptions (parallel lists; none is not the same as empty), and the extras the
// definition file or the scan attached. A new record has false, 0 and none everywhere. Extras
// may hold records themselves (a folded module's variants).
class QZEModuleData : public QZEModuleDataInterface, public QZEObject {
  public:
    QZEModuleData() = default;

    bool common() const { return m_common; }
    void setCommon(bool value) { m_common = value; }
    int32_t requestType() const { return m_requestType; }
    void setRequestType(int32_t value) { m_requestType = value; }
    int64_t responseState() const override { return m_responseState; }
    void setResponseState(int64_t value) override { m_responseState = value; }

    const std::optional<std::string>& accronym() const override { return m_accronym; }
    void setAccronym(std::optional<std::string> value) override { m_accronym = std::move(value); }
    const std::optional<std::string>& description() const { return m_description; }
    void setDescription(std::optional<std::string> value) { m_description = std::move(value); }
    // Another name for the description.
    const std::optional<std::string>& moduleDescription() const override { return m_description; }
    void setModuleDescription(std::optional<std::string> value) override {
        m_description = std::move(value);
    }
    const std::optional<std::string>& requestId() const override { return m_requestId; }
    void setRequestId(std::optional<std::string> value) override { m_requestId = std::move(value); }
    const std::optional<std::string>& responseId() const override { return m_responseId; }
    void setResponseId(std::optional<std::string> value) override {
        m_responseId = std::move(value);
    }
    const std::optional<std::string>& busType() const override { return m_busType; }
    void setBusType(std::optional<std::string> value) override { m_busType = std::move(value); }
    const std::optional<std::string>& light() const { return m_light; }
    void setLight(std::optional<std::string> value) { m_light = std::move(value); }
    const std::optional<std::string>& category() const { return m_category; }
    void setCategory(std::optional<std::string> value) { m_category = std::move(value); }

    const OptionalTextList& codeList() const { return m_codeList; }
    void setCodeList(OptionalTextList value) { m_codeList = std::move(value); }
    const OptionalTextList& statusList() const { return m_statusList; }
    void setStatusList(OptionalTextList value) { m_statusList = std::move(value); }
    const OptionalTextList& definitionList() const { return m_definitionList; }
    void setDefinitionList(OptionalTextList value) { m_definitionList = std::move(value); }

    const std::optional<QZEDictionary>& extras() const { return m_extras; }
    void setExtras(std::optional<QZEDictionary> value) { m_extras = std::move(value); }
    // One extra, or a null value when there is none.
    QZEValue extra(const std::string& key) const;
    // Stores one extra, creating the dictionary when there is none.
    void setExtra(const std::string& key, QZEValue value);
    void removeExtra(const std::string& key);
    // The flag rule on one extra: "1" or 1 yes, absent or "0" no.
    bool extraFlag(const std::string& key) const { return flagValue(m_extras, key); }

    // "<requestId>:<responseId>:<TP2><CallUp>", each extra only when present.
    std::string requestResponseKey() const;

    // A new record with the same identity, codes and extras (shallow); the response state starts
    // at 0.
    std::shared_ptr<QZEModuleData> copy() const;

    // Archived under ten keys; common, requestType, responseState and extras are not archived.
    void encode(KeyedArchiver& coder) const;
    static std::shared_ptr<QZEModuleData> decode(const KeyedUnarchiver& coder);

  private:
    bool m_common = false;
    int32_t m_requestType = 0;
    int64_t m_responseState = 0;
    std::optional<std::string> m_accronym;
    std::optional<std::string> m_description;
    std::optional<std::string> m_requestId;
    std::optional<std::string> m_responseId;
    OptionalTextList m_codeList;
    OptionalTextList m_statusList;
    std::optional<std::string> m_busType;
    std::optional<std::string> m_light;
    std::optional<std::string> m_category;
    OptionalTextList m_definitionList;
    std::optional<QZEDictionary> m_extras;
};

using QZEModuleDataPtr = std::shared_ptr<QZEModuleData>;

}  // namespace qz
