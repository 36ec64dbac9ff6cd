#include "lib/XMLParsers/QZERebrandedVinChecker.hpp"

#include "lib/Content/DefinitionFile.hpp"
#include "lib/Logging/QZELogging.hpp"
#include "lib/XMLParsers/QZERebrandedVinXmlParser.hpp"
#include "platform/xml/XMLParser.hpp"

namespace qz {

QZERebrandedVinChecker::QZERebrandedVinChecker(std::optional<std::filesystem::path> filename)
    : m_filename(std::move(filename)) {}

int64_t QZERebrandedVinChecker::checkVinForMake(const std::optional<std::string>& vin) {
    if (!m_filename) {
        QZELogging::shared().logError("Error, no filename provided for cross listed vins");
        return 0;
    }
    // Each check answers for its own VIN only.
    m_matched = false;
    if (!QZERebrandedVinXmlParser::squishVinFor(vin)) return 0;

    auto document = DefinitionFile::load(*m_filename);
    if (!document) return 0;

    QZERebrandedVinXmlParser reader(vin);
    XMLParser parser(std::move(*document));
    parser.setDelegate(&reader);
    parser.parse();  // a malformed document ends early; what matched so far stands

    m_matched = reader.matched();
    return reader.manufacturer();
}

}  // namespace qz
