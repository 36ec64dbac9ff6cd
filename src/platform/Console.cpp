#include "platform/Console.hpp"

#include <cstdio>
#include <mutex>

namespace qz::console {

namespace {

struct Slot {
    std::mutex mutex;
    Sink sink = standardError();
};

// Leaked: the console stays usable by threads still running at exit.
Slot& slot() {
    static auto* s = new Slot;
    return *s;
}

}  // namespace

Sink standardError() {
    return [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
}

void log(const std::string& line) {
    Sink sink;
    {
        std::lock_guard lock(slot().mutex);
        sink = slot().sink;
    }
    if (sink) sink(line);
}

Sink setSink(Sink sink) {
    std::lock_guard lock(slot().mutex);
    std::swap(slot().sink, sink);
    return sink;
}

}  // namespace qz::console
