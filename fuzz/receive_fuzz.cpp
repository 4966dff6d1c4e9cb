// The receive side on arbitrary datagrams: the start mark, reassembly of frames split over
// datagrams, frames that fail their checksum, the bound on collected text, and the
// judgement of each decoded frame against the open request and the attempts still owed an
// answer. The datagrams are handed to the receive handler directly, as the listener thread
// would.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "comm/uCommunication.h"
#include "comm/uMemoryUdpEndpoint.h"
#include "protocol/uQLink.h"

class TCommunicatorTestAccess {
 public:
  static void Handle(TCommunicator& c, const std::vector<uint8_t>& d, const TDatagramInfo& info) {
    c.HandleDatagram(d.data(), d.size(), info);
  }
  // Opens a wait as a request's attempt does, with `owed` earlier attempts of other
  // requests still owed an answer.
  static void Open(TCommunicator& c, TAnswerShape shape, bool discovery, int owed) {
    std::lock_guard lock(c.fMutex);
    const auto now = std::chrono::steady_clock::now();
    c.fListTarvosReq = discovery;
    for (int i = 0; i < owed; ++i) {
      TRequestSpec earlier;
      earlier.Key = "earlier" + std::to_string(i);
      earlier.Command = static_cast<uint8_t>(i % 2 == 0 ? cmdReadCode : cmdReadStatus);
      earlier.Shape = TAnswerShape::Exact(i * 7 % 40);
      earlier.NAD = 10;
      earlier.IP = "127.0.0.10";
      c.fMatcher.Begin(earlier);
      c.fMatcher.AttemptSent(now - std::chrono::milliseconds(2));
    }
    TRequestSpec request;
    request.Key = "request";
    request.Command = cmdReadRandom;
    request.Shape = shape;
    request.NAD = 10;
    request.IP = discovery ? "" : "127.0.0.10";
    request.AnyNAD = discovery;
    request.Collect = discovery;
    c.fMatcher.Begin(request);
    c.PrepareWaitLocked();
    c.fMatcher.AttemptSent(now - std::chrono::milliseconds(1));
  }
  static size_t Collected(TCommunicator& c) {
    std::lock_guard lock(c.fMutex);
    return c.RecMessage.size();
  }
  // The discovery lists run parallel: one NAD, address and code per answer.
  static bool DiscoveryListsInStep(TCommunicator& c) {
    std::lock_guard lock(c.fMutex);
    return c.fNADList.size() == c.fIPList.size() && c.fIPList.size() == c.fCodeList.size();
  }
};

namespace {

// Reads the fuzz input front to back; zero once it runs out.
struct TInput {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  uint8_t Byte() { return at < size ? data[at++] : 0; }
  std::vector<uint8_t> Bytes(size_t n) {
    n = std::min(n, size - at);
    std::vector<uint8_t> out(data + at, data + at + n);
    at += n;
    return out;
  }
  bool Done() const { return at >= size; }
};

TAnswerShape ShapeOf(uint8_t kind, uint8_t length) {
  switch (kind % 3) {
    case 0:
      return TAnswerShape::Exact(length);
    case 1:
      return TAnswerShape::PingAnswer();
    default:
      return TAnswerShape::AnyLength();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TInput in{data, size};
  TCommunicator comm(std::make_unique<TMemoryUdpEndpoint>());
  comm.SetTarvoNAD(10);
  const uint8_t setup = in.Byte();
  TCommunicatorTestAccess::Open(comm, ShapeOf(setup, in.Byte()), (setup & 0x80) != 0,
                                (setup >> 2) & 0x07);
  while (!in.Done()) {
    const uint8_t control = in.Byte();
    const size_t length = static_cast<size_t>(in.Byte()) << (control & 0x03);
    std::vector<uint8_t> datagram = in.Bytes(length);
    if (control & 0x04) {
      // A well-formed frame around the bytes, so that the judgement is reached often.
      const uint32_t from = (control & 0x08) ? 10 : 11;
      const uint32_t to = (control & 0x10) ? 1 : 0;
      const uint8_t direction = (control & 0x20) ? md_ACK : static_cast<uint8_t>(control & 0x0F);
      datagram = BuildFrame(from, to, direction, mt_COMMAND, datagram.data(), datagram.size());
    }
    TDatagramInfo info;
    info.PeerIP = (control & 0x40) ? "127.0.0.10" : "127.0.0.11";
    info.PeerPort = 8442;
    info.LocalIP = "127.0.0.1";
    info.ArrivedAt = std::chrono::steady_clock::now();
    TCommunicatorTestAccess::Handle(comm, datagram, info);
    if (control & 0x80) {
      const uint8_t again = in.Byte();
      TCommunicatorTestAccess::Open(comm, ShapeOf(again, in.Byte()), false, again & 0x03);
    }
    // The collected text is bounded: a buffer that held more than a frame is emptied.
    if (TCommunicatorTestAccess::Collected(comm) > 2 * kMaxDatagramSize) __builtin_trap();
    if (!TCommunicatorTestAccess::DiscoveryListsInStep(comm)) __builtin_trap();
  }
  (void)comm.LastData();
  (void)comm.ResponseErrorCode();
  return 0;
}
