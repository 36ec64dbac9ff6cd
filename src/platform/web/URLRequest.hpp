#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qz {

// One HTTP request as handed to URLSession: method, URL, header fields, body and
// the time allowed for the whole exchange.
struct URLRequest {
    std::string url;
    std::string httpMethod = "GET";
    std::vector<std::pair<std::string, std::string>> allHTTPHeaderFields;
    std::vector<uint8_t> httpBody;
    // Seconds for the whole exchange; 0 or less means no limit.
    double timeoutInterval = 60.0;

    URLRequest() = default;
    explicit URLRequest(std::string u, std::string method = "GET")
        : url(std::move(u)), httpMethod(std::move(method)) {}

    // Sets a header field, replacing an earlier value of the same name
    // (names compare without regard to case).
    void setValue(const std::string& value, const std::string& field);
    std::optional<std::string> value(const std::string& field) const;
    void setBody(const std::string& text) { httpBody.assign(text.begin(), text.end()); }
};

// Percent-encodes a text for use as a query value.
std::string percentEncoded(const std::string& text);

}  // namespace qz
