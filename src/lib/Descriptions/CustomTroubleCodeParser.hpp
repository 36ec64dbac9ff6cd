#pragma once

#include <optional>
#include <string>

#include "lib/Descriptions/QZECodeTable.hpp"
#include "platform/Result.hpp"
#include "platform/xml/XMLParser.hpp"

namespace qz {

// Reads one table of the code-description file: the sections whose element name begins with
// the table name, each holding "tc" entries with a "c" (code) and a "d" (description) child.
// Fills the caller's table; a later entry of the same code replaces the earlier.
class CustomTroubleCodeParser : public XMLParserDelegate {
  public:
    CustomTroubleCodeParser(std::string parentMan, QZECodeTable& dictionary);

    // Parses the decrypted file; the parser's own result.
    bool parseDocumentWithFile(Data data);

    void didStartElement(XMLParser& parser, const std::string& elementName,
                         const std::string& namespaceURI, const std::string& qualifiedName,
                         const XMLAttributes& attributes) override;
    void didEndElement(XMLParser& parser, const std::string& elementName,
                       const std::string& namespaceURI, const std::string& qualifiedName) override;
    void foundCharacters(XMLParser& parser, const std::string& characters) override;

  private:
    std::string parentMan;
    std::string currentParent;
    QZECodeTable& m_codeDictionary;
    std::optional<std::string> troubleCode;
    std::optional<std::string> tcDescription;
    bool foundParentTag = false;
    bool foundTCTag = false;
    bool foundCodeTag = false;
    bool foundDescriptionTag = false;
};

}  // namespace qz
