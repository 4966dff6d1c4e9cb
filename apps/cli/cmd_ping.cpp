// varnel-cli ping: reaches one controller with the Ping command, shows which address
// and NAD answered, and times further pings.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "apps/cli/cli.h"
#include "apps/cli/cli_net.h"
#include "apps/cli/cli_options.h"
#include "comm/uCommunication.h"
#include "comm/uEthernetUtils.h"
#include "protocol/uQLink.h"

namespace {

struct PingOptions {
  std::string adapter;
  std::string ip;
  int port = kDefaultTarvoPort;
  int64_t nad = -1;  // -1: not given
  std::string password;
  int retries = 3;
  int wait = 500;
  int count = 1;
  bool log = false;
  bool json = false;
};

struct RoundTrips {
  int64_t min = 0, median = 0, p99 = 0;
};

// Median of an even count is the mean of the middle two; the 99th percentile is the
// nearest rank (the smallest value that at least 99 % of the pings did not exceed).
RoundTrips Summarise(std::vector<int64_t> us) {
  std::sort(us.begin(), us.end());
  const size_t n = us.size();
  RoundTrips r;
  r.min = us.front();
  r.median = n % 2 == 1 ? us[n / 2] : (us[n / 2 - 1] + us[n / 2]) / 2;
  const size_t rank = (99 * n + 99) / 100;  // ceil(0.99 n)
  r.p99 = us[std::min(n, std::max<size_t>(rank, 1)) - 1];
  return r;
}

// Why a transaction failed: the negative answer that ended its last attempt, or none.
std::string FailureText(const TCommunicator& comm) {
  return comm.LastIP().empty() ? "timeout" : MessageDirectionName(comm.ResponseErrorCode());
}

int Fail(const PingOptions& o, const std::string& response, const std::string& message) {
  if (o.json) {
    cli::PrintJson({{"ok", false}, {"response", response}});
  } else {
    std::cerr << "error: " << message << "\n";
  }
  return cli::kExitFailed;
}

int RunPing(const PingOptions& o) {
  if (o.ip.empty() && o.nad < 0) {
    throw cli::UsageError("--nad is required unless --ip names the controller");
  }
  std::string host;
  int ipPort = -1;
  if (!o.ip.empty()) {
    if (!ParseHostAndPort(o.ip, host, ipPort)) {
      throw cli::UsageError("--ip " + o.ip + ": the port does not read as a number");
    }
    if (ipPort != -1 && (ipPort < 1 || ipPort > 65535)) {
      throw cli::UsageError("--ip " + o.ip + ": the port must be 1 to 65535");
    }
    if (host.empty()) return Fail(o, "unresolved", "--ip " + o.ip + ": the host does not resolve");
  }

  TCommunicator comm;
  comm.SetPasswordCRC(PasswordHashUtf8(o.password));
  comm.SetNoRetires(o.retries);
  comm.SetWaitTime(o.wait);
  comm.SetLogToFile(o.log);
  comm.SetTarvoPort(o.port);
  // Any controller at the given address answers NAD 0.
  comm.SetTarvoNAD(static_cast<int32_t>(static_cast<uint32_t>(o.nad < 0 ? 0 : o.nad)));
  if (!o.ip.empty()) {
    comm.SetTarvoStaticIP(o.ip);
    if (ipPort < 0) comm.SetTarvoPort(o.port);
  }
  if (!comm.Open(o.adapter)) {
    return Fail(o, "adapter",
                "adapter '" + (o.adapter.empty() ? "(default)" : o.adapter) + "' cannot be opened");
  }
  if (!comm.Connect()) {
    const std::string why = FailureText(comm);
    comm.Disconnect();
    return Fail(o, why, "no answer from the controller (" + why + ")");
  }
  const uint32_t nad = static_cast<uint32_t>(comm.SenderNAD());
  const std::string ip = comm.TarvoIP();

  std::vector<int64_t> roundTrips;
  roundTrips.reserve(static_cast<size_t>(o.count));
  for (int i = 0; i < o.count; ++i) {
    const auto start = std::chrono::steady_clock::now();
    const bool ok = comm.Ping();
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    if (!ok) {
      const std::string why = FailureText(comm);
      comm.Disconnect();
      return Fail(o, why,
                  "ping " + std::to_string(i + 1) + " of " + std::to_string(o.count) + " failed (" +
                      why + ")");
    }
    roundTrips.push_back(us);
  }
  comm.Disconnect();

  const RoundTrips r = Summarise(roundTrips);
  if (o.json) {
    cli::PrintJson({{"ok", true},
                    {"nad", nad},
                    {"ip", ip},
                    {"count", o.count},
                    {"rtt_us", {{"min", r.min}, {"median", r.median}, {"p99", r.p99}}}});
  } else {
    std::cout << "answer from " << ip << " NAD " << nad << "\n"
              << o.count << (o.count == 1 ? " ping" : " pings") << ", round trip min " << r.min
              << " us, median " << r.median << " us, p99 " << r.p99 << " us\n";
  }
  return cli::kExitOk;
}

void Setup(CLI::App& root) {
  auto o = std::make_shared<PingOptions>();
  auto* sub = root.add_subcommand(
      "ping",
      "Ping one controller: the first ping finds it (by broadcast on the adapter unless --ip "
      "names it) and learns its address; --count further pings are timed");
  sub->add_option("--adapter", o->adapter, "Network adapter ID (for example lo)");
  sub->add_option("--ip", o->ip,
                  "HOST[:PORT] of the controller: no broadcast; without --nad any controller "
                  "there answers (NAD 0)")
      ->check(cli::HostAndPortText());
  sub->add_option("--port", o->port, "UDP port of the controllers (when --ip names none)")
      ->transform(cli::IntegerText(1, 65535))
      ->default_val(kDefaultTarvoPort);
  sub->add_option("--nad", o->nad,
                  "NAD of the controller; required without --ip, since every controller "
                  "would answer a broadcast to NAD 0")
      ->transform(cli::NadText());
  sub->add_option("--password", o->password, "Controller password");
  sub->add_option("--retries", o->retries, "Repeats of an unanswered request")
      ->transform(cli::IntegerText(0, 1000))
      ->default_val(3);
  sub->add_option("--wait", o->wait, "Time-out of one attempt in milliseconds")
      ->transform(cli::IntegerText(1, 3600000))
      ->default_val(500);
  sub->add_option("--count", o->count, "Timed pings after the first")
      ->transform(cli::IntegerText(1, 10000000))
      ->default_val(1);
  sub->add_flag("--log", o->log, cli::kLogOptionHelp);
  sub->add_flag("--json", o->json, "Print one JSON document");
  cli::AddCommand(root, sub, [o] { return RunPing(*o); });
}

}  // namespace

VARNEL_CLI_COMMAND(Setup);
