// The fuzzer executables' set-up: a home folder of their own (removed at exit) and
// InstantClock, installed before the first input.

#include <cstdlib>
#include <filesystem>

#include "FuzzSupport.hpp"
#include "platform/FileSystem.hpp"

namespace {
std::filesystem::path home;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // In memory where there is such a folder: settings and stores sync every write.
    std::error_code ec;
    const bool shm = std::filesystem::is_directory("/dev/shm", ec);
    auto made = qz::Paths::makeUniqueDirectory("qz-fuzz", shm ? "/dev/shm" : "");
    if (!made) std::abort();
    home = *made;
    qz::Paths::setHome(home);
    qz::Paths::setTemporaryDirectory(home / "tmp");
    qz::Paths::createDirectories(home / "tmp");
    qz::Clock::install(std::make_shared<qz::fuzz::InstantClock>());
    std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(home, ec);
    });
    return 0;
}
