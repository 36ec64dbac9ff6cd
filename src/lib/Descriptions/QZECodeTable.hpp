#pragma once

#include <string>
#include <unordered_map>

namespace qz {

// Code text to description text.
using QZECodeTable = std::unordered_map<std::string, std::string>;

}  // namespace qz
