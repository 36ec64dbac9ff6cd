#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "lib/Records/QZEModuleData.hpp"

namespace qz {

// Builds the Mercedes module list of one bus from the JSON definitions under
// "enhanceddiag/mercedes": the chassis from the VIN ("chassis"), the chassis's ECU list of the
// model year or the nearest earlier year ("years/<year>/<chassis>", CAN, bus key 1) or its
// K-line list ("kline_modules"), and each ECU's protocol, identifiers, variants and codes
// ("ecus/<name>", "ecus/<name>_dtcs"). ECUs that share a request address are folded into one
// "Generic Address Module" that carries them under "MBVARIANTS". Values of an unexpected JSON
// type are skipped.
class QZEMercedesJsonParser {
  public:
    using Json = nlohmann::ordered_json;

    static constexpr const char* kNoChassis = "000";
    static constexpr int64_t kFirstYear = 2003;

    // The parser appends to `modules` and rearranges it.
    QZEMercedesJsonParser(std::optional<std::string> vin, bool quickScan, int64_t busType,
                          std::vector<QZEModuleDataPtr>& modules);

    // Builds the list for the parser's VIN; true when it holds a module afterwards.
    bool parse();
    bool parse(const std::optional<std::string>& vin);
    // Whether the definitions list any module for the VIN.
    bool isVinSupported(const std::optional<std::string>& vin);

    // The chassis code of a VIN, "000" when there is none.
    std::string chassisFromVin(const std::optional<std::string>& vin);
    // The ECU list (an array of entries) of the chassis for the year or the nearest earlier year
    // back to 2003; empty when none.
    Json loadChassisCodeEcus(const std::string& chassis, int64_t year);
    // The K-line module list of the chassis; empty when none.
    Json loadKLineChassisCodeEcus(const std::string& chassis);
    bool loadEcus(const Json& ecus);
    bool loadKLineEcus(const Json& modules);
    // One ECU's record, or null when its file is missing or gives no usable protocol.
    QZEModuleDataPtr loadModule(const std::string& name, const std::string& description,
                                const std::optional<std::string>& light,
                                const std::optional<std::string>& category);
    // The ECU's code table (a dictionary; empty when none).
    QZEValue loadDtcsForEcu(const std::string& name);
    // "$7E0" gives "7E0"; a decimal text gives its upper-case hex (at least two digits); any
    // other text "00".
    static std::string convertRequestIdToStandardHex(const std::string& requestId);
    // Folds the records that share a request address (and protocol) into one.
    void filterModules();

    const std::string& chassisType() const { return m_chassisType; }
    int64_t year() const { return m_year; }
    // A definition file the list needed, by its path under the resources, and why it could not
    // be used.
    struct UnreadableFile {
        std::string file;
        std::string why;
    };
    // The files this parser needed that were missing (the chassis table, the K-line list), did
    // not decrypt or parse, or held no entry at all; the list they give is then incomplete.
    const std::vector<UnreadableFile>& unreadableFiles() const { return m_unreadableFiles; }

  private:
    void unreadable(const std::filesystem::path& path, std::string why);
    void unreadable(std::string file, std::string why);

    std::optional<std::string> m_vin;
    bool m_quickScan;
    int64_t m_busType;
    std::vector<QZEModuleDataPtr>& m_modules;
    std::string m_chassisType = kNoChassis;
    int64_t m_year = 0;
    std::vector<UnreadableFile> m_unreadableFiles;
};

}  // namespace qz
