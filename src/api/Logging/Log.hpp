#pragma once

#include <concepts>
#include <cstdint>
#include <memory>
#include <source_location>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "platform/Describe.hpp"

namespace qz {

class FileLog;

// Log levels; the index picks the tag.
enum class LogEvent : uint8_t { error = 0, info = 1, debug = 2, verbose = 3, warning = 4 };

// "[E]", "[I]", "[D]", "[V]", "[W]".
const char* logTag(LogEvent level);

namespace detail {
template <class T>
concept LogDescribable = requires(const T& v) {
    { v.description() } -> std::convertible_to<std::string>;
};
}  // namespace detail

// The text a message is logged with: texts unchanged, objects with a
// description() by it (through shared pointers too, "nil" for none),
// everything else as describe() prints it.
template <class T>
std::string logText(const T& message);

template <class T>
std::string logText(const std::shared_ptr<T>& object) {
    return object ? logText(*object) : "nil";
}

template <class T>
std::string logText(const T& message) {
    if constexpr (std::is_convertible_v<const T&, std::string_view>) {
        return std::string(std::string_view(message));
    } else if constexpr (detail::LogDescribable<T>) {
        return message.description();
    } else {
        return describe(message);
    }
}

namespace detail {
// logText(message), without a copy for texts.
template <class T>
decltype(auto) logView(const T& message) {
    if constexpr (std::is_convertible_v<const T&, std::string_view>)
        return std::string_view(message);
    else
        return logText(message);
}
}  // namespace detail

// The library's logging facade. Every line goes to the one FileLog; public
// lines also go, as plain text, to GatewayLogger's delegate. Nothing goes to
// the console. Any thread may log; a call returns once the line is stored.
//
// Line layout: [IN BACKGROUND]? "[" session "] " time " " tag text, where text
// is "[" file "]:" line " " column " " function " -> " message for the level
// forms and " -> " message for the short forms.
class Log {
  public:
    Log() = delete;

    // Level lines with the caller's source position.
    template <class T>
    static void e(const T& message,
                  const std::source_location& at = std::source_location::current()) {
        level(LogEvent::error, detail::logView(message), at);
    }
    template <class T>
    static void i(const T& message,
                  const std::source_location& at = std::source_location::current()) {
        level(LogEvent::info, detail::logView(message), at);
    }
    template <class T>
    static void d(const T& message,
                  const std::source_location& at = std::source_location::current()) {
        level(LogEvent::debug, detail::logView(message), at);
    }
    template <class T>
    static void v(const T& message,
                  const std::source_location& at = std::source_location::current()) {
        level(LogEvent::verbose, detail::logView(message), at);
    }
    template <class T>
    static void w(const T& message,
                  const std::source_location& at = std::source_location::current()) {
        level(LogEvent::warning, detail::logView(message), at);
    }

    // Level lines with an explicit source position.
    template <class T>
    static void e(const T& message, std::string_view filename, int64_t line, int64_t column,
                  std::string_view funcName) {
        level(LogEvent::error, detail::logView(message), filename, line, column, funcName);
    }
    template <class T>
    static void i(const T& message, std::string_view filename, int64_t line, int64_t column,
                  std::string_view funcName) {
        level(LogEvent::info, detail::logView(message), filename, line, column, funcName);
    }
    template <class T>
    static void d(const T& message, std::string_view filename, int64_t line, int64_t column,
                  std::string_view funcName) {
        level(LogEvent::debug, detail::logView(message), filename, line, column, funcName);
    }
    template <class T>
    static void v(const T& message, std::string_view filename, int64_t line, int64_t column,
                  std::string_view funcName) {
        level(LogEvent::verbose, detail::logView(message), filename, line, column, funcName);
    }
    template <class T>
    static void w(const T& message, std::string_view filename, int64_t line, int64_t column,
                  std::string_view funcName) {
        level(LogEvent::warning, detail::logView(message), filename, line, column, funcName);
    }

    // Short forms: no source position, the text follows the tag after " -> ".
    static void e2(std::string_view text);
    static void i2(std::string_view text);
    static void d2(std::string_view text);
    static void v2(std::string_view text);
    static void w2(std::string_view text);

    // Public lines (never carry the background marker); written to the file,
    // then handed to GatewayLogger's delegate on the calling thread.
    static void PublicFuncCall(const std::vector<std::string>& args,
                               const std::source_location& at = std::source_location::current());
    static void PublicFuncCall(const std::vector<std::string>& args, std::string_view filename,
                               int64_t line, int64_t column, std::string_view funcName);
    template <class T>
    static void PublicInfo(const T& message,
                           const std::source_location& at = std::source_location::current()) {
        publicLine(LogEvent::info, " -> " + logText(message), at);
    }
    template <class T>
    static void PublicInfo(const T& message, std::string_view filename, int64_t line,
                           int64_t column, std::string_view funcName) {
        publicLine(LogEvent::info, " -> " + logText(message), filename, line, column, funcName);
    }
    template <class T>
    static void PublicError(const T& message,
                            const std::source_location& at = std::source_location::current()) {
        publicLine(LogEvent::error, " -> " + logText(message), at);
    }
    template <class T>
    static void PublicError(const T& message, std::string_view filename, int64_t line,
                            int64_t column, std::string_view funcName) {
        publicLine(LogEvent::error, " -> " + logText(message), filename, line, column, funcName);
    }

    // The common prefix plus text: marker, "[" session "] ", time, " ", tag, text.
    static std::string format(LogEvent level, std::string_view text);

    // The one file logger, created on first use.
    static std::shared_ptr<FileLog> fileLogger();

    // This process's session id (created, with the file's header lines, on first use).
    static std::string sessionId();

    // The last path component ("a/b/c.cpp" -> "c.cpp").
    static std::string sourceFileName(std::string_view filePath);
    // The function's name and parameter list from a compiler's function text
    // ("void qz::Relay::send(int)" -> "send(int)").
    static std::string functionName(std::string_view compilerName);
    // The session id for a random draw: its low 32 bits in upper-case hex.
    static std::string sessionIdForDraw(uint64_t draw);
    // The three header lines of a session.
    static std::vector<std::string> headerLines(const std::string& id,
                                                const std::string& timeZoneName,
                                                int gmtOffsetSeconds);
    // "[" + each argument quoted as a literal, joined by ", " + "]".
    static std::string argumentList(const std::vector<std::string>& args);

    // Handlers of the app's background and active notifications.
    static void didEnterBackground();
    static void didBecomeActive();
    static bool inBackground();

    // Forgets the session, the file logger and the marker, so that the next line
    // starts a new session in the current documents folder (for tests).
    static void reset();

  private:
    static void level(LogEvent level, std::string_view message, const std::source_location& at);
    static void level(LogEvent level, std::string_view message, std::string_view filename,
                      int64_t line, int64_t column, std::string_view funcName);
    // position() of a call site, worked out once per thread.
    static const std::string& sitePosition(const std::source_location& at);
    static void publicLine(LogEvent level, const std::string& part, const std::source_location& at);
    static void publicLine(LogEvent level, const std::string& part, std::string_view filename,
                           int64_t line, int64_t column, std::string_view funcName);
    static std::string position(std::string_view filename, int64_t line, int64_t column,
                                std::string_view funcName);
};

}  // namespace qz
