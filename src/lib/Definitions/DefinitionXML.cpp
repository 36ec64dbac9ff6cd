#include "lib/Definitions/DefinitionXML.hpp"

#include "lib/Logging/QZELogging.hpp"

namespace qz::definitionxml {

std::vector<std::string_view> splitList(std::string_view list) {
    std::vector<std::string_view> items;
    while (true) {
        const auto comma = list.find(',');
        items.push_back(list.substr(0, comma));
        if (comma == std::string_view::npos) break;
        list.remove_prefix(comma + 1);
    }
    return items;
}

bool listContains(std::string_view list, std::string_view item) {
    for (auto part : splitList(list))
        if (part == item) return true;
    return false;
}

std::optional<std::string> vinPart(const std::optional<std::string>& vin, size_t position,
                                   size_t length) {
    if (!vin || vin->size() < position + length) return std::nullopt;
    return vin->substr(position, length);
}

bool parseDocument(Data data, XMLParserDelegate& delegate, std::string_view failureLine) {
    XMLParser parser(std::move(data));
    parser.setDelegate(&delegate);
    parser.setShouldResolveExternalEntities(false);
    const bool ok = parser.parse();
    auto& log = QZELogging::shared();
    if (const auto& error = parser.parserError())
        log.logDebug("XMLParser error: %@", error->description);
    log.logDebug(ok ? std::string_view("OK") : failureLine);
    return ok;
}

}  // namespace qz::definitionxml
