#include "lib/Definitions/QZEVagXMLParserDelegate.hpp"

#include <algorithm>
#include <array>
#include <string_view>

#include "lib/Definitions/DefinitionXML.hpp"
#include "lib/Descriptions/QZEVagTroubleCodeStore.hpp"

namespace qz {

namespace {

using definitionxml::attribute;

constexpr const char* kNoVehicleId = "NOTSET";
constexpr int64_t kCanBus = 1;
constexpr int64_t kTP2Bus = 98;
// Attributes that fill the record's own fields or choose its addresses; every other one goes to
// the extras ("TP2" too on the TP2.0 bus).
constexpr std::array<std::string_view, 10> kModuleFields = {
    "Acronym", "Common", "Description", "UDSReqId", "UDSResId",
    "KReqID",  "KResID", "TP2",         "Light",    "ModuleCategory"};

}  // namespace

QZEVagXMLParserDelegate::QZEVagXMLParserDelegate(std::optional<std::string> vin, bool quickScan,
                                                 int64_t busType,
                                                 std::vector<QZEModuleDataPtr>& modules)
    : m_vin(std::move(vin)),
      m_vehicleId(vehicleIdFromVin(m_vin)),
      m_quickScan(quickScan),
      m_isCan(busType == kTP2Bus || busType == kCanBus),
      m_modules(modules),
      m_loadTp2Addresses(busType == kTP2Bus),
      m_busType(busType) {
    for (const auto& module : m_modules) m_listedKeys.insert(module->requestResponseKey());
}

std::string QZEVagXMLParserDelegate::vehicleIdFromVin(const std::optional<std::string>& vin) {
    if (!vin || vin->size() != 17) return kNoVehicleId;
    return std::string{(*vin)[0], (*vin)[3], (*vin)[6], (*vin)[7]};
}

void QZEVagXMLParserDelegate::didStartElement(XMLParser&, const std::string& elementName,
                                              const std::string&, const std::string&,
                                              const XMLAttributes& attributes) {
    if (elementName == "pdx") {
        // A VIN without a vehicle id matches no list.
        const auto vins = attribute(attributes, "vins");
        if (m_busType == kCanBus && m_vehicleId != kNoVehicleId && vins &&
            definitionxml::listContains(*vins, m_vehicleId)) {
            m_validModule = true;
            m_isPdx = true;
        }
    } else if (elementName == "global") {
        m_inGlobalSection = true;
    } else if (m_inGlobalSection && elementName == "can") {
        m_validModule = m_isCan;
    } else if (m_inGlobalSection && elementName == "kline") {
        m_validModule = !m_isCan;
    } else if (elementName == "module") {
        startModule(attributes);
    } else if (m_currentModule && elementName == "tc") {
        m_inTcDef = true;
        m_currentDfcc.reset();
        m_currentJ2012.reset();
        m_currentDefn.reset();
        if (!m_codeStore) m_codeStore = std::make_shared<QZEVagTroubleCodeStore>();
    } else if (m_inTcDef && elementName == "c") {
        m_inCodeSection = true;
        m_currentDfcc = attribute(attributes, "v").value_or("");
        m_currentJ2012.reset();
    } else if (m_inTcDef && elementName == "d") {
        m_inDefnSection = true;
        m_currentDefn.reset();
    }
}

void QZEVagXMLParserDelegate::startModule(const XMLAttributes& attributes) {
    m_currentModule.reset();
    m_codeStore.reset();
    m_currentDict.clear();
    if (!m_validModule) return;

    auto pick = [&](const char* first, const char* second) {
        if (auto v = attribute(attributes, first)) return *v;
        return attribute(attributes, second).value_or("");
    };
    const bool common = attribute(attributes, "Common") == "1";
    const auto tp2 = attribute(attributes, "TP2");
    if (m_quickScan && !common) return;
    if (m_loadTp2Addresses && (!tp2 || tp2->empty())) return;

    auto module = std::make_shared<QZEModuleData>();
    module->setBusType(std::to_string(m_busType));
    module->setAccronym(attribute(attributes, "Acronym"));
    module->setDescription(attribute(attributes, "Description"));
    module->setCommon(common);
    module->setRequestId(pick("UDSReqId", "KReqID"));
    module->setResponseId(pick("UDSResId", "KResID"));
    module->setLight(attribute(attributes, "Light"));
    module->setCategory(attribute(attributes, "ModuleCategory"));
    for (const auto& [name, value] : attributes)
        if (std::find(kModuleFields.begin(), kModuleFields.end(), name) == kModuleFields.end())
            m_currentDict[name] = value;
    if (m_loadTp2Addresses) m_currentDict["TP2"] = *tp2;
    if (m_isPdx) m_currentDict["PDX"] = "1";
    m_currentModule = std::move(module);
}

void QZEVagXMLParserDelegate::foundCharacters(XMLParser&, const std::string& characters) {
    if (!m_inTcDef) return;
    if (m_inCodeSection)
        definitionxml::appendText(m_currentJ2012, characters);
    else if (m_inDefnSection)
        definitionxml::appendText(m_currentDefn, characters);
}

void QZEVagXMLParserDelegate::didEndElement(XMLParser&, const std::string& elementName,
                                            const std::string&, const std::string&) {
    if (elementName == "pdx") {
        m_validModule = false;
        m_isPdx = false;
    } else if (elementName == "global") {
        m_inGlobalSection = false;
    } else if (elementName == "can" || elementName == "kline") {
        m_validModule = false;
    } else if (elementName == "module") {
        endModule();
    } else if (m_inTcDef && elementName == "tc") {
        if (m_codeStore) m_codeStore->addDfcc(m_currentDfcc, m_currentJ2012, m_currentDefn);
        m_inTcDef = m_inCodeSection = m_inDefnSection = false;
    } else if (m_inTcDef && elementName == "c") {
        m_inCodeSection = false;
    } else if (m_inTcDef && elementName == "d") {
        m_inDefnSection = false;
    }
}

void QZEVagXMLParserDelegate::endModule() {
    if (m_currentModule) {
        if (m_codeStore) m_currentDict["VAG_CODE_STORE"] = QZEValue(m_codeStore);
        if (!m_currentDict.empty()) m_currentModule->setExtras(m_currentDict);
        if (m_listedKeys.insert(m_currentModule->requestResponseKey()).second)
            m_modules.push_back(m_currentModule);
    }
    m_currentModule.reset();
    m_codeStore.reset();
    m_currentDict.clear();
    m_inTcDef = m_inCodeSection = m_inDefnSection = false;
}

}  // namespace qz
