#include "lib/Descriptions/VagTroubleCodeParser.hpp"

#include "lib/Definitions/DefinitionXML.hpp"
#include "lib/Descriptions/QZEVagTroubleCodeStore.hpp"

namespace qz {

VagTroubleCodeParser::VagTroubleCodeParser(QZEVagTroubleCodeStore& store) : m_codeStore(store) {}

bool VagTroubleCodeParser::parseDocumentWithFile(Data data) {
    return definitionxml::parseDocument(std::move(data), *this, "Error parsing XML");
}

void VagTroubleCodeParser::didStartElement(XMLParser&, const std::string& elementName,
                                           const std::string&, const std::string&,
                                           const XMLAttributes& attributes) {
    if (!foundGlobalTag) {
        if (elementName == "global") foundGlobalTag = true;
        return;
    }
    if (elementName.starts_with("tc")) {
        foundTCTag = true;
    } else if (elementName.starts_with("c")) {
        foundCodeTag = true;
        troubleCode.reset();
        dfcc = definitionxml::attribute(attributes, "v");
    } else if (elementName.starts_with("d")) {
        foundDescriptionTag = true;
        tcDescription.reset();
    }
}

void VagTroubleCodeParser::foundCharacters(XMLParser&, const std::string& characters) {
    if (!foundTCTag) return;
    if (foundCodeTag)
        definitionxml::appendText(troubleCode, characters);
    else if (foundDescriptionTag)
        definitionxml::appendText(tcDescription, characters);
}

void VagTroubleCodeParser::didEndElement(XMLParser&, const std::string& elementName,
                                         const std::string&, const std::string&) {
    if (!foundGlobalTag) return;
    if (elementName == "global") {
        foundGlobalTag = false;
        return;
    }
    if (elementName.starts_with("tc")) {
        if (troubleCode && tcDescription) m_codeStore.addDfcc(dfcc, troubleCode, tcDescription);
        troubleCode.reset();
        tcDescription.reset();
        dfcc.reset();
        foundTCTag = false;
        return;
    }
    if (elementName.starts_with("c"))
        foundCodeTag = false;
    else if (elementName.starts_with("d"))
        foundDescriptionTag = false;
}

}  // namespace qz
