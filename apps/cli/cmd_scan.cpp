// varnel-cli scan: one broadcast ping, and every controller that answers within the
// window, once, in the order the answers arrived; one that refuses (a wrong password) with
// the code it answered with.
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
  std::vector<TMessageDirection> codes;
  comm.DetectTarvos(&nads, &ips, o.ScanWindow(), &codes);
  comm.Disconnect();
  std::vector<cli::Problem> warnings;
  const std::vector<TFoundController> answers = cli::ScanAnswers(nads, ips, codes, warnings);

  if (o.json) {
    cli::Json list = cli::Json::array();
    for (const TFoundController& a : answers) {
      cli::Json entry = {{"nad", NADValue(a.NAD)}, {"ip", a.IP}};
      // Only a controller that refused carries its code: an acknowledgement is the rule.
      if (a.Refused()) {
        entry["code"] = static_cast<int>(a.Code);
        entry["code_name"] = MessageDirectionName(a.Code);
      }
      list.push_back(std::move(entry));
    }
    cli::Json doc = {{"controllers", list}};
    cli::AddWarnings(doc, warnings);
    cli::PrintJson(doc);
  } else {
    if (answers.empty()) std::cout << "no controller answered\n";
    for (const TFoundController& a : answers) {
      std::cout << "NAD " << NADText(a.NAD) << "  IP " << a.IP;
      if (a.Refused()) {
        std::cout << "  refused: " << MessageDirectionName(a.Code) << " ("
                  << static_cast<int>(a.Code) << ")";
      }
      std::cout << "\n";
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
