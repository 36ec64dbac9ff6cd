#include "platform/FileSystem.hpp"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <random>

#include "platform/Locked.hpp"

namespace qz {

namespace fs = std::filesystem;

namespace {

struct Overrides {
    std::mutex mutex;
    fs::path home;
    fs::path documents;
    fs::path temporary;
};

// Deliberately leaked: paths stay usable by threads still running at process exit.
Overrides& overrides() {
    static auto* o = new Overrides;
    return *o;
}

fs::path defaultHome() {
    const char* env = std::getenv("HOME");
    if (env && *env) return fs::path(env);
    std::error_code ec;
    auto cwd = fs::current_path(ec);
    return ec ? fs::path(".") : cwd;
}

fs::path homeLocked(Overrides& o) {
    return o.home.empty() ? defaultHome() : o.home;
}

// The library's folder under an XDG base directory: $variable when it is an absolute path,
// else home/fallback.
fs::path xdgFolder(const char* variable, const fs::path& home, const fs::path& fallback) {
    const char* env = std::getenv(variable);
    fs::path base = env && *env ? fs::path(env) : fs::path();
    if (!base.is_absolute()) base = home / fallback;
    return base / "QZEnhanced";
}

// With a home set: home/appFolder; else the XDG folder.
fs::path libraryFolder(const fs::path& appFolder, const char* variable, const fs::path& fallback) {
    auto& o = overrides();
    std::unique_lock lock(o.mutex);
    if (!o.home.empty()) return o.home / appFolder;
    const fs::path home = defaultHome();
    lock.unlock();
    return xdgFolder(variable, home, fallback);
}

fs::path dataFolder(const fs::path& appFolder) {
    return libraryFolder(appFolder, "XDG_DATA_HOME", fs::path(".local") / "share");
}

// $HOME/folder when no home is set.
std::optional<fs::path> earlierFolder(const fs::path& folder) {
    auto& o = overrides();
    std::lock_guard lock(o.mutex);
    if (!o.home.empty()) return std::nullopt;
    return defaultHome() / folder;
}

}  // namespace

fs::path Paths::home() {
    auto& o = overrides();
    std::lock_guard lock(o.mutex);
    return homeLocked(o);
}

void Paths::setHome(const fs::path& path) {
    auto& o = overrides();
    lockedAssign(o.mutex, o.home, path);
}

fs::path Paths::documentsDirectory() {
    {
        auto& o = overrides();
        std::lock_guard lock(o.mutex);
        if (!o.documents.empty()) return o.documents;
    }
    return dataFolder("Documents");
}

void Paths::setDocumentsDirectory(const fs::path& path) {
    auto& o = overrides();
    lockedAssign(o.mutex, o.documents, path);
}

fs::path Paths::temporaryDirectory() {
    auto& o = overrides();
    {
        std::lock_guard lock(o.mutex);
        if (!o.temporary.empty()) return o.temporary;
    }
    std::error_code ec;
    auto tmp = fs::temp_directory_path(ec);
    return ec ? fs::path("/tmp") : tmp;
}

void Paths::setTemporaryDirectory(const fs::path& path) {
    auto& o = overrides();
    lockedAssign(o.mutex, o.temporary, path);
}

fs::path Paths::applicationSupportDirectory() {
    return dataFolder(fs::path("Library") / "Application Support");
}

fs::path Paths::preferencesDirectory() {
    return libraryFolder(fs::path("Library") / "Preferences", "XDG_CONFIG_HOME", ".config");
}

fs::path Paths::cachesDirectory() {
    return libraryFolder(fs::path("Library") / "Caches", "XDG_CACHE_HOME", ".cache");
}

std::optional<fs::path> Paths::earlierApplicationSupportDirectory() {
    return earlierFolder(fs::path("Library") / "Application Support");
}

std::optional<fs::path> Paths::earlierPreferencesDirectory() {
    return earlierFolder(fs::path("Library") / "Preferences");
}

bool Paths::copyIfMissing(const fs::path& from, const fs::path& to) {
    std::error_code ec;
    if (fs::symlink_status(to, ec).type() != fs::file_type::not_found) return false;
    if (!fs::exists(from, ec)) return false;
    if (!createDirectories(to.parent_path())) return false;
    fs::copy(from, to, fs::copy_options::recursive, ec);
    if (!ec) return true;
    fs::remove_all(to, ec);
    return false;
}

bool Paths::createDirectories(const fs::path& path) {
    std::error_code ec;
    fs::create_directories(path, ec);
    return fs::is_directory(path, ec);
}

std::optional<fs::path> Paths::makeUniqueDirectory(const std::string& prefix,
                                                   const fs::path& parent) {
    fs::path base = parent.empty() ? temporaryDirectory() : parent;
    if (!createDirectories(base)) return std::nullopt;
    static std::atomic<uint64_t> counter{0};
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto name = prefix + "-" + std::to_string(::getpid()) + "-" +
                    std::to_string(counter.fetch_add(1)) + "-" + std::to_string(rd() % 1000000);
        fs::path candidate = base / name;
        std::error_code ec;
        if (fs::create_directory(candidate, ec) && !ec) {
            fs::permissions(candidate, fs::perms::owner_all, fs::perm_options::replace, ec);
            return candidate;
        }
    }
    return std::nullopt;
}

// --- ScopedHome ------------------------------------------------------------------------

namespace {
struct SavedOverrides {
    fs::path home, documents, temporary;
};
thread_local std::vector<SavedOverrides> savedStack;
}  // namespace

ScopedHome::ScopedHome() {
    auto dir = Paths::makeUniqueDirectory("qz-home", fs::temp_directory_path());
    path_ = dir ? *dir : fs::temp_directory_path() / "qz-home-fallback";
    Paths::createDirectories(path_ / "tmp");
    auto& o = overrides();
    std::lock_guard lock(o.mutex);
    savedStack.push_back({o.home, o.documents, o.temporary});
    o.home = path_;
    o.documents.clear();
    o.temporary = path_ / "tmp";
}

ScopedHome::~ScopedHome() {
    {
        auto& o = overrides();
        std::lock_guard lock(o.mutex);
        if (!savedStack.empty()) {
            o.home = savedStack.back().home;
            o.documents = savedStack.back().documents;
            o.temporary = savedStack.back().temporary;
            savedStack.pop_back();
        }
    }
    std::error_code ec;
    fs::remove_all(path_, ec);
}

}  // namespace qz
