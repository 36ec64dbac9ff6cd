// The fuzzer executables' set-up: a home folder of their own (removed at exit) and
// InstantClock, installed before the first input.

#include <cstdlib>

#include "FuzzSupport.hpp"
#include "platform/FileSystem.hpp"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static auto* home = new qz::ScopedHome;
    std::atexit([] { delete home; });
    qz::Clock::install(std::make_shared<qz::fuzz::InstantClock>());
    return 0;
}
