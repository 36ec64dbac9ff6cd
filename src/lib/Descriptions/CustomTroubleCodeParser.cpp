#include "lib/Descriptions/CustomTroubleCodeParser.hpp"

namespace qz {

CustomTroubleCodeParser::CustomTroubleCodeParser(std::string parentMan, QZECodeTable& dictionary)
    : TroubleCodeSectionParser({Matching::loose, Descriptions::joined, "Error parsing XML"}),
      parentMan(std::move(parentMan)),
      m_codeDictionary(dictionary) {}

bool CustomTroubleCodeParser::startsSection(const std::string& elementName,
                                            const XMLAttributes&) const {
    return endsSection(elementName);
}

bool CustomTroubleCodeParser::endsSection(const std::string& elementName) const {
    return elementName.starts_with(parentMan);
}

void CustomTroubleCodeParser::foundEntry(const std::string& code, const std::string& description,
                                         const std::optional<std::string>&) {
    m_codeDictionary[code] = description;
}

}  // namespace qz
