#pragma once

#include <optional>
#include <string>

#include "lib/Descriptions/TroubleCodeSectionParser.hpp"

namespace qz {

class QZEVagTroubleCodeStore;

// Reads the "global" section of the Volkswagen-group file into a store: "tc" entries with a
// "c" child (attribute "v": the DFCC numbers; text: the J2012 code) and a "d" child (the
// definition).
class VagTroubleCodeParser : public TroubleCodeSectionParser {
  public:
    explicit VagTroubleCodeParser(QZEVagTroubleCodeStore& store);

  protected:
    bool startsSection(const std::string& elementName,
                       const XMLAttributes& attributes) const override;
    bool endsSection(const std::string& elementName) const override;
    void foundEntry(const std::string& code, const std::string& description,
                    const std::optional<std::string>& value) override;

  private:
    QZEVagTroubleCodeStore& m_codeStore;
};

}  // namespace qz
