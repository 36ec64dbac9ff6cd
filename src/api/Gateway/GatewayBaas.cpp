// The backend family: vehicle documents, repair information and the offline VIN database.
// Every result is handed to the caller on the main queue.

#include "api/Gateway/Gateway.hpp"
#include "api/Logging/Log.hpp"
#include "api/Web/PelkWeb.hpp"
#include "api/Web/VinDatabase.hpp"
#include "platform/Describe.hpp"

namespace qz {

namespace {

// Wraps a completion so that it runs on the main queue.
template <class T>
std::function<void(T)> onMain(std::function<void(T)> completion) {
    return [completion = std::move(completion)](T value) {
        if (!completion) return;
        DispatchQueue::main()->async(
            [completion, value = std::move(value)]() mutable { completion(std::move(value)); });
    };
}

}  // namespace

void Gateway::requestXml(const std::string& vin, QZVehicleXmlType type, XmlCompletion completion) {
    Log::PublicFuncCall(
        {"vin: " + vin, "type: " + describe(type), "completion: " + describe(completion)});
    api_->requestXml(vin, type, onMain(std::move(completion)));
}

void Gateway::requestRepairInfo(const std::string& vin, const std::vector<std::string>& dtcs,
                                RepairListener listener) {
    Log::PublicFuncCall(
        {"vin: " + vin, "dtcs: " + describe(dtcs), "listener:" + describe(listener)});
    api_->requestRepairInfo(vin, dtcs, onMain(std::move(listener)));
}

void Gateway::requestYmme(const std::string& vin, YmmeCompletion completion) {
    Log::PublicFuncCall({"vin: " + vin, "completion: " + describe(completion)});
    auto deliver = onMain(std::move(completion));
    // The database is decrypted on first use: off the caller's thread.
    DispatchQueue::global()->async([vin, deliver] { deliver(VinDatabase::lookup(vin)); });
}

}  // namespace qz
