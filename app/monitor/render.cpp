// The two renderings of a Snapshot: JSON for people and scripts, the Prometheus
// text format for scrapers.
#include <charconv>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "app/monitor/snapshot.h"
#include "json/json.h"

namespace tlm {

namespace {

// Shortest text that reads back as `v`, after rounding to `decimals` places
// (none when negative). JSON has no NaN or infinity, so those become 0.
std::string number(double v, int decimals = -1) {
  if (!std::isfinite(v)) return "0";
  if (decimals >= 0) {
    const double scale = std::pow(10.0, decimals);
    v = std::round(v * scale) / scale;
  }
  char buf[32];
  auto end = std::to_chars(buf, buf + sizeof buf, v).ptr;
  return std::string(buf, end);
}

std::string rate(double v) { return number(v, 2); }

std::string flag(bool b) { return b ? "true" : "false"; }

std::string quoted(const std::string& s) {
  std::string out = "\"";
  out += json_escape(s);
  out += '"';
  return out;
}

// A label value with backslash, double quote and line feed escaped.
std::string label(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  out += '"';
  return out;
}

// One metric family: its HELP and TYPE lines, then one sample per (labels, value).
void family(std::string& out, const std::string& name, const char* type, const char* help,
            const std::vector<std::pair<std::string, std::string>>& samples) {
  out += "# HELP " + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
  for (const auto& [labels, value] : samples) {
    out += name;
    if (!labels.empty()) out += "{" + labels + "}";
    out += " " + value + "\n";
  }
}

void gauge(std::string& out, const std::string& name, const char* help, const std::string& value) {
  family(out, name, "gauge", help, {{"", value}});
}

void counter(std::string& out, const std::string& name, const char* help, uint64_t value) {
  family(out, name, "counter", help, {{"", std::to_string(value)}});
}

}  // namespace

std::string render_summary(const Snapshot& s) {
  std::string out = "{\"version\":" + quoted(s.version);
  out += ",\"uptime_s\":" + number(s.uptime_s, 0);
  out += ",\"pool\":{\"address\":" + quoted(s.pool);
  out += ",\"connected\":" + flag(s.connected);
  out += ",\"tls\":" + flag(s.tls);
  out += "},\"kernel\":" + quoted(s.kernel);
  out += ",\"lanes\":" + std::to_string(s.lanes);
  out += ",\"threads\":" + std::to_string(s.threads);
  out += ",\"hashrate\":{\"10s\":" + rate(s.rate_10s);
  out += ",\"60s\":" + rate(s.rate_60s);
  out += ",\"15m\":" + rate(s.rate_15m);
  out += ",\"threads\":[";
  for (size_t i = 0; i < s.thread_rates.size(); ++i) {
    if (i) out += ',';
    out += rate(s.thread_rates[i]);
  }
  out += "]},\"hashes\":" + std::to_string(s.hashes);
  out += ",\"shares\":{\"found\":" + std::to_string(s.found);
  out += ",\"accepted\":" + std::to_string(s.accepted);
  out += ",\"rejected\":" + std::to_string(s.rejected);
  out += ",\"unanswered\":" + std::to_string(s.unanswered);
  out += ",\"dropped\":" + std::to_string(s.dropped);
  out += "},\"difficulty\":" + number(s.difficulty);
  out += ",\"last_share_time\":" + std::to_string(s.last_share_time);
  out += "}\n";
  return out;
}

std::string render_metrics(const Snapshot& s) {
  std::string out;
  family(out, "tlm_info", "gauge", "Miner version, current pool and hash kernel.",
         {{"version=" + label(s.version) + ",pool=" + label(s.pool) + ",kernel=" + label(s.kernel), "1"}});
  gauge(out, "tlm_uptime_seconds", "Seconds since the miner started.", number(s.uptime_s, 0));
  gauge(out, "tlm_pool_connected", "1 while the pool connection is up.", s.connected ? "1" : "0");
  gauge(out, "tlm_pool_tls", "1 when the pool connection uses TLS.", s.tls ? "1" : "0");
  gauge(out, "tlm_lanes", "Nonces each mining thread hashes side by side.", std::to_string(s.lanes));
  gauge(out, "tlm_threads", "Mining threads.", std::to_string(s.threads));
  family(out, "tlm_hashrate", "gauge", "Hashes per second over a sliding window.",
         {{"window=\"10s\"", rate(s.rate_10s)},
          {"window=\"60s\"", rate(s.rate_60s)},
          {"window=\"15m\"", rate(s.rate_15m)}});
  std::vector<std::pair<std::string, std::string>> per_thread;
  for (size_t i = 0; i < s.thread_rates.size(); ++i)
    per_thread.emplace_back("thread=\"" + std::to_string(i) + "\"", rate(s.thread_rates[i]));
  family(out, "tlm_thread_hashrate", "gauge", "Hashes per second of one mining thread.", per_thread);
  counter(out, "tlm_hashes_total", "Hashes computed since start.", s.hashes);
  counter(out, "tlm_shares_found_total", "Shares found that meet the pool's target.", s.found);
  counter(out, "tlm_shares_accepted_total", "Shares the pool accepted.", s.accepted);
  counter(out, "tlm_shares_rejected_total", "Shares the pool rejected.", s.rejected);
  counter(out, "tlm_shares_unanswered_total", "Shares sent that the pool never answered.", s.unanswered);
  counter(out, "tlm_shares_dropped_total", "Shares found but never sent.", s.dropped);
  gauge(out, "tlm_share_difficulty", "The pool's current share difficulty.", number(s.difficulty));
  gauge(out, "tlm_last_share_timestamp_seconds", "Unix time of the last share found, 0 before the first.",
        std::to_string(s.last_share_time));
  return out;
}

}  // namespace tlm
