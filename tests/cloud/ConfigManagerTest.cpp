#include <fstream>

#include "CloudFixture.hpp"
#include "platform/Bundle.hpp"

using namespace qz;
using qz::test::CloudTest;

namespace {

Data bytes(const std::string& s) {
    return Data(s.begin(), s.end());
}

void write(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

// Points both bundles at folders of the test's home for the life of the object.
struct ScopedBundles {
    std::filesystem::path main, library;
    explicit ScopedBundles(const std::filesystem::path& home)
        : main(home / "App.app"), library(home / "lib-resources") {
        std::filesystem::create_directories(main);
        std::filesystem::create_directories(library);
        Bundle::setMainPath(main);
        Bundle::setLibraryPath(library);
    }
    ~ScopedBundles() {
        Bundle::setMainPath({});
        Bundle::setLibraryPath({});
    }
};

}  // namespace

TEST_F(CloudTest, ConfigurationKeepsTheThreeCredentials) {
    EXPECT_FALSE(ConfigManager::credentials());
    ASSERT_TRUE(ConfigManager::initialize(
        bytes(R"({"clientId":"id","clientkey":"key","clientPass":"pass","other":1})")));
    EXPECT_EQ(ConfigManager::credentials(), (BackendCredentials{"id", "key", "pass"}));

    // Documents that fail to decode leave the kept values alone.
    for (auto bad : {R"({"clientId":"x","clientKey":"y","clientPass":"z"})",
                     R"({"clientId":"x","clientkey":7,"clientPass":"z"})", "[1,2]", "{", ""}) {
        auto r = ConfigManager::initialize(bytes(bad));
        ASSERT_FALSE(r.has_value()) << bad;
        EXPECT_EQ(r.error().kind, ConfigError::Kind::invalidDocument);
    }
    EXPECT_EQ(ConfigManager::credentials(), (BackendCredentials{"id", "key", "pass"}));
}

TEST_F(CloudTest, ConfigurationDocumentComesFromTheHostBundleFirst) {
    ScopedBundles bundles(home->path());
    auto missing = ConfigManager::initializeFromBundles();
    ASSERT_FALSE(missing.has_value());
    EXPECT_EQ(missing.error().kind, ConfigError::Kind::documentMissing);

    write(bundles.library / "pelkconfig.json",
          R"({"clientId":"lib","clientkey":"lk","clientPass":"lp"})");
    ASSERT_TRUE(ConfigManager::initializeFromBundles());
    ASSERT_TRUE(ConfigManager::credentials());
    EXPECT_EQ(ConfigManager::credentials()->clientId, "lib");

    write(bundles.main / "pelkconfig.json",
          R"({"clientId":"host","clientkey":"hk","clientPass":"hp"})");
    ASSERT_TRUE(ConfigManager::initializeFromBundles());
    EXPECT_EQ(ConfigManager::credentials(), (BackendCredentials{"host", "hk", "hp"}));
}
