// varnel-cli tabs: the variables tabs of the template, each with its description and its
// variable names in column order, as the desktop shows them.
#include <algorithm>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "apps/cli/cli_tabs.h"

namespace {

using cli::Json;
using cli::Pad;

struct TabsOptions {
  cli::TabOptions tabs;
  bool json = false;
};

void PrintTable(const std::vector<TTemplateTab>& tabs) {
  size_t nameWidth = 3, descriptionWidth = 11;
  for (const TTemplateTab& tab : tabs) {
    nameWidth = std::max(nameWidth, tab.Name.size());
    descriptionWidth = std::max(descriptionWidth, tab.Description.size());
  }
  std::cout << Pad("TAB", nameWidth + 2) << Pad("DESCRIPTION", descriptionWidth + 2)
            << "VARIABLES\n";
  for (const TTemplateTab& tab : tabs) {
    std::string vars;
    for (const std::string& name : tab.VarNames) vars += (vars.empty() ? "" : " ") + name;
    std::string line = Pad(tab.Name, nameWidth + 2) + Pad(tab.Description, descriptionWidth + 2);
    line += vars;
    line.erase(line.find_last_not_of(' ') + 1);
    std::cout << line << "\n";
  }
}

int RunTabs(const TabsOptions& opts) {
  std::vector<cli::Problem> warnings;
  const std::vector<TTemplateTab> tabs = cli::LoadTabs(opts.tabs, warnings);
  if (opts.json) {
    Json list = Json::array();
    for (const TTemplateTab& tab : tabs) {
      list.push_back(
          {{"name", tab.Name}, {"description", tab.Description}, {"vars", tab.VarNames}});
    }
    Json doc = {{"tabs", list}};
    cli::AddWarnings(doc, warnings);
    cli::PrintJson(doc);
  } else {
    if (tabs.empty()) {
      std::cout << "no tabs\n";
    } else {
      PrintTable(tabs);
    }
    cli::PrintWarnings(warnings);
  }
  return cli::kExitOk;
}

void Setup(CLI::App& root) {
  auto opts = std::make_shared<TabsOptions>();
  auto* sub = root.add_subcommand("tabs", "List the variables tabs of the template");
  cli::AddTabOptions(sub, opts->tabs, "");
  sub->add_flag("--json", opts->json, "Print one JSON document");
  cli::AddCommand(root, sub, [opts] { return RunTabs(*opts); });
}

}  // namespace

VARNEL_CLI_COMMAND(Setup);
