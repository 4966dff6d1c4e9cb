// varnel-cli vars: the variables of each chosen controller, as its own allocation file
// lists them (the same listing as `alc` gives for a file).
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "apps/cli/alc_listing.h"
#include "apps/cli/cli_controllers.h"
#include "apps/cli/cli_fleet.h"
#include "apps/cli/cli_outcomes.h"
#include "data/uErrors.h"
#include "data/uNumText.h"

namespace {

using cli::Json;

// Walks the checks up to the allocation file; the first that fails says why there is no
// listing.
std::string ReadVariables(TTarvo& T) {
  if (!T.CheckSocket()) return "Cannot open socket!";
  if (!T.CheckTarvo()) return cli::PingFailureText(T);
  if (!T.CheckProgram()) return "PLC has no program!";
  if (!T.CheckAllocation()) return "ALC data not found!";
  return {};
}

int RunVars(const cli::NetOptions& o) {
  cli::Chosen chosen;
  std::vector<cli::Problem> problems;
  // The controllers whose variables were read, in their order.
  const std::vector<TTarvo*> read = cli::ChooseAndCollect<TTarvo*>(
      o, chosen, "reading the variables of NAD",
      [&](TTarvo& T, bool pinned, std::vector<cli::Problem>& own) -> std::optional<TTarvo*> {
        cli::ApplySettings(T, o, pinned);
        std::string failure;
        try {
          failure = ReadVariables(T);
        } catch (const EVarnelError& e) {
          failure = e.what();
        }
        T.Disconnect();
        if (!failure.empty()) {
          own.push_back({T.NAD(), "", failure});
          return std::nullopt;
        }
        return &T;
      },
      problems);
  Json list = Json::array();
  for (const TTarvo* T : read) {
    if (o.json) {
      list.push_back({{"nad", NADValue(T->NAD())},
                      {"ip", T->IP()},
                      {"variables", cli::VarListJson(*T->TarvoVarList())["variables"]}});
    } else {
      std::cout << "NAD " << NADText(T->NAD()) << " (" << T->IP() << ")\n";
      cli::PrintVarTable(*T->TarvoVarList(), std::cout);
      std::cout << "\n";
    }
  }
  if (chosen.list->Count() == 0 && problems.empty()) {
    problems.push_back({0, "", "no controller answered"});
  }
  if (o.json) {
    Json doc = {{"controllers", list}};
    if (!problems.empty()) doc["errors"] = cli::ProblemsJson(problems);
    cli::AddWarnings(doc, chosen.warnings);
    cli::PrintJson(doc);
  } else {
    cli::PrintWarnings(chosen.warnings);
    cli::PrintProblems(problems);
  }
  return problems.empty() ? cli::kExitOk : cli::kExitFailed;
}

void Setup(CLI::App& root) {
  auto opts = std::make_shared<cli::NetOptions>();
  auto* sub = root.add_subcommand("vars", "List each controller's variables from its ALC file");
  cli::AddNetOptions(sub, *opts, true);
  cli::AddCommand(root, sub, [opts] { return RunVars(*opts); });
}

}  // namespace

VARNEL_CLI_COMMAND(Setup);
