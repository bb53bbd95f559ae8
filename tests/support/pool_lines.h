// Lines a scripted pool sends, without their line feed.
#pragma once

#include <string>

namespace testing_support {

// mining.notify for `job` (JSON text, so escapes are allowed) with hashes of 1s,
// 2s and 3s.
inline std::string notify_line(const std::string& job, const std::string& version = "04000100",
                               const std::string& solution = "0701", const std::string& clean = "true") {
  return "{\"id\":null,\"method\":\"mining.notify\",\"params\":[\"" + job + "\",\"" + version + "\",\"" +
         std::string(64, '1') + "\",\"" + std::string(64, '2') + "\",\"" + std::string(64, '3') +
         "\",\"5f5e1000\",\"1d00ffff\"," + clean + ",\"" + solution + "\"]}";
}

// mining.set_target with `param` as its JSON text.
inline std::string set_target_line(const std::string& param) {
  return "{\"id\":null,\"method\":\"mining.set_target\",\"params\":[" + param + "]}";
}

}  // namespace testing_support
