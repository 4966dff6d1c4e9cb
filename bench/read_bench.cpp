// What one TTarvo::Read of 1, 50 and 500 variables of one controller costs on an
// established link: requests sent and time taken, against a simulated controller on
// loopback. The first Read (socket, ping, program, allocation file) is shown apart.
//
// read_bench [runs]   (default 50 Reads per size)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "comm/uUdpEndpoint.h"
#include "controller/uTarvo.h"
#include "sim/uSimHost.h"

namespace {

constexpr int kVariables = 500;

std::vector<sim::TSimVar> Program() {
  std::vector<sim::TSimVar> vars = sim::TSimController::DefaultVars();
  // A mix of widths, as a real program has: bits, words, ints, longs and reals.
  static const char* const kTypes[] = {"bit", "word", "int", "long", "real"};
  static const int kSizes[] = {1, 2, 2, 4, 4};
  for (int i = 0; i < kVariables; ++i) {
    sim::TSimVar v;
    v.Address = 0x1000 + 4 * i;
    v.Flags = 2;
    v.Count = 1;
    v.Size = kSizes[i % 5];
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
    tags->Add(new TTagVar(std::to_string(nad) + "." + name, name, nad, -1, ""));
  }
  return tags;
}

double MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

}  // namespace

int main(int argc, char** argv) {
  // Nothing of this leaves the machine.
  SetUdpLoopbackOnly(true);
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;

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
  const auto firstStart = std::chrono::steady_clock::now();
  tarvo.Read(*first);
  const double firstMs = MsSince(firstStart);
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

  std::printf("%-10s %-10s %-14s %-12s %-12s\n", "variables", "runs", "requests/Read", "ms/Read",
              "us/variable");
  for (int count : {1, 50, 500}) {
    auto tags = Tags(10, count);
    controller.ClearRequests();
    const auto start = std::chrono::steady_clock::now();
    for (int run = 0; run < runs; ++run) tarvo.Read(*tags);
    const double ms = MsSince(start) / runs;
    const double requests = static_cast<double>(controller.Requests().size()) / runs;
    int bound = 0;
    for (int i = 0; i < tags->Count(); ++i) bound += tags->Items(i)->TarvoVar() != nullptr;
    if (bound != count || tarvo.ProgramState() != TProgramState::psCheckCode) {
      std::fprintf(stderr, "read_bench: %d of %d variables read (%s)\n", bound, count,
                   tarvo.ErrorS.c_str());
      return 1;
    }
    std::printf("%-10d %-10d %-14.1f %-12.3f %-12.2f\n", count, runs, requests, ms,
                ms * 1000.0 / count);
  }
  return 0;
}
