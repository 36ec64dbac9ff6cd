#pragma once

#include <atomic>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "lib/Decoders/QZEModuleReply.hpp"
#include "lib/Facades/QZEAdapters.hpp"
#include "lib/Records/QZEModuleData.hpp"
#include "lib/Scanning/QZEModuleScanner.hpp"
#include "platform/NotificationCenter.hpp"

namespace qz {

// Receives the modules of a scan and the requests for the user.
class QZEEnhancedScannerDelegate {
  public:
    virtual ~QZEEnhancedScannerDelegate() = default;
    // One module has been read: on the main queue (directly when the scan runs there), every
    // module of the scan in the order read.
    virtual void scannedModule(const QZEModuleDataPtr& module) = 0;
    // The user must act; the scan waits until interactionComplete is called.
    virtual void interactionRequired(const std::string& message) = 0;
};

// A caller error of the pin-pair read.
struct QZEScanCallError {
    std::string name;
    std::string reason;
};

using QZEModuleArray = std::vector<QZEModuleDataPtr>;

// The top of a scan: loads the make's module lists through a module scanner, walks the modules
// bus by bus with the make's strategy, reports every module to its delegate, and reads the
// generic OBD-II codes. Synchronous on the caller's thread, where it blocks while the sensor
// answers, while it pauses and while it waits for the user; interactionComplete and the link
// notifications may come from any thread.
class QZEnhancedScanner {
  public:
    // Engine scan types, as the module scanner's.
    static constexpr int64_t kCheckEngineScan = QZEModuleScanner::kCheckEngineScan;
    static constexpr int64_t kFullScan = QZEModuleScanner::kFullScan;
    static constexpr int64_t kQuickScan = QZEModuleScanner::kQuickScan;

    // Watches "DeviceDisconnected" and "DeviceTimedOut", either of which ends the scan at the
    // next module (its outcome: the link lost).
    QZEnhancedScanner();
    virtual ~QZEnhancedScanner();
    QZEnhancedScanner(const QZEnhancedScanner&) = delete;
    QZEnhancedScanner& operator=(const QZEnhancedScanner&) = delete;

    // Makes the module scanner and sets the sensor up; the expected number of module reads
    // (2 for the generic read, plus the modules for a full or quick scan), 0 when the set-up
    // failed.
    int64_t loadScan(int64_t scanType);
    // Runs the module scan (the argument is not used) and restores the sensor. A module read
    // only in part, or one whose set-up the sensor refused, makes the outcome worse and the scan
    // reads on; only a lost link stops it. A restore the sensor refused makes the outcome a
    // refused set-up.
    void startScan(int64_t scanType);
    // Whether the generic codes can be read after the module scan: the link is there and the
    // sensor took its restore (always before a module scan). A link found gone is noted.
    bool mayReadGenericCodes();
    // Reads the stored and pending codes (and the permanent ones when asked) as one module
    // "OBD", or three when useSeperateEmissionsModules is set. A request that is no code list
    // (see isCodeListAnswer) makes the outcome incomplete; the whole codes it held still count
    // (outside flagged frames), its module is left out when it held none, and so is the merged
    // module when it holds no code. When the sensor named no vehicle bus (0) at the
    // scan's start, answers without any code say nothing of codes either: the outcome is
    // incomplete, with no module.
    void startBasicObdScan(bool includePermanent);
    // The user has done what interactionRequired asked: posts "PelkInteractionComplete".
    void interactionComplete();

    bool keyFlickRequiredBeforeScan() const;
    void scanComplete(const QZEModuleArray& modules);

    // How far the scan got so far; the link is looked at too (a closed one is seen before its
    // notification comes).
    QZEReadOutcome scanOutcome() const;
    // Makes the scan's outcome at least `outcome`.
    void noteOutcome(QZEReadOutcome outcome);
    // The scan cannot say it read everything: its outcome is not complete.
    bool scanErrorDuringScan() const { return scanOutcome() != QZEReadOutcome::complete; }
    // Set: the scan stops as on a lost link. Cleared: the outcome is complete again.
    void setScanErrorDuringScan(bool value);
    // The link went away: nothing more is read.
    bool linkLost() const { return scanOutcome() == QZEReadOutcome::linkLost; }
    bool awaitingInteraction() const { return m_awaitingInteraction; }
    bool useSeperateEmissionsModules() const { return m_useSeperateEmissionsModules; }
    void setUseSeperateEmissionsModules(bool value) { m_useSeperateEmissionsModules = value; }
    std::shared_ptr<QZEEnhancedScannerDelegate> delegate() const;
    void setDelegate(std::weak_ptr<QZEEnhancedScannerDelegate> delegate);
    int64_t totalModules() const { return m_totalModules; }
    // Null before loadScan.
    const std::shared_ptr<QZEModuleScanner>& moduleScanner() const { return m_scanner; }

    static int32_t countModulesForScan(const QZEModuleListsByBus& modules);
    static bool isManufacturer(int64_t make);
    static bool doesEnhancedScannerSupportCurrentManufacturer();

    // --- Steps of the scan ---

    // One module of the generic bus loop; the module when it found codes and is no duplicate
    // of one already kept for the bus (whose lists then take its new codes), else null.
    QZEModuleDataPtr filterEnhancedData(const QZEModuleDataPtr& module, QZEModuleScanner& scanner,
                                        QZEModuleArray& kept, const std::string& busKey);
    void performEnhancedScanForManufacturer(int64_t make,
                                            const std::shared_ptr<QZEModuleScanner>& scanner,
                                            std::weak_ptr<QZEEnhancedScannerDelegate> caller);
    void performGMScan(QZEModuleScanner& scanner);
    void performFordScan(QZEModuleScanner& scanner, bool doMsCan);
    void performToyotaScan(QZEModuleScanner& scanner);
    void performBMWKBusScan(QZEModuleScanner& scanner);
    void performHondaScan(QZEModuleScanner& scanner);
    void peformMercedesScan(QZEModuleScanner& scanner);
    void performHyundaiScan(QZEModuleScanner& scanner);

    // The modules whose flag is off (filter YES) or on (filter NO), in order.
    static QZEModuleArray filterExtendedCANModules(const QZEModuleArray& modules,
                                                   bool filterExtended);
    static QZEModuleArray filterHondaDIAGHModules(const QZEModuleArray& modules, bool filterDIAGH);
    static QZEModuleArray filterHondaDIAGHOnlyModules(const QZEModuleArray& modules,
                                                      bool filterDIAGHOnly);

    // Called on a module that found codes before it is delivered.
    using Marker = std::function<void(QZEModuleData&)>;
    // Reads a bus's modules and delivers each on the main queue; the modules that found
    // codes. A module delivered before by this scanner is read as a copy.
    QZEModuleArray scanModules(const QZEModuleArray& modules, const std::string& busKey,
                               QZEModuleScanner& scanner, const Marker& mark = {});
    // The same on each high pin in turn (low pins: none, or one per high pin); a module that
    // answered on its own pins is named "<acronym>-<pin value in hex>".
    std::expected<QZEModuleArray, QZEScanCallError> scanModules(
        const QZEModuleArray& modules, const std::string& busKey,
        const std::vector<int64_t>& highPins, const std::optional<std::vector<int64_t>>& lowPins,
        QZEModuleScanner& scanner, bool allowDuplicateAddresses = true, const Marker& mark = {});

    // --- Generic OBD-II read and code texts ---

    // Tokens at white space and line ends, without empty tokens and ">".
    static std::vector<std::string> cleanResponseString(std::string_view reply);
    // Whether a reply to a generic code command ("KQTC", "KQTCP", "KQTCA", or the "AT" forms) is
    // the sensor's code list: the request did not fail (no adapter, time-out, link closed), and
    // every line is a list of codes ("P0420", "U0100-87"), each after a header if shown, or bytes
    // (byte counts), or the sensor's notice, its "NO DATA", the echo of the command or empty.
    // "?", an error word, a negative answer ("7F 03 22", a bare "7F") and any other token (a code
    // cut short, junk, a code that lost its letter: "0420", or "420" alone on its line) are none.
    // "NO DATA", an empty reply and the echo alone are a list without codes. Lines of bytes are
    // read in the display form told (QZEVehicle::displayForm()) when it shows headers, by their
    // shape otherwise.
    static bool isCodeListAnswer(const OptionalText& reply, const QZEDisplayForm& display = {});
    // The module of a "KQTC"/"KQTCP"/"KQTCA" reply: its J2012 codes (a failure-type byte after
    // one is dropped: "U0100-87" is U0100) with the type as status; other tokens are ignored.
    QZEModuleDataPtr basicCodeResponseToQZEModuleDataWithString(const std::string& reply,
                                                                const std::string& type);
    // Merges one code into a module (statuses upper-cased, status words joined by "/").
    static void addCode(const std::string& code, const std::string& status,
                        const std::optional<std::string>& description, QZEModuleData& module);
    // Fills the missing or placeholder code texts of a module from the catalogues.
    void populateCodeDefs(QZEModuleData& module);

  protected:
    // The module scanner of a new scan.
    virtual std::shared_ptr<QZEModuleScanner> makeModuleScanner();

  private:
    struct Flags {
        std::atomic<int> outcome{static_cast<int>(QZEReadOutcome::complete)};
        void note(QZEReadOutcome o) {
            int now = outcome.load();
            while (now < static_cast<int>(o) &&
                   !outcome.compare_exchange_weak(now, static_cast<int>(o))) {
            }
        }
    };

    // Hands a module to the delegate on the main queue (directly when already there), in the
    // order read: the one road of every module of the scan.
    void deliver(const QZEModuleDataPtr& module);
    // Gives a delivered record the code lists of `from`, on the same road, after it.
    void deliverCodes(const QZEModuleDataPtr& record, const QZEModuleData& from);
    // Restores the sensor after the module scan; a restore refused makes the outcome a refused
    // set-up.
    void restore();
    // A set-up command of a strategy (sent plain when asked); a refusal makes the outcome a
    // refused set-up and answers false: the modules that need it are not read.
    bool setUp(QZEModuleScanner& scanner, const std::string& cmd, bool plain = false);
    // scanModules; with alwaysCopy every module is read as a copy.
    QZEModuleArray readBus(const QZEModuleArray& modules, const std::string& busKey,
                           QZEModuleScanner& scanner, const Marker& mark, bool alwaysCopy);
    // Reads one module and takes over the scanner's codes; a read that could not be finished
    // makes the scan's outcome worse. `listed` is the record of the module lists it stands for.
    void readModule(const QZEModuleDataPtr& record, QZEModuleScanner& scanner,
                    const std::string& busKey, const QZEModuleDataPtr& listed);
    // The link went away (linkLost), noted as the scan's outcome: the scan stops here.
    bool linkGone();
    // Whether a Ford-strategy scan of that make reads the high-speed list again on MS-CAN (else
    // on the alternate HS-CAN pins, when the firmware has them).
    static bool fordReadsMsCan(int64_t make);
    // Why a pass left modules of the lists unread.
    enum class Missed {
        setUp,     // the sensor did not accept (or answer) a set-up the pass needs
        firmware,  // the pass needs a firmware the sensor is not known to have (its version
                   // was not read at this connection)
    };
    // Modules of a bus's list that the pass in force (its pins and method) did not read.
    void noteSkipped(const QZEModuleArray& listed, const std::string& busKey,
                     Missed why = Missed::setUp);
    // Gives back `lets`, the firmware check's answer for a pass over `modules` on the line in
    // force. A pass it does not let be made while the version was not read at this connection
    // (the check went by a guess, or by nothing) has its modules noted as skipped for their
    // firmware: a version not read may choose what is tried, never leave a module out unsaid.
    bool firmwareLets(bool lets, const QZEModuleArray& modules, const std::string& busKey);
    // A pin pass reads the list on each of `allHighPins` (as a firmware that reaches every
    // minimum has them); the firmware let it be read on `readHighPins` only: the other pin pairs
    // go through firmwareLets as passes not made.
    void firmwareLetsPins(const std::vector<int64_t>& readHighPins,
                          const std::vector<int64_t>& allHighPins, const QZEModuleArray& modules,
                          const std::string& busKey);
    // Logs the listed modules that some pass skipped and none answered on the same line, one
    // line per reason ("Modules not read, ...: <name>[ on <line>] with request_ID: <id>; ...").
    void logModulesNotRead();
    const QZEModuleArray* modulesOf(QZEModuleScanner& scanner, const std::string& key) const;
    std::string pinSwitchCommand(int64_t pinValue) const;

    std::shared_ptr<QZEModuleScanner> m_scanner;
    int64_t m_totalModules = 0;
    std::atomic<bool> m_awaitingInteraction{false};
    std::shared_ptr<Flags> m_flags = std::make_shared<Flags>();
    std::atomic<bool> m_useSeperateEmissionsModules{false};
    mutable std::mutex m_mutex;
    std::weak_ptr<QZEEnhancedScannerDelegate> m_delegate;
    // Records this scanner has delivered, each with a copy taken before it was handed over
    // (scanning thread only).
    std::unordered_map<QZEModuleDataPtr, QZEModuleDataPtr> m_delivered;

  public:
    // Where a module is read: its bus, and the pins and method of the pass.
    struct Line {
        std::string bus;     // the bus key (the alternate BMW method's 99 is the K-line, 4)
        std::string pins;    // the pin pair of a pin pass ("80"), else empty
        std::string method;  // "MS-CAN", "HS-CAN pins 3/11", "DIAG-H", else empty
    };

  private:
    // The modules of the lists a pass skipped, and those that answered, each known by name,
    // request id and line: a module read on one line says nothing of it on another.
    struct Ledger {
        struct Entry {
            QZEModuleDataPtr module;
            Line line;
            Missed why;
        };
        std::vector<Entry> unread;
        std::unordered_set<std::string> heard;
        void answered(const QZEModuleDataPtr& listed, const Line& line);
        void skipped(const QZEModuleArray& listed, const Line& line, Missed why);
        // Adds another scanner's (and empties it).
        void take(Ledger& other);
    };
    Ledger m_ledger;
    // The pins and method of the pass in force (scanning thread only).
    Line m_pass;
    // The line of a module read on `busKey` by the pass in force.
    Line lineOf(const std::string& busKey) const;
    // Puts a pass's pins or method in force for its life.
    class PassLine;
    std::vector<ObserverToken> m_observers;
};

}  // namespace qz
