#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/LinkScrambler.hpp"
#include "sim/VehicleProfile.hpp"

namespace qz::sim {

// A fault the sensor applies to the commands it receives. `match` compares against the
// command with blanks removed and letters upper-cased ("01 0c" matches "010C"); an empty
// `match` applies to every command. `times` counts the commands it still applies to
// (-1: every one). Several faults may apply to the same command.
struct Fault {
    enum class Kind {
        Silence,       // no answer at all
        NoData,        // "NO DATA" instead of the answer
        Unknown,       // "?" instead of the answer
        Reply,         // `text` verbatim instead of the answer (give the prompt yourself)
        Split,         // the answer goes out in `parts` chunks, `seconds` apart
        TrailingText,  // `text` follows the prompt in the same chunk
        Delay,         // the answer goes out `seconds` after the command
        Disconnect,    // the link drops after the answer; it reappears `seconds` later (< 0: never)
    };
    Kind kind = Kind::Silence;
    std::string match;
    int times = 1;
    std::string text;
    int parts = 0;
    double seconds = 0;
    int skip = 0;  // matching commands that pass untouched before the fault applies

    // The same fault, applied only after `commands` matching commands have passed.
    Fault after(int commands) const {
        Fault f = *this;
        f.skip = commands;
        return f;
    }

    static Fault silence(int times = 1, std::string match = {});
    static Fault noData(int times = 1, std::string match = {});
    static Fault unknown(int times = 1, std::string match = {});
    static Fault reply(std::string text, int times = 1, std::string match = {});
    static Fault split(int parts, double gapSeconds = 0, int times = 1, std::string match = {});
    static Fault trailing(std::string text, int times = 1, std::string match = {});
    static Fault delay(double seconds, int times = 1, std::string match = {});
    static Fault disconnect(double reappearAfter = -1, int times = 1, std::string match = {});
};

// Something the sensor does in answer to input, `delay` seconds after that input.
struct Output {
    enum class Kind { Bytes, Disconnect, Reappear };
    Kind kind = Kind::Bytes;
    Bytes bytes;  // as they go on the wire (scrambled text, or raw acknowledgements)
    double delay = 0;
};

// The simulated sensor, independent of any transport: wire bytes in, wire bytes out.
// Thread-safe; every call takes the core's lock.
class SensorCore {
  public:
    // Answers a command (blanks removed, upper-cased) with the reply body, or declines.
    using Handler = std::function<std::optional<std::string>(const std::string& command)>;

    // The recovery-mode probe: 0x14 and "Recovery Mode?".
    static const Bytes& recoveryProbe();
    static constexpr size_t kFrameSize = 15;

    explicit SensorCore(VehicleProfile profile = VehicleProfile::builtIn());

    // Feeds wire bytes; returns what the sensor sends back, in order.
    std::vector<Output> receive(const Bytes& wire);

    // The plain reply text of one command (prompt included), as `receive` would send it
    // before scrambling and fault injection (empty for a command the profile's
    // `sensor.answers` silences). Changes the sensor state like a real command.
    std::string answer(const std::string& command);

    void addFault(Fault fault);
    void clearFaults();
    // Handlers are asked first, newest first; they extend the command language.
    void addHandler(Handler handler);

    std::vector<std::string> commands() const;  // every command received, as received
    void clearCommands();
    std::vector<Bytes> firmwareFrames() const;  // every firmware frame received (not the probe)

    bool firmwareMode() const;
    void setFirmwareMode(bool on);
    // "KQFW" was answered: the sensor restarts into its loader once the host releases the
    // link. Reading clears the request.
    bool takeLoaderRequest();
    // Restarts after the last firmware frame so far.
    int reboots() const;
    // Clock seconds from the last frame's 'D' to the dropped link, and on to the sensor
    // connecting again in command mode.
    void setRebootTimes(double dropAfter, double backAfter);
    // Whether the sensor restarts after the last frame (false: it stays silent on the link).
    void setRebootsAfterUpdate(bool on);
    bool echo() const;
    void setEcho(bool on);
    bool headers() const;
    bool multiResponse() const;
    std::string protocol() const;  // the text after the last "KQSP"/"ATSP"
    bool wifiMode() const;         // "KQAX" switched the sensor to its Wi-Fi mode
    std::string header() const;    // the text after the last "KQSH"; empty after "KQD"
    std::string pins() const;      // the connector pins in force, as "KQSM" takes them ("6E")

    VehicleProfile profile() const;
    void setProfile(VehicleProfile profile);

  private:
    struct Reply {
        std::string text;
        bool silent = false;
        double delay = 0;
        int parts = 1;
        double gap = 0;
        bool disconnect = false;
        double reappear = -1;
    };

    void feedCommandByte(uint8_t wire, std::vector<Output>& out);
    void feedText(uint8_t c, std::vector<Output>& out);
    void feedFirmware(std::vector<Output>& out);
    void runCommand(const std::string& command, std::vector<Output>& out);
    Reply applyFaults(const std::string& command, const std::string& key);
    std::string answerLocked(const std::string& command, const std::string& key);
    std::string body(const std::string& key);
    std::string obdBody(const std::string& key);
    std::optional<std::string> busSetting(const std::string& op);
    std::string moduleBody(const std::string& key);
    const ModuleProfile::Answer* moduleAnswer(size_t index, const std::string& request);
    std::string codeBody(int which) const;
    std::string vinBody(const std::string& vin) const;
    void resetState();

    mutable std::mutex mutex_;
    VehicleProfile profile_;
    std::vector<Fault> faults_;
    std::vector<Handler> handlers_;
    std::vector<std::string> commands_;
    std::vector<Bytes> frames_;
    std::string line_;
    Bytes probe_;     // raw bytes that may be the start of a probe frame
    Bytes fwBuffer_;  // raw bytes in firmware mode
    bool firmware_ = false;
    bool loaderRequested_ = false;
    int reboots_ = 0;
    double dropAfter_ = 0.5;
    double backAfter_ = 3.0;
    bool rebootAfterUpdate_ = true;
    bool linkDropped_ = false;  // the profile's dropLinkAfter has happened
    bool echo_ = false;
    bool headers_ = false;
    bool multi_ = false;
    std::string protocol_ = "0";
    bool wifiMode_ = false;
    std::string pins_;
    std::string header_;
    std::optional<uint32_t> filter_;
    std::optional<uint32_t> mask_;
    bool rawCan_ = false;         // "KQCR1"
    bool extendedCan_ = false;    // "KQCD1"
    bool responseBytes_ = false;  // "KQRP1"
    std::string interface_;       // "KQIF"
    struct ModuleState {
        bool cleared = false;
        std::optional<std::string> lastRequest;  // the entry answered last, and from which table
        bool lastFromCleared = false;
        size_t next = 0;  // which answer of that entry a repeat gets
    };
    std::vector<ModuleState> modules_;
};

}  // namespace qz::sim
