#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "lib/Definitions/QZEnhancedDiagnosticXMLParser.hpp"
#include "lib/Facades/QZEAdapters.hpp"
#include "lib/Modules/QZEDiagnosticModule.hpp"
#include "lib/Records/QZEModuleData.hpp"

namespace qz {

class QZEVagGlobalTroubleCodeStore;

// Drives one scan's (or one clear's) modules, one at a time: loads the make's module lists,
// learns the starting bus from the sensor, picks the module class for a module's bus key and
// the make, brings the sensor into the protocol, header, mask and multi-response state that
// class needs, runs its read (retried while it answers worse than before) or its clear, and
// at the end puts the sensor back as it found it.
//
// Synchronous on the caller's thread; its pauses go through the installed clock. Not for use
// from several threads at once.
class QZEModuleScanner {
  public:
    // Engine scan types.
    static constexpr int64_t kCheckEngineScan = 0;
    static constexpr int64_t kFullScan = 1;
    static constexpr int64_t kQuickScan = 2;
    // The starting bus when the sensor named none.
    static constexpr int64_t kNoBus = 999;

    // Takes the make from the session.
    QZEModuleScanner();
    virtual ~QZEModuleScanner();
    QZEModuleScanner(const QZEModuleScanner&) = delete;
    QZEModuleScanner& operator=(const QZEModuleScanner&) = delete;

    // Loads the module lists and learns the starting bus; false when the sensor named no bus,
    // the response-byte switch was refused, or the BMW CAN set-up failed, and (before any
    // command, for a full or quick scan) when a module list the make has could not be read.
    bool setupScan(int64_t scanType);
    // The sensor set-up of a clear (the module lists stay untouched).
    bool prepareForClear();

    // Reads one module listed under the bus key; false for a null module, no module class,
    // or a failed read. The codes are then in codeArray, statusArray and definitionArray. A
    // module whose set-up the sensor refused is not read.
    bool scanModule(const QZEModuleDataPtr& module, int64_t busKey);
    // How far the last read got: complete; incomplete (the module's codes are known only in
    // part, those read are in codeArray); a set-up refused (the module, or the part of it that
    // needs the set-up, was not read); the link lost.
    QZEReadOutcome readOutcome() const { return m_readOutcome; }
    // Clears one module, then restores the sensor. Run prepareForClear first.
    bool clearModule(const QZEModuleDataPtr& module, int64_t busKey);
    // Clears the current module along its special path (GM LAN, HS-CAN, MS-CAN, Toyota
    // extended CAN, Honda DIAG-H, Hyundai MUT) or plainly.
    bool clearCodes(int64_t busKey);
    // Puts the sensor back into its ordinary OBD-II state on the starting bus. Every command is
    // sent whatever the sensor answers; restoreAccepted tells whether it took them all.
    void exitScanMode();
    // The last restore's set-up commands were all accepted (the requests it sends aside), so the
    // sensor reads the generic codes on its starting bus again.
    bool restoreAccepted() const { return m_restoreAccepted; }

    // The module class for the bus key and make, with the sensor prepared for it; null when
    // there is none. scanType is 1 when reading, 0 when clearing. Every read and clear gets
    // its module object here. A set-up command of the preparation that the sensor refuses
    // keeps the module from being read or cleared.
    virtual std::unique_ptr<QZEDiagnosticModule> loadModule(int64_t busKey, int32_t scanType);
    // Reads the current module, at most three times while it answers worse than the best
    // state remembered for it.
    bool runScan(int64_t busKey);
    // The module's key in the status manager.
    std::string moduleKey(const QZEModuleData& module);
    static std::string responseStateString(int64_t state);

    // Selects the K-line protocol unless a K-line bus is active; false when the sensor refused.
    bool ensureKLineProtocolActive();
    void initVagGlobalStore();
    bool performClearCodesOnBus(int64_t busKey);
    bool performToyotaExtendedCANClear(const QZEModuleData& module);

    // Sensor state as this scanner changed it.
    int64_t getActiveBus() const { return m_activeBus; }
    void setActiveBus(int64_t bus) { m_activeBus = bus; }
    int64_t originalBus() const { return m_originalBus; }
    // The next K-line module class waits before its first exchange.
    void resetTransmissionDelay() { m_delayTransmission = true; }
    int64_t getHighPin() const { return m_currentHighPIN; }
    void setHighPin(int64_t pin) { m_currentHighPIN = pin; }
    int64_t getLowPin() const { return m_currentLowPIN; }
    void setLowPin(int64_t pin) { m_currentLowPIN = pin; }
    void setPerformMercedesFullKlineMethod(bool value) { m_performAllMercedesModules = value; }
    int64_t manufacturer() const { return m_vehicleManufacturer; }

    // The codes of the last read (index-aligned).
    const std::vector<std::string>& codeArray() const { return m_codeArray; }
    const std::vector<std::string>& statusArray() const { return m_statusArray; }
    const std::vector<std::string>& definitionArray() const { return m_definitionArray; }
    size_t absCodeCount() const { return m_codeArray.size(); }
    int32_t requestType() const { return m_requestType; }
    // Bus key text to the modules of that bus, in definition-file order.
    const QZEModuleListsByBus& moduleDictionary() const { return m_infoKeyedByBus; }
    QZEModuleListsByBus& moduleDictionary() { return m_infoKeyedByBus; }
    // The modules a module scan would list with a firmware version read that reaches every
    // minimum, and does not while the version was not read (empty when it was), by bus key.
    const QZEModuleListsByBus& modulesNeedingFirmware() const { return m_needingFirmware; }

    // A set-up command; false, and logged as refused or not answered, unless the sensor accepted
    // it ("OK" with no refusal or error word).
    bool sendSetupCommandToOstrel(const std::string& cmd);
    // The same for a set-up command sent plain (its reply text comes back); one whose reply was
    // cut short is not accepted.
    bool sendPlainSetupCommand(const std::string& cmd);
    // A command's reply text (sendCommand's, without whether it was cut short).
    std::string sendCommandToOstrel(const std::string& cmd);
    // A command and its reply, the fact that it was cut short apart from its text.
    QZECommandReply sendCommand(const std::string& cmd);

    // The starting bus of a "KQDP" reply: its leading decimal number (after an echo of the
    // command, if any); none for an empty reply or "NO DATA".
    static std::optional<int64_t> busFromReply(std::string_view reply);

  private:
    bool setupSensor(bool notCheckEngine);
    // Fills modulesNeedingFirmware (empty with the firmware version read).
    void noteModulesNeedingFirmware(int64_t scanType);
    // Notes a set-up of the preparation: one not accepted keeps the module from being read.
    // Gives `accepted` back.
    bool prepare(bool accepted);
    // The switches of the table: multi-response on, headers on/off, raw CAN off. A flag follows
    // only a switch the sensor accepted.
    void multiResponseOnIfOff();
    void headersOnIfOff();
    void headersOffIfOn();
    void rawCanOffIfOn();
    void sendCanMask29();
    void sendCanMask11();
    std::unique_ptr<QZEDiagnosticModule> loadKLineModule(int64_t busKey);
    std::unique_ptr<QZEDiagnosticModule> loadCanModule(int64_t busKey, int32_t scanType);
    std::string activePins();

    int64_t m_vehicleManufacturer;
    int64_t m_modelYear = 1996;
    int64_t m_activeBus = 0;
    bool m_multiRespIsOn = false;
    bool m_headerDispIsOn = false;
    bool m_customCanMaskSet = false;
    bool m_delayTransmission = true;
    int64_t m_currentHighPIN = 0;
    int64_t m_currentLowPIN = 0;
    bool m_performAllMercedesModules = false;
    bool m_responseBytesOn = false;
    std::vector<std::string> m_codeArray;
    std::vector<std::string> m_definitionArray;
    std::vector<std::string> m_statusArray;
    int32_t m_requestType = 1;
    QZEModuleDataPtr m_currentModule;
    int64_t m_originalBus = kNoBus;
    QZEModuleListsByBus m_infoKeyedByBus;
    QZEModuleListsByBus m_needingFirmware;
    std::shared_ptr<QZEVagGlobalTroubleCodeStore> m_vagGlobalCodeStore;
    bool m_rawCanOn = false;
    // The last preparation (loadModule) had every set-up it sent accepted.
    bool m_prepared = true;
    QZEReadOutcome m_readOutcome = QZEReadOutcome::complete;
    bool m_restoreAccepted = true;
};

}  // namespace qz
