#pragma once

#include <string>

#include "platform/xml/XMLParser.hpp"

namespace qz {

// A parser delegate that only logs each event at debug level; a tool for looking at a
// definition file's events. Nothing reads what it sees.
class QZEStupidXMLParser : public XMLParserDelegate {
  public:
    QZEStupidXMLParser() = default;
    ~QZEStupidXMLParser() override;
    QZEStupidXMLParser(const QZEStupidXMLParser&) = delete;
    QZEStupidXMLParser& operator=(const QZEStupidXMLParser&) = delete;

    void parserDidStartDocument(XMLParser& parser) override;
    void parserDidEndDocument(XMLParser& parser) override;
    void didStartElement(XMLParser& parser, const std::string& elementName,
                         const std::string& namespaceURI, const std::string& qualifiedName,
                         const XMLAttributes& attributes) override;
    void didEndElement(XMLParser& parser, const std::string& elementName,
                       const std::string& namespaceURI, const std::string& qualifiedName) override;
    void foundCharacters(XMLParser& parser, const std::string& characters) override;
};

}  // namespace qz
