// The project's one logging function and one fatal-error function.
#pragma once

#include <cstddef>
#include <functional>
#include <string_view>

namespace base {

// A longer line is cut there ("… (N bytes more)").
inline constexpr std::size_t kMaxLogLineBytes = 4096;

// Writes one plain line to standard error (and to the system journal when one runs).
// Thread-safe. No levels: the line says what happened.
void log(std::string_view line);

// Logs the message and stops the program. For programming errors that no input can cause.
[[noreturn]] void fatal(std::string_view message);

// Replaces where log lines go (tests capture them); an empty function restores the default.
// Returns the previous sink. The sink runs under the logging lock: it must not log itself.
using LogSink = std::function<void(std::string_view)>;
LogSink setLogSink(LogSink sink);

} // namespace base
