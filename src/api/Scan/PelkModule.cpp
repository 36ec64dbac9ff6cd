#include "api/Scan/PelkModule.hpp"

#include <unicode/locid.h>
#include <unicode/unistr.h>

#include "platform/Locked.hpp"

namespace qz {

namespace {

std::string uppercased(const std::string& text) {
    std::string out;
    icu::UnicodeString::fromUTF8(text).toUpper(icu::Locale::getRoot()).toUTF8String(out);
    return out;
}

}  // namespace

PelkTroubleCode::PelkTroubleCode(std::string code, std::string codeDescription, std::string status)
    : code_(std::move(code)),
      codeDescription_(std::move(codeDescription)),
      status_(std::move(status)) {}

std::string PelkTroubleCode::description() const {
    return "<[" + code_ + ":" + status_ + "]:  " + codeDescription_ + ">";
}

PelkModule::PelkModule(std::string name, std::string acronym, std::string light,
                       std::string moduleCategory, PelkTroubleCodes results)
    : name_(std::move(name)),
      acronym_(std::move(acronym)),
      light_(std::move(light)),
      moduleCategory_(std::move(moduleCategory)),
      results_(std::move(results)) {}

PelkTroubleCodes PelkModule::results() const {
    return lockedCopy(mutex_, results_);
}

void PelkModule::setResults(PelkTroubleCodes results) {
    lockedAssign(mutex_, results_, std::move(results));
}

PelkLightCategory PelkModule::lightCategory() const {
    return pelkLightCategory(uppercased(light_)).value_or(PelkLightCategory::unknown);
}

PelkModuleCategory PelkModule::category() const {
    return pelkModuleCategory(uppercased(moduleCategory_)).value_or(PelkModuleCategory::unknown);
}

std::string PelkModule::description() const {
    std::string dtcs = "[";
    const auto codes = results();
    for (size_t i = 0; i < codes.size(); ++i)
        dtcs += (i ? ", " : "") + (codes[i] ? codes[i]->description() : std::string("nil"));
    dtcs += "]";
    return "\U0001F697 PelkModule: " + name_ + ", acronym: " + acronym_ + ", dtcs: " + dtcs +
           ", light: " + describe(lightCategory()) + ", category : " + describe(category());
}

std::string describe(const PelkModules& modules) {
    std::string out = "[";
    for (size_t i = 0; i < modules.size(); ++i)
        out += (i ? ", " : "") + (modules[i] ? modules[i]->description() : std::string("nil"));
    return out + "]";
}

}  // namespace qz
