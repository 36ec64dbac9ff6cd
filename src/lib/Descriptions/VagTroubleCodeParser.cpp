#include "lib/Descriptions/VagTroubleCodeParser.hpp"

#include "lib/Descriptions/QZEVagTroubleCodeStore.hpp"

namespace qz {

VagTroubleCodeParser::VagTroubleCodeParser(QZEVagTroubleCodeStore& store)
    : TroubleCodeSectionParser(Descriptions::last), m_codeStore(store) {}

bool VagTroubleCodeParser::isSection(const std::string& elementName) const {
    return elementName == "global";
}

void VagTroubleCodeParser::foundEntry(const std::string& code, const std::string& description,
                                      const std::optional<std::string>& value) {
    m_codeStore.addDfcc(value, code, description);
}

}  // namespace qz
