// The 1% dev fee: one minute of connected mining in every 100 minutes of uptime goes
// to the built-in wallet, by restarting the pool client with that login.
#pragma once

#include <cstdint>
#include <functional>

namespace tlm {

// The login mined for during a fee period, used without a rig suffix.
inline constexpr const char* kDevFeeWallet = "RVarne1TLMdevFeeWa11etKpQ7zYx4sUmq";

class DevFee {
 public:
  // `switch_pool(to_fee)` withdraws the miner's job and restarts the pool client
  // with the fee wallet (to_fee true) or the user's login (false).
  explicit DevFee(std::function<void(bool to_fee)> switch_pool);

  // One main-loop iteration at `uptime` seconds; `connected` is the pool client's
  // connection flag. Enters a fee period when the position in the 6000 s cycle
  // reaches 5940 s, leaves it after 60 connected iterations or 180 in all, and logs
  // each switch.
  void step(double uptime, bool connected);

  bool in_fee() const { return in_fee_; }

 private:
  void switch_to(bool to_fee);

  std::function<void(bool)> switch_pool_;
  bool in_fee_ = false;
  int64_t fee_ticks_ = 0;
  int64_t fee_online_ = 0;
};

}  // namespace tlm
