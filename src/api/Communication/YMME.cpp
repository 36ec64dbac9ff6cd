#include "api/Communication/YMME.hpp"

namespace qz {

std::string YMME::description() const {
    std::string parts;
    auto add = [&parts](const char* label, const std::string& value) {
        if (!parts.empty()) parts += ", ";
        parts += label;
        parts += value;
    };
    if (vin) add("VIN: ", *vin);
    if (make) add("Make: ", *make);
    if (model) add("Model: ", *model);
    if (engine) add("Engine: ", *engine);
    if (series) add("Series: ", *series);
    if (year) add("Year: ", std::to_string(*year));
    return "[YMME: " + parts + "]";
}

std::string describe(const YMME& ymme) {
    return ymme.description();
}

}  // namespace qz
