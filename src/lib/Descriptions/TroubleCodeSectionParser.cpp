#include "lib/Descriptions/TroubleCodeSectionParser.hpp"

#include "lib/Definitions/DefinitionXML.hpp"

namespace qz {

bool TroubleCodeSectionParser::parseDocumentWithFile(Data data) {
    return definitionxml::parseDocument(std::move(data), *this, "Error parsing XML");
}

void TroubleCodeSectionParser::didStartElement(XMLParser&, const std::string& elementName,
                                               const std::string&, const std::string&,
                                               const XMLAttributes& attributes) {
    if (!foundSectionTag) {
        foundSectionTag = isSection(elementName);
        return;
    }
    if (elementName.starts_with("tc")) {
        foundTCTag = true;
    } else if (elementName.starts_with("c")) {
        foundCodeTag = true;
        troubleCode.reset();  // the code is this element's whole text
        codeValue = definitionxml::attribute(attributes, "v");
    } else if (elementName.starts_with("d")) {
        foundDescriptionTag = true;
        if (descriptions == Descriptions::last) tcDescription.reset();
    }
}

void TroubleCodeSectionParser::foundCharacters(XMLParser&, const std::string& characters) {
    if (!foundTCTag) return;
    if (foundCodeTag)
        definitionxml::appendText(troubleCode, characters);
    else if (foundDescriptionTag)
        definitionxml::appendText(tcDescription, characters);
}

void TroubleCodeSectionParser::didEndElement(XMLParser&, const std::string& elementName,
                                             const std::string&, const std::string&) {
    if (!foundSectionTag) return;
    if (isSection(elementName)) {
        foundSectionTag = false;
        return;
    }
    if (elementName.starts_with("tc")) {
        if (troubleCode && tcDescription) foundEntry(*troubleCode, *tcDescription, codeValue);
        troubleCode.reset();
        tcDescription.reset();
        codeValue.reset();
        foundTCTag = false;
        return;
    }
    if (elementName.starts_with("c"))
        foundCodeTag = false;
    else if (elementName.starts_with("d"))
        foundDescriptionTag = false;
}

}  // namespace qz
