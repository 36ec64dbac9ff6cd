#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

#include "lib/Descriptions/QZECodeTable.hpp"

namespace qz {

// The catalogue of code descriptions: the SAE table "sae", one table per parent make, the
// failure-type tables "ftbs" and "nissanftbs" (read from "troublecodes/troublecodes.xml") and
// the BMW tables per chassis and module (read from "enhanceddiag/bmw-modules.xml"). Tables are
// loaded on first need, each at most once, and kept.
//
// Safe to use from several threads: lookups take a short lock on the tables; loads run one at a
// time (a load may start nested loads of other tables on the same thread).
class QZETroubleCodes {
  public:
    static constexpr const char* kNoDescription = "No description available";

    // The shared catalogue, made on first use.
    static QZETroubleCodes& TheCodes();

    QZETroubleCodes() = default;
    QZETroubleCodes(const QZETroubleCodes&) = delete;
    QZETroubleCodes& operator=(const QZETroubleCodes&) = delete;

    // The description of a code for a make (its parent make's table, then "sae"). A code with a
    // failure-type suffix ("P0301-1A", Nissan "P0301-N12") gets "<description>: <failure type>".
    // "No description available" when neither table has the code.
    std::string troubleCodeDef(const std::optional<std::string>& code, int64_t make);
    // The same in the named table.
    std::string troubleCodeDef(const std::optional<std::string>& code, const std::string& parent);
    // A BMW module's code: `key` is the module's acronym ("BMW" + chassis + acronym). With a
    // 17-character VIN the chassis's tables are loaded and the key's table is asked; otherwise
    // the BMW make table.
    std::string bmwTroubleCodeDef(const std::optional<std::string>& code,
                                  const std::optional<std::string>& key,
                                  const std::optional<std::string>& vin);

    // Loads a table from the code-description file; false when it was loaded before or the
    // file did not parse (the table then holds what was read).
    bool loadCustomDefinitions(const std::string& name);
    // Loads the BMW tables of a chassis; false when a table of that chassis exists already or
    // the file did not parse.
    bool loadCustomBMWDefinitions(const std::string& chassis);
    // Makes the tables on first use and loads "sae".
    void initDict();

    // The table name of a make; for a number outside 1-13 the stored parent make name, or
    // "Unknown" when none is stored.
    static std::string parentManufacturerFromEnhancedProtocol(int64_t make);

    // The chassis text of a BMW VIN (its characters 4 to 7), or none when the VIN is not 17
    // characters long.
    static std::optional<std::string> bmwChassisFromVin(const std::optional<std::string>& vin);

    // Whether a table of that name is loaded.
    bool hasTable(const std::string& name) const;
    // Forgets every table (the next use loads them again from the resource folder).
    void reset();

  private:
    using Tables = std::unordered_map<std::string, std::shared_ptr<const QZECodeTable>>;

    std::optional<std::string> lookup(const std::string& table, const std::string& code) const;
    void storeTable(const std::string& name, std::shared_ptr<const QZECodeTable> table);

    // Held for a whole load; recursive so a load may start nested loads.
    std::recursive_mutex m_loadMutex;
    // Guards the tables only, never held while reading a file.
    mutable std::mutex m_mutex;
    std::optional<Tables> m_manfacturerDictionary;
};

}  // namespace qz
