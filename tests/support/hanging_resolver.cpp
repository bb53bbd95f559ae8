// Preloaded into a process under test (LD_PRELOAD): getaddrinfo never returns for
// a host name, like a resolver that never answers; numeric addresses resolve.
#include <dlfcn.h>
#include <netdb.h>
#include <unistd.h>

extern "C" int getaddrinfo(const char* node, const char* service, const addrinfo* hints, addrinfo** res) {
  static const auto real = reinterpret_cast<decltype(&getaddrinfo)>(dlsym(RTLD_NEXT, "getaddrinfo"));
  addrinfo numeric = hints != nullptr ? *hints : addrinfo{};
  numeric.ai_flags |= AI_NUMERICHOST;
  const int result = real(node, service, &numeric, res);
  if (node == nullptr || result != EAI_NONAME) return result;
  for (;;) pause();
}
