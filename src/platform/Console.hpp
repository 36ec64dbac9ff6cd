#pragma once

#include <functional>
#include <string>

namespace qz {

// The platform console (the system log of the original platform): lines of components that do
// not write the library's log files. By default each line goes to standard error; a host or a
// test may install its own sink (an empty one silences the console).
namespace console {

using Sink = std::function<void(const std::string& line)>;

void log(const std::string& line);
// Installs `sink` process-wide; returns the previous one. Once it returns, the previous sink is
// no longer called, nor running on another thread: whatever it refers to may go. Each line goes
// to the sink installed when the line is logged.
Sink setSink(Sink sink);
// The sink that writes to standard error.
Sink standardError();

}  // namespace console
}  // namespace qz
