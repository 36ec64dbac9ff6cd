#pragma once

#include <optional>
#include <string>

#include "lib/Descriptions/QZECodeTable.hpp"
#include "lib/Descriptions/TroubleCodeSectionParser.hpp"

namespace qz {

// Reads one table of the code-description file: the sections whose element name begins with
// the table name, each holding "tc" entries with a "c" (code) and a "d" (description) child.
// Fills the caller's table; a later entry of the same code replaces the earlier.
class CustomTroubleCodeParser : public TroubleCodeSectionParser {
  public:
    CustomTroubleCodeParser(std::string parentMan, QZECodeTable& dictionary);

  protected:
    bool startsSection(const std::string& elementName,
                       const XMLAttributes& attributes) const override;
    bool endsSection(const std::string& elementName) const override;
    void foundEntry(const std::string& code, const std::string& description,
                    const std::optional<std::string>& value) override;

  private:
    std::string parentMan;
    QZECodeTable& m_codeDictionary;
};

}  // namespace qz
