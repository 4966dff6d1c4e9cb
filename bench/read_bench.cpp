// What one TTarvo::Read of 1, 50 and 500 variables of one controller costs on an
// established link: requests sent and time taken, against a simulated controller on
// loopback. The first Read (socket, ping, program, allocation file) is shown apart.
//
// Beside it, a peer: libmodbus reading 500 holding registers from its own server over
// loopback TCP in the same process, in requests of 125 registers (where libmodbus was found
// at build time). The sizes and the peer take turns within each round, so that a change
// of load on the machine hits all of them alike; the figures are medians of single Reads.
//
// read_bench [rounds]   (default 50 rounds of 20 Reads per size)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "comm/uUdpEndpoint.h"
#include "controller/uTarvo.h"
#include "sim/uSimHost.h"

#ifdef VARNEL_HAVE_LIBMODBUS
#include "bench/modbus_peer.h"
#endif

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kVariables = 500;
constexpr int kReadsPerRound = 20;
constexpr int kSizes[] = {1, 50, 500};

std::vector<sim::TSimVar> Program() {
  std::vector<sim::TSimVar> vars = sim::TSimController::DefaultVars();
  // A mix of widths, as a real program has: bits, words, ints, longs and reals.
  static const char* const kTypes[] = {"bit", "word", "int", "long", "real"};
  static const int kWidths[] = {1, 2, 2, 4, 4};
  for (int i = 0; i < kVariables; ++i) {
    sim::TSimVar v;
    v.Address = 0x1000 + 4 * i;
    v.Flags = 2;
    v.Count = 1;
    v.Size = kWidths[i % 5];
    v.Scope = "global";
    v.Type = kTypes[i % 5];
    v.Name = "b" + std::to_string(i);
    vars.push_back(v);
  }
  return vars;
}

std::unique_ptr<TTagVarList> Tags(int32_t nad, int count) {
  auto tags = std::make_unique<TTagVarList>();
  for (int i = 0; i < count; ++i) {
    const std::string name = "b" + std::to_string(i);
    tags->Add(std::make_unique<TTagVar>(std::to_string(nad) + "." + name, name, nad, -1, ""));
  }
  return tags;
}

double MicrosSince(Clock::time_point start) {
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

struct TSeries {
  std::vector<double> Micros;
  double Requests = 0;  // per Read
};

}  // namespace

int main(int argc, char** argv) {
  // Nothing of this leaves the machine.
  SetUdpLoopbackOnly(true);
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;

  sim::TSimHostOptions options;
  options.Controllers = 1;
  options.BaseNAD = 10;
  sim::TSimHost host(options);
  host.Controller(0).ReplaceProgram(Program());
  std::string error;
  if (!host.Start(&error)) {
    std::fprintf(stderr, "read_bench: the simulator did not start: %s\n", error.c_str());
    return 1;
  }
  sim::TSimController& controller = host.Controller(0);

  TTarvo tarvo(10);
  tarvo.SetEthAdapterID("lo");
  tarvo.SetPort(host.Port());
  tarvo.Comm()->SetNoRetires(3);
  tarvo.Comm()->SetWaitTime(200);

  controller.ClearRequests();
  auto first = Tags(10, 1);
  const auto firstStart = Clock::now();
  tarvo.Read(*first);
  const double firstMs = MicrosSince(firstStart) / 1000.0;
  if (first->Items(0)->TarvoVar() == nullptr) {
    std::fprintf(stderr, "read_bench: the first Read failed: %s\n", tarvo.ErrorS.c_str());
    return 1;
  }
  std::printf("simulated controller NAD 10 on port %d, %d variables in its program\n", host.Port(),
              tarvo.TarvoVarList()->Count());
  std::printf(
      "first Read (socket, ping, program, allocation file, run, 1 value): "
      "%zu requests, %.2f ms\n\n",
      controller.Requests().size(), firstMs);

#ifdef VARNEL_HAVE_LIBMODBUS
  TModbusPeer peer;
  if (!peer.Ready()) {
    std::fprintf(stderr, "read_bench: the libmodbus peer did not start: %s\n",
                 peer.Error().c_str());
    return 1;
  }
  TSeries peerSeries;
#endif

  std::vector<std::unique_ptr<TTagVarList>> tags;
  std::vector<TSeries> series(std::size(kSizes));
  for (int count : kSizes) tags.push_back(Tags(10, count));
  // Warm every path up (caches, thread wake-ups) before measuring.
  for (auto& t : tags) tarvo.Read(*t);

  for (int round = 0; round < rounds; ++round) {
    for (size_t s = 0; s < tags.size(); ++s) {
      controller.ClearRequests();
      for (int i = 0; i < kReadsPerRound; ++i) {
        const auto start = Clock::now();
        tarvo.Read(*tags[s]);
        series[s].Micros.push_back(MicrosSince(start));
      }
      series[s].Requests += static_cast<double>(controller.Requests().size());
      int bound = 0;
      for (int i = 0; i < tags[s]->Count(); ++i) bound += tags[s]->Items(i)->TarvoVar() != nullptr;
      if (bound != kSizes[s] || tarvo.ProgramState() != TProgramState::psCheckCode) {
        std::fprintf(stderr, "read_bench: %d of %d variables read (%s)\n", bound, kSizes[s],
                     tarvo.ErrorS.c_str());
        return 1;
      }
    }
#ifdef VARNEL_HAVE_LIBMODBUS
    for (int i = 0; i < kReadsPerRound; ++i) {
      int requests = 0;
      const auto start = Clock::now();
      if (!peer.ReadRegisters(kVariables, &requests)) {
        std::fprintf(stderr, "read_bench: the libmodbus read failed\n");
        return 1;
      }
      peerSeries.Micros.push_back(MicrosSince(start));
      peerSeries.Requests += requests;
    }
#endif
  }

  const double reads = static_cast<double>(rounds) * kReadsPerRound;
  std::printf("%-24s %-10s %-14s %-12s %-14s %-12s\n", "", "Reads", "requests/Read", "us/Read",
              "us/request", "us/variable");
  for (size_t s = 0; s < series.size(); ++s) {
    const double median = bench::Median(series[s].Micros);
    const double requests = series[s].Requests / reads;
    const std::string title =
        "Read of " + std::to_string(kSizes[s]) + " variable" + (kSizes[s] == 1 ? "" : "s");
    std::printf("%-24s %-10.0f %-14.1f %-12.1f %-14.1f %-12.2f\n", title.c_str(), reads, requests,
                median, median / requests, median / kSizes[s]);
  }
#ifdef VARNEL_HAVE_LIBMODBUS
  const double peerMedian = bench::Median(peerSeries.Micros);
  const double peerRequests = peerSeries.Requests / reads;
  std::printf("%-24s %-10.0f %-14.1f %-12.1f %-14.1f %-12.2f\n", "libmodbus, 500 registers", reads,
              peerRequests, peerMedian, peerMedian / peerRequests, peerMedian / kVariables);
  const double ratio = bench::Median(series.back().Micros) / peerMedian;
  std::printf("\nRead of %d variables against libmodbus: %.2f (target at most 1.50: %s)\n",
              kVariables, ratio, ratio <= 1.5 ? "met" : "missed");
#else
  std::printf("\n(libmodbus was not found at build time: no peer to compare with)\n");
#endif
  return 0;
}
