#pragma once

#include <optional>
#include <string>

#include "platform/Result.hpp"
#include "platform/xml/XMLParser.hpp"

namespace qz {

// Reads the "tc" entries of the sections of a code-description file that a subclass picks:
// each entry has a "c" child (its text the code, its "v" attribute kept when there is one) and
// "d" children (the description). Inside a section, elements are known by the beginning of
// their names.
class TroubleCodeSectionParser : public XMLParserDelegate {
  public:
    // What an entry with several "d" children describes itself with.
    enum class Descriptions { joined, last };

    // Parses the decrypted file; the parser's own result.
    bool parseDocumentWithFile(Data data);

    void didStartElement(XMLParser& parser, const std::string& elementName,
                         const std::string& namespaceURI, const std::string& qualifiedName,
                         const XMLAttributes& attributes) override;
    void didEndElement(XMLParser& parser, const std::string& elementName,
                       const std::string& namespaceURI, const std::string& qualifiedName) override;
    void foundCharacters(XMLParser& parser, const std::string& characters) override;

  protected:
    explicit TroubleCodeSectionParser(Descriptions descriptions) : descriptions(descriptions) {}

    // Whether the element begins (or ends) a section that is read.
    virtual bool isSection(const std::string& elementName) const = 0;
    // An entry with both a code and a description.
    virtual void foundEntry(const std::string& code, const std::string& description,
                            const std::optional<std::string>& value) = 0;

  private:
    const Descriptions descriptions;
    std::optional<std::string> troubleCode;
    std::optional<std::string> tcDescription;
    std::optional<std::string> codeValue;
    bool foundSectionTag = false;
    bool foundTCTag = false;
    bool foundCodeTag = false;
    bool foundDescriptionTag = false;
};

}  // namespace qz
