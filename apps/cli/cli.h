// varnel-cli: shared pieces of the command-line tool. Each command lives in its own
// cmd_<name>.cpp and registers itself with VARNEL_CLI_COMMAND.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>

namespace cli {

using Json = nlohmann::ordered_json;

// Exit codes: 0 success, 1 the operation failed, 2 usage error.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// A usage error found after parsing (for example a malformed NAME=VALUE): exit code 2.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Adds a subcommand to the application. The action returns the exit code; an exception
// escaping it is printed as "error: <message>" and ends the program with exit code 1.
using Setup = std::function<void(CLI::App& root)>;
void AddCommand(CLI::App& root, CLI::App* sub, std::function<int()> action);

struct Registrar {
  explicit Registrar(Setup setup);
};

// Prints one JSON document to stdout.
void PrintJson(const Json& doc);

// True when stderr is a terminal (progress is shown only then).
bool StderrIsTerminal();

}  // namespace cli

#define VARNEL_CLI_CONCAT2(a, b) a##b
#define VARNEL_CLI_CONCAT(a, b) VARNEL_CLI_CONCAT2(a, b)
#define VARNEL_CLI_COMMAND(setupFunction) \
  static ::cli::Registrar VARNEL_CLI_CONCAT(varnelCliRegistrar, __LINE__)(setupFunction)
