// What tlm::Stratum says at the start of a connection and how it understands the
// pool's lines: jobs, targets, reconnect requests and replies to its requests.
#include <algorithm>

#include "json/json.h"
#include "hash/hex.h"
#include "stratum/stratum.h"

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

}  // namespace

std::string Stratum::subscribe_request() const {
  return "{\"id\":1,\"method\":\"mining.subscribe\",\"params\":[\"" + json_escape(agent) + "\"]}";
}

std::string Stratum::authorize_request() const {
  return "{\"id\":2,\"method\":\"mining.authorize\",\"params\":[\"" + json_escape(user) + "\",\"" +
         json_escape(password) + "\"]}";
}

void Stratum::handle(const std::string& line) {
  // A carriage return or a NUL byte ends a line as well (CRLF, stray padding), and
  // a byte order mark may start one.
  static const std::string kBom = "\xEF\xBB\xBF";
  size_t begin = 0;
  while (begin <= line.size()) {
    size_t end = line.find_first_of(std::string("\r\0", 2), begin);
    if (end == std::string::npos) end = line.size();
    std::string piece = line.substr(begin, end - begin);
    if (piece.compare(0, kBom.size(), kBom) == 0) piece.erase(0, kBom.size());
    if (piece.find_first_not_of(" \t") != std::string::npos) handle_message(piece);
    begin = end + 1;
  }
}

void Stratum::count_unreadable() {
  ++unreadable;
  const auto now = std::chrono::steady_clock::now();
  if (unreadable_reported != std::chrono::steady_clock::time_point{} && now - unreadable_reported < std::chrono::minutes(1))
    return;
  report(std::to_string(unreadable) + (unreadable == 1 ? " line" : " lines") + " from the pool could not be read");
  unreadable = 0;
  unreadable_reported = now;
}

void Stratum::handle_message(const std::string& line) {
  Json root;
  if (!Json::parse(line, root) || root.type != Json::Object) {
    count_unreadable();
    return;
  }
  const Json* method = root.find("method");
  const Json* params = root.find("params");
  if (method == nullptr || method->type != Json::String) {
    reply(root);
    return;
  }
  if (method->text == "mining.set_target") {
    set_target(params);
  } else if (method->text == "mining.notify") {
    notify(params);
  } else if (method->text == "client.reconnect") {
    report("pool asked to reconnect");
    drop_connection();
  }
}

void Stratum::set_target(const Json* params) {
  if (params == nullptr || params->type != Json::Array || params->items.empty()) return;
  // A zero target would leave the miner searching for nothing, silently.
  std::string digits = text_of(params->items[0]);
  uint8_t big_endian[32];
  if (digits.empty() || digits.size() > 64 || !hex_to_bin(digits.insert(0, 64 - digits.size(), '0'), big_endian, 32) ||
      std::all_of(big_endian, big_endian + 32, [](uint8_t b) { return b == 0; })) {
    report("invalid target from the pool, keeping the previous one");
    return;
  }
  for (int i = 0; i < 32; ++i) target[i] = big_endian[31 - i];
  have_target = true;
  publish();
}

void Stratum::notify(const Json* params) {
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
  work = std::move(job);
  have_job = true;
  refused_at.reset();  // the pool delivers work, whatever it said of the login
  publish();
}

void Stratum::reply(const Json& root) {
  const Json* id_value = root.find("id");
  uint64_t id;
  if (id_value == nullptr || id_value->type != Json::Number || !to_id(id_value->number, id)) {
    ignore_reply();
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
          extranonce1 = std::move(prefix);
          return;
        }
      }
    }
    // Without a prefix no share could be built; a fresh connection may do better.
    report("unsupported subscribe answer from the pool");
    drop_connection();
  } else if (id == 2) {
    if (is_true(result)) {
      report("authorized");
    } else {
      report(error_text.empty() ? "login refused by the pool" : "login refused by the pool: " + error_text);
      // Some pools send jobs all the same; one that does not is dialled again.
      if (!have_job) refused_at = std::chrono::steady_clock::now();
    }
  } else {
    share_result(id, result, error, error_text);
  }
}

void Stratum::publish() {
  if (!have_job || !have_target || extranonce1.empty()) return;
  work.seq = ++job_seq;
  work.extranonce1 = extranonce1;
  std::copy(target, target + 32, work.target);
  std::copy(extranonce1.begin(), extranonce1.end(), work.header + kNonceOffset);
  if (on_work) on_work(work);
}

}  // namespace tlm
