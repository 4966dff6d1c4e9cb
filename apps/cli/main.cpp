#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <vector>

#include "apps/cli/cli.h"

namespace cli {
namespace {

std::vector<Setup>& Setups() {
  static std::vector<Setup> setups;
  return setups;
}

int gExitCode = kExitOk;

}  // namespace

Registrar::Registrar(Setup setup) { Setups().push_back(std::move(setup)); }

void AddCommand(CLI::App& root, CLI::App* sub, std::function<int()> action) {
  sub->callback([action = std::move(action)] {
    try {
      gExitCode = action();
    } catch (const UsageError& e) {
      std::cerr << "error: " << e.what() << "\n";
      gExitCode = kExitUsage;
    } catch (const std::exception& e) {
      std::cerr << "error: " << e.what() << "\n";
      gExitCode = kExitFailed;
    }
  });
}

void PrintJson(const Json& doc) { std::cout << doc.dump() << std::endl; }

bool StderrIsTerminal() { return isatty(fileno(stderr)) != 0; }

}  // namespace cli

int main(int argc, char** argv) {
  CLI::App app{"varnel-cli: QLink controllers from the command line", "varnel-cli"};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("varnel-cli ") + VARNEL_VERSION);
  for (auto& setup : cli::Setups()) setup(app);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return cli::kExitUsage;
  }
  return cli::gExitCode;
}
