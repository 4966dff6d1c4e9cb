// How many controllers one scan finds when a crowd answers the same broadcast: 250
// simulated controllers on loopback (or as many as asked for, 10000 among them), all
// answering within a millisecond or two, and DetectTarvos on adapter "lo" a few times
// over. None may be lost. It also shows what the hosted controllers cost in memory.
//
//   scan_bench [controllers, default 250] [runs, default 5]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "comm/uCommunication.h"
#include "comm/uUdpEndpoint.h"
#include "sim/uSimHost.h"

namespace {

// The resident size of this process in KiB, from /proc; -1 when unknown.
long ResidentKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  // Nothing of this leaves the machine.
  SetUdpLoopbackOnly(true);

  const int controllers = argc > 1 ? std::atoi(argv[1]) : 250;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
  const int window = 1000;
  constexpr uint32_t kBaseNAD = 10;

  // One socket per controller.
  sim::RaiseDescriptorLimit();
  sim::TSimHostOptions options;
  options.Controllers = controllers;
  options.BaseNAD = kBaseNAD;
  options.RecordRequests = false;
  sim::TSimHost host(options);
  std::string error;
  if (!host.Start(&error)) {
    std::fprintf(stderr, "scan_bench: the simulator did not start: %s\n", error.c_str());
    return 1;
  }

  TCommunicator comm;
  comm.SetTarvoPort(host.Port());
  if (!comm.Open("lo")) {
    std::fprintf(stderr, "scan_bench: adapter lo cannot be opened\n");
    return 1;
  }
  std::printf("%d simulated controllers on port %d, window %d ms\n", controllers, host.Port(),
              window);
  const long rss = ResidentKiB();
  if (rss > 0) {
    std::printf("process resident size with the controllers running: %.1f MiB (%.1f KiB each)\n",
                rss / 1024.0, static_cast<double>(rss) / controllers);
  }

  int worst = controllers;
  for (int run = 1; run <= runs; ++run) {
    std::vector<std::string> nads, ips;
    const auto start = std::chrono::steady_clock::now();
    comm.DetectTarvos(&nads, &ips, window);
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    // Count each expected controller once: a duplicate answer must not hide a lost one.
    std::set<std::string> distinct;
    for (const std::string& nad : nads) {
      const unsigned long value = std::strtoul(nad.c_str(), nullptr, 10);
      if (value >= kBaseNAD && value < kBaseNAD + static_cast<unsigned long>(controllers)) {
        distinct.insert(nad);
      }
    }
    const int found = static_cast<int>(distinct.size());
    worst = std::min(worst, found);
    std::printf("run %d: %d of %d found (%zu answers) in %lld ms\n", run, found, controllers,
                nads.size(), static_cast<long long>(ms));
  }
  comm.Disconnect();
  host.Stop();
  std::printf("fewest found in one scan: %d of %d%s\n", worst, controllers,
              worst == controllers ? "" : "  -- answers were lost");
  return worst == controllers ? 0 : 1;
}
