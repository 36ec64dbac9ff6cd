#include "lib/Definitions/QZEBMWTroubleCodeParser.hpp"

#include "lib/Definitions/DefinitionXML.hpp"
#include "lib/Logging/QZELogging.hpp"

namespace qz {

QZEBMWTroubleCodeParser::QZEBMWTroubleCodeParser(
    std::string chassisID, std::unordered_map<std::string, QZECodeTable>& dictionary)
    : chassisCode(std::move(chassisID)), m_codeDictionary(dictionary) {}

bool QZEBMWTroubleCodeParser::parseDocumentWithFile(Data data) {
    return definitionxml::parseDocument(std::move(data), *this, "Error parsing BMW XML");
}

void QZEBMWTroubleCodeParser::didStartElement(XMLParser&, const std::string& elementName,
                                              const std::string&, const std::string&,
                                              const XMLAttributes& attributes) {
    auto& log = QZELogging::shared();
    if (!foundChassisTag) {
        if (elementName != "chassis") return;
        auto vins = definitionxml::attribute(attributes, "vins");
        if (vins && vins->find(chassisCode) != std::string::npos) {
            log.logVerbose("BMW TC: found match, loading modules");
            foundChassisTag = true;
        }
        return;
    }
    if (elementName == "module") {
        foundModuleTag = true;
        activeModule = definitionxml::attribute(attributes, "Acronym");
        log.logVerbose("BMW TC: %@ Module started", activeModule);
    } else if (!foundModuleTag) {
        return;
    } else if (elementName == "tc") {
        foundTCTag = true;
        troubleCode.reset();
        tcDescription.reset();
    } else if (foundTCTag && elementName == "c") {
        foundCodeTag = true;
        troubleCode.reset();
    } else if (foundTCTag && elementName == "d") {
        foundDescriptionTag = true;
        tcDescription.reset();
    }
}

void QZEBMWTroubleCodeParser::foundCharacters(XMLParser&, const std::string& characters) {
    if (foundCodeTag)
        definitionxml::appendText(troubleCode, characters);
    else if (foundDescriptionTag)
        definitionxml::appendText(tcDescription, characters);
}

void QZEBMWTroubleCodeParser::didEndElement(XMLParser&, const std::string& elementName,
                                            const std::string&, const std::string&) {
    if (!foundChassisTag) return;
    auto& log = QZELogging::shared();
    if (elementName == "chassis") {
        log.logVerbose("BMW TC: Chassis ended, aborting parsing.");
        foundChassisTag = foundModuleTag = foundTCTag = false;
        foundCodeTag = foundDescriptionTag = false;
        return;  // a later chassis that matches is read as well
    }
    if (elementName == "module") {
        log.logVerbose("BMW TC: %@ Module ended", activeModule);
        foundModuleTag = false;
        activeModule.reset();
    } else if (elementName == "tc" && foundTCTag) {
        log.logVerbose("BMW TC: %@ TroubleCode ended", activeModule);
        if (troubleCode && tcDescription && activeModule) {
            log.logVerbose("BMW TC: Adding TC: %@:%@", troubleCode, tcDescription);
            m_codeDictionary["BMW" + chassisCode + *activeModule][*troubleCode] = *tcDescription;
        }
        troubleCode.reset();
        tcDescription.reset();
        foundTCTag = false;
    } else if (elementName == "c") {
        foundCodeTag = false;
    } else if (elementName == "d") {
        foundDescriptionTag = false;
    }
}

}  // namespace qz
