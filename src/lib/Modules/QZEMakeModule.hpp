#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lib/Modules/QZEBaseDiagnosticModule.hpp"

namespace qz {

// The bytes of one vehicle message, service byte first, as hex tokens ("58", "01", ...).
using QZEMessageBytes = std::vector<std::string>;

// A K-line KWP2000 way of reaching a module: the sensor protocol it needs (empty: the one in
// force), the format byte of the three-byte header (format, module address, tester F1), and the
// read and clear requests. One row per make and method.
struct QZEKLineMethod {
    const char* name;
    const char* protocol;
    const char* format;
    const char* read;
    const char* clear;
};

// A CAN way of reading a module: the reply layout, the read and clear requests, and whether
// the exchange shows headers (the scanner leaves them off on that class's bus and the layout
// wants them). One row per make and method.
struct QZECanMethod {
    enum class Layout { uds, kwp2000, extendedUds };
    Layout layout;
    const char* read;
    const char* clear;
    bool showHeaders;
};

// A code with the text its module's definition gives (empty: none).
struct QZEDescribedCode {
    std::string code;
    std::string definition;
};

// One KWP2000 trouble-code record: the two code bytes and the status byte.
struct QZEKwpRecord {
    int a;
    int b;
    int status;
};

// The layer between the base class and the manufacturer module classes: reply layouts of the
// K-line and CAN messages, the exchanges every make repeats (select the module, send with the
// engine's retries, decode or check the answer), and the code descriptions a module's
// definition supplies. A class is its table rows plus what is its own.
class QZEMakeModule : public QZEBaseDiagnosticModule {
  public:
    using QZEBaseDiagnosticModule::QZEBaseDiagnosticModule;

    // --- Reply layouts ---

    // The messages of a K-line reply. With headers shown, a line is <format> <target> <source>
    // [<length>] <data...> <checksum>; a line whose header and checksum agree loses them. Any
    // other line is a message as it stands.
    static std::vector<QZEMessageBytes> kLineMessages(std::string_view reply);
    // The messages of an ISO-TP CAN reply in any display state.
    static std::vector<QZEMessageBytes> canMessages(std::string_view reply);
    // The messages of a CAN reply with extended addressing: every frame starts with the
    // sender's address byte, then the ISO-TP frame (an identifier in front is skipped).
    static std::vector<QZEMessageBytes> extendedMessages(std::string_view reply);
    // The first message that answers the service positively (service + 0x40 first).
    static std::optional<QZEMessageBytes> positiveMessage(
        const std::vector<QZEMessageBytes>& messages, std::string_view request);
    // The records after the count of a KWP2000 trouble-code reply (service byte, count,
    // records of three bytes); a record cut short is left out.
    static std::vector<QZEKwpRecord> kwpRecords(const QZEMessageBytes& message);

    // Two upper-case hex digits.
    static std::string hexByte(int value);
    // A module address or identifier as the sensor takes it: "$" marks removed, upper case;
    // none when nothing is left.
    static std::optional<std::string> address(const std::optional<std::string>& id);

  protected:
    // --- K-line ---

    // Brings the sensor to the module: its "protocol" extra, then its "pins" extra, or, when
    // it has none, back to the pins in force before (a protocol switch also selects pins, and
    // the scanner may be reading on other pins). With `waitFirst` it first lets the bus rest.
    void prepareKLine(const QZEModuleData& module, bool waitFirst);
    // For a read on a pin pair: the high pin the scanner switched to (low pin none), selected
    // again when something since (the scanner's switch to the K-line protocol) moved the pins.
    void keepHighPin(int64_t highPin);
    // Selects the protocol of a method, keeping the pins in force.
    void selectProtocolKeepingPins(const std::string& protocol);
    // The three-byte header to the module: format, address, tester.
    bool selectKLineModule(const std::string& format, const std::string& moduleAddress);
    // Sends a K-line request with the K-line retries; the positive answer, if any.
    std::optional<QZEMessageBytes> kLineRequest(const std::string& request);
    // Reads KWP2000 codes with the base decoder; true when the module answered positively.
    bool readKLineCodes(const std::string& request);
    // Sends a clear; true when the module confirmed it.
    bool clearKLine(const std::string& request);
    // After a good read: the pins the module answered on, as "RESPONSE_PIN_COMMAND".
    void notePins(QZEModuleData& module) const;
    // Reads (or clears) the module with one of the methods, in order, until one answers.
    bool readKLine(QZEModuleData& module, const QZEKLineMethod& method);
    bool clearKLine(const QZEModuleData& module, const QZEKLineMethod& method);

    // --- CAN ---

    // Header and filter to the module's request and response identifiers.
    bool selectCanModule(const QZEModuleData& module);
    // Sends a CAN request with the CAN retries; the reply.
    std::string canRequest(const std::string& request);
    // Reads codes in the method's layout (`prefix` goes before the request, as the extended
    // address does); true when the module answered positively.
    bool readCanCodes(const QZECanMethod& method, const std::string& prefix = "");
    bool clearCan(const QZECanMethod& method, const std::string& prefix = "");

    // Shows headers for the life of the object when asked to, and hides them again.
    class ShownHeaders {
      public:
        ShownHeaders(QZEBaseDiagnosticModule& module, bool show);
        ~ShownHeaders();
        ShownHeaders(const ShownHeaders&) = delete;
        ShownHeaders& operator=(const ShownHeaders&) = delete;

      private:
        QZEBaseDiagnosticModule& module_;
        bool shown_;
    };

    // --- Results ---

    // Adds a code with its description from the module's own definition.
    void addDescribedCode(const std::string& code, const std::string& status,
                          const std::string& description);
    // Lines up the description list with the codes: the description a class gave, else the
    // code's text in the module's code table ("dtcsDict"). A code with a failure type
    // ("P0171-00") takes its base code's text and the failure type's text from the catalogue;
    // when the catalogue cannot tell the failure type, the text stays empty for the scan to fill
    // from the catalogue, unless `completeTexts` (the scan will not fill it), when the base
    // code's text is kept alone. Codes without any text stay empty.
    void finishDefinitions(const QZEModuleData& module, bool completeTexts = false);

  private:
    // ": <failure type text>" of a code with a failure type, as the catalogue words it for this
    // module's make; empty when the catalogue does not know the code's base.
    std::string failureTypeText(const std::string& code) const;

    std::map<std::string, std::string> m_descriptions;
};

}  // namespace qz
