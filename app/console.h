// Console output: one time-stamped, optionally coloured line per event.
#pragma once

#include <mutex>
#include <string>

namespace ilvo {

// Colour switch for log lines; cleared by --no-color before any thread starts.
extern bool g_color;
// Serialises whole log lines; holds no data.
extern std::mutex g_log_mutex;

inline constexpr const char* kReset = "\033[0m";
inline constexpr const char* kMuted = "\033[38;2;163;157;144m";
inline constexpr const char* kStrong = "\033[1m\033[38;2;237;232;219m";
inline constexpr const char* kGood = "\033[1m\033[38;2;80;200;120m";
inline constexpr const char* kBad = "\033[1m\033[38;2;230;70;70m";
inline constexpr const char* kAccent = "\033[1m\033[38;2;255;77;0m";

// Writes "[YYYY-mm-dd HH:MM:SS] message" to standard output as one line, the message
// in `color` when g_color is set. Messages longer than 1023 bytes are cut.
// Safe from any thread.
void logf(const char* color, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

// "12.34 MH/s" style hash rate.
std::string fmt_rate(double hashes_per_second);
// "1.23M" style share difficulty.
std::string fmt_diff(double difficulty);

}  // namespace ilvo
