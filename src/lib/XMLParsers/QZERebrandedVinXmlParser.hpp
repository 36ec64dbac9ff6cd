#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/xml/XMLParser.hpp"

namespace qz {

// Reads the rebranded-VIN list for one VIN: the first "brand" element that lists the VIN's
// squish VIN under a known parent with a nonzero make code decides.
class QZERebrandedVinXmlParser : public XMLParserDelegate {
  public:
    // The squish VIN is the VIN's first 8 characters and its 10th and 11th; a VIN of fewer
    // than 11 characters (or none) has none and matches nothing.
    explicit QZERebrandedVinXmlParser(const std::optional<std::string>& vin);

    void didStartElement(XMLParser& parser, const std::string& elementName,
                         const std::string& namespaceURI, const std::string& qualifiedName,
                         const XMLAttributes& attributes) override;

    bool matched() const { return m_matched; }
    int64_t manufacturer() const { return m_manufacturer; }
    const std::optional<std::string>& squishVin() const { return m_squishVin; }

    // Make code of a "parent" name of the list, or nullopt for a name the reader does not know.
    static std::optional<int64_t> makeCodeForParent(const std::string& parent);

    // The squish VIN of a VIN, or nullopt when it has fewer than 11 characters.
    static std::optional<std::string> squishVinFor(const std::optional<std::string>& vin);

  private:
    std::optional<std::string> m_squishVin;
    bool m_matched = false;
    int64_t m_manufacturer = 0;
};

}  // namespace qz
