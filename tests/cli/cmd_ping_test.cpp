// varnel-cli ping run as a program against simulated controllers hosted in this process
// on loopback: who answers, the JSON document, and the exit codes. Every run selects the
// loopback adapter, so its broadcasts stay on 127.255.255.255.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <string>
#include <vector>

#include "cli/cli_runner.h"
#include "sim/uSimHost.h"
#include "support/sim_support.h"

namespace {

using nlohmann::json;

using PingRun = clitest::CliResult;

class PingCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ =
        std::filesystem::temp_directory_path() / ("varnel_ping_test_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    if (host_) host_->Stop();
    std::filesystem::remove_all(dir_);
  }

  void StartHost(int controllers, const std::string& password = "") {
    std::string error;
    host_ = testsupport::StartSimulators(controllers, error,
                                         [&](sim::TSimHostOptions& o) { o.Password = password; });
    ASSERT_NE(host_, nullptr) << error;
  }

  // varnel-cli ping at the simulator's port, on the loopback adapter unless the test
  // names another.
  PingRun Ping(const std::vector<std::string>& args) {
    std::vector<std::string> all = {"ping"};
    if (std::find(args.begin(), args.end(), "--adapter") == args.end()) {
      all.insert(all.end(), {"--adapter", "lo"});
    }
    all.insert(all.end(), {"--port", std::to_string(host_->Port())});
    all.insert(all.end(), args.begin(), args.end());
    return clitest::RunVarnelCli(all, dir_);
  }

  std::unique_ptr<sim::TSimHost> host_;
  std::filesystem::path dir_;
};

TEST_F(PingCommandTest, ByBroadcastTheAddressedControllerAnswersAndIsTimed) {
  StartHost(3);
  const PingRun run = Ping({"--nad", "11", "--count", "5", "--json"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  // Keys in this order, numbers as numbers.
  EXPECT_TRUE(
      std::regex_match(run.out, std::regex(R"(\{"ok":true,"nad":11,"ip":"127\.0\.0\.11","count":5,)"
                                           R"("rtt_us":\{"min":\d+,"median":\d+,"p99":\d+\}\}\n)")))
      << run.out;
  const json doc = json::parse(run.out);
  EXPECT_LE(doc["rtt_us"]["min"].get<int64_t>(), doc["rtt_us"]["median"].get<int64_t>());
  EXPECT_LE(doc["rtt_us"]["median"].get<int64_t>(), doc["rtt_us"]["p99"].get<int64_t>());
  // One broadcast found it, then the timed pings went to its own address.
  const auto requests = host_->Controller(1).Requests();
  ASSERT_EQ(requests.size(), 6u);
  EXPECT_TRUE(requests[0].Broadcast);
  for (size_t i = 1; i < requests.size(); ++i) EXPECT_FALSE(requests[i].Broadcast);
  EXPECT_TRUE(host_->Controller(0).Requests().empty());
}

TEST_F(PingCommandTest, AnAddressAloneReachesWhicheverControllerIsThere) {
  StartHost(3);
  const PingRun run = Ping({"--ip", "127.0.0.12:" + std::to_string(host_->Port()), "--json"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const json doc = json::parse(run.out);
  EXPECT_EQ(doc["nad"], 12);  // the NAD of the answering frame, not the 0 asked for
  EXPECT_EQ(doc["ip"], "127.0.0.12");
  EXPECT_EQ(doc["count"], 1);
  for (const auto& r : host_->Controller(2).Requests()) EXPECT_FALSE(r.Broadcast);
}

TEST_F(PingCommandTest, TextOutputNamesTheAnsweringController) {
  StartHost(1);
  const PingRun run = Ping({"--nad", "10", "--count", "2"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out.rfind("answer from 127.0.0.10 NAD 10\n2 pings, round trip min ", 0), 0u)
      << run.out;
}

struct FailureCase {
  const char* name;
  std::vector<std::string> args;
  std::string output;
};

class PingFailures : public PingCommandTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(PingFailures, ReportWhatEndedTheLastAttempt) {
  StartHost(1, "secret");
  auto args = GetParam().args;
  args.push_back("--json");
  const PingRun run = Ping(args);
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_EQ(run.out, GetParam().output + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PingFailures,
    ::testing::Values(FailureCase{"WrongPassword",
                                  {"--nad", "10", "--password", "wrong", "--retries", "1"},
                                  R"({"ok":false,"response":"md_BADPASS"})"},
                      FailureCase{
                          "NobodyAnswers",
                          {"--nad", "99", "--password", "secret", "--retries", "1", "--wait", "20"},
                          R"({"ok":false,"response":"timeout"})"},
                      FailureCase{"UnknownAdapter",
                                  {"--nad", "10", "--adapter", "no-such-adapter"},
                                  R"({"ok":false,"response":"adapter"})"}),
    [](const auto& info) { return std::string(info.param.name); });

struct UsageCase {
  const char* name;
  std::vector<std::string> args;
};

class PingUsage : public PingCommandTest, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(PingUsage, EndsWithExitCodeTwoAndSendsNothing) {
  StartHost(1);
  const PingRun run = Ping(GetParam().args);
  EXPECT_EQ(run.exitCode, 2) << run.out << run.err;
  EXPECT_TRUE(host_->Controller(0).Requests().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PingUsage,
    ::testing::Values(UsageCase{"NeitherNadNorAddress", {}},
                      UsageCase{"UnreadablePortInAddress", {"--ip", "127.0.0.10:abc"}},
                      UsageCase{"PortOutOfRangeInAddress", {"--ip", "127.0.0.10:70000"}},
                      UsageCase{"NoPings", {"--nad", "10", "--count", "0"}},
                      UsageCase{"NegativeNad", {"--nad", "-1"}},
                      UsageCase{"NadPast32Bits", {"--nad", "4294967296"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
