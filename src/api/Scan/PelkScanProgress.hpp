#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "api/Scan/PelkModule.hpp"
#include "platform/Result.hpp"

namespace qz {

// What the user must do before a scan goes on; the app calls the listener once it is done.
// The library reports every interaction as `custom`.
class InteractionType {
  public:
    enum class Kind { keyFlick, custom };
    // Called by the app once the user has done it: once, from any thread, also from within the
    // scan listener. The waiting scan then goes on.
    using Listener = std::function<void()>;

    // The two forms; the library makes only `custom` ones.
    static InteractionType keyFlick(Listener listener) {
        return InteractionType(Kind::keyFlick, {}, std::move(listener));
    }
    static InteractionType custom(std::string msg, Listener listener) {
        return InteractionType(Kind::custom, std::move(msg), std::move(listener));
    }

    // Which form it is.
    Kind kind() const { return kind_; }
    // The text to show the user (empty for keyFlick).
    const std::string& msg() const { return msg_; }
    const Listener& listener() const { return listener_; }

  private:
    InteractionType(Kind kind, std::string msg, Listener listener)
        : kind_(kind), msg_(std::move(msg)), listener_(std::move(listener)) {}
    Kind kind_;
    std::string msg_;
    Listener listener_;
};

// Why a scan did not run or did not finish.
class PelkScanError {
  public:
    enum class Kind {
        timeout,              // declared for the app; never reported
        general,              // the gateway was released before the scan ran (code 460):
                              // keep the gateway for the app's life
        disconnected,         // no sensor connected: connect first
        communicaton,         // the sensor dropped or stopped answering during the scan: the
                              // modules read so far come with it; reconnect and scan again
        enhancedUnsupported,  // no manufacturer scan for the make; the generic scan goes on
        errorLoading,         // the scan could not be loaded for the make (its definition
                              // files): report it; a check-engine (cel) scan may still work
        deviceBusy,           // another operation holds the gateway: try again after it
        notInitialized,       // the sensor did not start up: connect again (a sensor in
                              // recovery mode needs a firmware update first)
    };

    // One value per case.
    static PelkScanError timeout(PelkModules modules) {
        return PelkScanError(Kind::timeout, std::move(modules));
    }
    static PelkScanError general(int64_t code, std::string description) {
        PelkScanError e(Kind::general);
        e.code_ = code;
        e.description_ = std::move(description);
        return e;
    }
    static PelkScanError disconnected(PelkModules modules) {
        return PelkScanError(Kind::disconnected, std::move(modules));
    }
    static PelkScanError communicaton(PelkModules modules) {
        return PelkScanError(Kind::communicaton, std::move(modules));
    }
    static PelkScanError enhancedUnsupported() { return PelkScanError(Kind::enhancedUnsupported); }
    static PelkScanError errorLoading() { return PelkScanError(Kind::errorLoading); }
    static PelkScanError deviceBusy() { return PelkScanError(Kind::deviceBusy); }
    static PelkScanError notInitialized() { return PelkScanError(Kind::notInitialized); }

    // Which case it is.
    Kind kind() const { return kind_; }
    // The modules of timeout, disconnected and communicaton (reported so far); else empty.
    const PelkModules& modules() const { return modules_; }
    // The values of general; 0 and empty otherwise.
    int64_t code() const { return code_; }
    const std::string& generalDescription() const { return description_; }

  private:
    explicit PelkScanError(Kind kind, PelkModules modules = {})
        : kind_(kind), modules_(std::move(modules)) {}
    Kind kind_;
    PelkModules modules_;
    int64_t code_ = 0;
    std::string description_;
};

// The case name ("communicaton", "deviceBusy", ...).
std::string describe(PelkScanError::Kind kind);
std::string describe(const PelkScanError& error);

// What a scan listener receives.
class PelkScanProgress {
  public:
    enum class Kind { update, complete, error, interactionRequired };
    // A scan's end: the modules that answered, or why it did not complete.
    using ScanResult = Result<PelkModules, PelkScanError>;

    // The modules reported so far divided by the module reads expected (1 when all are done;
    // not clamped).
    static PelkScanProgress update(float percentage) {
        PelkScanProgress p(Kind::update);
        p.percentage_ = percentage;
        return p;
    }
    // The end of a scan: the modules in the order they were reported, or an error.
    static PelkScanProgress complete(ScanResult result) {
        PelkScanProgress p(Kind::complete);
        p.result_ = std::move(result);
        return p;
    }
    // A problem; nothing more follows unless it is enhancedUnsupported.
    static PelkScanProgress error(PelkScanError error) {
        PelkScanProgress p(Kind::error);
        p.error_ = std::move(error);
        return p;
    }
    // The scan waits for the user.
    static PelkScanProgress interactionRequired(InteractionType type) {
        PelkScanProgress p(Kind::interactionRequired);
        p.interaction_ = std::move(type);
        return p;
    }

    // Which case it is.
    Kind kind() const { return kind_; }
    // The fraction of update (0 for the other cases).
    float percentage() const { return percentage_; }
    // Present for complete only.
    const std::optional<ScanResult>& result() const { return result_; }
    // Present for error only.
    const std::optional<PelkScanError>& error() const { return error_; }
    // Present for interactionRequired only.
    const std::optional<InteractionType>& interaction() const { return interaction_; }

  private:
    explicit PelkScanProgress(Kind kind) : kind_(kind) {}
    Kind kind_;
    float percentage_ = 0;
    std::optional<ScanResult> result_;
    std::optional<PelkScanError> error_;
    std::optional<InteractionType> interaction_;
};

// Why a clear was refused or failed.
class PelkClearError {
  public:
    enum class Kind {
        communication,  // the exchange with the sensor failed: check the link, try again
        notScanned,     // the module was not reported by the latest scan: scan again and clear
                        // a module of that scan
        disconnected,   // no sensor connected: connect first
        deviceBusy,     // another operation holds the gateway: try again after it
    };

    // One value per case.
    static PelkClearError communication(std::string description) {
        PelkClearError e(Kind::communication);
        e.description_ = std::move(description);
        return e;
    }
    static PelkClearError notScanned() { return PelkClearError(Kind::notScanned); }
    static PelkClearError disconnected() { return PelkClearError(Kind::disconnected); }
    static PelkClearError deviceBusy() { return PelkClearError(Kind::deviceBusy); }

    // Which case it is.
    Kind kind() const { return kind_; }
    // The failure's text, for communication.
    const std::string& communicationDescription() const { return description_; }

    // Equal when the case and its text are.
    bool operator==(const PelkClearError&) const = default;

  private:
    explicit PelkClearError(Kind kind) : kind_(kind) {}
    Kind kind_;
    std::string description_;
};

// The case name ("communication", "notScanned", ...).
std::string describe(const PelkClearError& error);

// What a clear listener receives: the clear ran (true when it succeeded), or an error.
class PelkClearResult {
  public:
    enum class Kind { complete, error };

    // The two cases.
    static PelkClearResult complete(bool result) {
        PelkClearResult r(Kind::complete);
        r.result_ = result;
        return r;
    }
    static PelkClearResult error(PelkClearError error) {
        PelkClearResult r(Kind::error);
        r.error_ = std::move(error);
        return r;
    }

    // Which case it is.
    Kind kind() const { return kind_; }
    // For complete: whether the clear succeeded.
    bool result() const { return result_; }
    // Present for error only.
    const std::optional<PelkClearError>& error() const { return error_; }

    // Equal when the case and its value are.
    bool operator==(const PelkClearResult&) const = default;

  private:
    explicit PelkClearResult(Kind kind) : kind_(kind) {}
    Kind kind_;
    bool result_ = false;
    std::optional<PelkClearError> error_;
};

// "complete(result: true)", "error(notScanned)".
std::string describe(const PelkClearResult& result);

}  // namespace qz
