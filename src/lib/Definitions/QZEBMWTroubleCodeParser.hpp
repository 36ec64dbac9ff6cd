#pragma once

#include <optional>
#include <string>
#include <unordered_map>

#include "lib/Descriptions/QZECodeTable.hpp"
#include "lib/Descriptions/TroubleCodeSectionParser.hpp"

namespace qz {

// Reads the BMW code descriptions of one chassis from "bmw-modules": inside every "chassis"
// whose "vins" attribute contains the chassis text, each "module" ("Acronym") holds "tc"
// entries with "c" and "d" children. Each module's codes go to the caller's dictionary under
// "BMW" + chassis + acronym.
class QZEBMWTroubleCodeParser : public TroubleCodeSectionParser {
  public:
    QZEBMWTroubleCodeParser(std::string chassisID,
                            std::unordered_map<std::string, QZECodeTable>& dictionary);

    void didStartElement(XMLParser& parser, const std::string& elementName,
                         const std::string& namespaceURI, const std::string& qualifiedName,
                         const XMLAttributes& attributes) override;
    void didEndElement(XMLParser& parser, const std::string& elementName,
                       const std::string& namespaceURI, const std::string& qualifiedName) override;

  protected:
    bool startsSection(const std::string& elementName,
                       const XMLAttributes& attributes) const override;
    bool endsSection(const std::string& elementName) const override;
    void foundEntry(const std::string& code, const std::string& description,
                    const std::optional<std::string>& value) override;

  private:
    std::string chassisCode;
    std::unordered_map<std::string, QZECodeTable>& m_codeDictionary;
    std::optional<std::string> activeModule;
    bool foundChassisTag = false;
    bool foundModuleTag = false;
};

}  // namespace qz
