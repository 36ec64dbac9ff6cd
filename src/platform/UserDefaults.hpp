#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

namespace qz {

// A named suite of settings, persisted as one JSON object in
// `Paths::preferencesDirectory()/<name>.json`.
//
// `suite(name)` returns the one shared instance per name and preferences folder, kept for
// the process. Every change is written at once and atomically (temporary file, then
// rename), so the file always holds a complete object. A write that fails (the disk is
// full or refuses it) loses nothing: the values stay readable from memory, and the next
// change writes them all. All operations are thread-safe.
//
// A file that is damaged, larger than `kMaxFileBytes` or nested deeper than
// `kMaxDepth` reads as an empty suite (the next change replaces it); opening a suite
// removes the temporary files that writes killed midway left behind.
class UserDefaults {
  public:
    using json = nlohmann::json;

    static constexpr std::uintmax_t kMaxFileBytes = 4 * 1024 * 1024;
    static constexpr int kMaxDepth = 64;

    // The suite `name`; null when the name is empty or unusable as a file name.
    static std::shared_ptr<UserDefaults> suite(const std::string& name);

    const std::string& name() const { return name_; }
    const std::filesystem::path& filePath() const { return file_; }

    // The value under `key`, or nullopt when absent.
    std::optional<json> object(const std::string& key) const;
    // Stores `value` under `key`; a null value removes the key.
    void set(const std::string& key, const json& value);
    void removeObject(const std::string& key);

    // A text value (numbers and booleans are given as text), or nullopt.
    std::optional<std::string> string(const std::string& key) const;
    // An integer value (numbers, booleans and numeric texts convert), else 0.
    int64_t integer(const std::string& key) const;
    // A boolean value (non-zero numbers and "true"/"YES"/"1"-like texts are true), else false.
    bool boolean(const std::string& key) const;
    // A floating-point value (numbers, booleans and numeric texts convert), else 0.
    double doubleValue(const std::string& key) const;

    // Every key and value.
    json dictionaryRepresentation() const;
    // Whether the last write reached the disk.
    bool lastWriteSucceeded() const;
    // Why the file could not be read when the suite opened, once; nullopt afterwards
    // and when it read (or did not exist).
    std::optional<std::string> takeLoadProblem();

    UserDefaults(std::string name, std::filesystem::path file);

  private:
    void loadLocked();
    void removeLeftoversLocked();
    void persistLocked();

    std::string name_;
    std::filesystem::path file_;
    mutable std::mutex mutex_;
    json values_;
    bool lastWriteOk_ = true;
    std::optional<std::string> loadProblem_;
};

}  // namespace qz
