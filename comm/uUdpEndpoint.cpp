#include "comm/uUdpEndpoint.h"

#include <atomic>

namespace {
std::atomic<bool> gLoopbackOnly{false};
}

void SetUdpLoopbackOnly(bool on) { gLoopbackOnly.store(on); }
bool UdpLoopbackOnly() { return gLoopbackOnly.load(); }
