#pragma once

#include <cstdint>
#include <string>

namespace qz {

// The public error of the firmware-server operations.
class FirmwareError {
  public:
    enum class Kind {
        general,
        invalidResponse,
        invalidPayload,
        invalidArguments,
        unknown,
        notSupported
    };

    static FirmwareError general(int64_t code, std::string text) {
        return FirmwareError(Kind::general, code, std::move(text));
    }
    static FirmwareError invalidResponse(int64_t status) {
        return FirmwareError(Kind::invalidResponse, status);
    }
    static FirmwareError invalidPayload() { return FirmwareError(Kind::invalidPayload); }
    static FirmwareError invalidArguments() { return FirmwareError(Kind::invalidArguments); }
    static FirmwareError unknown() { return FirmwareError(Kind::unknown); }
    static FirmwareError notSupported() { return FirmwareError(Kind::notSupported); }

    Kind kind() const { return kind_; }
    // The code of general, the status of invalidResponse; 0 otherwise.
    int64_t code() const { return code_; }
    // The text of general; empty otherwise.
    const std::string& text() const { return text_; }

    bool operator==(const FirmwareError&) const = default;

    // general(1, "..."), invalidResponse(404), or the case name.
    std::string description() const;

  private:
    explicit FirmwareError(Kind kind, int64_t code = 0, std::string text = {})
        : kind_(kind), code_(code), text_(std::move(text)) {}
    Kind kind_;
    int64_t code_;
    std::string text_;
};

std::string describe(const FirmwareError& error);

}  // namespace qz
