#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "api/Communication/YMME.hpp"
#include "api/Web/VinError.hpp"
#include "platform/Result.hpp"

namespace qz {

// The offline year/make/model/engine database: the library resource
// "vindb/VinDatabase.json", encrypted with the definition-file operation. Entries match
// a VIN by its first eight characters ('*' matches any one) and its model year range.
class VinDatabase {
  public:
    struct Entry {
        std::string pattern;
        int firstYear = 0;
        int lastYear = 0;
        std::string make;
        std::string model;
        std::optional<std::string> series;
        std::optional<std::string> engine;
    };

    static constexpr const char* kResourceName = "VinDatabase";
    static constexpr const char* kResourceType = "json";
    static constexpr const char* kResourceDirectory = "vindb";

    // Decodes the database text; nullopt when it is not a database.
    static std::optional<VinDatabase> decode(const std::string& json);

    // The database of the library's resources, decrypted and decoded once per resource
    // path; null when it is missing or does not decrypt or decode.
    static std::shared_ptr<const VinDatabase> shared();

    // The vehicle of a VIN from the shared database.
    static Result<YMME, VinError> lookup(const std::string& vin);

    // The vehicle of a VIN from this database: invalidVin for anything but 17 characters
    // of the VIN alphabet, notFound when no entry matches.
    Result<YMME, VinError> find(const std::string& vin) const;

    const std::vector<Entry>& entries() const { return entries_; }

  private:
    std::vector<Entry> entries_;
};

}  // namespace qz
