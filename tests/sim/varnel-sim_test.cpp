// The varnel-sim program: what it prints, that its controllers answer, and that it ends
// cleanly on SIGTERM and SIGINT. Skipped when the program has not been built.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "uSimClient.h"

using namespace simtest;

namespace {

const std::string kProgram = std::string(VARNEL_BIN_DIR) + "/varnel-sim";

class TSimProcess {
 public:
  explicit TSimProcess(std::vector<std::string> args) {
    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0) return;
    fPid = fork();
    if (fPid == 0) {
      dup2(out[1], 1);
      dup2(err[1], 2);
      close(out[0]);
      close(err[0]);
      std::vector<char*> argv{const_cast<char*>(kProgram.c_str())};
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(kProgram.c_str(), argv.data());
      _exit(127);
    }
    close(out[1]);
    close(err[1]);
    fOut = fdopen(out[0], "r");
    fErr = err[0];
  }
  ~TSimProcess() {
    if (fPid > 0 && !fReaped) {
      kill(fPid, SIGKILL);
      waitpid(fPid, nullptr, 0);
    }
    if (fOut) fclose(fOut);
    if (fErr >= 0) close(fErr);
  }
  // One line of standard output; empty at its end.
  std::string Line() {
    char buffer[256];
    return fOut && std::fgets(buffer, sizeof buffer, fOut) ? buffer : "";
  }
  std::string Errors() {
    std::string text;
    char buffer[256];
    ssize_t n;
    while ((n = read(fErr, buffer, sizeof buffer)) > 0) text.append(buffer, n);
    return text;
  }
  void Signal(int s) { kill(fPid, s); }
  // The exit code, or -1 when the program did not exit by itself.
  int Wait() {
    int status = 0;
    waitpid(fPid, &status, 0);
    fReaped = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t fPid = -1;
  bool fReaped = false;
  FILE* fOut = nullptr;
  int fErr = -1;
};

// "NAD 10 at 127.0.0.10:8442" as NAD, address and port.
struct TLine {
  unsigned NAD = 0;
  std::string IP;
  int Port = 0;
};
std::optional<TLine> ParseLine(const std::string& text) {
  TLine l;
  char ip[16] = {};
  int used = 0;
  if (std::sscanf(text.c_str(), "NAD %u at %15[0-9.]:%d\n%n", &l.NAD, ip, &l.Port, &used) != 3 ||
      used != static_cast<int>(text.size()))
    return std::nullopt;
  l.IP = ip;
  return l;
}

class VarnelSimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(kProgram)) GTEST_SKIP() << kProgram << " is not built";
  }
};

TEST_F(VarnelSimTest, PrintsEveryControllerAnswersAndStopsOnSignals) {
  for (int signal : {SIGTERM, SIGINT}) {
    TSimProcess sim({"--controllers", "2", "--base-nad", "40", "--port", "0", "--first-ip",
                     "127.0.0.60", "--password", "pw", "--stopped"});
    const std::string t0 = sim.Line(), t1 = sim.Line();
    const auto l0 = ParseLine(t0), l1 = ParseLine(t1);
    ASSERT_TRUE(l0) << t0;
    ASSERT_TRUE(l1) << t1;
    EXPECT_EQ(l0->NAD, 40u);
    EXPECT_EQ(l0->IP, "127.0.0.60");
    EXPECT_EQ(l1->NAD, 41u);
    EXPECT_EQ(l1->IP, "127.0.0.61");
    const int port = l0->Port;
    EXPECT_GT(port, 0);
    EXPECT_EQ(l1->Port, port);

    TClient client;
    auto a = client.Call("127.0.0.61", port, 41, 0x11, {}, PasswordHashUtf8("pw"));
    ASSERT_TRUE(a);
    EXPECT_EQ(a->Body, (std::vector<uint8_t>{1, 0})) << "kernel, PLC stopped";

    sim.Signal(signal);
    EXPECT_EQ(sim.Wait(), 0) << "signal " << signal;
  }
}

TEST_F(VarnelSimTest, ServesAnAllocationFileAndFaults) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("varnel-sim-test-" + std::to_string(getpid()) + ".alc");
  std::ofstream(path) << ";CPU Tarvo-2 X\n0080 2 1 0 2 global word speed Motor speed\n";
  TSimProcess sim({"--port", "0", "--alc", path.string(), "--negative", "5"});
  const std::string text = sim.Line();
  const auto l = ParseLine(text);
  ASSERT_TRUE(l) << text;
  EXPECT_EQ(l->IP, "127.0.0.10");
  TClient client;
  auto a = client.Call("127.0.0.10", l->Port, 10, 0x10);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->Direction, md_NOTREADY);
  sim.Signal(SIGTERM);
  EXPECT_EQ(sim.Wait(), 0);
  std::filesystem::remove(path);
}

TEST_F(VarnelSimTest, FaultOptionsTakeAChanceOrStandBareForEveryAnswer) {
  struct Case {
    std::vector<std::string> args;
    int datagrams;  // per answer
    bool decodes;
  } cases[] = {
      {{"--duplicate"}, 2, true},
      {{"--duplicate", "0"}, 1, true},
      {{"--duplicate", "1", "--seed", "7"}, 2, true},
      {{"--duplicate", "--corrupt"}, 2, false},
      {{"--corrupt"}, 1, false},
      {{"--corrupt", "0", "--delay", "30", "--jitter", "20"}, 1, true},
      {{"--drop", "0", "--duplicate=0", "--seed", "18446744073709551615"}, 1, true},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"--port", "0"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    std::string what;
    for (const auto& a : c.args) what += a + " ";
    TSimProcess sim(args);
    const std::string text = sim.Line();
    const auto l = ParseLine(text);
    ASSERT_TRUE(l) << what << text << sim.Errors();
    TClient client;
    ASSERT_TRUE(client.Send(l->IP, l->Port, Request(l->NAD, 0x10)));
    for (int i = 0; i < c.datagrams; ++i) {
      auto d = client.Receive();
      ASSERT_TRUE(d) << what;
      EXPECT_EQ(DecodeAll(d->Bytes).size(), c.decodes ? 1u : 0u) << what;
    }
    EXPECT_FALSE(client.Receive(300)) << what << "sent one datagram too many";
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0) << what;
  }
}

TEST_F(VarnelSimTest, RefusesBadConfigurations) {
  struct Case {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"--port", "0", "--first-ip", "10.1.1.1"}, "127.0.0.0/8"},
      {{"--port", "0", "--alc", "/nonexistent/file.alc"}, "file.alc"},
      {{"--port", "0", "--drop", "1.5"}, "drop"},
      {{"--port", "0", "--duplicate", "1.5"}, "duplicate"},
      {{"--port", "0", "--corrupt", "-0.1"}, "corrupt"},
      {{"--port", "0", "--corrupt", "half"}, "corrupt"},
      {{"--port", "0", "--jitter", "-5"}, "jitter"},
      {{"--port", "0", "--seed", "-1"}, "seed"},
      {{"--port", "0", "--seed", "18446744073709551616"}, "seed"},
      {{"--port", "0", "--controllers", "0"}, "controllers"},
  };
  for (const Case& c : cases) {
    TSimProcess sim(c.args);
    const std::string errors = sim.Errors();
    const int code = sim.Wait();
    EXPECT_GT(code, 0) << errors;
    EXPECT_NE(errors.find(c.message), std::string::npos) << errors;
  }
}

}  // namespace
