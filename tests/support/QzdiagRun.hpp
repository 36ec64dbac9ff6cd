#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/FileSystem.hpp"
#include "support/TestSupport.hpp"

namespace qz::testsupport {

// What one run of the demo program printed and its exit status (-1: it did not exit).
struct QzdiagRun {
    int status = -1;
    std::string out;
    std::string err;  // standard error, where it was kept apart
};

// Runs the built qzdiag with `args` (shell words); its standard error is dropped.
inline QzdiagRun qzdiag(const std::string& args) {
    QzdiagRun run;
    int rc = -1;
    run.out = runCommand(std::string(QZ_BINARY_DIR) + "/qzdiag " + args + " 2>/dev/null", &rc);
    run.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return run;
}

// A copy of the sample profile `profile` in `folder` as `name`, its "sensor" settings updated
// with `sensor`; the --vehicle option that names it.
inline std::string profileVariant(const std::filesystem::path& folder, const std::string& profile,
                                  const std::string& name, const nlohmann::json& sensor) {
    auto doc = nlohmann::json::parse(
        text(readFileBytes(std::filesystem::path(QZ_SOURCE_DIR) / "sim" / "profiles" / profile)));
    doc["sensor"].update(sensor);
    writeText(folder / name, doc.dump());
    return "--vehicle '" + (folder / name).string() + "' ";
}

// Runs of qzdiag in a fresh home; skipped where qzdiag is not built.
class QzdiagFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!std::filesystem::exists(std::string(QZ_BINARY_DIR) + "/qzdiag"))
            GTEST_SKIP() << "qzdiag is not built";
    }
    qz::ScopedHome home;
    std::string homeArg() const { return "--home '" + home.path().string() + "/app'"; }
};

}  // namespace qz::testsupport
