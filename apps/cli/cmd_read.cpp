// varnel-cli read NAME... and write NAME=VALUE...: values of named variables of the chosen
// controllers, in RAM or through the controllers' EEPROM requests (--ee). Each controller
// gets all its names in one exchange; a write is read back in the same exchange and
// checked against what was written. read --tab TAB reads the tab's names in column order,
// then any names given that the tab lacks.
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "apps/cli/cli_controllers.h"
#include "apps/cli/cli_fleet.h"
#include "apps/cli/cli_tabs.h"
#include "data/uErrors.h"
#include "data/uNumText.h"

namespace {

using cli::Json;

struct ValueOptions {
  cli::NetOptions net;
  std::vector<std::string> items;  // NAME or NAME=VALUE
  bool ee = false;
  cli::TabOptions tabs;  // read only
};

int Finish(const cli::NetOptions& o, const std::vector<cli::ValueResult>& values,
           std::vector<cli::Problem> problems, const std::vector<cli::Problem>& warnings,
           bool write, int controllers) {
  cli::CollectValueProblems(values, problems);
  if (controllers == 0 && problems.empty()) problems.push_back({0, "", "no controller answered"});
  if (o.json) {
    Json doc = {{"values", cli::ValuesJson(values, write)},
                {"errors", cli::ProblemsJson(problems)}};
    cli::AddWarnings(doc, warnings);
    cli::PrintJson(doc);
  } else {
    if (!values.empty()) cli::PrintValues(values, write);
    cli::PrintWarnings(warnings);
    cli::PrintProblems(problems);
  }
  return problems.empty() ? cli::kExitOk : cli::kExitFailed;
}

int Run(const ValueOptions& opts, bool write) {
  std::vector<std::pair<std::string, std::string>> assignments;
  std::vector<cli::Problem> tabWarnings;
  const std::vector<std::string> names =
      write ? opts.items : cli::TabAndNames(opts.tabs, opts.items, tabWarnings);
  if (write) {
    for (const std::string& item : opts.items) assignments.push_back(cli::SplitAssignment(item));
  }
  const cli::NetOptions& o = opts.net;
  cli::Chosen chosen;
  std::vector<cli::Problem> problems;
  using TValues = std::vector<cli::ValueResult>;
  const std::vector<TValues> each = cli::ChooseAndCollect<TValues>(
      o, chosen, write ? "writing NAD" : "reading NAD",
      [&](TTarvo& T, bool pinned, std::vector<cli::Problem>& own) -> std::optional<TValues> {
        cli::ApplySettings(T, o, pinned);
        try {
          return write ? cli::WriteValues(T, assignments, opts.ee, own)
                       : cli::ReadValues(T, names, opts.ee, own);
        } catch (const EVarnelError& e) {
          own.push_back({T.NAD(), "", e.what()});
          return std::nullopt;
        }
      },
      problems);
  std::vector<cli::ValueResult> values;
  for (const TValues& v : each) values.insert(values.end(), v.begin(), v.end());
  tabWarnings.insert(tabWarnings.end(), chosen.warnings.begin(), chosen.warnings.end());
  return Finish(o, values, std::move(problems), tabWarnings, write, chosen.list->Count());
}

void Setup(CLI::App& root) {
  auto readOpts = std::make_shared<ValueOptions>();
  auto* read = root.add_subcommand("read", "Read named variables of the controllers");
  read->add_option("NAME", readOpts->items, "Variable name, with an element index: levels[3]");
  read->add_flag("--ee", readOpts->ee, "Load the values from EEPROM first");
  cli::AddTabOptions(read, readOpts->tabs,
                     "The variables of this tab in column order, then the names given");
  cli::RequireNamesOrTab(read, readOpts->items, readOpts->tabs);
  cli::AddNetOptions(read, readOpts->net, true);
  cli::AddCommand(root, read, [readOpts] { return Run(*readOpts, false); });

  auto writeOpts = std::make_shared<ValueOptions>();
  auto* write = root.add_subcommand("write", "Write named variables and read them back");
  write->add_option("NAME=VALUE", writeOpts->items, "Variable and the value to write")->required();
  write->add_flag("--ee", writeOpts->ee, "Store the values in EEPROM afterwards");
  cli::AddNetOptions(write, writeOpts->net, true);
  cli::AddCommand(root, write, [writeOpts] { return Run(*writeOpts, true); });
}

}  // namespace

VARNEL_CLI_COMMAND(Setup);
