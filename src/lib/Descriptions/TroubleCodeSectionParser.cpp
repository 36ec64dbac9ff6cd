#include "lib/Descriptions/TroubleCodeSectionParser.hpp"

#include "lib/Definitions/DefinitionXML.hpp"

namespace qz {

bool TroubleCodeSectionParser::parseDocumentWithFile(Data data) {
    return definitionxml::parseDocument(std::move(data), *this, reading.parseError);
}

bool TroubleCodeSectionParser::is(const std::string& elementName, const char* name) const {
    return reading.matching == Matching::strict ? elementName == name
                                                : elementName.starts_with(name);
}

void TroubleCodeSectionParser::didStartElement(XMLParser&, const std::string& elementName,
                                               const std::string&, const std::string&,
                                               const XMLAttributes& attributes) {
    if (!foundSectionTag) {
        foundSectionTag = startsSection(elementName, attributes);
        return;
    }
    startEntryElement(elementName, attributes);
}

void TroubleCodeSectionParser::didEndElement(XMLParser&, const std::string& elementName,
                                             const std::string&, const std::string&) {
    if (!foundSectionTag) return;
    if (endsSection(elementName)) {
        foundSectionTag = false;
        return;
    }
    endEntryElement(elementName);
}

void TroubleCodeSectionParser::foundCharacters(XMLParser&, const std::string& characters) {
    if (!foundTCTag) return;
    if (foundCodeTag)
        definitionxml::appendText(troubleCode, characters);
    else if (foundDescriptionTag)
        definitionxml::appendText(tcDescription, characters);
}

void TroubleCodeSectionParser::startEntryElement(const std::string& elementName,
                                                 const XMLAttributes& attributes) {
    const bool strict = reading.matching == Matching::strict;
    if (is(elementName, "tc")) {
        foundTCTag = true;
        if (strict) troubleCode.reset(), tcDescription.reset();
    } else if (strict && !foundTCTag) {
        return;
    } else if (is(elementName, "c")) {
        foundCodeTag = true;
        troubleCode.reset();  // the code is this element's whole text
        codeValue = definitionxml::attribute(attributes, "v");
    } else if (is(elementName, "d")) {
        foundDescriptionTag = true;
        if (reading.descriptions == Descriptions::last) tcDescription.reset();
    }
}

void TroubleCodeSectionParser::endEntryElement(const std::string& elementName) {
    if (is(elementName, "tc")) {
        if (troubleCode && tcDescription) foundEntry(*troubleCode, *tcDescription, codeValue);
        troubleCode.reset();
        tcDescription.reset();
        codeValue.reset();
        foundTCTag = false;
    } else if (is(elementName, "c")) {
        foundCodeTag = false;
    } else if (is(elementName, "d")) {
        foundDescriptionTag = false;
    }
}

void TroubleCodeSectionParser::clearEntry() {
    troubleCode.reset();
    tcDescription.reset();
    codeValue.reset();
    foundTCTag = foundCodeTag = foundDescriptionTag = false;
}

}  // namespace qz
