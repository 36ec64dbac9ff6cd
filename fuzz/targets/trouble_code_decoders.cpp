// The trouble-code decoders of the module classes: the first byte picks the make, the second
// the J2190 fault-code id and the flags of the broadcast decoder; the rest is the sensor's reply
// text. Every decoder reads the text into a module of its own, and the reply tokeniser reads it
// too. A module keeps one status per code, and its codes stay unique where they come through
// addCode (the Chrysler bitmaps list faults by text, with repeated or empty codes).

#include <algorithm>
#include <span>

#include "FuzzTarget.hpp"
#include "lib/Decoders/QZEReplyText.hpp"
#include "lib/Modules/QZEBaseDiagnosticModule.hpp"
#include "lib/Modules/QZENaks.hpp"

using namespace qz;

namespace {

class Module : public QZEBaseDiagnosticModule {
  public:
    explicit Module(int64_t make) : QZEBaseDiagnosticModule(make) {}
    using QZEBaseDiagnosticModule::decodeKwp2000Records;

    void check(bool uniqueCodes) const {
        const auto& codes = codeArray();
        fuzz::require(codes.size() == statusArray().size(), "one status per code");
        fuzz::require(definitionArray().size() <= codes.size(), "no more texts than codes");
        if (!uniqueCodes) return;
        auto sorted = codes;
        std::sort(sorted.begin(), sorted.end());
        fuzz::require(std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end(),
                      "codes unique");
    }
};

}  // namespace

QZ_FUZZ_TARGET(trouble_code_decoders) {
    fuzz::QuietEngineLog quiet;
    if (size < 2) return;
    const int64_t make = data[0] % 14;
    const int64_t faultCodeID = data[1];
    const bool extendedCan = data[1] & 1;
    const std::string_view text = fuzz::textOf(data + 2, size - 2);
    const std::string status = (data[1] & 2) ? "PENDING" : "";

    using Decode = void (*)(Module&, std::string_view, int64_t, bool, const std::string&);
    static constexpr Decode kBitmapDecoders[] = {
        [](Module& m, std::string_view t, int64_t, bool, const std::string&) {
            (void)m.decodeEnhancedCodesVPWChryslerJ2190Old(t);
            (void)m.countDTCsJ2190(t);
        },
        [](Module& m, std::string_view t, int64_t id, bool, const std::string&) {
            (void)m.decodeEnhancedCodesVPWChryslerJ2190New(t, id);
        },
    };
    static constexpr Decode kDecoders[] = {
        [](Module& m, std::string_view t, int64_t, bool, const std::string&) {
            (void)m.decodeKWP2000CANResponse(t);
        },
        [](Module& m, std::string_view t, int64_t, bool, const std::string&) {
            (void)m.decodeEnhancedCodesCANChryslerJ2012(t);
        },
        [](Module& m, std::string_view t, int64_t, bool, const std::string&) {
            (void)m.decodeJ2012(t);
        },
        [](Module& m, std::string_view t, int64_t, bool, const std::string&) {
            (void)m.decodeEnhancedCodesCANGMJ2012(t);
        },
        [](Module& m, std::string_view t, int64_t id, bool, const std::string&) {
            // The engine's response byte, or another.
            (void)(id == 0 ? m.decodeCodesPWMFordJ2012(t)
                           : m.decodeCodesPWMFordJ2012(t, 0x50 + static_cast<int>(id)));
        },
        [](Module& m, std::string_view t, int64_t id, bool, const std::string&) {
            (void)(id == 0 ? m.decodeEnhancedCodesVPWGMJ2012(t)
                           : m.decodeEnhancedCodesVPWGMJ2012(t, 0x56 + static_cast<int>(id)));
        },
        [](Module& m, std::string_view t, int64_t, bool, const std::string& s) {
            (void)m.decodeToyotaDataCAN(t, s);
            (void)m.decodeToyotaDataKLine(t, s);
        },
        [](Module& m, std::string_view t, int64_t, bool extended, const std::string& s) {
            (void)m.decodeExtendedCANBroadcast(t, extended, s);
        },
        [](Module& m, std::string_view t, int64_t, bool, const std::string&) {
            (void)m.decodeUds(t);
            (void)m.decodeExtendedUds(t);
        },
        [](Module& m, std::string_view t, int64_t, bool, const std::string&) {
            const auto tokens = reply::tokens(t);
            (void)m.decodeKwp2000Records(tokens);
            std::vector<std::string> words(tokens.begin(), tokens.end());
            (void)m.decodeKWP2000ResponseBytes(words);
            for (auto framing : {QZEFraming::can, QZEFraming::canExtended, QZEFraming::kLine,
                                 QZEFraming::j1850, QZEFraming::message}) {
                QZEAsked asked = QZEAsked::of(t.substr(0, 2), framing, {});
                asked.records = QZERecordLayout::kwp2000();
                for (const auto& message : QZEModuleReply::classify(t, asked).messages) {
                    const reply::Tokens bytes(message.begin(), message.end());
                    (void)QZEBaseDiagnosticModule::kwpRecords(bytes, bytes.size() % 3);
                }
            }
            (void)QZENaks::isNAK(t);
        },
    };
    for (bool bitmap : {false, true})
        for (Decode decode : bitmap ? std::span<const Decode>(kBitmapDecoders)
                                    : std::span<const Decode>(kDecoders)) {
            Module module(make);
            decode(module, text, faultCodeID % 4, extendedCan, status);
            module.check(!bitmap);
        }
    {
        Module module(make);
        const auto cut = text.find('|');
        (void)module.decodeEcuIdentificationWithRequest(
            text.substr(0, cut), cut == std::string_view::npos ? "" : text.substr(cut + 1));
    }
    for (auto line : reply::lines(text)) (void)reply::tokens(line);
}
