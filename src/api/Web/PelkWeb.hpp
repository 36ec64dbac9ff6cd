#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "api/Communication/WebError.hpp"
#include "api/Web/QZVehicleXmlType.hpp"
#include "api/Web/RepairAsset.hpp"
#include "platform/Result.hpp"
#include "platform/web/URLSession.hpp"

namespace qz {

// The client of the maker's backend. Every request carries the backend client
// credentials kept by ConfigManager as the header fields "clientId", "clientkey" and
// "clientPass". Completions are called once, on the URL session's callback thread (a request
// refused before it is sent: at once, on the caller's thread).
//
// Endpoints under BAAS_API:
//   POST repair                      {"vin", "dtcs": [...]} -> RepairAsset JSON
//   GET  vehicle/<VIN>/recalls       -> XML document
//   GET  vehicle/<VIN>/bulletins     -> XML document
//   POST analytics/<event type>      event JSON -> any 2xx status
class PelkWeb {
  public:
    // The backend's fixed path.
    static constexpr const char* kApiPath = "/api/v2/";
    // The production backend (scheme and host); a deployment value.
    static constexpr const char* kDefaultBackendHost = "https://baas.ostrel.com";
    // Time allowed for one request, in seconds.
    static constexpr double kRequestTimeout = 30.0;

    // The backend's scheme and host: the one set with setBackendHost, else the
    // environment variable QZ_BACKEND_HOST, else kDefaultBackendHost.
    static std::string backendHost();
    // Overrides the backend host for clients created afterwards (empty: back to default).
    static void setBackendHost(const std::string& host);
    // backendHost() + "/api/v2/".
    static std::string defaultBaseURL();

    PelkWeb();
    PelkWeb(std::string baseURL, std::shared_ptr<URLSession> session);

    const std::string BAAS_API;
    const std::shared_ptr<URLSession> urlSession;

    using RepairListener = std::function<void(Result<RepairAsset, WebError>)>;
    using XmlCompletion = std::function<void(Result<std::string, WebError>)>;
    using PostCompletion = std::function<void(bool)>;

    // Repair information for a VIN and its trouble codes (J2012 texts, optionally with a
    // "-XX" failure type). A malformed VIN fails with invalidParameter("vin"), a missing or
    // malformed code list with invalidParameters, both without a request.
    void requestRepairInfo(const std::string& vin, const std::vector<std::string>& dtcs,
                           RepairListener listener) const;

    // The vehicle document of the given type, as XML text. The answer must be a
    // well-formed XML document, else unableToDecodeResponse.
    void requestXml(const std::string& vin, QZVehicleXmlType type, XmlCompletion completion) const;

    // Posts one analytics event; true when the backend answered with 200 to 299.
    void postEvent(const std::string& eventType, const Data& json, PostCompletion completion) const;

    // Transport errors and statuses as WebError (time-out: timeout; other transport
    // failures: general with the transport code; statuses outside 200-299: general with
    // the status).
    static WebError webError(const URLError& error);
    static WebError webError(const URLResponse& response);

    // 17 characters of the VIN alphabet (digits and letters but I, O, Q), upper-cased;
    // nullopt when the text is not such a VIN.
    static std::optional<std::string> normalizedVin(const std::string& vin);

  private:
    URLRequest request(const std::string& path, const std::string& method) const;
};

}  // namespace qz
