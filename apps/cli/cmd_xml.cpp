// varnel-cli export FILE NAME... and import FILE [--write]: the values of named variables
// of the chosen controllers saved as an XML value file, and such a file shown or written
// to the controllers whose NADs it names. With --tab, export saves the tab's names, and
// import takes from the file what the desktop's import puts into that tab, and writes what
// its Write then writes with "Write all" unchecked.
#include <algorithm>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "apps/cli/cli_controllers.h"
#include "apps/cli/cli_tabs.h"
#include "data/uErrors.h"
#include "data/uNumText.h"
#include "data/uValueFile.h"

namespace {

using cli::Json;

struct ExportOptions {
  cli::NetOptions net;
  std::string file;
  std::vector<std::string> names;
  cli::TabOptions tabs;
};

struct ImportOptions {
  cli::NetOptions net;
  std::string file;
  bool write = false;
  bool ee = false;
  cli::TabOptions tabs;
};

int Report(const cli::NetOptions& o, Json doc, const std::vector<cli::ValueResult>& values,
           const std::vector<cli::Problem>& problems, bool withVerified,
           const std::vector<cli::Problem>& warnings = {}) {
  if (o.json) {
    doc["values"] = cli::ValuesJson(values, withVerified);
    doc["errors"] = cli::ProblemsJson(problems);
    cli::AddWarnings(doc, warnings);
    cli::PrintJson(doc);
  } else {
    if (!values.empty()) cli::PrintValues(values, withVerified);
    cli::PrintWarnings(warnings);
    cli::PrintProblems(problems);
  }
  return problems.empty() ? cli::kExitOk : cli::kExitFailed;
}

int RunExport(const ExportOptions& opts) {
  const cli::NetOptions& o = opts.net;
  std::vector<cli::Problem> warnings;
  const std::vector<std::string> names = cli::TabAndNames(opts.tabs, opts.names, warnings);
  cli::Chosen chosen = cli::ChooseControllers(o);
  warnings.insert(warnings.end(), chosen.warnings.begin(), chosen.warnings.end());
  std::vector<cli::Problem> problems = chosen.problems;
  std::vector<cli::ValueResult> values;
  {
    cli::Progress progress(chosen.list->Count());
    for (int i = 0; i < chosen.list->Count(); ++i) {
      TTarvo& T = *chosen.list->Items(i);
      progress.Step(i, "reading NAD " + NADText(T.NAD()));
      cli::ApplySettings(T, o, chosen.Pinned(T));
      try {
        auto results = cli::ReadValues(T, names, false, problems);
        values.insert(values.end(), results.begin(), results.end());
      } catch (const EVarnelError& e) {
        problems.push_back({T.NAD(), "", e.what()});
      }
      T.Disconnect();
    }
  }
  cli::CollectValueProblems(values, problems);
  if (chosen.list->Count() == 0 && problems.empty()) {
    problems.push_back({0, "", "no controller answered"});
  }
  // Unknown values ("?") are left out of the file, as the desktop's export leaves them.
  std::vector<TValueFileVar> vars;
  for (const cli::ValueResult& v : values) {
    if (v.known) vars.push_back({v.nad, v.name, v.value});
  }
  std::string error;
  const bool saved = SaveValueFile(opts.file, vars, error);
  if (!saved) problems.push_back({0, "", error, true});
  return Report(o, {{"file", opts.file}, {"saved", saved}}, values, problems, false, warnings);
}

// The file's values that the tab takes, put into a table with one row per controller as
// the desktop's import puts them; then, with --write, the cells awaiting writing are
// written, each controller's in one exchange.
int RunTabImport(const ImportOptions& opts) {
  const cli::NetOptions& o = opts.net;
  std::vector<cli::Problem> warnings;
  const TTemplateTab tab = cli::ChosenTab(opts.tabs, warnings);
  std::vector<TValueFileEntry> entries;
  std::string error;
  if (!LoadValueFile(opts.file, entries, error)) {
    return Report(o, {{"file", opts.file}}, {}, {{0, "", error, true}}, false, warnings);
  }
  const bool any = !entries.empty();
  std::erase_if(entries, [&tab](const TValueFileEntry& e) {
    return FindVarName(tab.VarNames, ValueFileKey(e)) < 0;
  });
  if (any && entries.empty()) {
    warnings.push_back(
        {0, "", "no value of " + opts.file + " is of a variable of the tab '" + tab.Name + "'",
         true});
  }
  std::vector<uint32_t> fileNads;
  for (const TValueFileEntry& e : entries) fileNads.push_back(NADValue(e.NAD));
  std::sort(fileNads.begin(), fileNads.end());
  fileNads.erase(std::unique(fileNads.begin(), fileNads.end()), fileNads.end());
  std::vector<int32_t> nads(fileNads.begin(), fileNads.end());

  cli::Chosen chosen;
  chosen.list = std::make_unique<TTarvoList>();
  std::vector<cli::Problem> problems;
  if (!opts.write) {
    // Shown, not written: a row for each NAD of the file, no controller asked.
    for (int32_t nad : nads) chosen.list->Add(std::make_unique<TTarvo>(nad));
  } else if (!nads.empty()) {
    chosen = cli::ChooseControllers(o, nads);
    problems = chosen.problems;
    warnings.insert(warnings.end(), chosen.warnings.begin(), chosen.warnings.end());
  }
  TVSTTab table(tab.Name, tab.Description, tab.VarNames);
  for (TTarvo* T : chosen.list->List()) table.vstTable().AddRow(T).Checked = true;
  ImportEntries(entries, tab.VarNames, table.vstTable());

  std::vector<cli::ValueResult> values;
  {
    // The progress line is taken away before the report is printed.
    cli::Progress progress(opts.write ? chosen.list->Count() : 0);
    for (int i = 0; i < table.vstTable().RowCount(); ++i) {
      const TTableRow& row = *table.vstTable().RowByPosition(i);
      std::vector<std::pair<std::string, std::string>> cells;
      for (int k = 0; k < row.CellCount(); ++k) {
        if (CellToWrite(*row.Cell(k), false)) {
          cells.emplace_back(tab.VarNames[static_cast<size_t>(k)], row.Cell(k)->Caption());
        }
      }
      if (cells.empty()) continue;
      TTarvo& T = *row.Tarvo;
      if (!opts.write) {
        for (auto& [name, value] : cells) {
          cli::ValueResult v;
          v.nad = T.NAD();
          v.name = name;
          v.value = value;
          v.known = true;
          values.push_back(std::move(v));
        }
        continue;
      }
      progress.Step(i, "writing NAD " + NADText(T.NAD()));
      cli::ApplySettings(T, o, chosen.Pinned(T));
      try {
        auto results = cli::WriteValues(T, cells, opts.ee, problems);
        values.insert(values.end(), results.begin(), results.end());
      } catch (const EVarnelError& e) {
        problems.push_back({T.NAD(), "", e.what()});
      }
    }
  }
  cli::CollectValueProblems(values, problems);
  return Report(o, {{"file", opts.file}}, values, problems, opts.write, warnings);
}

int RunImport(const ImportOptions& opts) {
  if (!opts.tabs.tab.empty()) return RunTabImport(opts);
  const cli::NetOptions& o = opts.net;
  std::vector<TValueFileEntry> entries;
  std::string error;
  if (!LoadValueFile(opts.file, entries, error)) {
    // Nothing of a file that does not read is used: no controller is even looked for.
    return Report(o, {{"file", opts.file}}, {}, {{0, "", error, true}}, false);
  }
  if (!opts.write) {
    std::vector<cli::ValueResult> values;
    values.reserve(entries.size());
    for (TValueFileEntry& e : entries) {
      cli::ValueResult v;
      v.nad = e.NAD;
      v.name = ValueFileKey(e);
      v.value = std::move(e.Value);
      v.known = true;
      values.push_back(std::move(v));
    }
    std::vector<TValueFileEntry>().swap(entries);
    return Report(o, {{"file", opts.file}}, values, {}, false);
  }

  // The file's values grouped by NAD, each group in file order.
  std::map<uint32_t, std::vector<std::pair<std::string, std::string>>> byNad;
  for (const TValueFileEntry& e : entries) {
    byNad[NADValue(e.NAD)].emplace_back(ValueFileKey(e), e.Value);
  }
  std::vector<int32_t> nads;
  for (const auto& group : byNad) nads.push_back(static_cast<int32_t>(group.first));

  std::vector<cli::Problem> problems, warnings;
  std::vector<cli::ValueResult> values;
  if (!nads.empty()) {
    cli::Chosen chosen = cli::ChooseControllers(o, nads);
    problems = chosen.problems;
    warnings = chosen.warnings;
    std::set<int32_t> written;
    cli::Progress progress(chosen.list->Count());
    for (int i = 0; i < chosen.list->Count(); ++i) {
      TTarvo& T = *chosen.list->Items(i);
      const auto group = byNad.find(NADValue(T.NAD()));
      // Only the first controller of a NAD gets the values, as only the first row would.
      if (group == byNad.end() || !written.insert(T.NAD()).second) continue;
      progress.Step(i, "writing NAD " + NADText(T.NAD()));
      cli::ApplySettings(T, o, chosen.Pinned(T));
      try {
        auto results = cli::WriteValues(T, group->second, opts.ee, problems);
        values.insert(values.end(), results.begin(), results.end());
      } catch (const EVarnelError& e) {
        problems.push_back({T.NAD(), "", e.what()});
      }
    }
  }
  cli::CollectValueProblems(values, problems);
  return Report(o, {{"file", opts.file}}, values, problems, true, warnings);
}

void Setup(CLI::App& root) {
  auto exportOpts = std::make_shared<ExportOptions>();
  auto* exp = root.add_subcommand("export", "Save values of named variables as an XML file");
  exp->add_option("FILE", exportOpts->file, "The XML file to write (replaced)")->required();
  exp->add_option("NAME", exportOpts->names, "Variable name, with an element index: levels[3]");
  cli::AddTabOptions(exp, exportOpts->tabs,
                     "The variables of this tab in column order, then the names given");
  cli::RequireNamesOrTab(exp, exportOpts->names, exportOpts->tabs);
  cli::AddNetOptions(exp, exportOpts->net, true);
  cli::AddCommand(root, exp, [exportOpts] { return RunExport(*exportOpts); });

  auto importOpts = std::make_shared<ImportOptions>();
  auto* imp = root.add_subcommand(
      "import", "Show the values of an XML file, or write them to the controllers (--write)");
  imp->add_option("FILE", importOpts->file, "The XML file to read")->required();
  imp->add_flag("--write", importOpts->write,
                "Write the values to the controllers whose NADs the file names");
  imp->add_flag("--ee", importOpts->ee, "With --write: store the values in EEPROM afterwards");
  cli::AddTabOptions(imp, importOpts->tabs,
                     "Only what the desktop's import puts into this tab; --write writes just that");
  cli::AddNetOptions(imp, importOpts->net, true);
  cli::AddCommand(root, imp, [importOpts] { return RunImport(*importOpts); });
}

}  // namespace

VARNEL_CLI_COMMAND(Setup);
