#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qz {

class XMLParser;

// Attributes of one element, by name.
using XMLAttributes = std::map<std::string, std::string>;

// Why a parse stopped early.
struct XMLParseError {
    int code = 0;     // expat's error code; XMLParser::kAborted when the delegate aborted
    long line = 0;    // 1-based
    long column = 0;  // 0-based
    std::string description;
};

// Receiver of the parse events. Every event runs synchronously inside XMLParser::parse(),
// on the caller's thread. The delegate may call parser.abortParsing() from any event.
class XMLParserDelegate {
  public:
    virtual ~XMLParserDelegate() = default;
    virtual void parserDidStartDocument(XMLParser& parser) {}
    virtual void parserDidEndDocument(XMLParser& parser) {}
    // Without namespace processing namespaceURI and qualifiedName are empty and elementName
    // is the name as written (prefix included).
    virtual void didStartElement(XMLParser& parser, const std::string& elementName,
                                 const std::string& namespaceURI, const std::string& qualifiedName,
                                 const XMLAttributes& attributes) {}
    virtual void didEndElement(XMLParser& parser, const std::string& elementName,
                               const std::string& namespaceURI, const std::string& qualifiedName) {}
    // Text of an element; one run of text may arrive in several pieces.
    virtual void foundCharacters(XMLParser& parser, const std::string& characters) {}
    // Called once when the document is malformed or the parse was aborted.
    virtual void parseErrorOccurred(XMLParser& parser, const XMLParseError& error) {}
};

// Event-driven (streaming) XML reader over expat. The document is parsed where it lies, so
// memory use does not grow with the document beyond the input buffer itself.
// External entities are never fetched; internal entity expansion is bounded by expat.
class XMLParser {
  public:
    static constexpr int kAborted = -1;

    explicit XMLParser(std::vector<uint8_t> data);
    explicit XMLParser(std::string_view text);
    XMLParser(const XMLParser&) = delete;
    XMLParser& operator=(const XMLParser&) = delete;

    // Not owned; must outlive parse().
    void setDelegate(XMLParserDelegate* delegate) { m_delegate = delegate; }
    XMLParserDelegate* delegate() const { return m_delegate; }

    // Kept for callers that state it; external entities are never resolved either way.
    void setShouldResolveExternalEntities(bool resolve) { m_resolveExternal = resolve; }
    bool shouldResolveExternalEntities() const { return m_resolveExternal; }

    // Parses the whole document; true when it was well-formed and not aborted.
    // A parser runs once; a second call answers the first result.
    bool parse();

    // Stops the running parse after the current event; parse() then answers false.
    void abortParsing();

    const std::optional<XMLParseError>& parserError() const { return m_error; }
    // Where the parse stopped (its end after a whole document); 0 before parse() returns.
    long lineNumber() const;
    long columnNumber() const;

    // The most bytes one call of expat takes: a real document goes over in one piece, parsed
    // where it lies, neither copied nor gone over twice.
    static constexpr std::size_t kPieceLimit = 0x7FFFFFFF;
    // What counts as a large document (the piece size of a streaming feed).
    static constexpr std::size_t kChunkSize = 64 * 1024;

  private:
    struct Callbacks;
    struct ExpatFree {
        void operator()(void* parser) const;
    };
    // Reads the position off a finished parse, the first time it is asked for: expat finds it
    // by going over the whole document once more.
    void settlePosition() const;

    std::vector<uint8_t> m_data;
    XMLParserDelegate* m_delegate = nullptr;
    bool m_resolveExternal = false;
    bool m_aborted = false;
    std::optional<bool> m_result;
    std::optional<XMLParseError> m_error;
    void* m_expat = nullptr;
    mutable std::unique_ptr<void, ExpatFree> m_finished;  // until its position is read
    mutable long m_line = 0;
    mutable long m_column = 0;
    // The attributes handed to the delegate, and nodes kept for the next element's.
    XMLAttributes m_attributes;
    std::vector<XMLAttributes::node_type> m_spareAttributes;
};

}  // namespace qz
