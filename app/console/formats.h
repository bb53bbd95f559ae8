// The units of the numbers in log lines.
#pragma once

#include <string>

namespace tlm {

// "12.34 MH/s" style hash rate.
std::string fmt_rate(double hashes_per_second);
// The rate over the last `window` seconds, or "n/a" while the run is shorter.
std::string fmt_window_rate(double hashes_per_second, double uptime, double window);
// "1.23M" style share difficulty.
std::string fmt_diff(double difficulty);
// "2:03:04" style uptime: hours, minutes and seconds.
std::string fmt_uptime(double seconds);

}  // namespace tlm
