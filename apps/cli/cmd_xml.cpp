// varnel-cli export FILE NAME... and import FILE [--write]: the values of named variables
// of the chosen controllers saved as an XML value file, and such a file shown or written
// to the controllers whose NADs it names.
#include <algorithm>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "apps/cli/workflow.h"
#include "data/uErrors.h"
#include "data/uNumText.h"
#include "data/uValueFile.h"

namespace {

using cli::Json;

struct ExportOptions {
  cli::NetOptions net;
  std::string file;
  std::vector<std::string> names;
};

struct ImportOptions {
  cli::NetOptions net;
  std::string file;
  bool write = false;
  bool ee = false;
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
  cli::Chosen chosen = cli::ChooseControllers(o);
  std::vector<cli::Problem> problems = chosen.problems;
  std::vector<cli::ValueResult> values;
  {
    cli::Progress progress(chosen.list->Count());
    for (int i = 0; i < chosen.list->Count(); ++i) {
      TTarvo& T = *chosen.list->Items(i);
      progress.Step(i, "reading NAD " + NADText(T.NAD()));
      cli::ApplySettings(T, o, chosen.Pinned(T));
      try {
        auto results = cli::ReadValues(T, opts.names, false, problems);
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
  return Report(o, {{"file", opts.file}, {"saved", saved}}, values, problems, false,
                chosen.warnings);
}

int RunImport(const ImportOptions& opts) {
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
  exp->add_option("NAME", exportOpts->names, "Variable name, with an element index: levels[3]")
      ->required();
  cli::AddNetOptions(exp, exportOpts->net, true);
  cli::AddCommand(root, exp, [exportOpts] { return RunExport(*exportOpts); });

  auto importOpts = std::make_shared<ImportOptions>();
  auto* imp = root.add_subcommand(
      "import", "Show the values of an XML file, or write them to the controllers (--write)");
  imp->add_option("FILE", importOpts->file, "The XML file to read")->required();
  imp->add_flag("--write", importOpts->write,
                "Write the values to the controllers whose NADs the file names");
  imp->add_flag("--ee", importOpts->ee, "With --write: store the values in EEPROM afterwards");
  cli::AddNetOptions(imp, importOpts->net, true);
  cli::AddCommand(root, imp, [importOpts] { return RunImport(*importOpts); });
}

}  // namespace

VARNEL_CLI_COMMAND(Setup);
