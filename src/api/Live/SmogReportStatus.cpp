#include "api/Live/SmogReportStatus.hpp"

namespace qz {

std::string describe(SmogReportStatus status) {
    switch (status) {
        case SmogReportStatus::pass:
            return "pass";
        case SmogReportStatus::fail:
            return "fail";
        case SmogReportStatus::warning:
            return "warning";
        case SmogReportStatus::incomplete:
            break;
    }
    return "incomplete";
}

}  // namespace qz
