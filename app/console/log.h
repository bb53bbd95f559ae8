// The log: one time-stamped, optionally coloured line per event on standard
// output (and in the log file), and the messages for standard error.
#pragma once

#include <chrono>
#include <string>

namespace tlm {

// Colour switch for log lines, set before any thread starts: on when standard output
// is a terminal (not TERM=dumb) and NO_COLOR is unset or empty; --color and
// --no-color decide over both, the last one given winning.
extern bool g_color;

inline constexpr const char* kReset = "\033[0m";
inline constexpr const char* kMuted = "\033[38;2;163;157;144m";
inline constexpr const char* kStrong = "\033[1m\033[38;2;237;232;219m";
inline constexpr const char* kGood = "\033[1m\033[38;2;80;200;120m";
inline constexpr const char* kBad = "\033[1m\033[38;2;230;70;70m";
inline constexpr const char* kAccent = "\033[1m\033[38;2;255;77;0m";

// Writes "[YYYY-mm-dd HH:MM:SS] message" to standard output as one line, the message
// in `color` when g_color is set, and without colour to the log file when one is
// open. Messages longer than 1023 bytes are cut; control characters and invalid
// UTF-8 in them are shown escaped (printable()), so no value logged can drive the
// terminal. Safe from any thread. Before start_log_writer() the line is written at
// once; after it the line is queued and never waits for the output (see below).
void log_line(const char* color, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

// Writes the message and a line feed to standard error, escaped like log lines: for
// command-line errors, which echo what the user gave.
void print_error(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// From now on log lines go through a bounded queue that one writer thread drains
// to standard output, so no caller ever waits on a terminal or pipe that is not
// read. When the queue is full a line is dropped and counted, and the count is
// logged once output flows again. Call once, before the other threads start.
void start_log_writer();

// Waits until every queued line is written, at most `limit`; returns whether it
// all went out. The writer is never joined: at exit it may still be blocked on
// an output nobody reads.
bool flush_log(std::chrono::milliseconds limit);

// From now on log lines are also appended to the file at `path`, created with mode
// 0640 when missing. Like the statistics file it is never opened through a
// symbolic link, and a FIFO, device or directory is refused. Returns "" or the
// reason it cannot be opened. Call before start_log_writer().
std::string open_log_file(const std::string& path);

// Opens the log file's path again, for log rotation: lines written before the call
// are in the old file, lines after it in the new one. Returns "" or the reason
// (the old file is then kept).
std::string reopen_log_file();

}  // namespace tlm
