#include "lib/Descriptions/VagTroubleCodeParser.hpp"

#include "lib/Descriptions/QZEVagTroubleCodeStore.hpp"

namespace qz {

VagTroubleCodeParser::VagTroubleCodeParser(QZEVagTroubleCodeStore& store)
    : TroubleCodeSectionParser({Matching::loose, Descriptions::last, "Error parsing XML"}),
      m_codeStore(store) {}

bool VagTroubleCodeParser::startsSection(const std::string& elementName,
                                         const XMLAttributes&) const {
    return endsSection(elementName);
}

bool VagTroubleCodeParser::endsSection(const std::string& elementName) const {
    return elementName == "global";
}

void VagTroubleCodeParser::foundEntry(const std::string& code, const std::string& description,
                                      const std::optional<std::string>& value) {
    m_codeStore.addDfcc(value, code, description);
}

}  // namespace qz
