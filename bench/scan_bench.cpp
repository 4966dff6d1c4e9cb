// How many controllers one scan finds when a crowd answers the same broadcast: 250
// simulated controllers on loopback, all answering within a millisecond or two, and
// DetectTarvos on adapter "lo" a few times over. None may be lost.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "comm/uCommunication.h"
#include "comm/uUdpEndpoint.h"
#include "sim/uSimHost.h"

int main(int argc, char** argv) {
  // Nothing of this leaves the machine.
  SetUdpLoopbackOnly(true);

  const int controllers = argc > 1 ? std::atoi(argv[1]) : 250;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
  const int window = 1000;
  constexpr uint32_t kBaseNAD = 10;

  sim::TSimHostOptions options;
  options.Controllers = controllers;
  options.BaseNAD = kBaseNAD;
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
