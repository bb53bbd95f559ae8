#include "app/dev_fee.h"

#include <cmath>
#include <utility>

#include "app/console/log.h"

namespace tlm {

namespace {

constexpr int64_t kCycleSeconds = 6000;
constexpr int64_t kFeeStartSecond = 5940;
constexpr int64_t kConnectedTicks = 60;
constexpr int64_t kMaxTicks = 180;

}  // namespace

DevFee::DevFee(std::function<void(bool)> switch_pool) : switch_pool_(std::move(switch_pool)) {}

void DevFee::step(double uptime, bool connected) {
  if (!in_fee_) {
    if (static_cast<int64_t>(std::trunc(uptime)) % kCycleSeconds < kFeeStartSecond) return;
    in_fee_ = true;
    fee_ticks_ = 0;
    fee_online_ = 0;
    switch_to(true);
    return;
  }
  const bool keep = fee_online_ < kConnectedTicks && fee_ticks_ < kMaxTicks;
  ++fee_ticks_;
  if (connected) ++fee_online_;
  in_fee_ = keep;
  if (!keep) switch_to(false);
}

void DevFee::switch_to(bool to_fee) {
  switch_pool_(to_fee);
  log_line(kMuted, "%s", to_fee ? "dev fee: 1% contribution (1 min)" : "dev fee done, back to your wallet");
}

}  // namespace tlm
