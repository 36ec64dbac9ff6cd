#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lib/Modules/QZEBaseDiagnosticModule.hpp"

namespace qz {

class QZEBitEncodedAddress;

// How a request reaches its module.
enum class QZEAddressing {
    preset,       // the scanner (or the class) has set the header; with prefixAddress the
                  // module's address goes in front of every request (extended addressing)
    can,          // header "KQSH" + request id, filter "KQCF" + response id
    canNoFilter,  // header only: the answers come on other identifiers (GMLAN)
    kLine,        // header "81 <id> F1": format byte with the length, target, tester
    kLineLength,  // header "80 <id> F1": a length byte follows the header
    j1850Pwm,     // header "C4 <id> F1"
    j1850Vpw,     // header "6C <id> F1"
};

// The reply layout a read is decoded with.
enum class QZEReplyLayout {
    kwp2000Can,         // "58", count, (A, B, status) in the CAN frame display
    kwp2000KLine,       // the same in K-line messages, under the read's positive answer
    gmlan,              // "81 A B <failure type> <status>" lines
    j1850Pwm,           // "<response> A B A B" lines, headers off
    j1850VpwGm,         // "<response> A B <status>" lines, headers off
    toyotaCan,          // "53", count, (A, B) pairs on CAN
    toyotaKLine,        // the same in K-line messages, headers on
    toyotaExtendedCan,  // the same from a unit behind the gateway (extended addressing)
    uds,                // "59 <type> <mask>", (A, B, failure type, status) records
    extendedUds,        // the same with extended addressing (an address byte before each frame)
    bitTable,           // "61 <byte> <fault bits>" K-line answers to "21 <byte>", one per byte
};

// One way of reading and clearing a module: a row of the table below.
struct QZEModuleProtocol {
    QZEAddressing addressing;
    std::string read;  // the request for the codes (the request's first byte for a bit table)
    QZEReplyLayout layout;
    std::string clear;  // the request that clears them
    QZEBaseDiagnosticModule::Retry retry;
    std::string status = {};     // status of the codes whose reply gives none
    bool prefixAddress = false;  // requests start with the module's request id
    int readPositive = -1;       // byte of a positive answer to the read (-1: service + 0x40)
    int clearPositive = -1;      // the same for the clear
    bool showHeaders = false;    // the exchange runs with headers shown ("H1", then "H0")
    std::string protocol = {};   // the sensor protocol the row needs (pins kept), if any
};

// The rows of the module classes: what each one sends, how it decodes the answer and how it
// clears. A class picks its row by module; rows several makes share are named by protocol.
struct QZEModuleProtocols {
    static const QZEModuleProtocol kwpKLine;  // KWP2000 "18 00 FF 00" on K-line
    static const QZEModuleProtocol kwpCan;    // KWP2000 "18 00 FF 00" on CAN
    static const QZEModuleProtocol udsCan;    // UDS "19 02 FF" on CAN
    static const QZEModuleProtocol udsCanHeaders;
    static const QZEModuleProtocol fordPwm;
    static const QZEModuleProtocol gmVpw;
    static const QZEModuleProtocol gmCan;
    static const QZEModuleProtocol chryslerVpw;
    static const QZEModuleProtocol toyotaCan;
    static const QZEModuleProtocol toyotaExtendedCan;
    static const QZEModuleProtocol toyotaKLine;
    static const QZEModuleProtocol hondaBitTable;
    static const QZEModuleProtocol hyundaiMut;
    static const QZEModuleProtocol bmwKLine;
    static const QZEModuleProtocol bmwCan;
    static const QZEModuleProtocol mercedesKwp2000;
    static const QZEModuleProtocol mercedesKwfb;
    static const QZEModuleProtocol mercedesMbIso;
    static const QZEModuleProtocol mercedesKwpCan;
    static const QZEModuleProtocol mitsubishiBitTable;
};

// How a class selects the module's own protocol and pins (its "protocol" and "pins" extras).
enum class QZEBusChoice {
    restore,   // both for the exchange
    keepPins,  // a protocol switch keeps the pins in force unless the module names its own
};
// Either way the sensor's protocol and pins are put back after the exchange.

// Where the module classes differ in how they meet the sensor: one row per kind of class.
struct QZEModuleTraits {
    QZEBusChoice bus;
    double startDelay;  // seconds the line rests before the first exchange, when asked to
    bool notesPins;     // a good read notes the pins it answered on ("RESPONSE_PIN_COMMAND")
    // A code with a failure type ("P0171-00") takes the text of its base code in the module's
    // table with the failure type's; without, such a code's text is the scan's to fill.
    bool failureTypeTexts;

    static const QZEModuleTraits restoring;     // GM, Chrysler, Ford, Toyota, Honda, Hyundai
    static const QZEModuleTraits hyundaiKLine;  // the same, resting 1 s and noting its pins
    static const QZEModuleTraits kLine;         // BMW, Nissan, Mercedes, VAG, Mitsubishi, Subaru
    static const QZEModuleTraits can;           // the CAN classes of those makes
};

// A code with the text its module's definition gives (empty: none).
struct QZEDescribedCode {
    std::string code;
    std::string definition;
};

// The layer between the base class and every manufacturer module class. A class is its table
// rows plus what is its own: this layer selects the module's protocol and pins (by the class's
// traits), rests the line when asked, addresses the module, sends the request with the row's
// retries, checks the positive answer, decodes the reply and completes the codes: statuses the
// reply did not give, one description per code, and the module's own texts from its definition.
class QZEMakeModule : public QZEBaseDiagnosticModule {
  public:
    QZEMakeModule(int64_t manufacturer, const QZEModuleTraits& traits);

    // Reads (clears) with the module's row; true when the module answered positively.
    bool scanCodes(QZEModuleData& module) override;
    bool clearCodes(QZEModuleData& module) override;

    // The module scanner asks the first K-line module after its set-up or a pin switch to rest
    // the line (the class's start delay) before its first exchange.
    void setDelayTransmission(bool value) { m_delayTransmission = value; }
    bool delayTransmission() const { return m_delayTransmission; }

    // Two upper-case hex digits.
    static std::string hexByte(int value);
    // A module address or identifier as the sensor takes it: "$" and blanks removed, upper
    // case; none when nothing is left.
    static std::optional<std::string> address(const std::optional<std::string>& id);

  protected:
    // The row for a module.
    virtual QZEModuleProtocol protocolFor(const QZEModuleData& module) const = 0;
    // Whether the module's protocol and pins are selected for its exchange.
    virtual bool selectsModuleBus() const { return true; }
    // The protocol the module is reached on: its "protocol" extra, if any.
    virtual std::optional<std::string> protocolOf(const QZEModuleData& module) const;
    // The address the module answers from, as the sensor shows it: its response id.
    virtual std::optional<std::string> answersFrom(const QZEModuleData& module) const;

    // A read: `exchange` (by default the row's read on the module's bus), then the codes
    // completed with the row's status and, after a good read of a class that notes them, the
    // pins. The decoders' hooks find the module in readingModule() meanwhile.
    bool read(QZEModuleData& module, const QZEModuleProtocol& row,
              const std::function<bool()>& exchange = nullptr);
    // The row's clear on the module's bus.
    bool clear(QZEModuleData& module, const QZEModuleProtocol& row);
    // The module being read, or none.
    const QZEModuleData* readingModule() const { return m_readingModule; }

    // Runs `exchange` with the module's bus selected and the line rested when asked; then
    // puts the sensor's protocol and pins back as they were. When the sensor refuses the
    // module's protocol or pins the exchange is not run (false); either refused, the read's
    // outcome is a refused set-up.
    bool onModuleBus(const QZEModuleData& module, const std::function<bool()>& exchange);
    // The same with the row's protocol in force and the module addressed, headers shown for the
    // rows that want them (false, and the exchange not run, when one of these fails).
    bool onModuleBus(const QZEModuleData& module, const QZEModuleProtocol& row,
                     const std::function<bool()>& exchange);
    // Sends the header (and filter) that reaches the module; false when the module has no
    // address or the sensor refused it (the read's outcome: a refused set-up).
    bool addressModule(const QZEModuleData& module, const QZEModuleProtocol& row);
    // The question of a request of the row to the module: the row's framing, the request's
    // service, the positive answer (`positive`, else the service + 0x40), the address the module
    // answers from (its response id; none where the answers come on other identifiers) and, for
    // the read, the layout of its records.
    QZEAsked askedFor(const QZEModuleData& module, const QZEModuleProtocol& row,
                      const std::string& request, int positive = -1) const;
    // Sends a request of the row to the addressed module (its address in front where the row
    // says so) with the row's retries: the last reply, classified.
    QZEModuleReply sendRow(const QZEModuleData& module, const QZEModuleProtocol& row,
                           const std::string& request, const QZEAsked& asked);
    // Sends the row's read to the addressed module and decodes its answer (readWhileCutShort).
    bool readAddressed(const QZEModuleData& module, const QZEModuleProtocol& row);
    // A read's answer with the checks of its layout that go beyond its records: a GM list whose
    // last message is not its end record (the code bytes 00 00) stopped before its end (cut
    // short), messages after its end, or a negative answer beside it, make it damaged. Other
    // replies stay as they are.
    static QZEModuleReply checkedList(QZEModuleReply reply, QZEReplyLayout layout);
    // Reads with `readOnce` and hands the positive messages to `decode`. An answer cut short or
    // damaged is asked for up to twice more; a whole answer then replaces the codes of the
    // others, else (cut every time, or no whole answer when read again) the codes of every
    // answer are kept: the whole records of messages cut short, nothing of a damaged message
    // (readableMessages). Cut or damaged to the end, or pending or busy to the end, the module is
    // logged as incomplete and the read's outcome is incomplete. True when any answer gave a
    // readable positive message.
    bool readWhileCutShort(const QZEModuleData& module,
                           const std::function<QZEModuleReply()>& readOnce,
                           const std::function<void(const QZEModuleReply&)>& decode);
    // Logs the addresses whose answers the reply set aside: the module does not answer from
    // them.
    void noteSetAside(const QZEModuleData& module, const QZEModuleReply& reply);
    // Decodes the readable positive messages of a reply to the row's read.
    void decodeMessages(const QZEModuleReply& reply, const QZEModuleProtocol& row);
    // Sends the row's clear to the addressed module; true when it was answered positively.
    bool clearAddressed(const QZEModuleData& module, const QZEModuleProtocol& row);

    // --- Fault tables: bit tables and read-outs, one request each ---

    // What a read of several fault tables met.
    struct Tables {
        bool answered = false;    // a table answered positively
        bool refused = false;     // a table the module refused: it has no such table, no faults
        bool unreadable = false;  // a table answered and could not be read: damaged, cut short,
                                  // pending or busy to the end
        std::string unanswered;   // the tables without an answer (unreadable ones included)
    };
    // Reads a bit-encoded fault table, a byte at a time (the row's read byte and the table
    // byte): each set bit is the fault of the table, reported as its J2012 code where the
    // module's "dtcJ2012EncodedDict" gives one, with the table's status or the row's. True
    // when any byte was answered. A byte the module did not answer leaves its faults unknown
    // (see endTableRead).
    bool readBitTable(const QZEModuleData& module, const QZEBitEncodedAddress& table,
                      const QZEModuleProtocol& row);
    // One fault table's answer to `cmd`, asked for again up to twice while it is damaged or cut
    // short. A positive answer holding a message that is the table's (`ours`), or the module's
    // refusal (the table answered, without faults), counts as answered; what else came is noted
    // in `tables` under `name`.
    QZEModuleReply requestTable(const QZEModuleData& module, const std::string& cmd,
                                const QZEModuleProtocol& row, const QZEAsked& asked,
                                const std::function<bool(const QZEMessageBytes&)>& ours,
                                const std::string& name, Tables& tables);
    // Ends a read of several fault tables: with a table answered, refused or one that could not
    // be read, tables left unanswered make the read incomplete (logged); tables that could not be
    // read alone are no answer. Returns whether any table answered positively.
    bool endTableRead(const QZEModuleData& module, const Tables& tables);

    // Selects a protocol and, when that moved them, the pins in force before; false when the
    // sensor refused either.
    bool selectProtocolKeepingPins(const std::string& protocol);

    // Shows headers for the life of the object when asked to and they are off, and hides them
    // again. Showing them refused, the read's outcome is a refused set-up; hiding them again
    // refused is only logged (the read is done, and the sensor's state is followed).
    class ShownHeaders {
      public:
        ShownHeaders(QZEBaseDiagnosticModule& module, bool show);
        ~ShownHeaders();
        ShownHeaders(const ShownHeaders&) = delete;
        ShownHeaders& operator=(const ShownHeaders&) = delete;
        // False when the sensor refused to show them.
        bool accepted() const { return accepted_; }

      private:
        QZEBaseDiagnosticModule& module_;
        bool shown_;
        bool accepted_ = true;
    };

    // --- Results ---

    // Adds a code with a description (none: empty or "No description available"); the filler
    // code is left out. A known code keeps its place, merges the status and joins a
    // description it does not hold yet.
    void addDescribedCode(const std::string& code, const std::string& status,
                          const std::string& description);
    // Replaces the code lists with the given parallel lists, merging repeated codes.
    void replaceCodes(const std::vector<std::string>& codes,
                      const std::vector<std::string>& statuses,
                      const std::vector<std::string>& descriptions);
    // Gives codes without a status `status`, and lines up one description per code: the one
    // the class gave, else the code's text in the module's code table ("dtcsDict"). Where the
    // class's traits say so, a code with a failure type ("P0171-00") takes its base code's text
    // and the failure type's text from the catalogue; when the catalogue cannot tell the
    // failure type, the text stays empty for the scan to fill from the catalogue, unless
    // `completeTexts` (the scan will not fill it), when the base code's text is kept alone.
    // Codes without any text stay empty.
    void finishCodes(const QZEModuleData& module, const std::string& status,
                     bool completeTexts = false);
    // After a good read: the pins the module answered on, as "RESPONSE_PIN_COMMAND", when the
    // sensor's pins are known.
    void notePins(QZEModuleData& module) const;

    const QZEModuleTraits& traits() const { return m_traits; }

  private:
    struct Bus;
    Bus selectModuleBus(const QZEModuleData& module);
    // False when the sensor refused to go back.
    bool restoreBus(const Bus& before);
    // ": <failure type text>" of a code with a failure type, as the catalogue words it for this
    // module's make; empty when the catalogue does not know the code's base.
    std::string failureTypeText(const std::string& code) const;

    const QZEModuleTraits& m_traits;
    std::atomic<bool> m_delayTransmission{false};
    const QZEModuleData* m_readingModule = nullptr;
    // The pins a read was answered on, taken before the bus was put back.
    std::optional<std::string> m_answeredPins;
};

}  // namespace qz
