#include "api/Logging/Stringify.hpp"

#include <string_view>

#include "platform/Text.hpp"

namespace qz {

namespace {

struct URLParts {
    std::optional<std::string> host;
    std::string path;
    std::string query;
};

// The components of a URL text (RFC 3986, appendix B); none when it does not parse.
std::optional<URLParts> parseURL(const std::string& text) {
    if (text.empty()) return std::nullopt;
    for (unsigned char c : text)
        if (c <= 0x20 || c >= 0x7F || c == '"' || c == '<' || c == '>' || c == '\\' || c == '^' ||
            c == '`' || c == '{' || c == '|' || c == '}')
            return std::nullopt;
    // RFC 3986, appendix B: scheme ":" "//" authority path "?" query "#" fragment.
    std::string_view rest(text);
    auto stop = rest.find_first_of(":/?#");
    if (stop != std::string_view::npos && stop > 0 && rest[stop] == ':')
        rest.remove_prefix(stop + 1);
    URLParts parts;
    if (rest.starts_with("//")) {
        rest.remove_prefix(2);
        auto end = rest.find_first_of("/?#");
        std::string authority(rest.substr(0, end));
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
        auto at = authority.rfind('@');
        if (at != std::string::npos) authority.erase(0, at + 1);
        if (!authority.empty() && authority[0] == '[') {
            auto close = authority.find(']');
            authority =
                authority.substr(1, close == std::string::npos ? std::string::npos : close - 1);
        } else {
            auto colon = authority.find(':');
            if (colon != std::string::npos) authority.erase(colon);
        }
        parts.host = authority;
    }
    auto pathEnd = rest.find_first_of("?#");
    parts.path = std::string(rest.substr(0, pathEnd));
    rest.remove_prefix(pathEnd == std::string_view::npos ? rest.size() : pathEnd);
    if (rest.starts_with("?")) {
        rest.remove_prefix(1);
        parts.query = std::string(rest.substr(0, rest.find('#')));
    }
    return parts;
}

std::string bodyText(const Data& body) {
    std::string_view bytes(reinterpret_cast<const char*>(body.data()), body.size());
    if (!text::isValidUTF8(bytes)) return "Can't render body; not utf8 encoded";
    return std::string(bytes);
}

}  // namespace

std::string stringify(const URLRequest& request) {
    std::string out = "\n---------- REQUEST ---------->\n";
    out += request.url;
    out += "\n\n";
    auto parts = parseURL(request.url);
    out += request.httpMethod;
    out += " ";
    out += parts ? parts->path : "";
    out += "?";
    out += parts ? parts->query : "";
    out += " HTTP/1.1\n";
    out += "Host: ";
    out += parts && parts->host ? *parts->host : "";
    out += "\n";
    for (const auto& [name, value] : request.allHTTPHeaderFields) {
        out += name;
        out += ": ";
        out += value;
        out += "\n";
    }
    if (!request.httpBody.empty()) {
        out += "\n";
        out += bodyText(request.httpBody);
        out += "\n";
    }
    out += "\n------------------------->\n";
    return out;
}

std::string stringify(const std::optional<Data>& data, const std::optional<URLResponse>& response,
                      const std::optional<URLError>& error) {
    if (!response) return "Not a HTTP response";
    std::string out = "\n<---------- RESPONSE ----------\n";
    if (!response->url.empty()) {
        out += response->url;
        out += "\n\n";
    }
    auto parts = parseURL(response->url);
    out += "HTTP ";
    out += std::to_string(response->statusCode);
    out += " ";
    out += parts ? parts->path : "";
    out += "?";
    out += parts ? parts->query : "";
    out += "\n";
    out += "Host: ";
    out += parts && parts->host ? *parts->host : "n/a";
    out += "\n";
    for (const auto& [name, value] : response->allHeaderFields) {
        out += name;
        out += ": ";
        out += value;
        out += "\n";
    }
    if (data) {
        out += "\n";
        out += bodyText(*data);
        out += "\n";
    }
    if (error) {
        out += "\nError: ";
        out += error->description;
        out += "\n";
    }
    out += "<------------------------\n";
    return out;
}

}  // namespace qz
