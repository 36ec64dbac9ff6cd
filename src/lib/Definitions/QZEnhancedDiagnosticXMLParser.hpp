#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "lib/Records/OrderedDictionary.hpp"
#include "lib/Records/QZEModuleData.hpp"

namespace qz {

// The module lists of one scan, by bus key text ("1", "98", ...), in scan order.
using QZEModuleList = std::vector<QZEModuleDataPtr>;
using QZEModuleListsByBus = OrderedDictionary<QZEModuleList>;

// Loads the definition files of a vehicle: from the make, the OBD-II protocol text and the
// sensor's firmware it chooses the buses to scan, then reads each bus's module list (an XML file
// of "enhanceddiag", or the Mercedes JSON definitions) into module records. With quick scan only
// the modules marked common are listed. Runs on the caller's thread.
class QZEnhancedDiagnosticXMLParser {
  public:
    QZEnhancedDiagnosticXMLParser(int64_t manufacturer, std::optional<std::string> protocol,
                                  std::optional<std::string> vin, bool quickScan);
    ~QZEnhancedDiagnosticXMLParser();
    QZEnhancedDiagnosticXMLParser(const QZEnhancedDiagnosticXMLParser&) = delete;
    QZEnhancedDiagnosticXMLParser& operator=(const QZEnhancedDiagnosticXMLParser&) = delete;

    // Reads the list of every bus, in order; a bus without a file or data has no entry.
    QZEModuleListsByBus loadXml();
    // The module-list files a bus needed that were missing, did not decrypt, did not parse in
    // full or held no module at all (each logged), in the order they were tried.
    const std::vector<std::string>& unreadableFiles() const { return m_unreadableFiles; }
    // Reads one bus's list into the result; false when the bus has no file or no data.
    bool loadVehicleManEnhancedDiag(int64_t manufacturer, int64_t bus);
    bool processMercedesWithBus(int64_t bus);
    bool processEnhancedManufacturer(int64_t manufacturer, int64_t bus);

    // The bus keys to scan, in order (computed at construction).
    const std::vector<int64_t>& obd2Buses() const { return m_obd2Protocols; }
    // What has been read so far.
    const QZEModuleListsByBus& infoKeyedByBus() const { return m_infoKeyedByBus; }

    // The module-list file of a make and bus, or none when that bus has no file; `logLine` gets
    // the make's verbose loading line, when it has one.
    static std::optional<std::string> fileNameFor(int64_t manufacturer, int64_t bus,
                                                  std::optional<std::string>* logLine = nullptr);

  private:
    void setVehicleOBD2Buses();
    void unreadable(const std::string& file, const std::string& why);
    void mergeMitsubishiAbsModules(QZEModuleList& modules, int64_t bus) const;
    void removeUnsupportedPinModules(QZEModuleList& modules) const;

    int64_t m_vehicleManufacturer;
    std::vector<int64_t> m_obd2Protocols{0};
    std::optional<std::string> m_obd2Protocol;
    int64_t m_activeBus = 0;
    std::optional<std::string> m_vin;
    bool m_quickScan;
    QZEModuleListsByBus m_infoKeyedByBus;
    std::vector<std::string> m_unreadableFiles;
};

// Which Ford vehicles have a medium-speed CAN bus ("enhanceddiag/ms_vin_mappings.json").
class QZEMSCanHelper {
  public:
    // True when the file lists the VIN's characters 5-7 under its model-year character (the
    // tenth); false for a VIN that is not 17 characters long (without reading the file), or when
    // the file cannot be read.
    bool isMsCanSupportedByVin(const std::optional<std::string>& vin) const;
};

}  // namespace qz
