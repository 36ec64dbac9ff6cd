#include "api/Web/PelkWeb.hpp"

#include <libxml/parser.h>

#include <cctype>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "api/PIDs/HexText.hpp"
#include "api/Web/CheckedResponse.hpp"
#include "api/Web/HostOverride.hpp"
#include "api/config/ConfigManager.hpp"

namespace qz {

namespace {

HostOverride& hostOverride() {
    static auto* host = new HostOverride;  // leaked: requests may still run at exit
    return *host;
}

WebError transportError(const URLError& error) {
    return PelkWeb::webError(error);
}

WebError statusError(const URLResponse& response) {
    return PelkWeb::webError(response);
}

bool isTroubleCode(const std::string& code) {
    // A J2012 code: one of P C B U and four hex digits, optionally "-" and a
    // two-digit failure type.
    if (code.size() != 5 && code.size() != 8) return false;
    char system = static_cast<char>(std::toupper(static_cast<unsigned char>(code[0])));
    if (system != 'P' && system != 'C' && system != 'B' && system != 'U') return false;
    const std::string_view text(code);
    if (!isHex(text.substr(1, 4))) return false;
    return code.size() == 5 || (code[5] == '-' && isHex(text.substr(6, 2)));
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
    if (auto host = hostOverride().value(); !host.empty()) return host;
    if (const char* env = std::getenv("QZ_BACKEND_HOST"); env && *env) return env;
    return kDefaultBackendHost;
}

void PelkWeb::setBackendHost(const std::string& host) {
    hostOverride().set(host);
}

std::string PelkWeb::defaultBaseURL() {
    return HostOverride::withoutTrailingSlashes(backendHost()) + kApiPath;
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
    auto decode = [](URLResponse& response) -> Result<RepairAsset, WebError> {
        try {
            auto j = nlohmann::json::parse(response.body.begin(), response.body.end());
            return j.get<RepairAsset>();
        } catch (const nlohmann::json::exception&) {
            return std::unexpected(WebError::unableToDecodeResponse());
        }
    };
    urlSession
        ->dataTask(std::move(r),
                   checkedResponse(std::move(listener), transportError, statusError, decode))
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
    auto decode = [](URLResponse& response) -> Result<std::string, WebError> {
        std::string text = response.bodyText();
        if (!isWellFormedXml(text)) return std::unexpected(WebError::unableToDecodeResponse());
        return text;
    };
    urlSession
        ->dataTask(std::move(r),
                   checkedResponse(std::move(completion), transportError, statusError, decode))
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
