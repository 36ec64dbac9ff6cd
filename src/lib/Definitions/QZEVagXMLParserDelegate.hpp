#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include "lib/Records/QZEModuleData.hpp"
#include "platform/xml/XMLParser.hpp"

namespace qz {

class QZEVagTroubleCodeStore;

// Reads the Volkswagen-group module list "vag-modules-tcs" into module records, appended to the
// caller's list: the generic modules of the "global" section ("can" on the CAN bus keys 1 and
// 98, "kline" on the others) and, on bus key 1, the modules of the "pdx" sections that list the
// vehicle. Each module's "tc" entries fill its own code store ("VAG_CODE_STORE"); a module whose
// request/response key is listed already is left out.
class QZEVagXMLParserDelegate : public XMLParserDelegate {
  public:
    QZEVagXMLParserDelegate(std::optional<std::string> vin, bool quickScan, int64_t busType,
                            std::vector<QZEModuleDataPtr>& modules);

    // VIN characters 1, 4, 7 and 8; "NOTSET" for a VIN that is not 17 characters long.
    static std::string vehicleIdFromVin(const std::optional<std::string>& vin);

    void didStartElement(XMLParser& parser, const std::string& elementName,
                         const std::string& namespaceURI, const std::string& qualifiedName,
                         const XMLAttributes& attributes) override;
    void didEndElement(XMLParser& parser, const std::string& elementName,
                       const std::string& namespaceURI, const std::string& qualifiedName) override;
    void foundCharacters(XMLParser& parser, const std::string& characters) override;

  private:
    void startModule(const XMLAttributes& attributes);
    void endModule();

    std::optional<std::string> m_vin;
    std::string m_vehicleId;
    bool m_quickScan;
    bool m_isCan;
    std::vector<QZEModuleDataPtr>& m_modules;
    bool m_validModule = false;
    QZEModuleDataPtr m_currentModule;
    std::shared_ptr<QZEVagTroubleCodeStore> m_codeStore;
    bool m_inTcDef = false;
    std::optional<std::string> m_currentDfcc;
    std::optional<std::string> m_currentJ2012;
    std::optional<std::string> m_currentDefn;
    bool m_inCodeSection = false;
    bool m_inDefnSection = false;
    bool m_inGlobalSection = false;
    bool m_loadTp2Addresses;
    bool m_isPdx = false;
    QZEDictionary m_currentDict;
    int64_t m_busType;
    // Request/response keys of the listed modules.
    std::unordered_set<std::string> m_listedKeys;
};

}  // namespace qz
