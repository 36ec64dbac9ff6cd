#pragma once

#include <optional>
#include <string>
#include <unordered_map>

#include "lib/Descriptions/QZECodeTable.hpp"
#include "platform/Result.hpp"
#include "platform/xml/XMLParser.hpp"

namespace qz {

// Reads the BMW code descriptions of one chassis from "bmw-modules": inside every "chassis"
// whose "vins" attribute contains the chassis text, each "module" ("Acronym") holds "tc"
// entries with "c" and "d" children. Each module's codes go to the caller's dictionary under
// "BMW" + chassis + acronym.
class QZEBMWTroubleCodeParser : public XMLParserDelegate {
  public:
    QZEBMWTroubleCodeParser(std::string chassisID,
                            std::unordered_map<std::string, QZECodeTable>& dictionary);

    // Parses the decrypted file; the parser's own result.
    bool parseDocumentWithFile(Data data);

    void didStartElement(XMLParser& parser, const std::string& elementName,
                         const std::string& namespaceURI, const std::string& qualifiedName,
                         const XMLAttributes& attributes) override;
    void didEndElement(XMLParser& parser, const std::string& elementName,
                       const std::string& namespaceURI, const std::string& qualifiedName) override;
    void foundCharacters(XMLParser& parser, const std::string& characters) override;

  private:
    std::string chassisCode;
    std::unordered_map<std::string, QZECodeTable>& m_codeDictionary;
    std::optional<std::string> troubleCode;
    std::optional<std::string> tcDescription;
    std::optional<std::string> activeModule;
    bool foundChassisTag = false;
    bool foundModuleTag = false;
    bool foundTCTag = false;
    bool foundCodeTag = false;
    bool foundDescriptionTag = false;
};

}  // namespace qz
