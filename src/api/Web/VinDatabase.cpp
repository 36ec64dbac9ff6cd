#include "api/Web/VinDatabase.hpp"

#include <cmath>
#include <mutex>
#include <nlohmann/json.hpp>

#include "api/VIN/VIN.hpp"
#include "api/Web/PelkWeb.hpp"
#include "lib/Content/DefinitionFile.hpp"

namespace qz {

namespace {

bool patternMatches(const std::string& pattern, const std::string& vin) {
    if (pattern.size() != 8) return false;
    for (size_t i = 0; i < 8; ++i)
        if (pattern[i] != '*' && pattern[i] != vin[i]) return false;
    return true;
}

std::optional<std::string> optionalText(const nlohmann::json& j, const char* key) {
    auto it = j.find(key);
    if (it == j.end() || it->is_null()) return std::nullopt;
    return it->get<std::string>();
}

// A model year: a whole number of at most four digits, checked before it is converted
// (the document may hold any number, 1e300 included).
std::optional<int> modelYear(const nlohmann::json& j) {
    constexpr int kLast = 9999;
    if (j.is_number_unsigned()) {
        const auto v = j.get<uint64_t>();
        if (v > kLast) return std::nullopt;
        return static_cast<int>(v);
    }
    if (j.is_number_integer()) {
        const auto v = j.get<int64_t>();
        if (v < 0 || v > kLast) return std::nullopt;
        return static_cast<int>(v);
    }
    if (j.is_number_float()) {
        const double v = j.get<double>();
        if (!(v >= 0 && v <= kLast) || v != std::floor(v)) return std::nullopt;
        return static_cast<int>(v);
    }
    return std::nullopt;
}

}  // namespace

std::optional<VinDatabase> VinDatabase::decode(const std::string& json) {
    try {
        auto j = nlohmann::json::parse(json);
        VinDatabase db;
        for (const auto& v : j.at("vehicles")) {
            Entry e;
            e.pattern = v.at("pattern").get<std::string>();
            for (auto& c : e.pattern)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            const auto& years = v.at("years");
            if (!years.is_array() || years.size() != 2) return std::nullopt;
            auto first = modelYear(years[0]);
            auto last = modelYear(years[1]);
            if (!first || !last) return std::nullopt;
            e.firstYear = *first;
            e.lastYear = *last;
            e.make = v.at("make").get<std::string>();
            e.model = v.at("model").get<std::string>();
            e.series = optionalText(v, "series");
            e.engine = optionalText(v, "engine");
            if (e.pattern.size() != 8 || e.firstYear > e.lastYear) return std::nullopt;
            db.entries_.push_back(std::move(e));
        }
        return db;
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
}

std::shared_ptr<const VinDatabase> VinDatabase::shared() {
    // Leaked: look-ups on other threads may still run at exit.
    struct Cache {
        std::mutex mutex;
        std::filesystem::path loadedPath;
        std::shared_ptr<const VinDatabase> loaded;
    };
    static auto* cache = new Cache;
    auto& [mutex, loadedPath, loaded] = *cache;

    auto path = DefinitionFile::path(kResourceName, kResourceType, kResourceDirectory);
    std::lock_guard lock(mutex);
    if (!path) return nullptr;
    if (loaded && loadedPath == *path) return loaded;
    auto data = DefinitionFile::load(*path);
    if (!data) return nullptr;
    auto db = decode(std::string(data->begin(), data->end()));
    if (!db) return nullptr;
    loaded = std::make_shared<const VinDatabase>(std::move(*db));
    loadedPath = *path;
    return loaded;
}

Result<YMME, VinError> VinDatabase::lookup(const std::string& vin) {
    if (!PelkWeb::normalizedVin(vin)) return std::unexpected(VinError::invalidVin);
    auto db = shared();
    if (!db) return std::unexpected(VinError::databaseUnavailable);
    return db->find(vin);
}

Result<YMME, VinError> VinDatabase::find(const std::string& vin) const {
    auto normalized = PelkWeb::normalizedVin(vin);
    if (!normalized) return std::unexpected(VinError::invalidVin);
    auto decodedYear = VIN::year(*normalized);
    std::optional<int> year;
    if (decodedYear && *decodedYear > 0) year = *decodedYear;
    for (const auto& e : entries_) {
        if (!patternMatches(e.pattern, *normalized)) continue;
        if (year && (*year < e.firstYear || *year > e.lastYear)) continue;
        YMME ymme;
        ymme.vin = *normalized;
        ymme.make = e.make;
        ymme.model = e.model;
        ymme.engine = e.engine;
        ymme.series = e.series;
        if (year) ymme.year = *year;
        return ymme;
    }
    return std::unexpected(VinError::notFound);
}

}  // namespace qz
