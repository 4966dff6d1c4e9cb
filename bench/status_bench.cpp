// What a status check of many controllers costs beyond the scan it starts with: runs the
// real varnel-cli, "scan" and "status" in turn, against simulated controllers hosted in this
// process on loopback, and prints the median wall time of each, their ratio, and the
// requests each controller received per status run. The scan's fixed window is the floor.
//
//   status_bench [controllers, default 50] [runs, default 7] [varnel-cli, default beside]
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "sim/uSimHost.h"

namespace {

using Clock = std::chrono::steady_clock;

// Runs the program with its output thrown away; the wall time in ms, or -1 when it failed.
double TimedRun(const std::string& program, const std::vector<std::string>& args) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const auto start = Clock::now();
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ms : -1;
}

}  // namespace

int main(int argc, char** argv) {
  const int controllers = argc > 1 ? std::atoi(argv[1]) : 50;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 7;
  const std::string cli = argc > 3 ? argv[3] : bench::CliBesideThis(argv[0]);
  if (controllers < 1 || runs < 1) {
    std::fprintf(stderr, "usage: status_bench [controllers] [runs] [varnel-cli]\n");
    return 2;
  }

  sim::RaiseDescriptorLimit();
  sim::TSimHostOptions options;
  options.Controllers = controllers;
  sim::TSimHost host(options);
  std::string error;
  if (!host.Start(&error)) {
    std::fprintf(stderr, "status_bench: the simulator did not start: %s\n", error.c_str());
    return 1;
  }
  // Adapter lo: the broadcast of the scan stays on this machine.
  const std::vector<std::string> net = {"--adapter", "lo", "--port", std::to_string(host.Port())};
  std::vector<std::string> scanArgs = {"scan"}, statusArgs = {"status"};
  scanArgs.insert(scanArgs.end(), net.begin(), net.end());
  statusArgs.insert(statusArgs.end(), net.begin(), net.end());

  std::vector<double> scans, statuses;
  std::map<uint8_t, size_t> asked;  // command: requests per controller and status run
  for (int r = 0; r < runs; ++r) {
    const double scan = TimedRun(cli, scanArgs);
    for (int c = 0; c < host.Count(); ++c) host.Controller(c).ClearRequests();
    const double status = TimedRun(cli, statusArgs);
    if (scan < 0 || status < 0) {
      std::fprintf(stderr, "status_bench: %s failed\n", cli.c_str());
      return 1;
    }
    scans.push_back(scan);
    statuses.push_back(status);
    if (r == 0) {
      for (int c = 0; c < host.Count(); ++c) {
        for (const sim::TSimRequest& q : host.Controller(c).Requests()) ++asked[q.Command];
      }
    }
    std::printf("run %d: scan %.1f ms, status %.1f ms\n", r + 1, scan, status);
  }
  const double scan = bench::Median(scans), status = bench::Median(statuses);
  std::printf("%d controllers, %d runs: scan %.1f ms, status %.1f ms (median), ratio %.3f\n",
              controllers, runs, scan, status, status / scan);
  std::printf("status costs %.2f ms per controller beyond the scan; requests per controller:",
              (status - scan) / controllers);
  size_t total = 0;
  for (const auto& [command, count] : asked) {
    std::printf(" %02X x%.1f", command, static_cast<double>(count) / controllers);
    total += count;
  }
  std::printf(" (%.1f in all)\n", static_cast<double>(total) / controllers);
  return 0;
}
