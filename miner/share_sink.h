// Where the miner hands the shares it has confirmed. The pool client is one such
// sink; a test or a bench can be another.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tlm {

// One confirmed share, in the pieces a mining.submit is built from.
struct Share {
  // seq of the Work it was mined on: it names the publication, and through it the
  // connection whose nonce prefix the share carries.
  uint64_t seq = 0;
  std::string job_id;
  std::string ntime;
  std::vector<uint8_t> nonce;     // nonce bytes after the pool's prefix (n..31)
  std::vector<uint8_t> solution;  // header bytes 140..1486: FD 40 05 and the solution
};

class ShareSink {
 public:
  virtual ~ShareSink() = default;
  // Takes one share from a mining thread. Must return at once: it never waits for
  // the network.
  virtual void submit(Share share) = 0;
};

}  // namespace tlm
