#pragma once

#include <cstdint>
#include <string>

namespace qz {

// The vehicle documents the backend serves as XML.
enum class QZVehicleXmlType : int64_t {
    recalls = 0,
    technicalServiceBulletins = 1,
};

// The case name.
std::string describe(QZVehicleXmlType type);

}  // namespace qz
