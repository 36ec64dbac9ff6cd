#pragma once

#include <optional>
#include <string>

#include "platform/Result.hpp"
#include "platform/xml/XMLParser.hpp"

namespace qz {

class QZEVagTroubleCodeStore;

// Reads the "global" section of the Volkswagen-group file into a store: "tc" entries with a
// "c" child (attribute "v": the DFCC numbers; text: the J2012 code) and a "d" child (the
// definition).
class VagTroubleCodeParser : public XMLParserDelegate {
  public:
    explicit VagTroubleCodeParser(QZEVagTroubleCodeStore& store);

    // Parses the decrypted file; the parser's own result.
    bool parseDocumentWithFile(Data data);

    void didStartElement(XMLParser& parser, const std::string& elementName,
                         const std::string& namespaceURI, const std::string& qualifiedName,
                         const XMLAttributes& attributes) override;
    void didEndElement(XMLParser& parser, const std::string& elementName,
                       const std::string& namespaceURI, const std::string& qualifiedName) override;
    void foundCharacters(XMLParser& parser, const std::string& characters) override;

  private:
    std::optional<std::string> troubleCode;
    std::optional<std::string> tcDescription;
    std::optional<std::string> dfcc;
    bool foundGlobalTag = false;
    bool foundTCTag = false;
    bool foundCodeTag = false;
    bool foundDescriptionTag = false;
    QZEVagTroubleCodeStore& m_codeStore;
};

}  // namespace qz
