#include "lib/Definitions/QZEBMWTroubleCodeParser.hpp"

#include "lib/Definitions/DefinitionXML.hpp"
#include "lib/Logging/QZELogging.hpp"

namespace qz {

QZEBMWTroubleCodeParser::QZEBMWTroubleCodeParser(
    std::string chassisID, std::unordered_map<std::string, QZECodeTable>& dictionary)
    : TroubleCodeSectionParser({Matching::strict, Descriptions::last, "Error parsing BMW XML"}),
      chassisCode(std::move(chassisID)),
      m_codeDictionary(dictionary) {}

bool QZEBMWTroubleCodeParser::startsSection(const std::string& elementName,
                                            const XMLAttributes& attributes) const {
    if (elementName != "chassis") return false;
    auto vins = definitionxml::attribute(attributes, "vins");
    return vins && vins->find(chassisCode) != std::string::npos;
}

bool QZEBMWTroubleCodeParser::endsSection(const std::string& elementName) const {
    return elementName == "chassis";
}

// The chassis is the section; inside it, only the entries of a module are read.
void QZEBMWTroubleCodeParser::didStartElement(XMLParser&, const std::string& elementName,
                                              const std::string&, const std::string&,
                                              const XMLAttributes& attributes) {
    auto& log = QZELogging::shared();
    if (!foundChassisTag) {
        if (!startsSection(elementName, attributes)) return;
        log.logVerbose("BMW TC: found match, loading modules");
        foundChassisTag = true;
        return;
    }
    if (elementName == "module") {
        foundModuleTag = true;
        activeModule = definitionxml::attribute(attributes, "Acronym");
        log.logVerbose("BMW TC: %@ Module started", activeModule);
    } else if (foundModuleTag) {
        startEntryElement(elementName, attributes);
    }
}

void QZEBMWTroubleCodeParser::didEndElement(XMLParser&, const std::string& elementName,
                                            const std::string&, const std::string&) {
    if (!foundChassisTag) return;
    auto& log = QZELogging::shared();
    if (endsSection(elementName)) {
        log.logVerbose("BMW TC: Chassis ended, aborting parsing.");
        foundChassisTag = foundModuleTag = false;
        clearEntry();
        return;  // a later chassis that matches is read as well
    }
    if (elementName == "module") {
        log.logVerbose("BMW TC: %@ Module ended", activeModule);
        foundModuleTag = false;
        activeModule.reset();
        return;
    }
    if (elementName == "tc" && inEntry())
        log.logVerbose("BMW TC: %@ TroubleCode ended", activeModule);
    endEntryElement(elementName);
}

void QZEBMWTroubleCodeParser::foundEntry(const std::string& code, const std::string& description,
                                         const std::optional<std::string>&) {
    if (!activeModule) return;
    QZELogging::shared().logVerbose("BMW TC: Adding TC: %@:%@", code, description);
    m_codeDictionary["BMW" + chassisCode + *activeModule][code] = description;
}

}  // namespace qz
