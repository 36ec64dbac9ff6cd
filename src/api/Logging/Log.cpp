#include "api/Logging/Log.hpp"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <unordered_map>

#include "api/Communication/GatewayLogger.hpp"
#include "api/Logging/FileLog.hpp"
#include "platform/Application.hpp"
#include "platform/DateFormat.hpp"
#include "platform/NotificationCenter.hpp"

namespace qz {

namespace {

constexpr const char* kTags[5] = {"[E]", "[I]", "[D]", "[V]", "[W]"};
constexpr const char* kBackgroundTag = "[IN BACKGROUND]";

struct LogState {
    std::mutex mutex;
    std::shared_ptr<FileLog> fileLogger;
    std::optional<std::string> sessionId;
    std::vector<ObserverToken> observers;
    std::atomic<bool> inBackground{false};
    DateFormat dateFormatter{"yyyy-MM-dd HH:mm:ss.SSS"};
};

LogState& state() {
    static LogState* s = new LogState();
    return *s;
}

std::shared_ptr<FileLog> fileLoggerLocked(LogState& s) {
    if (!s.fileLogger) s.fileLogger = std::make_shared<FileLog>();
    return s.fileLogger;
}

uint64_t drawSessionNumber() {
    std::random_device device;
    std::mt19937_64 engine((static_cast<uint64_t>(device()) << 32) ^ device());
    std::uniform_int_distribution<uint64_t> dist(0, (uint64_t{1} << 63) - 2);
    return dist(engine);
}

// The session id (starting the session on its first use) and the file logger, read under
// one lock once the session runs.
std::shared_ptr<FileLog> sessionAndLogger(std::string& id) {
    auto& s = state();
    {
        std::lock_guard lock(s.mutex);
        if (s.sessionId) {
            id = *s.sessionId;
            return fileLoggerLocked(s);
        }
    }
    id = Log::sessionId();
    return Log::fileLogger();
}

// Appends the common prefix: marker (when `marker`), "[" session "] ", time, " ", tag. The
// members are read in that order (the session's first use writes its header first).
std::shared_ptr<FileLog> appendPrefix(std::string& out, LogEvent level, bool marker) {
    auto& s = state();
    if (marker && s.inBackground.load()) out += kBackgroundTag;
    std::string id;
    auto logger = sessionAndLogger(id);
    out += '[';
    out += id;
    out += "] ";
    s.dateFormatter.appendNow(out);
    out += ' ';
    out += logTag(level);
    return logger;
}

// The calling thread's line buffer, emptied (lines are built without allocating).
std::string& lineBuffer() {
    thread_local std::string buffer;
    buffer.clear();
    return buffer;
}

// A call site: its file and function texts are static, so their addresses identify it.
struct Site {
    const char* file;
    const char* function;
    uint_least32_t line;
    uint_least32_t column;
    bool operator==(const Site&) const = default;
};

struct SiteHash {
    size_t operator()(const Site& s) const {
        size_t h = std::hash<const void*>()(s.file);
        h = h * 31 + std::hash<const void*>()(s.function);
        return h * 31 + (size_t{s.line} << 16 ^ s.column);
    }
};

// Joins texts (in place of literal + string, which trips a false -Wrestrict in g++ 12).
std::string concat(std::initializer_list<std::string_view> parts) {
    size_t n = 0;
    for (auto p : parts) n += p.size();
    std::string out;
    out.reserve(n);
    for (auto p : parts) out.append(p);
    return out;
}

}  // namespace

const char* logTag(LogEvent level) {
    auto index = static_cast<size_t>(level);
    return index < 5 ? kTags[index] : "";
}

std::shared_ptr<FileLog> Log::fileLogger() {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    return fileLoggerLocked(s);
}

std::string Log::sessionId() {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    if (s.sessionId) return *s.sessionId;
    std::string id = sessionIdForDraw(drawSessionNumber());
    auto logger = fileLoggerLocked(s);
    for (const auto& line :
         headerLines(id, DateFormat::timeZoneName(), DateFormat::gmtOffsetSeconds()))
        logger->write(line);
    auto& center = NotificationCenter::defaultCenter();
    s.observers.push_back(center.addObserver(Application::didEnterBackgroundNotification,
                                             [](const Notification&) { didEnterBackground(); }));
    s.observers.push_back(center.addObserver(Application::didBecomeActiveNotification,
                                             [](const Notification&) { didBecomeActive(); }));
    s.sessionId = id;
    return id;
}

void Log::reset() {
    auto& s = state();
    std::vector<ObserverToken> observers;
    {
        std::lock_guard lock(s.mutex);
        observers.swap(s.observers);
        s.sessionId.reset();
        s.fileLogger.reset();
        s.inBackground.store(false);
    }
    for (auto token : observers) NotificationCenter::defaultCenter().removeObserver(token);
}

std::string Log::sessionIdForDraw(uint64_t draw) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%X", static_cast<unsigned>(draw & 0xFFFFFFFFu));
    return buf;
}

std::vector<std::string> Log::headerLines(const std::string& id, const std::string& timeZoneName,
                                          int gmtOffsetSeconds) {
    const std::string offset = DateFormat::gmtOffsetText(gmtOffsetSeconds);
    return {
        concat({"----------------- Starting session ", id, " -----------------"}),
        concat(
            {"----------------- Logs in Current Timezone: ", timeZoneName, " ----------------- "}),
        concat({"----------------- GMT Offset: ", offset, " ----------------- "}),
    };
}

std::string Log::format(LogEvent level, std::string_view text) {
    std::string line;
    appendPrefix(line, level, true);
    line += text;
    return line;
}

std::string Log::sourceFileName(std::string_view filePath) {
    auto slash = filePath.rfind('/');
    return std::string(slash == std::string_view::npos ? filePath : filePath.substr(slash + 1));
}

std::string Log::functionName(std::string_view name) {
    // Find the parameter list: the first "(" outside angle brackets.
    int depth = 0;
    size_t open = std::string_view::npos;
    for (size_t i = 0; i < name.size(); ++i) {
        char c = name[i];
        if (c == '<')
            ++depth;
        else if (c == '>' && depth > 0)
            --depth;
        else if (c == '(' && depth == 0) {
            if (name.substr(0, i).ends_with("operator")) continue;
            open = i;
            break;
        }
    }
    if (open == std::string_view::npos) return std::string(name);
    // Its closing ")".
    size_t close = open;
    for (int level = 0; close < name.size(); ++close) {
        if (name[close] == '(')
            ++level;
        else if (name[close] == ')' && --level == 0)
            break;
    }
    if (close >= name.size()) close = name.size() - 1;
    // The unqualified name before it.
    size_t start = open;
    depth = 0;
    while (start > 0) {
        char c = name[start - 1];
        if (c == '>')
            ++depth;
        else if (c == '<')
            --depth;
        else if (depth == 0 && (c == ' ' || c == ':' || c == '*' || c == '&'))
            break;
        --start;
    }
    return std::string(name.substr(start, close + 1 - start));
}

std::string Log::argumentList(const std::vector<std::string>& args) {
    std::string out = "[";
    for (size_t i = 0; i < args.size(); ++i) {
        if (i) out += ", ";
        out += qz::quoted(args[i]);
    }
    return out + "]";
}

std::string Log::position(std::string_view filename, int64_t line, int64_t column,
                          std::string_view funcName) {
    return concat({"[", sourceFileName(filename), "]:", std::to_string(line), " ",
                   std::to_string(column), " ", funcName});
}

const std::string& Log::sitePosition(const std::source_location& at) {
    thread_local std::unordered_map<Site, std::string, SiteHash> positions;
    auto [it, added] =
        positions.try_emplace(Site{at.file_name(), at.function_name(), at.line(), at.column()});
    if (added)
        it->second =
            position(at.file_name(), at.line(), at.column(), functionName(at.function_name()));
    return it->second;
}

void Log::level(LogEvent lvl, std::string_view message, const std::source_location& at) {
    const std::string& where = sitePosition(at);
    std::string& line = lineBuffer();
    auto logger = appendPrefix(line, lvl, true);
    line += where;
    line += " -> ";
    line += message;
    logger->write(line);
}

void Log::level(LogEvent lvl, std::string_view message, std::string_view filename, int64_t line,
                int64_t column, std::string_view funcName) {
    const std::string where = position(filename, line, column, funcName);
    std::string& text = lineBuffer();
    auto logger = appendPrefix(text, lvl, true);
    text += where;
    text += " -> ";
    text += message;
    logger->write(text);
}

namespace {

void shortLine(LogEvent level, std::string_view text) {
    std::string& line = lineBuffer();
    auto logger = appendPrefix(line, level, true);
    line += " -> ";
    line += text;
    logger->write(line);
}

}  // namespace

void Log::e2(std::string_view text) {
    shortLine(LogEvent::error, text);
}
void Log::i2(std::string_view text) {
    shortLine(LogEvent::info, text);
}
void Log::d2(std::string_view text) {
    shortLine(LogEvent::debug, text);
}
void Log::v2(std::string_view text) {
    shortLine(LogEvent::verbose, text);
}
void Log::w2(std::string_view text) {
    shortLine(LogEvent::warning, text);
}

void Log::PublicFuncCall(const std::vector<std::string>& args, const std::source_location& at) {
    publicLine(LogEvent::info, concat({" -> Function Called: ", argumentList(args)}), at);
}

void Log::PublicFuncCall(const std::vector<std::string>& args, std::string_view filename,
                         int64_t line, int64_t column, std::string_view funcName) {
    publicLine(LogEvent::info, concat({" -> Function Called: ", argumentList(args)}), filename,
               line, column, funcName);
}

namespace {

void publicText(LogEvent level, std::string_view where, const std::string& part) {
    std::string text;
    auto logger = appendPrefix(text, level, false);
    text += where;
    text += part;
    logger->write(text);
    GatewayLogger::log(text);
}

}  // namespace

void Log::publicLine(LogEvent lvl, const std::string& part, const std::source_location& at) {
    publicText(lvl, sitePosition(at), part);
}

void Log::publicLine(LogEvent lvl, const std::string& part, std::string_view filename, int64_t line,
                     int64_t column, std::string_view funcName) {
    publicText(lvl, position(filename, line, column, funcName), part);
}

void Log::didEnterBackground() {
    i("App entered the background");
    state().inBackground.store(true);
}

void Log::didBecomeActive() {
    i("App became active");
    state().inBackground.store(false);
}

bool Log::inBackground() {
    return state().inBackground.load();
}

}  // namespace qz
