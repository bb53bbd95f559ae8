// Share submission and share results of tlm::Stratum.
#include "json/json.h"
#include "hash/hex.h"
#include "stratum/stratum.h"

namespace tlm {

void Stratum::submit(Share share) { queue.push(std::move(share)); }

std::string Stratum::submit_request(uint64_t id, const Share& share) const {
  // The time text was checked to be hex when its job arrived; nonce and solution
  // are hex by construction: only the login and the job id need escaping.
  return "{\"id\":" + std::to_string(id) + ",\"method\":\"mining.submit\",\"params\":[\"" + json_escape(user) +
         "\",\"" + json_escape(share.job_id) + "\",\"" + share.ntime + "\",\"" +
         bin_to_hex(share.nonce.data(), share.nonce.size()) + "\",\"" +
         bin_to_hex(share.solution.data(), share.solution.size()) + "\"]}";
}

void Stratum::share_result(uint64_t id, const Json* result, const Json* error,
                           const std::string& error_text) {
  const auto it = pending.find(id);
  if (it == pending.end()) {
    ignore_reply();
    return;
  }
  ShareResult r;
  r.round_trip = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - it->second);
  pending.erase(it);
  // An error other than null rejects the share, whatever the result says.
  const bool error_given = error != nullptr && error->type != Json::Null;
  r.accepted = result != nullptr && result->type == Json::Bool && result->boolean && !error_given;
  r.reason = error_text;
  ++(r.accepted ? accepted : rejected);
  if (on_share) on_share(r);
}

void Stratum::ignore_reply() {
  // One line a minute at most, however many a broken pool sends.
  ++stray_replies;
  const auto now = Clock::now();
  if (stray_logged && now - *stray_logged < std::chrono::minutes(1)) return;
  stray_logged = now;
  report("ignored " + std::to_string(stray_replies) + (stray_replies == 1 ? " reply" : " replies") +
         " to no pending request");
  stray_replies = 0;
}

}  // namespace tlm
