#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace qz {

// A folder of resources.
class Bundle {
  public:
    // The library's resources: the folder set with `setLibraryPath`, else $QZ_RESOURCE_DIR,
    // else the one found from the library's own file: "resources" beside it (a build
    // tree), else the installed folder (<prefix>/share/QZEnhanced/resources).
    static Bundle library();
    static void setLibraryPath(const std::filesystem::path& path);  // empty: back to default

    // The host app's bundle: the folder set with `setMainPath`, else the executable's folder.
    static Bundle main();
    static void setMainPath(const std::filesystem::path& path);  // empty: back to default

    explicit Bundle(std::filesystem::path root) : root_(std::move(root)) {}

    const std::filesystem::path& bundlePath() const { return root_; }

    // The file `forResource` + "." + `ofType` (or `forResource` alone when `ofType` is
    // empty) in `inDirectory` under the bundle, when it exists as a regular file.
    std::optional<std::filesystem::path> path(const std::string& forResource,
                                              const std::string& ofType,
                                              const std::string& inDirectory = "") const;

  private:
    std::filesystem::path root_;
};

}  // namespace qz
