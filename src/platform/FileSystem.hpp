#pragma once

#include <filesystem>
#include <optional>

namespace qz {

// The folders the library writes to. Thread-safe; overrides apply process-wide.
//
// With a home set (`setHome`), the library keeps the layout of an app's own folder under it:
// home/Documents, home/Library/Application Support, home/Library/Preferences and
// home/Library/Caches. Without one, it follows the XDG base directories: documents and its own
// data in $XDG_DATA_HOME/QZEnhanced (default ~/.local/share/QZEnhanced), settings in
// $XDG_CONFIG_HOME/QZEnhanced (default ~/.config/QZEnhanced), caches in
// $XDG_CACHE_HOME/QZEnhanced (default ~/.cache/QZEnhanced). A variable that is empty or not
// an absolute path counts as unset. `setDocumentsDirectory` overrides the documents folder in
// both cases.
class Paths {
  public:
    // The home folder: the override, else $HOME, else the current folder.
    static std::filesystem::path home();
    // Overrides the home folder (an empty path restores $HOME and the XDG folders).
    static void setHome(const std::filesystem::path& path);

    // The documents folder (the log files are in its "Logs"): the override, else home/Documents
    // with a home set, else the XDG data folder.
    static std::filesystem::path documentsDirectory();
    // Overrides the documents folder (an empty path restores the default).
    static void setDocumentsDirectory(const std::filesystem::path& path);

    // The system's temporary folder unless overridden.
    static std::filesystem::path temporaryDirectory();
    static void setTemporaryDirectory(const std::filesystem::path& path);

    // The library's own data (the store of cached analytics events): home/Library/Application
    // Support with a home set, else the XDG data folder.
    static std::filesystem::path applicationSupportDirectory();
    // Settings suites: home/Library/Preferences with a home set, else the XDG config folder.
    static std::filesystem::path preferencesDirectory();
    // Caches: home/Library/Caches with a home set, else the XDG cache folder.
    static std::filesystem::path cachesDirectory();

    // Where a library that kept the app layout in $HOME stored its data and its settings
    // ($HOME/Library/Application Support, $HOME/Library/Preferences); none with a home set, when
    // the folders are the XDG ones anyway.
    static std::optional<std::filesystem::path> earlierApplicationSupportDirectory();
    static std::optional<std::filesystem::path> earlierPreferencesDirectory();
    // Copies the file or folder `from` to `to` when `to` does not exist yet and `from` does
    // (creating the parents of `to`); true when it copied. A copy that fails midway is removed.
    static bool copyIfMissing(const std::filesystem::path& from, const std::filesystem::path& to);

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
