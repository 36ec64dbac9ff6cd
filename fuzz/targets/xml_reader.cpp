// The streaming XML reader under a delegate that takes every event, and the rebranded-VIN
// list reader, over the input as a document.

#include "FuzzTarget.hpp"
#include "lib/XMLParsers/QZERebrandedVinXmlParser.hpp"
#include "platform/xml/XMLParser.hpp"

using namespace qz;

namespace {

// Touches every event's texts; aborts at an element named "stop".
struct EveryEvent : XMLParserDelegate {
    size_t seen = 0;
    void didStartElement(XMLParser& parser, const std::string& elementName, const std::string&,
                         const std::string&, const XMLAttributes& attributes) override {
        seen += elementName.size();
        for (const auto& [name, value] : attributes) seen += name.size() + value.size();
        if (elementName == "stop") parser.abortParsing();
    }
    void didEndElement(XMLParser&, const std::string& elementName, const std::string&,
                       const std::string&) override {
        seen += elementName.size();
    }
    void foundCharacters(XMLParser&, const std::string& characters) override {
        seen += characters.size();
    }
    void parseErrorOccurred(XMLParser& parser, const XMLParseError& error) override {
        seen += error.description.size() + static_cast<size_t>(parser.lineNumber() > 0);
    }
};

}  // namespace

QZ_FUZZ_TARGET(xml_reader) {
    {
        EveryEvent events;
        XMLParser parser(std::vector<uint8_t>(data, data + size));
        parser.setDelegate(&events);
        (void)parser.parse();
        (void)parser.parse();  // a second call answers the first result
    }
    // A VIN listed in the shipped list: squish VIN 5Z6AD0ET9C.
    QZERebrandedVinXmlParser reader(std::string("5Z6AD0ETX9C123456"));
    XMLParser parser(fuzz::textOf(data, size));
    parser.setDelegate(&reader);
    (void)parser.parse();
    (void)reader.matched();
    (void)reader.manufacturer();
}
