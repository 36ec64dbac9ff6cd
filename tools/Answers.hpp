#pragma once

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "DiagSession.hpp"
#include "platform/Clock.hpp"

namespace qz::tools {

// The values a library callback hands over, from whichever thread calls it (the callback may
// outlive this object).
template <class T>
class Answers {
  public:
    std::function<void(T)> callback() {
        return [state = state_](T value) {
            {
                std::lock_guard lock(state->mutex);
                state->values.push_back(std::move(value));
            }
            state->changed.notify_all();
        };
    }
    // Waits until a value that `match` accepts has arrived; the first such value.
    std::optional<T> waitFor(std::function<bool(const T&)> match,
                             double seconds = DiagSession::kAnswerTimeout) {
        std::unique_lock lock(state_->mutex);
        std::optional<T> found;
        Clock::current()->waitFor(lock, state_->changed, seconds, [&] {
            for (auto& v : state_->values)
                if (match(v)) {
                    found = v;
                    return true;
                }
            return false;
        });
        return found;
    }
    // Whether a value that `match` accepts has arrived, without waiting.
    bool has(const std::function<bool(const T&)>& match) const {
        std::lock_guard lock(state_->mutex);
        return std::any_of(state_->values.begin(), state_->values.end(), match);
    }
    // Waits for the first value.
    std::optional<T> first(double seconds = DiagSession::kAnswerTimeout) {
        return waitFor([](const T&) { return true; }, seconds);
    }

  private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<T> values;
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace qz::tools
