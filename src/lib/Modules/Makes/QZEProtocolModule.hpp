#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lib/Modules/QZEBaseDiagnosticModule.hpp"

namespace qz {

// How a request reaches its module.
enum class QZEAddressing {
    preset,       // the scanner has set the header (Toyota units behind the body gateway)
    can,          // header "KQSH" + request id, filter "KQCF" + response id
    canNoFilter,  // header only: the answers come on other identifiers (GMLAN)
    kLine,        // header "81 <id> F1": format byte with the length, target, tester
    kLineLength,  // header "80 <id> F1": each request carries its own length byte (MUT)
    j1850Pwm,     // header "C4 <id> F1"
    j1850Vpw,     // header "6C <id> F1"
};

// The reply layout a read is decoded with.
enum class QZEReplyLayout {
    kwp2000Can,         // "58", count, (A, B, status) in the CAN frame display
    kwp2000KLine,       // the same in K-line messages (headers on or off)
    gmlan,              // "81 A B <failure type> <status>" lines
    j1850Pwm,           // "<response> A B A B" lines, headers off
    j1850VpwGm,         // "<response> A B <status>" lines, headers off
    toyotaCan,          // "53", count, (A, B) pairs on CAN
    toyotaKLine,        // the same in K-line messages, headers on
    toyotaExtendedCan,  // the same from a unit behind the gateway (extended addressing)
    uds,                // "59 <type> <mask>", (A, B, failure type, status) records
};

// One way of reading and clearing a module: the row of a module class's table.
struct QZEModuleProtocol {
    QZEAddressing addressing;
    std::string read;  // the request for the codes
    QZEReplyLayout layout;
    std::string clear;  // the request that clears them
    QZEBaseDiagnosticModule::Retry retry;
    std::string status = {};     // status of the codes whose reply gives none
    bool prefixAddress = false;  // requests start with the module's request id
    int readPositive = -1;       // byte of a positive answer to the read (-1: service + 0x40)
    int clearPositive = -1;      // the same for the clear
};

// The rows of the module classes: what each one sends, how it decodes the answer and how it
// clears. Rows for one class differ by module (UDS units, units behind a gateway).
struct QZEModuleProtocols {
    static const QZEModuleProtocol fordPwm;
    static const QZEModuleProtocol fordCanKwp;
    static const QZEModuleProtocol fordCanUds;
    static const QZEModuleProtocol gmVpw;
    static const QZEModuleProtocol gmCan;
    static const QZEModuleProtocol chryslerVpw;
    static const QZEModuleProtocol chryslerCan;
    static const QZEModuleProtocol toyotaCan;
    static const QZEModuleProtocol toyotaExtendedCan;
    static const QZEModuleProtocol toyotaKLine;
    static const QZEModuleProtocol hondaKLine;
    static const QZEModuleProtocol hondaCan;
    static const QZEModuleProtocol hyundaiKLine;
    static const QZEModuleProtocol hyundaiCan;
    static const QZEModuleProtocol hyundaiMut;
};

// A module class that reads and clears through a table row. The class picks the row for each
// module; this layer selects the module's protocol and pins (putting the sensor's back
// afterwards), addresses the module, sends the request with the row's retries, decodes the
// reply and completes the codes: statuses the reply did not give and the module's own
// descriptions from its definition ("dtcsDict").
class QZEProtocolModule : public QZEBaseDiagnosticModule {
  public:
    using QZEBaseDiagnosticModule::QZEBaseDiagnosticModule;

    // True when the module answered the read positively.
    bool scanCodes(QZEModuleData& module) override;
    // True when the module answered the clear positively.
    bool clearCodes(QZEModuleData& module) override;

    // The messages of a K-line reply, each from its service byte on: a line shown with headers
    // ("<format> <target> <source> [length] data... <checksum>") loses its header, length byte
    // and checksum; a line without (its first byte a service byte) stands as it is.
    static std::vector<std::vector<std::string>> kLineMessages(std::string_view reply);
    // The sensor's header text for a module address ("KQSH81" + id + "F1", ...); none for CAN
    // and preset addressing.
    static std::optional<std::string> lineHeader(QZEAddressing addressing, const std::string& id);

  protected:
    // The row for a module.
    virtual QZEModuleProtocol protocolFor(const QZEModuleData& module) const = 0;
    // Whether the module's protocol and pins are selected for its exchange.
    virtual bool selectsModuleBus() const { return true; }
    // The protocol the module is reached on: its "protocol" extra, if any.
    virtual std::optional<std::string> protocolOf(const QZEModuleData& module) const;
    // Runs before each read and clear (a K-line class waits here when asked to).
    virtual void beforeExchange() {}
    // Runs after a read that worked.
    virtual void afterGoodRead(QZEModuleData&) {}

    bool read(QZEModuleData& module, const QZEModuleProtocol& row);
    bool clear(QZEModuleData& module, const QZEModuleProtocol& row);

    // Runs the exchange with the module's protocol and pins in force, then puts the sensor's
    // protocol and pins back as they were.
    bool onModuleBus(const QZEModuleData& module, const std::function<bool()>& exchange);
    // Sets the header (and filter) that reaches the module.
    void address(const QZEModuleData& module, QZEAddressing addressing);
    // The request as sent: with the module's request id in front when the row asks for it.
    static std::string requestText(const QZEModuleData& module, const std::string& request,
                                   const QZEModuleProtocol& row);
    // Decodes a reply with a layout.
    void decode(std::string_view reply, const QZEModuleProtocol& row);
    // True when the reply answers positively with the byte (service + 0x40 unless given): the
    // first byte of a K-line message, or any byte token of another reply.
    static bool answeredPositively(std::string_view reply, const std::string& request, int positive,
                                   bool kLine);
    // Gives codes without a status the status, and codes without a description the module's
    // own description of the code.
    void completeCodes(const QZEModuleData& module, const std::string& status);
    // Adds a code with a description; a known code keeps its place, merges the status and
    // joins a description it does not hold yet.
    void addDescribedCode(const std::string& code, const std::string& status,
                          const std::string& description);
    // Replaces the code lists with the given parallel lists, merging repeated codes.
    void replaceCodes(const std::vector<std::string>& codes,
                      const std::vector<std::string>& statuses,
                      const std::vector<std::string>& descriptions);
    // The pins in force as "KQSM" takes them ("70", "6E").
    static std::string activePins();
    // Waits before the first K-line exchange after a pin switch or set-up.
    static void waitBeforeFirstKLineExchange();
};

}  // namespace qz
