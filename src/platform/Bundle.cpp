#include "platform/Bundle.hpp"

#include <dlfcn.h>

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

#ifndef QZ_INSTALLED_RESOURCES_FROM_LIBRARY
#define QZ_INSTALLED_RESOURCES_FROM_LIBRARY "../share/QZEnhanced/resources"
#endif

// The folder of the file that holds this code: the shared library, or the program a static
// library was linked into.
fs::path codeFolder() {
    std::error_code ec;
    Dl_info info{};
    fs::path file;
    if (::dladdr(reinterpret_cast<void*>(&codeFolder), &info) && info.dli_fname)
        file = info.dli_fname;
    if (!file.is_absolute()) file = fs::read_symlink("/proc/self/exe", ec);
    return fs::weakly_canonical(file, ec).parent_path();
}

// The resource folder of this library: "resources" beside it in a build tree, else where
// an installation puts it relative to the library.
fs::path foundResourceFolder() {
    const fs::path folder = codeFolder();
    const fs::path installed = (folder / QZ_INSTALLED_RESOURCES_FROM_LIBRARY).lexically_normal();
    std::error_code ec;
    for (const fs::path& candidate : {folder / "resources", installed})
        if (fs::is_directory(candidate, ec)) return candidate;
    return installed;
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
    static const fs::path found = foundResourceFolder();
    return Bundle(found);
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
