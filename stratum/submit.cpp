// Share submission and share results of tlm::Stratum.
#include "json/json.h"
#include "stratum/stratum.h"

namespace tlm {

bool Stratum::submit(uint64_t seq, const std::string& job_id, const std::string& ntime, const std::string& nonce,
                     const std::string& solution) {
  const std::string tail = "\",\"" + ilvo::json_escape(job_id) + "\",\"" + ntime + "\",\"" + nonce + "\",\"" +
                           solution + "\"]}";
  // The login is read under the same lock as the send, so a share always goes out
  // with the login of the session it is sent on, even while start switches users.
  std::lock_guard<std::mutex> lock(fd_mutex);
  if (seq < first_seq) return false;
  const uint64_t id = next_id.fetch_add(1);
  return send_locked("{\"id\":" + std::to_string(id) + ",\"method\":\"mining.submit\",\"params\":[\"" +
                     ilvo::json_escape(user) + tail);
}

void Stratum::share_result(const ilvo::Json* result, const std::string& error) {
  if (!on_share) return;
  on_share(result != nullptr && result->type == ilvo::Json::Bool && result->boolean, error);
}

}  // namespace tlm
