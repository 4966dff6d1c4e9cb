#include "comm/uUdpEndpoint.h"

#include <atomic>

namespace {
std::atomic<bool> gLoopbackOnly{false};
}

void SetUdpLoopbackOnly(bool on) {
  gLoopbackOnly.store(on);
}
bool UdpLoopbackOnly() {
  return gLoopbackOnly.load();
}

bool UdpDestinationAllowed(uint32_t address) {
  return !UdpLoopbackOnly() || (address >> 24) == 127;
}
