#include "platform/web/URLSession.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <deque>
#include <thread>
#include <unordered_map>

namespace qz {

namespace {

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string trimmed(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

std::optional<std::string> lookup(const std::vector<std::pair<std::string, std::string>>& fields,
                                  const std::string& name) {
    for (const auto& [k, v] : fields)
        if (equalsIgnoringCase(k, name)) return v;
    return std::nullopt;
}

URLError errorFor(CURLcode code, const char* detail) {
    URLError e;
    e.transportCode = static_cast<int>(code);
    switch (code) {
        case CURLE_OPERATION_TIMEDOUT:
            e.code = URLError::Code::timedOut;
            break;
        case CURLE_COULDNT_CONNECT:
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            e.code = URLError::Code::cannotConnectToHost;
            break;
        case CURLE_URL_MALFORMAT:
        case CURLE_UNSUPPORTED_PROTOCOL:
            e.code = URLError::Code::badURL;
            break;
        case CURLE_GOT_NOTHING:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_PARTIAL_FILE:
            e.code = URLError::Code::networkConnectionLost;
            break;
        default:
            e.code = URLError::Code::unknown;
            break;
    }
    e.description = curl_easy_strerror(code);
    if (detail && *detail) e.description += std::string(": ") + detail;
    return e;
}

URLError cancelledError() {
    return URLError{URLError::Code::cancelled, static_cast<int>(CURLE_ABORTED_BY_CALLBACK),
                    "cancelled"};
}

void initCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

void URLRequest::setValue(const std::string& value, const std::string& field) {
    for (auto& [k, v] : allHTTPHeaderFields) {
        if (equalsIgnoringCase(k, field)) {
            v = value;
            return;
        }
    }
    allHTTPHeaderFields.emplace_back(field, value);
}

std::optional<std::string> URLRequest::value(const std::string& field) const {
    return lookup(allHTTPHeaderFields, field);
}

std::optional<std::string> URLResponse::value(const std::string& field) const {
    return lookup(allHeaderFields, field);
}

std::string percentEncoded(const std::string& text) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

const char* describe(URLError::Code code) {
    switch (code) {
        case URLError::Code::badURL:
            return "badURL";
        case URLError::Code::cannotConnectToHost:
            return "cannotConnectToHost";
        case URLError::Code::timedOut:
            return "timedOut";
        case URLError::Code::cancelled:
            return "cancelled";
        case URLError::Code::networkConnectionLost:
            return "networkConnectionLost";
        case URLError::Code::unknown:
            return "unknown";
    }
    return "unknown";
}

// The transfer thread drives every running request through one curl multi
// handle; finished requests hand their completion to the callback thread.
struct URLSessionEngine : std::enable_shared_from_this<URLSessionEngine> {
    struct Transfer {
        std::shared_ptr<URLSessionDataTask> task;
        CURL* easy = nullptr;
        curl_slist* headers = nullptr;
        URLResponse response;
        char errorBuffer[CURL_ERROR_SIZE] = {0};
    };

    CURLM* multi = nullptr;
    std::mutex mutex;
    std::vector<std::shared_ptr<URLSessionDataTask>> pending;
    std::vector<std::shared_ptr<URLSessionDataTask>> cancels;
    bool cancelAll = false;
    bool stopping = false;
    std::unordered_map<CURL*, std::unique_ptr<Transfer>> active;  // transfer thread only
    std::thread transferThread;

    std::mutex callbackMutex;
    std::condition_variable callbackCv;
    std::deque<std::function<void()>> callbacks;
    bool callbacksStopping = false;
    std::thread callbackThread;

    URLSessionEngine() {
        initCurlOnce();
        multi = curl_multi_init();
    }

    ~URLSessionEngine() {
        if (multi) curl_multi_cleanup(multi);
    }

    void start() {
        auto self = shared_from_this();
        transferThread = std::thread([self] { self->runTransfers(); });
        callbackThread = std::thread([self] { self->runCallbacks(); });
    }

    void shutdown() {
        {
            std::lock_guard lock(mutex);
            stopping = true;
        }
        curl_multi_wakeup(multi);
        if (transferThread.joinable()) transferThread.join();
        {
            std::lock_guard lock(callbackMutex);
            callbacksStopping = true;
        }
        callbackCv.notify_all();
        if (callbackThread.joinable()) {
            // A completion may drop the last reference to its own session.
            if (callbackThread.get_id() == std::this_thread::get_id())
                callbackThread.detach();
            else
                callbackThread.join();
        }
    }

    void submit(std::shared_ptr<URLSessionDataTask> task) {
        bool refused;
        {
            std::lock_guard lock(mutex);
            refused = stopping;
            if (!refused) pending.push_back(std::move(task));
        }
        if (refused)
            finish(task, std::unexpected(cancelledError()));
        else
            curl_multi_wakeup(multi);
    }

    void cancel(std::shared_ptr<URLSessionDataTask> task) {
        {
            std::lock_guard lock(mutex);
            cancels.push_back(std::move(task));
        }
        curl_multi_wakeup(multi);
    }

    void cancelEverything() {
        {
            std::lock_guard lock(mutex);
            cancelAll = true;
        }
        curl_multi_wakeup(multi);
    }

    void post(std::function<void()> fn) {
        {
            std::lock_guard lock(callbackMutex);
            callbacks.push_back(std::move(fn));
        }
        callbackCv.notify_one();
    }

    void finish(const std::shared_ptr<URLSessionDataTask>& task, Result<URLResponse, URLError> r) {
        URLSessionDataTask::Completion completion;
        {
            std::lock_guard lock(task->mutex_);
            if (task->finished_) return;
            task->finished_ = true;
            completion = std::move(task->completion_);
        }
        if (!completion) return;
        post([completion = std::move(completion), r = std::move(r)]() mutable {
            completion(std::move(r));
        });
    }

    void runCallbacks() {
        for (;;) {
            std::function<void()> fn;
            {
                std::unique_lock lock(callbackMutex);
                callbackCv.wait(lock, [&] { return callbacksStopping || !callbacks.empty(); });
                if (callbacks.empty()) return;
                fn = std::move(callbacks.front());
                callbacks.pop_front();
            }
            fn();
        }
    }

    static size_t onBody(char* data, size_t size, size_t count, void* user) {
        auto* t = static_cast<Transfer*>(user);
        t->response.body.insert(t->response.body.end(), data, data + size * count);
        return size * count;
    }

    static size_t onHeader(char* data, size_t size, size_t count, void* user) {
        auto* t = static_cast<Transfer*>(user);
        std::string line(data, size * count);
        if (line.rfind("HTTP/", 0) == 0) {
            // A new status line: interim or redirect responses are dropped.
            t->response.allHeaderFields.clear();
        } else if (auto colon = line.find(':'); colon != std::string::npos) {
            t->response.allHeaderFields.emplace_back(trimmed(line.substr(0, colon)),
                                                     trimmed(line.substr(colon + 1)));
        }
        return size * count;
    }

    void begin(const std::shared_ptr<URLSessionDataTask>& task) {
        {
            std::lock_guard lock(task->mutex_);
            if (task->finished_) return;
        }
        auto t = std::make_unique<Transfer>();
        t->task = task;
        const URLRequest& req = task->request_;
        CURL* h = curl_easy_init();
        if (!h) {
            finish(task, std::unexpected(errorFor(CURLE_OUT_OF_MEMORY, nullptr)));
            return;
        }
        t->easy = h;
        curl_easy_setopt(h, CURLOPT_URL, req.url.c_str());
        curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(h, CURLOPT_MAXREDIRS, 5L);
        curl_easy_setopt(h, CURLOPT_NOPROXY, "localhost,127.0.0.1,::1");
        curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "");
        curl_easy_setopt(h, CURLOPT_ERRORBUFFER, t->errorBuffer);
        if (req.timeoutInterval > 0)
            curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(req.timeoutInterval * 1000));
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &URLSessionEngine::onBody);
        curl_easy_setopt(h, CURLOPT_WRITEDATA, t.get());
        curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &URLSessionEngine::onHeader);
        curl_easy_setopt(h, CURLOPT_HEADERDATA, t.get());

        std::string method = req.httpMethod.empty() ? "GET" : req.httpMethod;
        std::transform(method.begin(), method.end(), method.begin(),
                       [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
        if (method == "GET") {
            curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
        } else if (method == "HEAD") {
            curl_easy_setopt(h, CURLOPT_NOBODY, 1L);
        } else {
            if (method != "POST") curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, method.c_str());
            if (method == "POST" || !req.httpBody.empty()) {
                curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE,
                                 static_cast<curl_off_t>(req.httpBody.size()));
                curl_easy_setopt(
                    h, CURLOPT_COPYPOSTFIELDS,
                    req.httpBody.empty() ? "" : reinterpret_cast<const char*>(req.httpBody.data()));
            }
        }
        for (const auto& [k, v] : req.allHTTPHeaderFields) {
            std::string line = v.empty() ? k + ";" : k + ": " + v;
            t->headers = curl_slist_append(t->headers, line.c_str());
        }
        t->headers = curl_slist_append(t->headers, "Expect:");
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, t->headers);

        if (curl_multi_add_handle(multi, h) != CURLM_OK) {
            cleanup(*t);
            finish(task, std::unexpected(errorFor(CURLE_FAILED_INIT, nullptr)));
            return;
        }
        active.emplace(h, std::move(t));
    }

    void cleanup(Transfer& t) {
        if (t.easy) {
            curl_multi_remove_handle(multi, t.easy);
            curl_easy_cleanup(t.easy);
            t.easy = nullptr;
        }
        if (t.headers) curl_slist_free_all(t.headers);
        t.headers = nullptr;
    }

    void complete(CURL* h, CURLcode code) {
        auto it = active.find(h);
        if (it == active.end()) return;
        std::unique_ptr<Transfer> t = std::move(it->second);
        active.erase(it);
        Result<URLResponse, URLError> result = std::unexpected(URLError{});
        if (code == CURLE_OK) {
            long status = 0;
            curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
            char* effective = nullptr;
            curl_easy_getinfo(h, CURLINFO_EFFECTIVE_URL, &effective);
            t->response.statusCode = static_cast<int>(status);
            t->response.url = effective ? effective : t->task->request_.url;
            result = std::move(t->response);
        } else {
            result = std::unexpected(errorFor(code, t->errorBuffer));
        }
        cleanup(*t);
        finish(t->task, std::move(result));
    }

    void abort(CURL* h) {
        auto it = active.find(h);
        if (it == active.end()) return;
        std::unique_ptr<Transfer> t = std::move(it->second);
        active.erase(it);
        cleanup(*t);
        finish(t->task, std::unexpected(cancelledError()));
    }

    void runTransfers() {
        for (;;) {
            std::vector<std::shared_ptr<URLSessionDataTask>> starting, cancelling;
            bool dropAll;
            {
                std::lock_guard lock(mutex);
                if (stopping) break;
                starting.swap(pending);
                cancelling.swap(cancels);
                dropAll = cancelAll;
                cancelAll = false;
            }
            for (auto& task : starting) begin(task);
            if (dropAll) {
                std::vector<CURL*> all;
                for (auto& [h, t] : active) all.push_back(h);
                for (CURL* h : all) abort(h);
            }
            for (auto& task : cancelling) {
                for (auto& [h, t] : active) {
                    if (t->task == task) {
                        abort(h);
                        break;
                    }
                }
            }
            int running = 0;
            curl_multi_perform(multi, &running);
            int left = 0;
            while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
                if (msg->msg == CURLMSG_DONE) complete(msg->easy_handle, msg->data.result);
            }
            curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
        }
        // Stopping: whatever is still queued or running ends as cancelled.
        std::vector<CURL*> all;
        for (auto& [h, t] : active) all.push_back(h);
        for (CURL* h : all) abort(h);
        std::vector<std::shared_ptr<URLSessionDataTask>> left;
        {
            std::lock_guard lock(mutex);
            left.swap(pending);
        }
        for (auto& task : left) finish(task, std::unexpected(cancelledError()));
    }
};

URLSessionDataTask::URLSessionDataTask(std::weak_ptr<URLSessionEngine> engine, URLRequest request,
                                       Completion completion)
    : engine_(std::move(engine)),
      request_(std::move(request)),
      completion_(std::move(completion)) {}

void URLSessionDataTask::resume() {
    {
        std::lock_guard lock(mutex_);
        if (resumed_ || finished_) return;
        resumed_ = true;
    }
    auto engine = engine_.lock();
    if (engine) {
        engine->submit(shared_from_this());
        return;
    }
    // The session is gone: there is no callback thread left to report on.
    Completion c;
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
        c = std::move(completion_);
    }
    if (c) c(std::unexpected(cancelledError()));
}

void URLSessionDataTask::cancel() {
    bool started;
    {
        std::lock_guard lock(mutex_);
        if (finished_) return;
        started = resumed_;
    }
    auto engine = engine_.lock();
    if (!engine) return;
    if (started)
        engine->cancel(shared_from_this());
    else
        engine->finish(shared_from_this(), std::unexpected(cancelledError()));
}

URLSession::URLSession() : engine_(std::make_shared<URLSessionEngine>()) {
    engine_->start();
}

URLSession::~URLSession() {
    engine_->shutdown();
}

std::shared_ptr<URLSession> URLSession::shared() {
    // Leaked: tasks and their callbacks may still run at exit.
    static const auto* session = new std::shared_ptr<URLSession>(create());
    return *session;
}

std::shared_ptr<URLSession> URLSession::create() {
    return std::shared_ptr<URLSession>(new URLSession());
}

std::shared_ptr<URLSessionDataTask> URLSession::dataTask(URLRequest request,
                                                         Completion completion) {
    return std::make_shared<URLSessionDataTask>(engine_, std::move(request), std::move(completion));
}

void URLSession::cancelAllTasks() {
    engine_->cancelEverything();
}

}  // namespace qz
