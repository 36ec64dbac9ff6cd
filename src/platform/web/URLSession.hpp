#pragma once

#include <functional>
#include <memory>
#include <mutex>

#include "platform/Result.hpp"
#include "platform/web/URLRequest.hpp"
#include "platform/web/URLResponse.hpp"

namespace qz {

class URLSession;
struct URLSessionEngine;

// One request of a session. Nothing is sent until resume(); cancel() before or
// during the exchange completes it with URLError::Code::cancelled. The
// completion is called exactly once, on the session's callback thread.
class URLSessionDataTask : public std::enable_shared_from_this<URLSessionDataTask> {
  public:
    using Completion = std::function<void(Result<URLResponse, URLError>)>;

    void resume();
    void cancel();
    const URLRequest& originalRequest() const { return request_; }

    URLSessionDataTask(std::weak_ptr<URLSessionEngine> engine, URLRequest request,
                       Completion completion);

  private:
    friend struct URLSessionEngine;
    std::weak_ptr<URLSessionEngine> engine_;
    URLRequest request_;
    Completion completion_;
    std::mutex mutex_;
    bool resumed_ = false;
    bool finished_ = false;
};

// An HTTP client over libcurl. Requests run concurrently on the session's own
// transfer thread; completions are called one at a time, in the order the
// exchanges end, on the session's callback thread (never on the caller's).
class URLSession {
  public:
    using Completion = URLSessionDataTask::Completion;

    // The process-wide session.
    static std::shared_ptr<URLSession> shared();
    static std::shared_ptr<URLSession> create();
    ~URLSession();

    URLSession(const URLSession&) = delete;
    URLSession& operator=(const URLSession&) = delete;

    std::shared_ptr<URLSessionDataTask> dataTask(URLRequest request, Completion completion);
    // Cancels every running task; the session stays usable.
    void cancelAllTasks();

  private:
    URLSession();
    std::shared_ptr<URLSessionEngine> engine_;
};

}  // namespace qz
