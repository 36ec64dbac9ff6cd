#include "api/Web/QZVehicleXmlType.hpp"

namespace qz {

std::string describe(QZVehicleXmlType type) {
    switch (type) {
        case QZVehicleXmlType::recalls:
            return "recalls";
        case QZVehicleXmlType::technicalServiceBulletins:
            return "technicalServiceBulletins";
    }
    return "unknown";
}

}  // namespace qz
