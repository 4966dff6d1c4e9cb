// varnel-cli scan: one broadcast ping, and every controller that answers within the
// window, in the order the answers arrived.
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "apps/cli/cli.h"
#include "apps/cli/cli_net.h"
#include "comm/uCommunication.h"

namespace {

// The NAD list holds unsigned decimal text; anything else would be a fault of the
// receive side, shown as it is rather than hidden.
cli::Json NadJson(const std::string& text) {
  if (!text.empty() && text.size() <= 10 &&
      text.find_first_not_of("0123456789") == std::string::npos) {
    const uint64_t value = std::stoull(text);
    if (value <= 0xFFFFFFFFull) return value;
  }
  return text;
}

int RunScan(const cli::NetOptions& o) {
  TCommunicator comm;
  cli::ApplyNetOptions(comm, o);
  // Discovery goes out whether or not the adapter opened: sending activates the socket
  // on demand, and the answer tells.
  if (!comm.Open(o.adapter)) {
    std::cerr << "warning: adapter '" << (o.adapter.empty() ? "(default)" : o.adapter)
              << "' could not be opened\n";
  }
  std::vector<std::string> nads, ips;
  comm.DetectTarvos(&nads, &ips, o.ScanWindow());
  comm.Disconnect();

  if (o.json) {
    cli::Json list = cli::Json::array();
    for (size_t i = 0; i < nads.size(); ++i) {
      list.push_back({{"nad", NadJson(nads[i])}, {"ip", ips[i]}});
    }
    cli::PrintJson({{"controllers", list}});
  } else if (nads.empty()) {
    std::cout << "no controller answered\n";
  } else {
    for (size_t i = 0; i < nads.size(); ++i) {
      std::cout << "NAD " << nads[i] << "  IP " << ips[i] << "\n";
    }
  }
  return cli::kExitOk;
}

void Setup(CLI::App& root) {
  auto opts = std::make_shared<cli::NetOptions>();
  auto* sub = root.add_subcommand("scan", "Find the controllers on the network");
  cli::AddNetOptions(sub, *opts, false);
  cli::AddCommand(root, sub, [opts] { return RunScan(*opts); });
}

}  // namespace

VARNEL_CLI_COMMAND(Setup);
