#pragma once

#include <filesystem>
#include <optional>

namespace qz {

// The folders the library writes to. Thread-safe; overrides apply process-wide.
class Paths {
  public:
    // The home folder: the override, else $HOME, else the current folder.
    static std::filesystem::path home();
    // Overrides the home folder (an empty path restores $HOME).
    static void setHome(const std::filesystem::path& path);

    // home/Documents unless overridden.
    static std::filesystem::path documentsDirectory();
    // Overrides the documents folder (an empty path restores the default).
    static void setDocumentsDirectory(const std::filesystem::path& path);

    // The system's temporary folder unless overridden.
    static std::filesystem::path temporaryDirectory();
    static void setTemporaryDirectory(const std::filesystem::path& path);

    // home/Library/Application Support: the library's own data.
    static std::filesystem::path applicationSupportDirectory();
    // home/Library/Preferences: user-defaults suites.
    static std::filesystem::path preferencesDirectory();

    // Creates `path` and its missing parents; true when it exists as a folder afterwards.
    static bool createDirectories(const std::filesystem::path& path);
    // A new, empty, uniquely named folder under `parent` (default: the temporary folder).
    static std::optional<std::filesystem::path> makeUniqueDirectory(
        const std::string& prefix, const std::filesystem::path& parent = {});
};

// For tests: a fresh home folder (with documents, temporary folder and preferences
// inside it) for the life of the object; restores the previous folders and deletes
// it afterwards.
class ScopedHome {
  public:
    ScopedHome();
    ~ScopedHome();
    ScopedHome(const ScopedHome&) = delete;
    ScopedHome& operator=(const ScopedHome&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

}  // namespace qz
