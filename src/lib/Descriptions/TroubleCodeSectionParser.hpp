#pragma once

#include <optional>
#include <string>

#include "platform/Result.hpp"
#include "platform/xml/XMLParser.hpp"

namespace qz {

// Reads the "tc" entries of the sections of a code-description file that a subclass picks:
// each entry has a "c" child (its text the code, its "v" attribute kept when there is one) and
// "d" children (the description).
class TroubleCodeSectionParser : public XMLParserDelegate {
  public:
    // How entry elements are known. Loosely: by the beginning of their names, a code or
    // description element counting anywhere in a section. Strictly: by their whole names, only
    // inside an entry, each entry starting empty.
    enum class Matching { loose, strict };
    // What an entry with several "d" children describes itself with.
    enum class Descriptions { joined, last };
    struct Reading {
        Matching matching;
        Descriptions descriptions;
        const char* parseError;  // the log line of a document that does not parse
    };

    // Parses the decrypted file; the parser's own result.
    bool parseDocumentWithFile(Data data);

    void didStartElement(XMLParser& parser, const std::string& elementName,
                         const std::string& namespaceURI, const std::string& qualifiedName,
                         const XMLAttributes& attributes) override;
    void didEndElement(XMLParser& parser, const std::string& elementName,
                       const std::string& namespaceURI, const std::string& qualifiedName) override;
    void foundCharacters(XMLParser& parser, const std::string& characters) override;

  protected:
    explicit TroubleCodeSectionParser(Reading reading) : reading(reading) {}

    // Whether the element begins a section that is read (asked outside sections only).
    virtual bool startsSection(const std::string& elementName,
                               const XMLAttributes& attributes) const = 0;
    // Whether the element ends the section being read.
    virtual bool endsSection(const std::string& elementName) const = 0;
    // An entry with both a code and a description.
    virtual void foundEntry(const std::string& code, const std::string& description,
                            const std::optional<std::string>& value) = 0;

    // The entry elements, for subclasses that find their sections themselves.
    void startEntryElement(const std::string& elementName, const XMLAttributes& attributes);
    void endEntryElement(const std::string& elementName);
    bool inEntry() const { return foundTCTag; }
    // Forgets the entry being read.
    void clearEntry();

  private:
    bool is(const std::string& elementName, const char* name) const;

    const Reading reading;
    std::optional<std::string> troubleCode;
    std::optional<std::string> tcDescription;
    std::optional<std::string> codeValue;
    bool foundSectionTag = false;
    bool foundTCTag = false;
    bool foundCodeTag = false;
    bool foundDescriptionTag = false;
};

}  // namespace qz
