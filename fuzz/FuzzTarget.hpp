#pragma once

// A fuzz target is one file in fuzz/targets/:
//
//     #include "FuzzTarget.hpp"
//     QZ_FUZZ_TARGET(name) {
//         ... read `data`, `size` ...
//     }
//
// In the fuzzer build (QZ_FUZZER, scripts/fuzz) the body becomes the libFuzzer entry point of
// the executable fuzz_<name>; in the test build it is registered under `name`, and the test
// FuzzCorpus replays every file of fuzz/corpus/<name>/ through it. A body runs in a home
// folder of its own with time that never waits (InstantClock); it must not throw.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "FuzzSupport.hpp"

namespace qz::fuzz {

using Target = void (*)(const uint8_t* data, size_t size);

// Registers a target for the corpus replay; returns true.
bool registerTarget(std::string_view name, Target target);

}  // namespace qz::fuzz

#ifdef QZ_FUZZER
#define QZ_FUZZ_TARGET(name)                                                  \
    static void qzFuzzBody(const uint8_t* data, size_t size);                 \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { \
        qzFuzzBody(data, size);                                               \
        return 0;                                                             \
    }                                                                         \
    static void qzFuzzBody(const uint8_t* data, size_t size)
#else
#define QZ_FUZZ_TARGET(name)                                  \
    static void qzFuzzBody(const uint8_t* data, size_t size); \
    [[maybe_unused]] static const bool qzFuzzRegistered =     \
        ::qz::fuzz::registerTarget(#name, &qzFuzzBody);       \
    static void qzFuzzBody(const uint8_t* data, size_t size)
#endif
