#include "lib/Descriptions/CustomTroubleCodeParser.hpp"

#include "lib/Definitions/DefinitionXML.hpp"

namespace qz {

CustomTroubleCodeParser::CustomTroubleCodeParser(std::string parentMan, QZECodeTable& dictionary)
    : parentMan(std::move(parentMan)), m_codeDictionary(dictionary) {}

bool CustomTroubleCodeParser::parseDocumentWithFile(Data data) {
    return definitionxml::parseDocument(std::move(data), *this, "Error parsing XML");
}

void CustomTroubleCodeParser::didStartElement(XMLParser&, const std::string& elementName,
                                              const std::string&, const std::string&,
                                              const XMLAttributes&) {
    if (!foundParentTag) {
        if (elementName.starts_with(parentMan)) {
            currentParent = elementName;
            foundParentTag = true;
        }
        return;
    }
    if (elementName.starts_with("tc")) {
        foundTCTag = true;
    } else if (elementName.starts_with("c")) {
        foundCodeTag = true;
        troubleCode.reset();  // the code is this element's whole text
    } else if (elementName.starts_with("d")) {
        foundDescriptionTag = true;
    }
}

void CustomTroubleCodeParser::foundCharacters(XMLParser&, const std::string& characters) {
    if (!foundTCTag) return;
    if (foundCodeTag)
        definitionxml::appendText(troubleCode, characters);
    else if (foundDescriptionTag)
        definitionxml::appendText(tcDescription, characters);
}

void CustomTroubleCodeParser::didEndElement(XMLParser&, const std::string& elementName,
                                            const std::string&, const std::string&) {
    if (!foundParentTag) return;
    if (elementName.starts_with(parentMan)) {
        foundParentTag = false;
        return;
    }
    if (elementName.starts_with("tc")) {
        if (troubleCode && tcDescription && currentParent.starts_with(parentMan))
            m_codeDictionary[*troubleCode] = *tcDescription;
        troubleCode.reset();
        tcDescription.reset();
        foundTCTag = false;
        return;
    }
    if (elementName.starts_with("c"))
        foundCodeTag = false;
    else if (elementName.starts_with("d"))
        foundDescriptionTag = false;
}

}  // namespace qz
