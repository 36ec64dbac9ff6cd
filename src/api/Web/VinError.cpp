#include "api/Web/VinError.hpp"

namespace qz {

std::string describe(VinError error) {
    switch (error) {
        case VinError::invalidVin:
            return "invalidVin";
        case VinError::databaseUnavailable:
            return "databaseUnavailable";
        case VinError::notFound:
            return "notFound";
    }
    return "unknown";
}

}  // namespace qz
