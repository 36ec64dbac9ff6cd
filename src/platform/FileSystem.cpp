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
    auto& o = overrides();
    std::lock_guard lock(o.mutex);
    return o.documents.empty() ? homeLocked(o) / "Documents" : o.documents;
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
    return home() / "Library" / "Application Support";
}

fs::path Paths::preferencesDirectory() {
    return home() / "Library" / "Preferences";
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
