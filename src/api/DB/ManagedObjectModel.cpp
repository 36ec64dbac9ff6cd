#include "api/DB/ManagedObjectModel.hpp"

namespace qz {

std::optional<ManagedObjectModel> ManagedObjectModel::named(const std::string& name) {
    if (name != "AnalyticsEvent") return std::nullopt;
    using T = AttributeType;
    return ManagedObjectModel{
        "AnalyticsEvent",
        {{"AnalyticsEvent",
          {{"eventType", T::text}, {"payload", T::blob}, {"createdAt", T::real}}}}};
}

}  // namespace qz
