#pragma once

#include <string>

namespace qz {

// Whether a VIN read from the vehicle may be used: 17 characters, none of O, I, Q (either
// case), and for VINs that begin with 1 to 5 the North American check digit in place 9.
// Writes the public-call line of the check.
bool isValidVin(const std::string& vin);

// Why a VIN read from the vehicle may not be used, in words ("its check digit (9th character) is
// 3, it should be 1"); empty when it may.
std::string vinCheckFailure(const std::string& vin);

}  // namespace qz
