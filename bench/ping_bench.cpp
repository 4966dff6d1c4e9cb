// What the communicator adds to a round trip: the median time of a Ping through
// TCommunicator (send, listener thread, decode, hand-off to the waiting caller) against
// the median time of the same request frame sent and answered on a plain blocking
// socket, both against the same simulated controller on loopback. Target: a ratio of at
// most 1.5. The process's CPU time is taken over each side's pings as well: a round trip
// that is fast only because some thread spins for it is paid for in CPU.
//
// With an answer delay the controller answers that many milliseconds late, as one behind
// a slow network would: the round trips are then the delay's, and the CPU time shows what
// the wait costs while nothing comes.
//
//   ping_bench [pings per side, default 5000] [answer delay in ms, default 0]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "comm/uCommunication.h"
#include "comm/uUdpEndpoint.h"
#include "protocol/uQLink.h"
#include "sim/uSimHost.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kNAD = 10;
constexpr int kRounds = 10;  // the two sides take turns, so that drift hits both alike

double Micros(Clock::duration d) {
  return std::chrono::duration<double, std::micro>(d).count();
}

// CPU time of the whole process (caller, listener thread and the simulator's thread).
Clock::duration ProcessCpu() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return std::chrono::seconds(t.tv_sec) + std::chrono::nanoseconds(t.tv_nsec);
}

double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  const size_t rank = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[rank];
}

// A plain socket that sends the request and blocks for the answer.
class TRawClient {
 public:
  bool Open(const std::string& ip, int port) {
    fSocket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fSocket < 0) return false;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fSocket, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) return false;
    timeval timeout{1, 0};
    setsockopt(fSocket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    fTo.sin_family = AF_INET;
    fTo.sin_port = htons(static_cast<uint16_t>(port));
    // Only loopback: the address comes from the simulator, checked here all the same.
    if (inet_pton(AF_INET, ip.c_str(), &fTo.sin_addr) != 1) return false;
    return UdpDestinationAllowed(ntohl(fTo.sin_addr.s_addr));
  }
  ~TRawClient() {
    if (fSocket >= 0) close(fSocket);
  }

  bool RoundTrip(const uint8_t* frame, size_t size) {
    if (sendto(fSocket, frame, size, 0, reinterpret_cast<const sockaddr*>(&fTo), sizeof fTo) !=
        static_cast<ssize_t>(size)) {
      return false;
    }
    uint8_t answer[kMaxDatagramSize];
    return recv(fSocket, answer, sizeof answer, 0) > 0;
  }

 private:
  int fSocket = -1;
  sockaddr_in fTo{};
};

}  // namespace

int main(int argc, char** argv) {
  // Nothing of this leaves the machine.
  SetUdpLoopbackOnly(true);
  const int pings = std::max(kRounds, argc > 1 ? std::atoi(argv[1]) : 5000);
  const int perRound = pings / kRounds;
  const int delayMs = argc > 2 ? std::max(0, std::atoi(argv[2])) : 0;

  sim::TSimHostOptions options;
  options.Controllers = 1;
  options.BaseNAD = kNAD;
  options.Faults.DelayMs = delayMs;
  sim::TSimHost host(options);
  std::string error;
  if (!host.Start(&error)) {
    std::fprintf(stderr, "ping_bench: the simulator did not start: %s\n", error.c_str());
    return 1;
  }

  TCommunicator comm;
  comm.SetTarvoPort(host.Port());
  comm.SetWaitTime(1000);
  comm.SetNoRetires(0);
  if (!comm.Open("lo")) {
    std::fprintf(stderr, "ping_bench: adapter lo cannot be opened\n");
    return 1;
  }
  comm.SetTarvoNAD(static_cast<int32_t>(kNAD));
  if (!comm.Connect()) {
    std::fprintf(stderr, "ping_bench: the simulated controller does not answer\n");
    return 1;
  }

  uint8_t frame[kFrameBufferSize] = {};
  uint16_t length = 0;
  EncodeFrame(1, kNAD, 0x10, md_REQ, mt_COMMAND, frame, length, comm.PasswordCRC());
  TRawClient raw;
  if (!raw.Open(comm.TarvoIP(), host.Port())) {
    std::fprintf(stderr, "ping_bench: the plain socket cannot be opened\n");
    return 1;
  }

  // Warm both paths up (thread wake-ups, caches) before measuring.
  for (int i = 0; i < 200; ++i) {
    comm.Ping();
    raw.RoundTrip(frame, length);
  }

  std::vector<double> viaComm, viaRaw;
  Clock::duration commCpu{}, rawCpu{};
  int commFailures = 0, rawFailures = 0;
  for (int round = 0; round < kRounds; ++round) {
    auto cpuStart = ProcessCpu();
    for (int i = 0; i < perRound; ++i) {
      const auto start = Clock::now();
      const bool ok = comm.Ping();
      const auto took = Clock::now() - start;
      if (ok) {
        viaComm.push_back(Micros(took));
      } else {
        ++commFailures;
      }
    }
    commCpu += ProcessCpu() - cpuStart;
    cpuStart = ProcessCpu();
    for (int i = 0; i < perRound; ++i) {
      const auto start = Clock::now();
      const bool ok = raw.RoundTrip(frame, length);
      const auto took = Clock::now() - start;
      if (ok) {
        viaRaw.push_back(Micros(took));
      } else {
        ++rawFailures;
      }
    }
    rawCpu += ProcessCpu() - cpuStart;
  }
  comm.Disconnect();
  host.Stop();
  if (viaComm.empty() || viaRaw.empty()) {
    std::fprintf(stderr, "ping_bench: no round trip completed\n");
    return 1;
  }

  const double commMedian = Percentile(viaComm, 0.5);
  const double rawMedian = Percentile(viaRaw, 0.5);
  const double ratio = commMedian / rawMedian;
  std::printf("%zu pings each way against one simulated controller on port %d", viaComm.size(),
              host.Port());
  if (delayMs > 0) std::printf(", answering %d ms late", delayMs);
  std::printf("\n");
  // Both sides include the simulator's share, which is the same for each.
  const double commCpuPerPing = Micros(commCpu) / static_cast<double>(kRounds * perRound);
  const double rawCpuPerPing = Micros(rawCpu) / static_cast<double>(kRounds * perRound);
  std::printf("TCommunicator Ping: median %8.1f us  p99 %8.1f us  CPU %6.1f us/ping\n", commMedian,
              Percentile(viaComm, 0.99), commCpuPerPing);
  std::printf("plain UDP socket:   median %8.1f us  p99 %8.1f us  CPU %6.1f us/ping\n", rawMedian,
              Percentile(viaRaw, 0.99), rawCpuPerPing);
  std::printf("ratio of medians:   %.2f (target at most 1.50: %s)\n", ratio,
              ratio <= 1.5 ? "met" : "missed");
  if (commFailures + rawFailures > 0) {
    std::printf("failed round trips: %d through TCommunicator, %d on the plain socket\n",
                commFailures, rawFailures);
  }
  return 0;
}
