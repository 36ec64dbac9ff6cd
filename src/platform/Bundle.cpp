#include "platform/Bundle.hpp"

#include <cstdlib>
#include <mutex>

#include "platform/Locked.hpp"

namespace qz {

namespace fs = std::filesystem;

namespace {
struct BundlePaths {
    std::mutex mutex;
    fs::path library;
    fs::path main;
};
BundlePaths& bundlePaths() {
    static auto* p = new BundlePaths;
    return *p;
}
}  // namespace

Bundle Bundle::library() {
    {
        auto& p = bundlePaths();
        std::lock_guard lock(p.mutex);
        if (!p.library.empty()) return Bundle(p.library);
    }
    const char* env = std::getenv("QZ_RESOURCE_DIR");
    if (env && *env) return Bundle(fs::path(env));
#ifdef QZ_BUILD_RESOURCE_DIR
    return Bundle(fs::path(QZ_BUILD_RESOURCE_DIR));
#else
    return Bundle(fs::path("resources"));
#endif
}

void Bundle::setLibraryPath(const fs::path& path) {
    auto& p = bundlePaths();
    lockedAssign(p.mutex, p.library, path);
}

Bundle Bundle::main() {
    {
        auto& p = bundlePaths();
        std::lock_guard lock(p.mutex);
        if (!p.main.empty()) return Bundle(p.main);
    }
    std::error_code ec;
    auto exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return Bundle(fs::current_path(ec));
    return Bundle(exe.parent_path());
}

void Bundle::setMainPath(const fs::path& path) {
    auto& p = bundlePaths();
    lockedAssign(p.mutex, p.main, path);
}

std::optional<fs::path> Bundle::path(const std::string& forResource, const std::string& ofType,
                                     const std::string& inDirectory) const {
    if (forResource.empty()) return std::nullopt;
    std::string file = forResource;
    if (!ofType.empty()) file += (ofType.front() == '.' ? "" : ".") + ofType;
    fs::path candidate = inDirectory.empty() ? root_ / file : root_ / inDirectory / file;
    std::error_code ec;
    if (!fs::is_regular_file(candidate, ec)) return std::nullopt;
    return candidate;
}

}  // namespace qz
