#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>

#include "platform/FileSystem.hpp"
#include "support/TestSupport.hpp"

namespace qz::testsupport {

// What one run of the demo program printed and its exit status (-1: it did not exit).
struct QzdiagRun {
    int status = -1;
    std::string out;
};

// Runs the built qzdiag with `args` (shell words); its standard error is dropped.
inline QzdiagRun qzdiag(const std::string& args) {
    QzdiagRun run;
    int rc = -1;
    run.out = runCommand(std::string(QZ_BINARY_DIR) + "/qzdiag " + args + " 2>/dev/null", &rc);
    run.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return run;
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
