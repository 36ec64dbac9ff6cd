#pragma once

#include <functional>
#include <string>
#include <vector>

#include "api/Communication/WebError.hpp"
#include "api/Communication/YMME.hpp"
#include "api/Web/QZVehicleXmlType.hpp"
#include "api/Web/RepairAsset.hpp"
#include "api/Web/VinError.hpp"
#include "platform/Result.hpp"

namespace qz {

// The maker's backend and the offline VIN database. No sensor is needed. Each call returns at
// once and hands its one result to the callback on the main queue; the callback may call any
// operation of the library.
class PelkBaasDelegate {
  public:
    // The document's XML text, year/make/model/engine, or the repair information; or why not.
    using XmlCompletion = std::function<void(Result<std::string, WebError>)>;
    using YmmeCompletion = std::function<void(Result<YMME, VinError>)>;
    using RepairListener = std::function<void(Result<RepairAsset, WebError>)>;

    virtual ~PelkBaasDelegate() = default;

    // The vehicle document of the given type (recalls or service bulletins) for a VIN, as XML
    // text; a WebError when the VIN is unusable or the backend does not answer with one.
    virtual void requestXml(const std::string& vin, QZVehicleXmlType type,
                            XmlCompletion completion) = 0;
    // Year, make, model and engine of a VIN from the offline database shipped with the library.
    virtual void requestYmme(const std::string& vin, YmmeCompletion completion) = 0;
    // Repair information for a VIN and its trouble codes, from the backend.
    virtual void requestRepairInfo(const std::string& vin, const std::vector<std::string>& dtcs,
                                   RepairListener listener) = 0;
};

}  // namespace qz
