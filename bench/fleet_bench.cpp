// A fleet at network speed: runs the real varnel-cli over many simulated controllers that
// answer after a delay, as a busy LAN and a controller's own turnaround have them, and
// prints what each command costs against its floor: the scan window it starts with plus
// the longest one controller's chain of exchanges takes alone. It checks that every
// controller is listed with the right values, and that the output is the same, byte for
// byte, as one controller after the other (--parallel 1) gives.
//
//   fleet_bench [controllers, default 1000] [delay ms, default 2] [varnel-cli, default beside]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "sim/uSimHost.h"

namespace {

using Clock = std::chrono::steady_clock;
using Json = nlohmann::json;

constexpr int kCommandLimitMs = 600000;
// Apart from the addresses the tests use, so that a capture of lo tells them apart.
const char* const kFirstIP = "127.0.80.10";
// The five variables read: one of each type of the default program.
const char* const kReadNames[] = {"flag", "counter_w", "temp", "total", "setpoint"};
const char* const kWriteName = "counter_w";
constexpr uint32_t kWritten = 4321;

struct TTimed {
  bench::TCommand Run;
  double Ms = 0;
};

TTimed Timed(const std::string& cli, const std::vector<std::string>& args) {
  const auto start = Clock::now();
  TTimed t;
  t.Run = bench::RunCommand(cli, args, kCommandLimitMs);
  t.Ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  return t;
}

// The document a --json run printed, or null.
Json Document(const bench::TCommand& run) {
  const Json doc = Json::parse(run.Out, nullptr, false);
  return doc.is_discarded() ? Json() : doc;
}

std::string Expected(sim::TSimController& c, const char* name) {
  // The default program's variables are words, ints, longs, bits and a real; the value
  // text of each integer is its number, of the real its value.
  const auto raw = c.ReadVar(name);
  if (!raw) return "?";
  if (std::strcmp(name, "setpoint") == 0) {
    float f = 0;
    const uint32_t bits = *raw;
    std::memcpy(&f, &bits, sizeof f);
    char text[64];
    std::snprintf(text, sizeof text, "%.15g", static_cast<double>(f));
    return text;
  }
  if (std::strcmp(name, "temp") == 0) return std::to_string(static_cast<int16_t>(*raw));
  if (std::strcmp(name, "total") == 0) return std::to_string(static_cast<int32_t>(*raw));
  return std::to_string(*raw);
}

// Every controller of the host in the document's list under `key`, and `check` true for
// each entry; a line for the first that is not.
bool AllListed(sim::TSimHost& host, const Json& doc, const char* key,
               const std::function<bool(sim::TSimController&, const Json&)>& check,
               std::string& why) {
  if (!doc.is_object() || !doc.contains(key) || !doc[key].is_array()) {
    why = std::string("no \"") + key + "\" list";
    return false;
  }
  std::map<uint32_t, std::vector<const Json*>> byNad;
  for (const Json& item : doc[key]) byNad[item.value("nad", 0u)].push_back(&item);
  for (int i = 0; i < host.Count(); ++i) {
    sim::TSimController& c = host.Controller(i);
    const auto found = byNad.find(c.NAD());
    if (found == byNad.end()) {
      why = "NAD " + std::to_string(c.NAD()) + " is missing";
      return false;
    }
    for (const Json* item : found->second) {
      if (!check(c, *item)) {
        why = "NAD " + std::to_string(c.NAD()) + ": " + item->dump();
        return false;
      }
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int controllers = argc > 1 ? std::atoi(argv[1]) : 1000;
  const int delay = argc > 2 ? std::atoi(argv[2]) : 2;
  const std::string cli = argc > 3 ? argv[3] : bench::CliBesideThis(argv[0]);
  if (controllers < 1 || delay < 0) {
    std::fprintf(stderr, "usage: fleet_bench [controllers] [delay ms] [varnel-cli]\n");
    return 2;
  }

  sim::RaiseDescriptorLimit();
  sim::TSimHostOptions options;
  options.Controllers = controllers;
  options.FirstIP = kFirstIP;
  options.Faults.DelayMs = delay;
  options.RecordRequests = false;
  sim::TSimHost host(options);
  std::string error;
  if (!host.Start(&error)) {
    std::fprintf(stderr, "fleet_bench: the simulator did not start: %s\n", error.c_str());
    return 1;
  }
  // Values no two controllers share, so that a value shown for the wrong one is seen.
  for (int i = 0; i < host.Count(); ++i) {
    sim::TSimController& c = host.Controller(i);
    c.WriteVar("counter_w", 0, static_cast<uint32_t>(1000 + i));
    c.WriteVar("temp", 0, static_cast<uint32_t>(static_cast<uint16_t>(-500 + i)));
    c.WriteVar("total", 0, static_cast<uint32_t>(100000 + 7 * i));
  }

  // Adapter lo: the broadcast of the scan stays on this machine.
  const std::vector<std::string> net = {"--adapter", "lo", "--port", std::to_string(host.Port())};
  const auto args = [&](std::vector<std::string> a, bool json, const char* parallel = nullptr) {
    a.insert(a.end(), net.begin(), net.end());
    if (json) a.push_back("--json");
    if (parallel != nullptr) a.insert(a.end(), {"--parallel", parallel});
    return a;
  };
  // One controller alone, reached by its address: the chain a command walks for each.
  sim::TSimController& last = host.Controller(host.Count() - 1);
  const auto alone = [&](std::vector<std::string> a) {
    a.insert(a.end(), {"--nad", std::to_string(last.NAD()), "--ip",
                       last.IP() + ":" + std::to_string(host.Port())});
    return args(a, true);
  };
  std::vector<std::string> read = {"read"};
  for (const char* name : kReadNames) read.push_back(name);
  const std::vector<std::string> write = {"write",
                                          std::string(kWriteName) + "=" + std::to_string(kWritten)};
  const std::vector<std::string> sync = {"rtc", "--sync"};

  std::printf("fleet_bench: %d simulated controllers answering after %d ms, %s\n", controllers,
              delay, cli.c_str());
  const TTimed scan = Timed(cli, args({"scan"}, true));
  const Json scanDoc = Document(scan.Run);
  const size_t found = scanDoc.contains("controllers") ? scanDoc["controllers"].size() : 0;
  std::printf("scan: %.0f ms, %zu of %d found\n\n", scan.Ms, found, controllers);

  struct TCase {
    const char* Name;
    std::vector<std::string> Args;
    const char* Key;
    std::function<bool(sim::TSimController&, const Json&)> Right;
  };
  const std::vector<TCase> cases = {
      {"status",
       {"status"},
       "controllers",
       [](sim::TSimController&, const Json& j) {
         return j.value("network", false) && j.value("ping", false) && j.value("program", false) &&
                j.value("alc", false) && j.value("run", false) && !j.value("rtc", "").empty();
       }},
      {"read 5", read, "values",
       [](sim::TSimController& c, const Json& j) {
         return j.value("value", "") == Expected(c, j.value("name", "").c_str());
       }},
      {"write", write, "values",
       [](sim::TSimController& c, const Json& j) {
         return j.value("verified", false) && c.ReadVar(kWriteName) == kWritten;
       }},
      {"rtc --sync", sync, "controllers",
       [](sim::TSimController&, const Json& j) { return !j.value("rtc", "").empty(); }},
  };

  std::printf("%-11s %9s %9s %9s %11s %9s  %s\n", "command", "time ms", "alone ms", "floor ms",
              "beyond scan", "x scan", "every controller right");
  bool allRight = found == static_cast<size_t>(controllers);
  for (const TCase& c : cases) {
    const TTimed one = Timed(cli, alone(c.Args));
    const TTimed all = Timed(cli, args(c.Args, true));
    std::string why;
    const bool right =
        all.Run.ExitCode == 0 && AllListed(host, Document(all.Run), c.Key, c.Right, why);
    allRight = allRight && right;
    std::printf("%-11s %9.0f %9.0f %9.0f %11.0f %9.2f  %s\n", c.Name, all.Ms, one.Ms,
                scan.Ms + one.Ms, all.Ms - scan.Ms, all.Ms / scan.Ms,
                right ? "yes" : ("NO: " + (why.empty() ? all.Run.Err : why)).c_str());
  }

  // The same text, one controller after the other: read and write, whose output does not
  // change between runs (the scan figures and clocks of status and rtc do).
  std::printf("\n");
  for (const auto& [name, command] : std::vector<std::pair<const char*, std::vector<std::string>>>{
           {"read 5", read}, {"write", write}}) {
    const TTimed parallel = Timed(cli, args(command, false));
    const TTimed sequential = Timed(cli, args(command, false, "1"));
    const bool same = parallel.Run.ExitCode == sequential.Run.ExitCode &&
                      parallel.Run.Out == sequential.Run.Out &&
                      parallel.Run.Err == sequential.Run.Err;
    allRight = allRight && same;
    std::printf("%-7s --parallel 1: %.0f ms, output %s the default's (%zu bytes)\n", name,
                sequential.Ms, same ? "identical to" : "DIFFERENT from", parallel.Run.Out.size());
  }
  return allRight ? 0 : 1;
}
