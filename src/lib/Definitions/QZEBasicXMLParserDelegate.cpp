#include "lib/Definitions/QZEBasicXMLParserDelegate.hpp"

#include <algorithm>
#include <array>
#include <string_view>

#include "lib/Decoders/QZEBitEncodedAddress.hpp"
#include "lib/Decoders/QZEReplyText.hpp"
#include "lib/Definitions/DefinitionXML.hpp"
#include "lib/Descriptions/QZESubaruCodeStore.hpp"
#include "lib/Logging/QZELogging.hpp"
#include "lib/Utils/EnhancedProtocolManufacturer.hpp"
#include "lib/Utils/QZEnhancedUtils.hpp"

namespace qz {

namespace {

using definitionxml::attribute;

// The attribute's value, or null when the element does not have it.
const std::string* find(const XMLAttributes& attributes, const char* name) {
    auto it = attributes.find(name);
    return it == attributes.end() ? nullptr : &it->second;
}
using M = EnhancedProtocolManufacturer;

constexpr int64_t kGMLANBus = 58;
constexpr std::array<int64_t, 4> kChrysler29BitBuses = {7, 9, 10, 11};
// Attributes that fill the record's own fields; every other one goes to the extras.
constexpr std::array<std::string_view, 7> kModuleFields = {
    "Acronym", "Description", "Request_ID", "Response_ID", "Common", "Light", "ModuleCategory"};

}  // namespace

QZEBasicXMLParserDelegate::QZEBasicXMLParserDelegate(int64_t manufacturer, int64_t bus,
                                                     bool quickScan, std::optional<std::string> vin,
                                                     std::vector<QZEModuleDataPtr>& modules)
    : m_vehicleManufacturer(manufacturer),
      m_busType(bus),
      m_quickScan(quickScan),
      m_vin(std::move(vin)),
      m_modules(modules) {}

void QZEBasicXMLParserDelegate::didStartElement(XMLParser&, const std::string& elementName,
                                                const std::string&, const std::string&,
                                                const XMLAttributes& attributes) {
    auto& log = QZELogging::shared();
    if (isMake(m_vehicleManufacturer, M::BMW) && !m_foundBMWChassisSection) {
        if (!m_vin || m_vin->size() != 17) {
            log.logVerbose("Invalid VIN for decoding BMW");
        } else if (elementName == "chassis") {
            auto vins = attribute(attributes, "vins");
            log.logVerbose("BMW: found chassis %@", attribute(attributes, "code"));
            if (vins && vins->find(m_vin->substr(3, 4)) != std::string::npos) {
                log.logVerbose("BMW: found match, loading modules");
                m_foundBMWChassisSection = true;
            }
        }
        return;
    }

    if (elementName == "module") {
        startModule(attributes);
    } else if (elementName == "tc") {
        if (isMake(m_vehicleManufacturer, M::Subaru))
            startSubaruCode(attributes);
        else
            startCode(attributes);
    } else if (elementName == "address") {
        m_inAddressSection = true;
        m_currentByte = attribute(attributes, "byte");
        m_currentStatus = attribute(attributes, "status");
        if (!m_currentBitEncodedAddress)
            m_currentBitEncodedAddress = std::make_shared<QZEBitEncodedAddress>();
    } else if (elementName == "model") {
        startModel(attributes);
    } else if (elementName == "bit") {
        if (m_inAddressSection && m_correctModel) startBit(attributes);
    } else if (m_foundTC && elementName == "c") {
        m_foundC = true;
        m_currentCode.reset();
    } else if (m_foundTC && elementName == "d") {
        m_foundD = true;
        m_currentDefinition.reset();
    }
}

void QZEBasicXMLParserDelegate::startModule(const XMLAttributes& attributes) {
    auto& log = QZELogging::shared();
    auto acronym = attribute(attributes, "Acronym");
    auto description = attribute(attributes, "Description");
    auto requestId = attribute(attributes, "Request_ID");
    if (description)
        log.logVerbose("Found module with description: %@ and requestID: %@ on bus %@", description,
                       requestId, m_busType);

    auto module = std::make_shared<QZEModuleData>();
    // Every module starts its own extras: one that lacks a required attribute must not carry
    // the previous module's.
    m_extraDict.emplace();
    if (acronym && description && requestId) {
        m_inModuleSection = true;
        module->setDescription(std::move(description));
        if (isMake(m_vehicleManufacturer, M::BMW))
            module->setAccronym(
                objcFormat("BMW%@%@", definitionxml::vinPart(m_vin, 3, 4), acronym));
        else
            module->setAccronym(std::move(acronym));
        module->setRequestId(std::move(requestId));
        module->setResponseId(attribute(attributes, "Response_ID"));
        module->setBusType(std::to_string(m_busType));
        module->setRequestType(1);
        module->setLight(attribute(attributes, "Light"));
        module->setCategory(attribute(attributes, "ModuleCategory"));
        const auto common = attribute(attributes, "Common");
        module->setCommon(common && common->find('1') != std::string::npos);
        for (const auto& [name, value] : attributes)
            if (std::find(kModuleFields.begin(), kModuleFields.end(), name) == kModuleFields.end())
                (*m_extraDict)[name] = value;
        if (m_busType == kGMLANBus) (*m_extraDict)["*GM_LAN"] = "1";
    }
    m_currentModule = module;
    m_codeDict.clear();

    if (m_quickScan && !module->common()) return;
    log.logVerbose("Adding module from XML: %@ with reqID: %@", module->description(),
                   module->requestId());
    if (isMake(m_vehicleManufacturer, M::Chrysler)) {
        const bool on29BitBus = std::find(kChrysler29BitBuses.begin(), kChrysler29BitBuses.end(),
                                          m_busType) != kChrysler29BitBuses.end();
        if (on29BitBus != (m_extraDict->count("bus29bit") != 0)) return;
    }
    m_modules.push_back(std::move(module));
}

void QZEBasicXMLParserDelegate::startCode(const XMLAttributes& attributes) {
    m_foundTC = true;
    m_currentCode.reset();
    m_currentDefinition.reset();
    const auto* code = find(attributes, "c");
    const auto* definition = find(attributes, "d");
    if (!code || !definition) return;
    m_codeDict[*code] = *definition;
    if (const auto* j2012 = find(attributes, "j2012")) j2012Table()[*code] = *j2012;
}

void QZEBasicXMLParserDelegate::startSubaruCode(const XMLAttributes& attributes) {
    const auto code = attribute(attributes, "c");
    const auto detail = attribute(attributes, "v");
    // Without a detail code or a code there is nothing to key the entry by.
    if (!code || !detail) return;
    if (!m_subaruCodeStore) m_subaruCodeStore = std::make_shared<QZESubaruCodeStore>();
    const auto description = attribute(attributes, "d");
    if (description && !description->empty())
        m_subaruCodeStore->addDetailCode(*detail, *code, *description);
    else
        m_subaruCodeStore->addDetailCode(*detail, *code);
}

void QZEBasicXMLParserDelegate::startModel(const XMLAttributes& attributes) {
    const auto values = attribute(attributes, "values");
    const auto model = definitionxml::vinPart(m_vin, 3, 3);
    // A VIN too short to have a model matches none.
    m_correctModel = values && model && definitionxml::listContains(*values, *model);
    if (m_correctModel)
        QZELogging::shared().logVerbose(
            "Correct model found for module %@",
            m_currentModule ? m_currentModule->accronym() : std::optional<std::string>());
}

void QZEBasicXMLParserDelegate::startBit(const XMLAttributes& attributes) {
    static const std::string none;
    const auto* code = find(attributes, "c");
    const auto* bitNum = find(attributes, "bitNum");
    const auto* description = find(attributes, "Description");
    const auto bit = QZEnhancedUtils::hexStringToInt(bitNum ? *bitNum : none);
    const std::string& byteText = m_currentByte ? *m_currentByte : none;
    const uint64_t byte = byteText.size() >= 3
                              ? reply::leadingHex(byteText)
                              : static_cast<uint64_t>(QZEnhancedUtils::hexStringToInt(byteText));
    // The J2012 table is keyed by the code: without one the mapping is skipped.
    if (const auto* j2012 = find(attributes, "j2012"); j2012 && code) j2012Table()[*code] = *j2012;
    if (!m_currentBitEncodedAddress)
        m_currentBitEncodedAddress = std::make_shared<QZEBitEncodedAddress>();
    m_currentBitEncodedAddress->setBit(static_cast<uint64_t>(bit), byte, code ? *code : none,
                                       description ? *description : none, m_currentStatus);
}

QZEDictionary& QZEBasicXMLParserDelegate::j2012Table() {
    if (!m_extraDict) m_extraDict.emplace();
    auto& entry = (*m_extraDict)["dtcJ2012EncodedDict"];
    if (!entry.dictionary()) entry = QZEValue(QZEDictionary{});
    return *entry.dictionary();
}

void QZEBasicXMLParserDelegate::foundCharacters(XMLParser&, const std::string& characters) {
    if (!m_foundTC) return;
    if (m_foundC)
        definitionxml::appendText(m_currentCode, characters);
    else if (m_foundD)
        definitionxml::appendText(m_currentDefinition, characters);
}

void QZEBasicXMLParserDelegate::storeChildCode() {
    if (m_currentCode && m_currentDefinition) m_codeDict[*m_currentCode] = *m_currentDefinition;
}

void QZEBasicXMLParserDelegate::didEndElement(XMLParser& parser, const std::string& elementName,
                                              const std::string&, const std::string&) {
    if (isMake(m_vehicleManufacturer, M::BMW)) {
        if (!m_foundBMWChassisSection) return;
        if (elementName == "chassis") {
            QZELogging::shared().logVerbose("BMW: Chassis ended, aborting parsing.");
            parser.abortParsing();
            return;
        }
    }
    if (elementName == "module") {
        endModule();
    } else if (elementName == "tc") {
        m_foundTC = m_foundC = m_foundD = false;
        m_currentCode.reset();
        m_currentDefinition.reset();
    } else if (elementName == "address") {
        m_inAddressSection = false;
    } else if (elementName == "model") {
        m_correctModel = true;
    } else if (m_foundTC && elementName == "c") {
        m_foundC = false;
        storeChildCode();
    } else if (m_foundTC && elementName == "d") {
        m_foundD = false;
        storeChildCode();
    }
}

void QZEBasicXMLParserDelegate::endModule() {
    m_inModuleSection = false;
    if (m_currentModule && m_extraDict) {
        (*m_extraDict)["dtcsDict"] = QZEValue(std::move(m_codeDict));
        m_codeDict.clear();
        if (m_currentBitEncodedAddress)
            (*m_extraDict)["dtcBitEncodedDitct"] = QZEValue(m_currentBitEncodedAddress);
        if (m_subaruCodeStore) (*m_extraDict)["SUBARU_CODE_STORE"] = QZEValue(m_subaruCodeStore);
        m_currentModule->setExtras(std::move(m_extraDict));
        m_extraDict.reset();
    }
    m_currentBitEncodedAddress.reset();
    m_subaruCodeStore.reset();
}

}  // namespace qz
