#include "platform/Console.hpp"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace qz::console {

namespace {

// An installed sink and the number of its calls running now.
struct Installed {
    Sink sink;
    size_t running = 0;
};

struct Slot {
    std::mutex mutex;
    std::condition_variable idle;  // a call of some sink ended
    std::shared_ptr<Installed> current = std::make_shared<Installed>(Installed{standardError()});
};

// Leaked: the console stays usable by threads still running at exit.
Slot& slot() {
    static auto* s = new Slot;
    return *s;
}

// The sinks the calling thread is inside, innermost last.
thread_local std::vector<const Installed*> callingThreadSinks;

}  // namespace

Sink standardError() {
    return [](const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); };
}

void log(const std::string& line) {
    auto& s = slot();
    std::shared_ptr<Installed> installed;
    {
        std::lock_guard lock(s.mutex);
        installed = s.current;
        if (!installed->sink) return;
        ++installed->running;
    }
    callingThreadSinks.push_back(installed.get());
    struct Done {
        Slot& s;
        Installed& installed;
        ~Done() {
            callingThreadSinks.pop_back();
            std::lock_guard lock(s.mutex);
            --installed.running;
            s.idle.notify_all();
        }
    } done{s, *installed};
    installed->sink(line);
}

Sink setSink(Sink sink) {
    auto& s = slot();
    auto replacement = std::make_shared<Installed>();
    replacement->sink = std::move(sink);
    std::unique_lock lock(s.mutex);
    auto previous = std::exchange(s.current, std::move(replacement));
    // The sink handed back is done with: its owner may go. Calls of it on this thread (a sink
    // that replaces itself) are the caller's own and are not waited for.
    const auto own = static_cast<size_t>(
        std::count(callingThreadSinks.begin(), callingThreadSinks.end(), previous.get()));
    s.idle.wait(lock, [&] { return previous->running <= own; });
    return previous->sink;
}

}  // namespace qz::console
