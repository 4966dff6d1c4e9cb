#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <optional>
#include <vector>

#include "apps/cli/cli.h"
#include "comm/uLogFile.h"
#include "data/uText.h"

namespace cli {
namespace {

std::vector<Setup>& Setups() {
  static std::vector<Setup> setups;
  return setups;
}

int gExitCode = kExitOk;

bool AllUtf8(const Json& value) {
  if (value.is_string()) return IsValidUtf8(value.get_ref<const std::string&>());
  if (value.is_array()) {
    for (const Json& item : value)
      if (!AllUtf8(item)) return false;
  }
  if (value.is_object()) {
    for (const auto& [key, item] : value.items())
      if (!IsValidUtf8(key) || !AllUtf8(item)) return false;
  }
  return true;
}

// Names, values and file names may hold 8-bit text that is no UTF-8 (a Latin-1 file name,
// an allocation file's descriptions), which JSON cannot carry: such bytes are taken as
// the Latin-1 characters they most likely are.
Json AsUtf8(const Json& value) {
  if (value.is_string()) return TextAsUtf8(value.get_ref<const std::string&>());
  if (value.is_array()) {
    Json out = Json::array();
    for (const Json& item : value) out.push_back(AsUtf8(item));
    return out;
  }
  if (value.is_object()) {
    Json out = Json::object();
    for (const auto& [key, item] : value.items()) out[TextAsUtf8(key)] = AsUtf8(item);
    return out;
  }
  return value;
}

void ReportLogFileFailure() {
  // Once, however many frames were lost with it; the command's own result stands.
  if (const std::optional<TLogFileFailure> failure = TakeLogFileFailure()) {
    std::cerr << "warning: cannot write the debug log " << failure->Path << ": "
              << std::strerror(failure->Error) << "\n";
  }
}

}  // namespace

Registrar::Registrar(Setup setup) {
  Setups().push_back(std::move(setup));
}

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

void PrintJson(const Json& doc) {
  // Converted first, so that dumping never meets a byte it cannot write; any that were
  // left would be replaced rather than end the program.
  // A document that is all UTF-8 already, as nearly every one is, is not copied.
  const auto dump = [](const Json& d) {
    return d.dump(-1, ' ', false, Json::error_handler_t::replace);
  };
  std::cout << (AllUtf8(doc) ? dump(doc) : dump(AsUtf8(doc))) << std::endl;
}

bool StderrIsTerminal() {
  return isatty(fileno(stderr)) != 0;
}

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
  cli::ReportLogFileFailure();
  return cli::gExitCode;
}
