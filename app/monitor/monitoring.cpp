#include "app/monitor/monitoring.h"

#include "app/console/log.h"
#include "stratum/pool_address.h"

namespace tlm {

bool Monitoring::start_api(const std::string& host, uint16_t port, const std::string& token) {
  std::string error;
  if (!api_.start(host, port, token, error)) {
    log_line(kBad, "api: %s", error.c_str());
    return false;
  }
  log_line(kMuted, "api listening on %s", host_port(host, api_.port()).c_str());
  return true;
}

void Monitoring::start_keyboard(std::function<void(bool)> pause) {
  commands_ = std::make_unique<KeyCommands>(published_, std::move(pause));
  if (keyboard_.start([this](char key) { commands_->run(key); })) KeyCommands::announce();
}

void Monitoring::publish(Snapshot now, std::vector<uint64_t> thread_totals) {
  thread_rates_.record(now.uptime_s, std::move(thread_totals));
  now.thread_rates = thread_rates_.rates();
  published_.publish(now);
}

void Monitoring::stop() {
  keyboard_.stop();
  api_.stop();
}

}  // namespace tlm
