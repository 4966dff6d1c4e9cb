// Runs varnel-cli as a program from a test and collects what it printed.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace clitest {

struct CliResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

inline std::string ShellQuote(const std::string& arg) {
  std::string q = "'";
  for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

inline std::string ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Runs a command line (a program, and what goes before it: env, setpriv) with the
// arguments; stderr goes through a file in scratchDir.
inline CliResult RunCommand(const std::string& commandLine, const std::vector<std::string>& args,
                            const std::filesystem::path& scratchDir) {
  std::string command = commandLine;
  for (const std::string& a : args) command += " " + ShellQuote(a);
  const auto errPath = scratchDir / "stderr.txt";
  command += " 2>" + ShellQuote(errPath.string());
  CliResult run;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
  const int status = ::pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.err = ReadWholeFile(errPath);
  return run;
}

// Runs varnel-cli of the build with the arguments.
inline CliResult RunVarnelCli(const std::vector<std::string>& args,
                              const std::filesystem::path& scratchDir) {
  return RunCommand(ShellQuote(std::string(VARNEL_BIN_DIR) + "/varnel-cli"), args, scratchDir);
}

}  // namespace clitest
