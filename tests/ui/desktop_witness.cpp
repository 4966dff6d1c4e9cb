// Three simulated controllers for the desktop test, which drives the real program as a
// user would and asks these controllers what reached them. It prints "PORT <port>" once
// they listen; then each line "report" on stdin is answered with one line per controller,
// "NAD <nad> pings <n> reads <n> writes <n> clock <seconds off the PC's clock>", and
// "end". "slow <ms>" makes every answer that late from then on. End of input stops them.
#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>

#include "sim/uSimHost.h"

namespace {

constexpr uint8_t kPing = 0x10;
constexpr uint8_t kReadRandom = 0x33;
constexpr uint8_t kWriteRandom = 0x34;

}  // namespace

int main() {
  sim::TSimHostOptions options;
  options.Controllers = 3;
  options.BaseNAD = 10;
  sim::TSimHost host(options);
  // Clocks a good year off, so that a clock write shows.
  for (int i = 0; i < host.Count(); ++i) {
    host.Controller(i).SetClockOffset(std::chrono::hours(-24 * 400));
  }
  std::string error;
  if (!host.Start(&error)) {
    std::fprintf(stderr, "desktop_witness: %s\n", error.c_str());
    return 1;
  }
  std::printf("PORT %d\n", host.Port());
  std::fflush(stdout);
  for (std::string line; std::getline(std::cin, line);) {
    if (line.rfind("slow ", 0) == 0) {
      for (int i = 0; i < host.Count(); ++i) {
        sim::TSimFaults faults = host.Controller(i).Faults();
        faults.DelayMs = std::stoi(line.substr(5));
        host.Controller(i).SetFaults(faults);
      }
      continue;
    }
    if (line != "report") continue;
    for (int i = 0; i < host.Count(); ++i) {
      sim::TSimController& c = host.Controller(i);
      int pings = 0, reads = 0, writes = 0;
      for (const sim::TSimRequest& r : c.Requests()) {
        pings += r.Command == kPing;
        reads += r.Command == kReadRandom;
        writes += r.Command == kWriteRandom;
      }
      std::printf("NAD %u pings %d reads %d writes %d clock %lld\n", c.NAD(), pings, reads, writes,
                  static_cast<long long>(c.ClockOffset().count()));
    }
    std::printf("end\n");
    std::fflush(stdout);
  }
  return 0;
}
