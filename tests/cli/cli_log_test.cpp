// varnel-cli --log where the log cannot go beside the program: an installed copy, whose
// folder the user may not write, logs to the user's state folder; a log that cannot be
// opened at all is one warning, and the command's result stands. Each run is a copy of
// varnel-cli in a folder of the test's own, against a simulated controller on loopback.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_runner.h"
#include "sim/uSimHost.h"
#include "support/sim_support.h"

namespace {

namespace fs = std::filesystem;
using clitest::ReadWholeFile;
using clitest::ShellQuote;

class CliLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("varnel_cli_log_test_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "bin");
    fs::copy_file(fs::path(VARNEL_BIN_DIR) / "varnel-cli", Program());
    std::string error;
    host_ = testsupport::StartSimulators(1, error);
    ASSERT_NE(host_, nullptr) << error;
  }
  void TearDown() override {
    if (host_) host_->Stop();
    fs::permissions(dir_ / "bin", fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(dir_);
  }

  fs::path Program() const { return dir_ / "bin" / "varnel-cli"; }

  // Reads one variable with the debug log on, the command line starting with prefix.
  clitest::CliResult ReadWithLog(const std::string& prefix) {
    const sim::TSimController& sim = host_->Controller(0);
    const std::string port = std::to_string(host_->Port());
    return clitest::RunCommand(prefix + ShellQuote(Program().string()),
                               {"read", "temp", "--nad", std::to_string(sim.NAD()), "--ip",
                                sim.IP() + ":" + port, "--adapter", "lo", "--port", port, "--log"},
                               dir_);
  }

  fs::path dir_;
  std::unique_ptr<sim::TSimHost> host_;
};

TEST_F(CliLogTest, ALogThatCannotBeOpenedIsOneWarningAndTheReadStillSucceeds) {
  // A folder where the file should be: no one can open it for appending, root included.
  fs::create_directory(dir_ / "bin" / "q-link.log");
  const clitest::CliResult run = ReadWithLog("");
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("temp"), std::string::npos) << run.out;
  EXPECT_EQ(run.err, "warning: cannot write the debug log " +
                         (dir_ / "bin" / "q-link.log").string() + ": Is a directory\n");
}

struct StateFolderCase {
  const char* variable;  // XDG_STATE_HOME or HOME, set to a folder of the test's own
  const char* folder;
  const char* expectedLog;  // in the test's folder
};

class CliStateFolderTest : public CliLogTest,
                           public ::testing::WithParamInterface<StateFolderCase> {};

TEST_P(CliStateFolderTest, AnInstalledCopyLogsToTheUsersStateFolder) {
  const StateFolderCase& c = GetParam();
  const fs::path folder = dir_ / c.folder;
  fs::create_directories(folder);
  fs::permissions(folder, fs::perms::all);
  std::string prefix =
      "env -u XDG_STATE_HOME " + std::string(c.variable) + "=" + ShellQuote(folder.string()) + " ";
  // The program's folder is the system's: root writes anywhere, so root runs the copy as
  // an account of no privilege.
  fs::permissions(dir_ / "bin", fs::perms::owner_read | fs::perms::owner_exec |
                                    fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
  if (::geteuid() == 0) {
    if (::access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "setpriv is missing";
    prefix = "/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups " + prefix;
  }

  const clitest::CliResult run = ReadWithLog(prefix);
  EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
  EXPECT_EQ(run.err, "") << c.variable;
  EXPECT_FALSE(fs::exists(dir_ / "bin" / "q-link.log"));
  const std::string log = ReadWholeFile(dir_ / c.expectedLog);
  EXPECT_NE(log.find(" Tx ("), std::string::npos) << c.variable << ": " << log;
  EXPECT_NE(log.find(" Rx ("), std::string::npos) << c.variable << ": " << log;
}

INSTANTIATE_TEST_SUITE_P(
    Environments, CliStateFolderTest,
    ::testing::Values(StateFolderCase{"XDG_STATE_HOME", "state", "state/varnel/q-link.log"},
                      StateFolderCase{"HOME", "home", "home/.local/state/varnel/q-link.log"}));

}  // namespace
