// varnel-cli scan: one broadcast ping, and every controller that answers within the
// window, once, in the order the answers arrived.
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "apps/cli/cli.h"
#include "apps/cli/cli_controllers.h"
#include "apps/cli/cli_net.h"
#include "comm/uCommunication.h"
#include "data/uNumText.h"

namespace {

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
  std::vector<cli::Problem> warnings;
  const std::vector<TFoundController> answers = cli::ScanAnswers(nads, ips, warnings);

  if (o.json) {
    cli::Json list = cli::Json::array();
    for (const TFoundController& a : answers) {
      list.push_back({{"nad", NADValue(a.NAD)}, {"ip", a.IP}});
    }
    cli::Json doc = {{"controllers", list}};
    cli::AddWarnings(doc, warnings);
    cli::PrintJson(doc);
  } else {
    if (answers.empty()) std::cout << "no controller answered\n";
    for (const TFoundController& a : answers) {
      std::cout << "NAD " << NADText(a.NAD) << "  IP " << a.IP << "\n";
    }
    cli::PrintWarnings(warnings);
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
