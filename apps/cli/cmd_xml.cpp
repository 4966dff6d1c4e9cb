// varnel-cli export FILE NAME... and import FILE [--write]: the values of named variables
// of the chosen controllers saved as an XML value file, and such a file shown or written
// to the controllers whose NADs it names. With --tab, export saves the tab's names, and
// import takes from the file what the desktop's import puts into that tab, and writes what
// its Write then writes with "Write all" unchecked. Import names every entry of the file it
// leaves out, and why.
#include <algorithm>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "apps/cli/cli_controllers.h"
#include "apps/cli/cli_fleet.h"
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

// The JSON word for why an entry of a value file was not taken.
const char* SkipReason(TImportSkipKind kind) {
  switch (kind) {
    case TImportSkipKind::isNoRow:
      return "no_controller";
    case TImportSkipKind::isNoColumn:
      return "no_column";
    case TImportSkipKind::isEmptyName:
      return "empty_name";
    case TImportSkipKind::isEmptyValue:
      return "empty_value";
    case TImportSkipKind::isNoFullName:
      return "not_a_full_name";
    case TImportSkipKind::isMarkup:
      break;
  }
  return "markup";
}

// The entry's name as the file has it: "c12.temp" (empty when it has none to show).
std::string SkipName(const TImportSkip& skip) {
  const bool known =
      skip.Kind == TImportSkipKind::isNoRow || skip.Kind == TImportSkipKind::isNoColumn;
  return known ? "c" + NADText(skip.NAD) + "." + skip.Name : skip.Name;
}

std::string SkipWhy(const TImportSkip& skip, const std::string& tab) {
  switch (skip.Kind) {
    case TImportSkipKind::isNoRow:
      return "no controller with NAD " + NADText(skip.NAD) + " answered";
    case TImportSkipKind::isNoColumn:
      return "the tab '" + tab + "' has no variable '" + skip.Name + "'";
    case TImportSkipKind::isEmptyName:
      return "the entry has no name";
    case TImportSkipKind::isEmptyValue:
      return "the entry has no value";
    case TImportSkipKind::isNoFullName:
      return "'" + skip.Name + "' is no full name such as c12.temp";
    case TImportSkipKind::isMarkup:
      break;
  }
  return "the name or value holds markup, not plain text";
}

// What an import left out of its file, for Report: with --json a list "skipped"
// ([{"line":4,"name":"c99.temp","reason":"no_controller"}]) when anything was left out, as
// text one warning line each.
struct Skipped {
  const TImportReport* report = nullptr;
  std::string tab;
};

int Report(const cli::NetOptions& o, Json doc, const std::vector<cli::ValueResult>& values,
           const std::vector<cli::Problem>& problems, bool withVerified,
           const std::vector<cli::Problem>& warnings = {}, const Skipped& skipped = {}) {
  const bool anySkipped = skipped.report != nullptr && !skipped.report->Skipped.empty();
  if (o.json) {
    doc["values"] = cli::ValuesJson(values, withVerified);
    doc["errors"] = cli::ProblemsJson(problems);
    cli::AddWarnings(doc, warnings);
    if (anySkipped) {
      Json list = Json::array();
      for (const TImportSkip& k : skipped.report->Skipped) {
        list.push_back({{"line", k.Line}, {"name", SkipName(k)}, {"reason", SkipReason(k.Kind)}});
      }
      doc["skipped"] = std::move(list);
    }
    cli::PrintJson(doc);
  } else {
    if (!values.empty()) cli::PrintValues(values, withVerified);
    std::vector<cli::Problem> lines = warnings;
    if (anySkipped) {
      for (const TImportSkip& k : skipped.report->Skipped) {
        const std::string name = SkipName(k);
        lines.push_back({k.NAD, "",
                         "line " + std::to_string(k.Line) + ": " +
                             (name.empty() ? "" : name + ": ") +
                             "not taken: " + SkipWhy(k, skipped.tab),
                         true});
      }
    }
    cli::PrintWarnings(lines);
    cli::PrintProblems(problems);
  }
  return problems.empty() ? cli::kExitOk : cli::kExitFailed;
}

int RunExport(const ExportOptions& opts) {
  const cli::NetOptions& o = opts.net;
  std::vector<cli::Problem> warnings;
  const std::vector<std::string> names = cli::TabAndNames(opts.tabs, opts.names, warnings);
  cli::Chosen chosen;
  std::vector<cli::Problem> problems;
  using TValues = std::vector<cli::ValueResult>;
  const std::vector<TValues> each = cli::ChooseAndCollect<TValues>(
      o, chosen, "reading NAD",
      [&](TTarvo& T, bool pinned, std::vector<cli::Problem>& own) -> std::optional<TValues> {
        cli::ApplySettings(T, o, pinned);
        try {
          return cli::ReadValues(T, names, false, own);
        } catch (const EVarnelError& e) {
          own.push_back({T.NAD(), "", e.what()});
          return std::nullopt;
        }
      },
      problems);
  warnings.insert(warnings.end(), chosen.warnings.begin(), chosen.warnings.end());
  std::vector<cli::ValueResult> values;
  for (const TValues& v : each) values.insert(values.end(), v.begin(), v.end());
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
  std::vector<TValueFileSkip> fileSkips;
  std::string error;
  if (!LoadValueFile(opts.file, entries, error, &fileSkips)) {
    return Report(o, {{"file", opts.file}}, {}, {{0, "", error, true}}, false, warnings);
  }
  const auto ofTab = [&tab](const TValueFileEntry& e) {
    return FindVarName(tab.VarNames, ValueFileKey(e)) >= 0;
  };
  if (!entries.empty() && std::none_of(entries.begin(), entries.end(), ofTab)) {
    warnings.push_back(
        {0, "", "no value of " + opts.file + " is of a variable of the tab '" + tab.Name + "'",
         true});
  }
  // Only the NADs of values the tab takes are looked for.
  std::vector<uint32_t> fileNads;
  for (const TValueFileEntry& e : entries) {
    if (ofTab(e)) fileNads.push_back(NADValue(e.NAD));
  }
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
  const TImportReport report = ImportEntries(entries, tab.VarNames, table.vstTable(), fileSkips);

  // Each row's cells that await writing, in table order.
  using TCells = std::vector<std::pair<std::string, std::string>>;
  std::vector<TTarvo*> targets;
  std::vector<TCells> cellsOf;
  std::vector<cli::ValueResult> values;
  for (int i = 0; i < table.vstTable().RowCount(); ++i) {
    const TTableRow& row = *table.vstTable().RowByPosition(i);
    TCells cells;
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
    targets.push_back(&T);
    cellsOf.push_back(std::move(cells));
  }
  using TValues = std::vector<cli::ValueResult>;
  const std::vector<TValues> each = cli::CollectFrom<TValues>(
      o, targets, "writing NAD",
      [&](TTarvo& T, size_t i, std::vector<cli::Problem>& own) -> std::optional<TValues> {
        cli::ApplySettings(T, o, chosen.Pinned(T));
        try {
          return cli::WriteValues(T, cellsOf[i], opts.ee, own);
        } catch (const EVarnelError& e) {
          own.push_back({T.NAD(), "", e.what()});
          return std::nullopt;
        }
      },
      problems);
  for (const TValues& v : each) values.insert(values.end(), v.begin(), v.end());
  cli::CollectValueProblems(values, problems);
  return Report(o, {{"file", opts.file}}, values, problems, opts.write, warnings,
                {&report, tab.Name});
}

int RunImport(const ImportOptions& opts) {
  if (!opts.tabs.tab.empty()) return RunTabImport(opts);
  const cli::NetOptions& o = opts.net;
  std::vector<TValueFileEntry> entries;
  std::vector<TValueFileSkip> fileSkips;
  std::string error;
  if (!LoadValueFile(opts.file, entries, error, &fileSkips)) {
    // Nothing of a file that does not read is used: no controller is even looked for.
    return Report(o, {{"file", opts.file}}, {}, {{0, "", error, true}}, false);
  }
  // Without a tab every entry that reads is taken; what did not read is named all the same.
  TVSTTable noTable(0, 0, 0);
  const TImportReport report = ImportEntries({}, {}, noTable, fileSkips);
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
    return Report(o, {{"file", opts.file}}, values, {}, false, {}, {&report, ""});
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
    // Only the first controller of a NAD gets the values, as only the first row would.
    std::set<int32_t> seen;
    std::vector<TTarvo*> targets;
    for (TTarvo* T : chosen.list->List()) {
      if (byNad.count(NADValue(T->NAD())) > 0 && seen.insert(T->NAD()).second) {
        targets.push_back(T);
      }
    }
    using TValues = std::vector<cli::ValueResult>;
    const std::vector<TValues> each = cli::CollectFrom<TValues>(
        o, targets, "writing NAD",
        [&](TTarvo& T, size_t, std::vector<cli::Problem>& own) -> std::optional<TValues> {
          cli::ApplySettings(T, o, chosen.Pinned(T));
          try {
            return cli::WriteValues(T, byNad.at(NADValue(T.NAD())), opts.ee, own);
          } catch (const EVarnelError& e) {
            own.push_back({T.NAD(), "", e.what()});
            return std::nullopt;
          }
        },
        problems);
    for (const TValues& v : each) values.insert(values.end(), v.begin(), v.end());
  }
  cli::CollectValueProblems(values, problems);
  return Report(o, {{"file", opts.file}}, values, problems, true, warnings, {&report, ""});
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
