#pragma once

#include <string>

namespace qz {

// The error of the offline VIN database lookup.
enum class VinError {
    invalidVin,           // not 17 characters of the VIN alphabet
    databaseUnavailable,  // the database resource is missing, does not decrypt or does not decode
    notFound,             // no entry for the VIN's pattern and model year
};

// The case name.
std::string describe(VinError error);

}  // namespace qz
