// The choice among this architecture's kernels (engine/arch.h): the widest that
// runs here, or the one asked for.

#include <cstring>
#include <string>

#include "engine/arch.h"
#include "engine/engine.h"

tlm_scan_fn g_scan = tlm_scan_portable;
tlm_full_fn g_full = tlm_full_portable;
const char* g_isa = "portable";

namespace {

std::string g_choice = "portable, before the engine's initialisation";
const tlm_kernel* g_selected = nullptr;  // null: the portable kernel, the list's last
bool g_forced = false;

void select(const tlm_kernel& k, bool forced) {
  g_scan = k.scan;
  g_full = k.full;
  g_isa = k.name;
  g_selected = &k;
  g_forced = forced;
}

// "a, b and c".
std::string names(const tlm_kernel* kernels, int count) {
  std::string list;
  for (int k = 0; k < count; ++k) {
    if (k > 0) list += k + 1 == count ? " and " : ", ";
    list += kernels[k].name;
  }
  return list;
}

}  // namespace

extern "C" {

void tlm_engine_global_init(void) {
  int count = 0;
  const tlm_kernel* kernels = tlm::arch::kernels(&count);
  int k = 0;
  while (k + 1 < count && tlm::arch::unusable(k) != nullptr) ++k;
  select(kernels[k], false);
  g_choice = g_isa;
  if (k > 0) g_choice += std::string("; ") + kernels[k - 1].name + " not usable: " + tlm::arch::unusable(k - 1);
}

const char* tlm_engine_isa(void) { return g_isa; }

const tlm_kernel* tlm_engine_kernels(int32_t* count) {
  int n = 0;
  const tlm_kernel* kernels = tlm::arch::kernels(&n);
  *count = n;
  return kernels;
}

const char* tlm_engine_unusable(const tlm_kernel* kernel) {
  int count = 0;
  return tlm::arch::unusable(int(kernel - tlm::arch::kernels(&count)));
}

const char* tlm_engine_use(const char* name) {
  static std::string refusal;
  int count = 0;
  const tlm_kernel* kernels = tlm::arch::kernels(&count);
  for (int k = 0; k < count; ++k) {
    if (std::strcmp(name, kernels[k].name) != 0) continue;
    if (const char* reason = tlm::arch::unusable(k)) {
      refusal = std::string("kernel ") + name + " cannot run here: " + reason;
      return refusal.c_str();
    }
    select(kernels[k], true);
    g_choice = std::string(g_isa) + ", forced";
    return nullptr;
  }
  refusal = std::string("no kernel named '") + name + "'; the kernels are " + names(kernels, count);
  return refusal.c_str();
}

const tlm_kernel* tlm_engine_selected(void) {
  if (g_selected != nullptr) return g_selected;
  int count = 0;
  return &tlm::arch::kernels(&count)[count - 1];
}

int32_t tlm_engine_settings(int32_t lanes, tlm_setting out[kTlmMaxSettings]) {
  const tlm_kernel* selected = tlm_engine_selected();
  if (lanes >= 1) {
    out[0] = {selected, tlm_clamp_lanes(lanes)};
    return 1;
  }
  const tlm_kernel* contenders[2] = {selected, nullptr};
  int count = 0;
  const tlm_kernel* kernels = tlm::arch::kernels(&count);
  // The next usable kernel may be the faster one here; the portable one, last in
  // the list and many times slower than any other, never is.
  for (int k = int(selected - kernels) + 1; !g_forced && contenders[1] == nullptr && k + 1 < count; ++k) {
    if (tlm::arch::unusable(k) == nullptr) contenders[1] = &kernels[k];
  }
  int32_t n = 0;
  for (const tlm_kernel* kernel : contenders) {
    for (int i = 0; kernel != nullptr && i < kTlmTunedLaneCount; ++i) out[n++] = {kernel, kTlmTunedLanes[i]};
  }
  return n;
}

const char* tlm_engine_choice(void) { return g_choice.c_str(); }

const char* tlm_engine_processor(void) {
  static const std::string name = [] {
    std::string n = tlm::arch::processor_name();
    return n.empty() ? std::string("unknown CPU") : n;
  }();
  return name.c_str();
}

}  // extern "C"
