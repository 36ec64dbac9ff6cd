// Mode 1 answers into the catalogue: the first byte picks the PID number and the folding
// strategy, the rest is the sensor's answer text. The answer is folded and cleaned as the
// catalogue operations do, handed to every catalogue object of that PID and read back in every
// form; the support bitmap, readiness and VIN readers get the same text.

#include "FuzzTarget.hpp"
#include "api/Live/SupportPid.hpp"
#include "api/PIDs/Enums/MultiResponseStrategy.hpp"
#include "api/PIDs/NumericPID.hpp"
#include "api/PIDs/PID0902.hpp"
#include "api/PIDs/PIDInterface.hpp"
#include "api/milstatus/PID0101_MonitorStatus.hpp"

using namespace qz;

QZ_FUZZ_TARGET(catalogue) {
    if (size < 2) return;
    const uint64_t pid = data[0];
    const auto strategy = static_cast<MultiResponseStrategy::Case>(data[1] % 4);
    const std::string answer(fuzz::textOf(data + 2, size - 2));

    const std::string folded = MultiResponseStrategy(strategy).process(answer);
    auto catalogue = PIDInterface::buildCatalogue();
    auto entry = catalogue.find(pid);
    if (entry != catalogue.end()) {
        for (const auto& p : entry->second) {
            p->setSupportStatus(SupportStatus::supported);
            for (const std::string& text : {answer, folded}) {
                auto bytes = PIDInterface::cleanAnswer(text, p->mode(), p->responseBytes());
                if (!bytes) continue;
                p->setData(*bytes);
                p->setSupportedViaSupportBit();
                (void)p->valueAsText(false);
                (void)p->valueAsText(true);
                (void)p->description();
                if (auto numeric = std::dynamic_pointer_cast<NumericPID>(p)) {
                    (void)numeric->value();
                    (void)numeric->altValue();
                }
            }
        }
    }

    SupportPid block{static_cast<int64_t>(pid & 0xE0)};
    (void)block.setSupport(answer);

    PID0101_MonitorStatus readiness;
    if (auto bytes = PIDInterface::cleanAnswer(answer, Mode::LiveData, readiness.responseBytes()))
        readiness.setData(*bytes);
    (void)readiness.description();

    PID0902 vin;
    vin.setData(PIDInterface::vinData(answer));
    (void)vin.valueAsText();
}
