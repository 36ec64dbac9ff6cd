#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "lib/Records/QZEModuleData.hpp"
#include "platform/xml/XMLParser.hpp"

namespace qz {

class QZEBitEncodedAddress;
class QZESubaruCodeStore;

// Reads a module-list file of any make but the Volkswagen group and Mercedes into module
// records, appended to the caller's list: "module" elements with their attributes, their code
// tables ("tc"), bit-encoded fault tables ("address", "model", "bit") and Subaru detail codes.
// BMW files are read only inside the "chassis" that lists the VIN.
class QZEBasicXMLParserDelegate : public XMLParserDelegate {
  public:
    QZEBasicXMLParserDelegate(int64_t manufacturer, int64_t bus, bool quickScan,
                              std::optional<std::string> vin,
                              std::vector<QZEModuleDataPtr>& modules);

    void didStartElement(XMLParser& parser, const std::string& elementName,
                         const std::string& namespaceURI, const std::string& qualifiedName,
                         const XMLAttributes& attributes) override;
    void didEndElement(XMLParser& parser, const std::string& elementName,
                       const std::string& namespaceURI, const std::string& qualifiedName) override;
    void foundCharacters(XMLParser& parser, const std::string& characters) override;

  private:
    void startModule(const XMLAttributes& attributes);
    void startCode(const XMLAttributes& attributes);
    void startSubaruCode(const XMLAttributes& attributes);
    void startModel(const XMLAttributes& attributes);
    void startBit(const XMLAttributes& attributes);
    void endModule();
    void storeChildCode();
    // The J2012 table of the current module's extras, made on first use.
    QZEDictionary& j2012Table();

    int64_t m_vehicleManufacturer;
    int64_t m_busType;
    bool m_quickScan;
    std::optional<std::string> m_vin;
    std::vector<QZEModuleDataPtr>& m_modules;
    bool m_foundBMWChassisSection = false;
    bool m_inModuleSection = false;
    std::optional<QZEDictionary> m_extraDict;
    QZEModuleDataPtr m_currentModule;
    QZEDictionary m_codeDict;
    bool m_inAddressSection = false;
    std::optional<std::string> m_currentByte;
    std::shared_ptr<QZEBitEncodedAddress> m_currentBitEncodedAddress;
    std::shared_ptr<QZESubaruCodeStore> m_subaruCodeStore;
    bool m_correctModel = true;
    bool m_foundTC = false;
    bool m_foundC = false;
    bool m_foundD = false;
    std::optional<std::string> m_currentCode;
    std::optional<std::string> m_currentDefinition;
    std::optional<std::string> m_currentStatus;
};

}  // namespace qz
