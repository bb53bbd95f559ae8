#include "stratum/session.h"

#include <algorithm>
#include <utility>

#include "hash/hex.h"
#include "json/json.h"

namespace tlm {

namespace {

// A parameter's text; anything but a JSON string reads as empty.
const std::string& text_of(const Json& v) {
  static const std::string kEmpty;
  return v.type == Json::String ? v.text : kEmpty;
}

bool is_true(const Json* v) { return v != nullptr && v->type == Json::Bool && v->boolean; }

// Ids are JSON numbers; only whole numbers in the range of request ids can name a
// request: negative, fractional, too large or infinite ones belong to none.
bool to_id(double d, uint64_t& id) {
  if (!(d >= 0 && d < 18446744073709551616.0) || d != static_cast<double>(static_cast<uint64_t>(d))) return false;
  id = static_cast<uint64_t>(d);
  return true;
}

// "1 share", "2 shares".
std::string count_of(uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// A line about the pool, reported now and then however often its cause comes.
constexpr auto kReportEvery = std::chrono::minutes(1);

}  // namespace

void Session::report(const std::string& text) {
  if (on_message) on_message(text);
}

void Session::begin(const Login& login) {
  login_ = login;
  extranonce1_.clear();
  have_job_ = false;
  have_target_ = false;
  ended_ = false;
  login_given_up_ = false;
  refused_at_.reset();
  out_ += "{\"id\":1,\"method\":\"mining.subscribe\",\"params\":[\"" + json_escape(login_.agent) + "\"]}\n";
  out_ += "{\"id\":2,\"method\":\"mining.authorize\",\"params\":[\"" + json_escape(login_.user) + "\",\"" +
          json_escape(login_.password) + "\"]}\n";
}

std::string Session::take_output() { return std::exchange(out_, std::string()); }

uint64_t Session::submit(const Share& share) {
  const uint64_t id = next_id_++;
  // The time text was checked to be hex when its job arrived; nonce and solution
  // are hex by construction: only the login and the job id need escaping.
  out_ += "{\"id\":" + std::to_string(id) + ",\"method\":\"mining.submit\",\"params\":[\"" +
          json_escape(login_.user) + "\",\"" + json_escape(share.job_id) + "\",\"" + share.ntime + "\",\"" +
          bin_to_hex(share.nonce.data(), share.nonce.size()) + "\",\"" +
          bin_to_hex(share.solution.data(), share.solution.size()) + "\"]}\n";
  return id;
}

void Session::sent(uint64_t id, Clock::time_point now) {
  pending_[id] = now;
  ++sent_;
}

void Session::tick(Clock::time_point now) {
  uint64_t expired = 0;
  for (auto it = pending_.begin(); it != pending_.end();) {
    if (now - it->second > timing_.unanswered) {
      it = pending_.erase(it);
      ++expired;
    } else {
      ++it;
    }
  }
  if (expired > 0) {
    unanswered_ += expired;
    report("no answer within " + std::to_string(timing_.unanswered.count() / 1000) + " s to " +
           count_of(expired, "share", "shares"));
  }
  if (refused_at_ && !ended_ && now - *refused_at_ > timing_.refused_login) {
    report("no job since the login was refused, reconnecting");
    ended_ = true;
    login_given_up_ = true;
  }
}

std::optional<Session::Clock::time_point> Session::deadline() const {
  if (!refused_at_) return std::nullopt;
  return *refused_at_ + timing_.refused_login;
}

void Session::end(bool stopping) {
  if (!pending_.empty()) {
    if (stopping) {
      in_flight_ += pending_.size();
    } else {
      unanswered_ += pending_.size();
      report("no answer to " + count_of(pending_.size(), "share", "shares") + ": the connection ended");
    }
    pending_.clear();
  }
  out_.clear();
}

ShareCounts Session::counts() const {
  return {sent_.load(), accepted_.load(), rejected_.load(), unanswered_.load(), in_flight_.load(), 0};
}

void Session::receive(const std::string& line, Clock::time_point now) {
  // A carriage return or a NUL byte ends a line as well (CRLF, stray padding), and
  // a byte order mark may start one.
  static const std::string kBom = "\xEF\xBB\xBF";
  size_t begin = 0;
  while (begin <= line.size()) {
    size_t end = line.find_first_of(std::string("\r\0", 2), begin);
    if (end == std::string::npos) end = line.size();
    std::string piece = line.substr(begin, end - begin);
    if (piece.compare(0, kBom.size(), kBom) == 0) piece.erase(0, kBom.size());
    if (piece.find_first_not_of(" \t") != std::string::npos) handle_message(piece, now);
    begin = end + 1;
  }
}

void Session::count_unreadable(Clock::time_point now) {
  ++unreadable_;
  if (unreadable_logged_ && now - *unreadable_logged_ < kReportEvery) return;
  report(count_of(unreadable_, "line", "lines") + " from the pool could not be read");
  unreadable_ = 0;
  unreadable_logged_ = now;
}

void Session::handle_message(const std::string& line, Clock::time_point now) {
  Json root;
  if (!Json::parse(line, root) || root.type != Json::Object) {
    count_unreadable(now);
    return;
  }
  const Json* method = root.find("method");
  const Json* params = root.find("params");
  if (method == nullptr || method->type != Json::String) {
    reply(root, now);
    return;
  }
  if (method->text == "mining.set_target") {
    set_target(params);
  } else if (method->text == "mining.notify") {
    notify(params);
  } else if (method->text == "client.reconnect") {
    report("pool asked to reconnect");
    ended_ = true;
  }
}

void Session::set_target(const Json* params) {
  if (params == nullptr || params->type != Json::Array || params->items.empty()) return;
  // A zero target would leave the miner searching for nothing, silently.
  std::string digits = text_of(params->items[0]);
  uint8_t big_endian[32];
  if (digits.empty() || digits.size() > 64 || !hex_to_bin(digits.insert(0, 64 - digits.size(), '0'), big_endian, 32) ||
      std::all_of(big_endian, big_endian + 32, [](uint8_t b) { return b == 0; })) {
    report("invalid target from the pool, keeping the previous one");
    return;
  }
  for (int i = 0; i < 32; ++i) target_[i] = big_endian[31 - i];
  have_target_ = true;
  publish();
}

void Session::notify(const Json* params) {
  if (params == nullptr || params->type != Json::Array || params->items.size() < 9) return;
  const std::vector<Json>& p = params->items;
  Work job;
  job.job_id = text_of(p[0]);
  job.ntime = text_of(p[kTimeField.param]);
  job.clean = is_true(&p[7]);
  bool ok = true;
  for (const JobField& f : kJobFields) ok = ok && hex_to_bin(text_of(p[f.param]), job.header + f.offset, f.size);
  // The template may be short: the rest of the solution is zero.
  std::string solution = text_of(p[8]);
  ok = ok && solution.size() % 2 == 0 && solution.size() <= 2 * kSolutionSize;
  if (ok) {
    solution.append(2 * kSolutionSize - solution.size(), '0');
    ok = hex_to_bin(solution, job.solution, kSolutionSize);
  }
  if (!ok) {
    report("invalid job from the pool");
    return;
  }
  work_ = std::move(job);
  have_job_ = true;
  refused_at_.reset();  // the pool delivers work, whatever it said of the login
  publish();
}

void Session::reply(const Json& root, Clock::time_point now) {
  const Json* id_value = root.find("id");
  uint64_t id;
  if (id_value == nullptr || id_value->type != Json::Number || !to_id(id_value->number, id)) {
    ignore_reply(now);
    return;
  }
  const Json* result = root.find("result");
  const Json* error = root.find("error");
  // Stratum's [code, "message", data], a bare string, or JSON-RPC 2.0's
  // {"code": ..., "message": ...}.
  std::string error_text;
  if (error != nullptr && error->type == Json::Array && error->items.size() >= 2) {
    error_text = text_of(error->items[1]);
  } else if (error != nullptr && error->type == Json::String) {
    error_text = error->text;
  } else if (error != nullptr && error->type == Json::Object) {
    error_text = error->str("message", "");
  }

  if (id == 1) {
    if (result != nullptr && result->type == Json::Array && result->items.size() >= 2) {
      const std::string& digits = text_of(result->items[1]);
      if (digits.size() >= 2 && digits.size() <= 14 && digits.size() % 2 == 0) {
        std::vector<uint8_t> prefix(digits.size() / 2);
        if (hex_to_bin(digits, prefix.data(), prefix.size())) {
          extranonce1_ = std::move(prefix);
          return;
        }
      }
    }
    // Without a prefix no share could be built; a fresh connection may do better.
    report("unsupported subscribe answer from the pool");
    ended_ = true;
  } else if (id == 2) {
    if (is_true(result)) {
      report("authorized");
    } else {
      report(error_text.empty() ? "login refused by the pool" : "login refused by the pool: " + error_text);
      // Some pools send jobs all the same; one that does not is dialled again.
      if (!have_job_) refused_at_ = now;
    }
  } else {
    share_result(id, result, error, error_text, now);
  }
}

void Session::share_result(uint64_t id, const Json* result, const Json* error, const std::string& error_text,
                           Clock::time_point now) {
  const auto it = pending_.find(id);
  if (it == pending_.end()) {
    ignore_reply(now);
    return;
  }
  ShareResult r;
  r.round_trip = std::chrono::duration_cast<std::chrono::milliseconds>(now - it->second);
  pending_.erase(it);
  // An error other than null rejects the share, whatever the result says.
  const bool error_given = error != nullptr && error->type != Json::Null;
  r.accepted = result != nullptr && result->type == Json::Bool && result->boolean && !error_given;
  r.reason = error_text;
  ++(r.accepted ? accepted_ : rejected_);
  if (on_share) on_share(r);
}

void Session::ignore_reply(Clock::time_point now) {
  // One line a minute at most, however many a broken pool sends.
  ++stray_replies_;
  if (stray_logged_ && now - *stray_logged_ < kReportEvery) return;
  stray_logged_ = now;
  report("ignored " + count_of(stray_replies_, "reply", "replies") + " to no pending request");
  stray_replies_ = 0;
}

void Session::publish() {
  if (!have_job_ || !have_target_ || extranonce1_.empty()) return;
  work_.seq = ++job_seq_;
  work_.extranonce1 = extranonce1_;
  std::copy(target_, target_ + 32, work_.target);
  std::copy(extranonce1_.begin(), extranonce1_.end(), work_.header + kNonceOffset);
  if (on_work) on_work(work_);
}

}  // namespace tlm
