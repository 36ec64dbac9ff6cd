#pragma once

#include <cstdint>
#include <string>

namespace qz {

// The error of the backend operations.
class WebError {
  public:
    enum class Kind {
        invalidParameter = 0,
        general = 1,
        unableToDecodeResponse = 2,
        timeout = 3,
        invalidResponse = 4,
        invalidParameters = 5,
    };

    static WebError invalidParameter(std::string value) {
        return WebError(Kind::invalidParameter, std::move(value), 0);
    }
    static WebError general(int64_t code, std::string description) {
        return WebError(Kind::general, std::move(description), code);
    }
    static WebError unableToDecodeResponse() { return WebError(Kind::unableToDecodeResponse); }
    static WebError timeout() { return WebError(Kind::timeout); }
    static WebError invalidResponse() { return WebError(Kind::invalidResponse); }
    static WebError invalidParameters() { return WebError(Kind::invalidParameters); }

    Kind kind() const { return kind_; }
    // The text of invalidParameter or the description of general; empty otherwise.
    const std::string& text() const { return text_; }
    // The code of general; 0 otherwise.
    int64_t code() const { return code_; }

    bool operator==(const WebError&) const = default;

    // invalidParameter("..."), general(code: 1, description: "..."), or the case name.
    std::string description() const;

  private:
    explicit WebError(Kind kind, std::string text = {}, int64_t code = 0)
        : kind_(kind), text_(std::move(text)), code_(code) {}
    Kind kind_;
    std::string text_;
    int64_t code_;
};

std::string describe(const WebError& error);

}  // namespace qz
