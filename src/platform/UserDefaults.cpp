#include "platform/UserDefaults.hpp"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <fstream>
#include <map>
#include <utility>

#include "platform/FileSystem.hpp"
#include "platform/Locked.hpp"

namespace qz {

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {

// Suites live for the process once opened: a value set here stays readable from memory even
// when its write failed (a full or read-only disk), instead of the next opening reading the
// file back without it.
struct Registry {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<UserDefaults>> suites;  // by file path
};

Registry& registry() {
    static auto* r = new Registry;
    return *r;
}

bool usableName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string("/\0", 2)) == std::string::npos;
}

std::optional<double> parseNumber(const std::string& s) {
    size_t begin = s.find_first_not_of(" \t\n");
    if (begin == std::string::npos) return std::nullopt;
    const char* first = s.data() + begin;
    const char* last = s.data() + s.size();
    if (*first == '+') ++first;
    double value = 0;
    auto [ptr, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || ptr == first) return std::nullopt;
    return value;
}

// Temporary files of a write are "<file>.tmp-<pid>-<n>".
std::string temporaryPrefix(const fs::path& file) {
    return file.filename().string() + ".tmp-";
}

// Whether the process that wrote a temporary file may still be writing it.
bool writerMayBeRunning(const std::string& rest) {
    long pid = 0;
    auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), pid);
    if (ec != std::errc() || end == rest.data() || pid <= 0) return false;
    if (pid == static_cast<long>(::getpid())) return false;  // this suite is not writing yet
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

}  // namespace

std::shared_ptr<UserDefaults> UserDefaults::suite(const std::string& name) {
    if (!usableName(name)) return nullptr;
    fs::path file = Paths::preferencesDirectory() / (name + ".json");
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    auto& slot = r.suites[file.string()];
    if (slot) return slot;
    // Settings kept by a library that wrote into $HOME's app layout are taken along.
    if (auto earlier = Paths::earlierPreferencesDirectory())
        Paths::copyIfMissing(*earlier / (name + ".json"), file);
    slot = std::make_shared<UserDefaults>(name, file);
    return slot;
}

UserDefaults::UserDefaults(std::string name, fs::path file)
    : name_(std::move(name)), file_(std::move(file)), values_(json::object()) {
    std::lock_guard lock(mutex_);
    removeLeftoversLocked();
    loadLocked();
}

void UserDefaults::loadLocked() {
    std::error_code ec;
    if (!fs::is_regular_file(file_, ec)) return;  // no file yet
    // A file that cannot be read reads as an empty suite; the next change replaces it.
    std::ifstream in(file_, std::ios::binary);
    if (!in) {
        loadProblem_ = "unreadable";
        return;
    }
    std::string text;
    char buffer[64 * 1024];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        text.append(buffer, static_cast<size_t>(in.gcount()));
        if (text.size() > kMaxFileBytes) {
            loadProblem_ = "larger than " + std::to_string(kMaxFileBytes) + " bytes";
            return;
        }
    }
    // The parser itself is iterative; writing a deeper document back would not be.
    bool tooDeep = false;
    json parsed = json::parse(
        text,
        [&](int depth, json::parse_event_t, json&) {
            if (depth > kMaxDepth) tooDeep = true;
            return !tooDeep;
        },
        false);
    if (tooDeep) {
        loadProblem_ = "nested deeper than " + std::to_string(kMaxDepth) + " levels";
    } else if (parsed.is_discarded() || !parsed.is_object()) {
        loadProblem_ = "not a JSON object";
    } else {
        values_ = std::move(parsed);
    }
}

void UserDefaults::removeLeftoversLocked() {
    const std::string prefix = temporaryPrefix(file_);
    std::error_code ec;
    for (fs::directory_iterator it(file_.parent_path(), ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind(prefix, 0) != 0 || writerMayBeRunning(name.substr(prefix.size()))) continue;
        std::error_code ignored;
        fs::remove(it->path(), ignored);
    }
}

void UserDefaults::persistLocked() {
    static std::atomic<uint64_t> counter{0};
    lastWriteOk_ = false;
    std::error_code ec;
    fs::create_directories(file_.parent_path(), ec);
    fs::path temp = file_.parent_path() / (temporaryPrefix(file_) + std::to_string(::getpid()) +
                                           "-" + std::to_string(counter.fetch_add(1)));
    const std::string text = values_.dump(2);
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return;
    bool ok = true;
    for (size_t done = 0; ok && done < text.size();) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            ok = false;
        else
            done += static_cast<size_t>(n);
    }
    // On disk before it replaces the old file, so a crash leaves one or the other whole.
    if (ok && ::fsync(fd) != 0) ok = false;
    if (::close(fd) != 0) ok = false;
    if (ok) fs::rename(temp, file_, ec);
    if (!ok || ec) {
        fs::remove(temp, ec);
        return;
    }
    lastWriteOk_ = true;
}

std::optional<json> UserDefaults::object(const std::string& key) const {
    std::lock_guard lock(mutex_);
    auto it = values_.find(key);
    if (it == values_.end()) return std::nullopt;
    return *it;
}

void UserDefaults::set(const std::string& key, const json& value) {
    if (value.is_null()) {
        removeObject(key);
        return;
    }
    std::lock_guard lock(mutex_);
    values_[key] = value;
    persistLocked();
}

void UserDefaults::removeObject(const std::string& key) {
    std::lock_guard lock(mutex_);
    if (values_.erase(key) == 0) return;
    persistLocked();
}

std::optional<std::string> UserDefaults::string(const std::string& key) const {
    auto v = object(key);
    if (!v) return std::nullopt;
    if (v->is_string()) return v->get<std::string>();
    if (v->is_number() || v->is_boolean()) return v->dump();
    return std::nullopt;
}

int64_t UserDefaults::integer(const std::string& key) const {
    auto v = object(key);
    if (!v) return 0;
    if (v->is_number_integer()) return v->get<int64_t>();
    if (v->is_number_unsigned()) return static_cast<int64_t>(v->get<uint64_t>());
    if (v->is_boolean()) return v->get<bool>() ? 1 : 0;
    std::optional<double> d;
    if (v->is_number_float()) d = v->get<double>();
    if (v->is_string()) d = parseNumber(v->get<std::string>());
    if (!d || !std::isfinite(*d) || std::fabs(*d) >= 9.2e18) return 0;
    return static_cast<int64_t>(*d);
}

bool UserDefaults::boolean(const std::string& key) const {
    auto v = object(key);
    if (!v) return false;
    if (v->is_boolean()) return v->get<bool>();
    if (v->is_number()) return v->get<double>() != 0;
    if (v->is_string()) {
        const auto s = v->get<std::string>();
        size_t i = s.find_first_not_of(" \t\n");
        if (i == std::string::npos) return false;
        char c = s[i];
        if (c == 'Y' || c == 'y' || c == 'T' || c == 't') return true;
        auto d = parseNumber(s);
        return d && *d != 0;
    }
    return false;
}

double UserDefaults::doubleValue(const std::string& key) const {
    auto v = object(key);
    if (!v) return 0;
    if (v->is_number()) return v->get<double>();
    if (v->is_boolean()) return v->get<bool>() ? 1 : 0;
    if (v->is_string()) return parseNumber(v->get<std::string>()).value_or(0);
    return 0;
}

json UserDefaults::dictionaryRepresentation() const {
    return lockedCopy(mutex_, values_);
}

bool UserDefaults::lastWriteSucceeded() const {
    return lockedCopy(mutex_, lastWriteOk_);
}

std::optional<std::string> UserDefaults::takeLoadProblem() {
    std::lock_guard lock(mutex_);
    return std::exchange(loadProblem_, std::nullopt);
}

}  // namespace qz
