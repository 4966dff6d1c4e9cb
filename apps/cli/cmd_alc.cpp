// varnel-cli alc FILE: lists the variables of an allocation file, given as the text or as
// a zip archive holding it as a controller keeps it.
#include <iostream>

#include "apps/cli/alc_listing.h"
#include "apps/cli/cli.h"
#include "data/uAlcFile.h"
#include "data/uErrors.h"
#include "data/uFileBytes.h"

namespace {

struct AlcOptions {
  std::string file;
  bool arraysAsSingle = false;
  bool json = false;
};

int Fail(const AlcOptions& o, const std::string& message) {
  if (o.json) {
    cli::PrintJson({{"ok", false}, {"error", message}});
  } else {
    std::cerr << "error: " << message << "\n";
  }
  return cli::kExitFailed;
}

int RunAlc(const AlcOptions& o) {
  TTarvoVarList list;
  TAlcFileInfo info;
  try {
    info = LoadAlcBytes(ReadFileBytes(o.file), list, o.arraysAsSingle);
  } catch (const EVarnelError& e) {
    return Fail(o, e.what());
  }
  if (!info.HasMarker) {
    std::cerr << "note: no line holds \"" << kAlcMarker
              << "\", which starts the variables of an allocation file\n";
  }
  if (o.json) {
    cli::PrintJson(cli::VarListJson(list));
  } else {
    cli::PrintVarTable(list, std::cout);
  }
  return cli::kExitOk;
}

void Setup(CLI::App& root) {
  auto opts = std::make_shared<AlcOptions>();
  auto* sub = root.add_subcommand(
      "alc", "List the variables of an allocation file (the text, or a zip archive holding it)");
  sub->add_option("FILE", opts->file, "The allocation file or zip archive")->required();
  sub->add_flag("--arrays-as-single", opts->arraysAsSingle,
                "List each array once instead of once per element");
  sub->add_flag("--json", opts->json, "Print one JSON document");
  cli::AddCommand(root, sub, [opts] { return RunAlc(*opts); });
}

}  // namespace

VARNEL_CLI_COMMAND(Setup);
