// The desktop's variables tabs on the command line: --template names the template file
// (by default the desktop's own, varnel.ini beside the executables), and --tab stands for
// one tab's variable names in column order.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "apps/cli/cli_output.h"
#include "workflows/uTemplateFile.h"

namespace cli {

struct TabOptions {
  std::string templateFile;  // empty: the desktop's template
  std::string tab;           // empty: no tab
};

// Adds --template, and with a help text also --tab.
void AddTabOptions(CLI::App* sub, TabOptions& t, const std::string& tabHelp);

// The template file the options name.
std::string TemplatePath(const TabOptions& t);

// The template's tabs; a file that does not exist gives none. Lines the reader skipped,
// and a file that does not exist, are warnings.
std::vector<TTemplateTab> LoadTabs(const TabOptions& t, std::vector<Problem>& warnings);

// The tab --tab names, matched without regard to case. Raises UsageError naming the tab
// and the template when there is none of that name.
TTemplateTab ChosenTab(const TabOptions& t, std::vector<Problem>& warnings);

// The names a command works on: with --tab the tab's names in column order, then those
// given that the tab does not already have; without, the names given.
std::vector<std::string> TabAndNames(const TabOptions& t, const std::vector<std::string>& names,
                                     std::vector<Problem>& warnings);

// A command that takes names or --tab needs at least one of them: CLI11's own refusal,
// "NAME is required", when neither came.
void RequireNamesOrTab(CLI::App* sub, const std::vector<std::string>& names, const TabOptions& t);

}  // namespace cli
