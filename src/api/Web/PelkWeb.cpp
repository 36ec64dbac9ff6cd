#include "api/Web/PelkWeb.hpp"

#include <libxml/parser.h>

#include <cctype>
#include <cstdlib>
#include <mutex>
#include <nlohmann/json.hpp>

#include "api/config/ConfigManager.hpp"

namespace qz {

namespace {

std::mutex& hostMutex() {
    static std::mutex m;
    return m;
}

std::string& hostOverride() {
    static std::string host;
    return host;
}

bool isTroubleCode(const std::string& code) {
    // A J2012 code: one of P C B U and four hex digits, optionally "-" and a
    // two-digit failure type.
    if (code.size() != 5 && code.size() != 8) return false;
    char system = static_cast<char>(std::toupper(static_cast<unsigned char>(code[0])));
    if (system != 'P' && system != 'C' && system != 'B' && system != 'U') return false;
    for (size_t i = 1; i < 5; ++i)
        if (!std::isxdigit(static_cast<unsigned char>(code[i]))) return false;
    if (code.size() == 8) {
        if (code[5] != '-') return false;
        if (!std::isxdigit(static_cast<unsigned char>(code[6])) ||
            !std::isxdigit(static_cast<unsigned char>(code[7])))
            return false;
    }
    return true;
}

bool isWellFormedXml(const std::string& text) {
    if (text.empty()) return false;
    xmlDocPtr doc =
        xmlReadMemory(text.data(), static_cast<int>(text.size()), "document.xml", nullptr,
                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (!doc) return false;
    xmlFreeDoc(doc);
    return true;
}

std::string statusText(const URLResponse& response) {
    std::string text = "HTTP status " + std::to_string(response.statusCode);
    std::string body = response.bodyText();
    if (!body.empty()) text += ": " + body.substr(0, 200);
    return text;
}

}  // namespace

std::string PelkWeb::backendHost() {
    {
        std::lock_guard lock(hostMutex());
        if (!hostOverride().empty()) return hostOverride();
    }
    if (const char* env = std::getenv("QZ_BACKEND_HOST"); env && *env) return env;
    return kDefaultBackendHost;
}

void PelkWeb::setBackendHost(const std::string& host) {
    std::string h = host;
    while (!h.empty() && h.back() == '/') h.pop_back();
    std::lock_guard lock(hostMutex());
    hostOverride() = h;
}

std::string PelkWeb::defaultBaseURL() {
    std::string host = backendHost();
    while (!host.empty() && host.back() == '/') host.pop_back();
    return host + kApiPath;
}

PelkWeb::PelkWeb() : PelkWeb(defaultBaseURL(), URLSession::shared()) {}

PelkWeb::PelkWeb(std::string baseURL, std::shared_ptr<URLSession> session)
    : BAAS_API(std::move(baseURL)), urlSession(std::move(session)) {}

std::optional<std::string> PelkWeb::normalizedVin(const std::string& vin) {
    if (vin.size() != 17) return std::nullopt;
    std::string out;
    for (char c : vin) {
        char u = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        bool digit = u >= '0' && u <= '9';
        bool letter = u >= 'A' && u <= 'Z' && u != 'I' && u != 'O' && u != 'Q';
        if (!digit && !letter) return std::nullopt;
        out += u;
    }
    return out;
}

WebError PelkWeb::webError(const URLError& error) {
    if (error.code == URLError::Code::timedOut) return WebError::timeout();
    return WebError::general(error.transportCode, error.description);
}

WebError PelkWeb::webError(const URLResponse& response) {
    return WebError::general(response.statusCode, statusText(response));
}

URLRequest PelkWeb::request(const std::string& path, const std::string& method) const {
    URLRequest r(BAAS_API + path, method);
    r.timeoutInterval = kRequestTimeout;
    if (auto credentials = ConfigManager::credentials()) {
        r.setValue(credentials->clientId, "clientId");
        r.setValue(credentials->clientkey, "clientkey");
        r.setValue(credentials->clientPass, "clientPass");
    }
    return r;
}

void PelkWeb::requestRepairInfo(const std::string& vin, const std::vector<std::string>& dtcs,
                                RepairListener listener) const {
    auto normalized = normalizedVin(vin);
    if (!normalized) {
        listener(std::unexpected(WebError::invalidParameter("vin")));
        return;
    }
    if (dtcs.empty() || !std::all_of(dtcs.begin(), dtcs.end(), isTroubleCode)) {
        listener(std::unexpected(WebError::invalidParameters()));
        return;
    }
    std::vector<std::string> codes;
    for (auto c : dtcs) {
        for (auto& ch : c) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        codes.push_back(std::move(c));
    }
    URLRequest r = request("repair", "POST");
    r.setValue("application/json", "Content-Type");
    r.setValue("application/json", "Accept");
    r.setBody(nlohmann::json{{"vin", *normalized}, {"dtcs", codes}}.dump());
    urlSession
        ->dataTask(std::move(r),
                   [listener = std::move(listener)](Result<URLResponse, URLError> result) {
                       if (!result) return listener(std::unexpected(webError(result.error())));
                       if (!result->isSuccess())
                           return listener(std::unexpected(webError(*result)));
                       try {
                           auto j = nlohmann::json::parse(result->body.begin(), result->body.end());
                           listener(j.get<RepairAsset>());
                       } catch (const nlohmann::json::exception&) {
                           listener(std::unexpected(WebError::unableToDecodeResponse()));
                       }
                   })
        ->resume();
}

void PelkWeb::requestXml(const std::string& vin, QZVehicleXmlType type,
                         XmlCompletion completion) const {
    auto normalized = normalizedVin(vin);
    if (!normalized) {
        completion(std::unexpected(WebError::invalidParameter("vin")));
        return;
    }
    const char* document = type == QZVehicleXmlType::recalls ? "recalls" : "bulletins";
    URLRequest r = request("vehicle/" + *normalized + "/" + document, "GET");
    r.setValue("application/xml", "Accept");
    urlSession
        ->dataTask(std::move(r),
                   [completion = std::move(completion)](Result<URLResponse, URLError> result) {
                       if (!result) return completion(std::unexpected(webError(result.error())));
                       if (!result->isSuccess())
                           return completion(std::unexpected(webError(*result)));
                       std::string text = result->bodyText();
                       if (!isWellFormedXml(text))
                           return completion(std::unexpected(WebError::unableToDecodeResponse()));
                       completion(std::move(text));
                   })
        ->resume();
}

void PelkWeb::postEvent(const std::string& eventType, const Data& json,
                        PostCompletion completion) const {
    URLRequest r = request("analytics/" + percentEncoded(eventType), "POST");
    r.setValue("application/json", "Content-Type");
    r.httpBody = json;
    urlSession
        ->dataTask(std::move(r),
                   [completion = std::move(completion)](Result<URLResponse, URLError> result) {
                       completion(result.has_value() && result->isSuccess());
                   })
        ->resume();
}

}  // namespace qz
