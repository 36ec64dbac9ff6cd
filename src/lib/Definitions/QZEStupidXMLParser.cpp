#include "lib/Definitions/QZEStupidXMLParser.hpp"

#include "lib/Logging/QZELogging.hpp"

namespace qz {

QZEStupidXMLParser::~QZEStupidXMLParser() {
    QZELogging::shared().logDebug("Dealloc stupid XML parser");
}

void QZEStupidXMLParser::parserDidStartDocument(XMLParser&) {
    QZELogging::shared().logDebug("parserDidStartDocument");
}

void QZEStupidXMLParser::parserDidEndDocument(XMLParser&) {
    QZELogging::shared().logDebug("parserDidEndDocument");
}

void QZEStupidXMLParser::didStartElement(XMLParser&, const std::string& elementName,
                                         const std::string&, const std::string&,
                                         const XMLAttributes&) {
    QZELogging::shared().logDebug("didStartElement --> %@", elementName);
}

void QZEStupidXMLParser::didEndElement(XMLParser&, const std::string& elementName,
                                       const std::string&, const std::string&) {
    QZELogging::shared().logDebug("didEndElement   --> %@", elementName);
}

void QZEStupidXMLParser::foundCharacters(XMLParser&, const std::string& characters) {
    QZELogging::shared().logDebug("foundCharacters --> %@", characters);
}

}  // namespace qz
