#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qz {

// What came back for a request that reached a server: the final status line's
// code, the header fields of that response and the body.
struct URLResponse {
    std::string url;
    int statusCode = 0;
    std::vector<std::pair<std::string, std::string>> allHeaderFields;
    std::vector<uint8_t> body;

    bool isSuccess() const { return statusCode >= 200 && statusCode <= 299; }
    // Header lookup, names compared without regard to case.
    std::optional<std::string> value(const std::string& field) const;
    std::string bodyText() const { return std::string(body.begin(), body.end()); }
};

// A request that never produced a response: no connection, time-out, cancel.
struct URLError {
    enum class Code {
        badURL,
        cannotConnectToHost,
        timedOut,
        cancelled,
        networkConnectionLost,
        unknown
    };
    Code code = Code::unknown;
    int transportCode = 0;  // the transport library's own code
    std::string description;
};

const char* describe(URLError::Code code);

}  // namespace qz
