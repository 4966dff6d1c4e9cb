// What varnel-cli takes from outside and must not take wrongly: NADs past 31 bits and NAD 0,
// integer options, value files, scan answers that repeat, share a NAD or get lost, and the
// template's tabs. Run as a program against simulated controllers hosted in this process
// on loopback.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "cli/cli_runner.h"
#include "cli/twin_controller.h"
#include "protocol/uQLink.h"
#include "sim/uSimHost.h"
#include "support/sim_support.h"

namespace {

using nlohmann::json;

constexpr uint8_t kWriteRandom = 0x34;

struct CliRun {
  int exitCode = -1;
  std::string out;
  std::string err;
  json doc;  // stdout parsed; discarded when it is no JSON
};

class CliInputsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("varnel_cli_inputs_test_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    twins_.clear();
    if (host_) host_->Stop();
    std::filesystem::remove_all(dir_);
  }

  void StartHost(int controllers, uint32_t baseNad, sim::TSimFaults faults = {}) {
    std::string error;
    host_ = testsupport::StartSimulators(controllers, error, [&](sim::TSimHostOptions& o) {
      o.BaseNAD = baseNad;
      o.Faults = faults;
    });
    ASSERT_NE(host_, nullptr) << error;
  }

  // A controller beside the host, at the host's port.
  sim::TSimController& AddTwin(uint32_t nad, const std::string& ip, int scanAnswers = 1) {
    twins_.push_back(
        std::make_unique<clitest::TTwinController>(nad, ip, host_->Port(), scanAnswers));
    EXPECT_TRUE(twins_.back()->Start()) << ip;
    return twins_.back()->Controller();
  }

  sim::TSimController& Sim(int i) { return host_->Controller(i); }
  std::string Port() const { return std::to_string(host_->Port()); }
  std::string At(int i) { return Sim(i).IP() + ":" + Port(); }

  // varnel-cli with the arguments as given.
  CliRun RunRaw(const std::vector<std::string>& args) {
    const clitest::CliResult result = clitest::RunVarnelCli(args, dir_);
    CliRun run{result.exitCode, result.out, result.err, json()};
    run.doc = json::parse(run.out, nullptr, false);
    return run;
  }

  // With the loopback adapter and the simulator's port, in JSON unless told otherwise.
  CliRun Run(std::vector<std::string> args, bool asJson = true) {
    args.insert(args.end(), {"--adapter", "lo", "--port", Port()});
    if (asJson) args.push_back("--json");
    return RunRaw(args);
  }

  std::string WriteFile(const std::string& name, const std::string& bytes) {
    const auto path = dir_ / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }

  // Requests a controller received that were not addressed to its own NAD, other than the
  // discovery ping; and how many discovery pings there were.
  static std::vector<sim::TSimRequest> Misaddressed(const sim::TSimController& c,
                                                    int& discoveryPings) {
    std::vector<sim::TSimRequest> wrong;
    discoveryPings = 0;
    for (const sim::TSimRequest& r : c.Requests()) {
      if (r.ToNAD == 0 && r.Command == cmdPing && r.Broadcast) {
        ++discoveryPings;
      } else if (r.ToNAD != c.NAD()) {
        wrong.push_back(r);
      }
    }
    return wrong;
  }

  static std::multiset<std::string> ValuesOf(const json& doc, uint64_t nad) {
    std::multiset<std::string> values;
    for (const json& v : doc["values"]) {
      if (v["nad"] == nad) values.insert(v["value"].get<std::string>());
    }
    return values;
  }

  std::unique_ptr<sim::TSimHost> host_;
  std::vector<std::unique_ptr<clitest::TTwinController>> twins_;
  std::filesystem::path dir_;
};

std::string Joined(const std::vector<std::string>& args) {
  std::string text;
  for (const std::string& a : args) text += a + " ";
  return text;
}

// ---------------------------------------------------------------------------------------
// NADs

TEST_F(CliInputsTest, NadsPast31BitsAreListedAddressedAndShownUnsigned) {
  StartHost(2, 3000000000u);
  sim::TSimController& small = AddTwin(5, "127.0.0.30");
  Sim(0).WriteVar("temp", 0, 300);
  Sim(1).WriteVar("temp", 0, 301);
  small.WriteVar("temp", 0, 5);

  const CliRun scan = Run({"scan"});
  ASSERT_EQ(scan.exitCode, 0) << scan.err;
  std::set<uint64_t> listed;
  for (const json& c : scan.doc["controllers"]) listed.insert(c["nad"].get<uint64_t>());
  EXPECT_EQ(listed, (std::set<uint64_t>{5, 3000000000u, 3000000001u})) << scan.out;
  const CliRun scanText = Run({"scan"}, false);
  EXPECT_NE(scanText.out.find("NAD 3000000000  IP 127.0.0.10"), std::string::npos) << scanText.out;

  // Through the scan: every controller, in unsigned order.
  const CliRun read = Run({"read", "temp"});
  ASSERT_EQ(read.exitCode, 0) << read.out << read.err;
  ASSERT_EQ(read.doc["values"].size(), 3u) << read.out;
  EXPECT_EQ(read.doc["values"][0]["nad"], 5u);
  EXPECT_EQ(read.doc["values"][1]["nad"], 3000000000u);
  EXPECT_EQ(read.doc["values"][1]["value"], "300");
  EXPECT_EQ(read.doc["values"][2]["nad"], 3000000001u);
  EXPECT_EQ(read.doc["values"][2]["value"], "301");

  const CliRun write = Run({"write", "temp=77", "--nad", "3000000001"});
  ASSERT_EQ(write.exitCode, 0) << write.out << write.err;
  EXPECT_EQ(write.doc["values"][0]["verified"], true);
  EXPECT_EQ(Sim(1).ReadVar("temp"), 77u);
  EXPECT_EQ(Sim(0).ReadVar("temp"), 300u);

  // Without a scan, at the address given.
  const CliRun direct = Run({"write", "temp=78", "--nad", "3000000000", "--ip", At(0)});
  ASSERT_EQ(direct.exitCode, 0) << direct.out << direct.err;
  EXPECT_EQ(Sim(0).ReadVar("temp"), 78u);
  const CliRun text = Run({"read", "temp", "--nad", "3000000000", "--ip", At(0)}, false);
  ASSERT_EQ(text.exitCode, 0) << text.err;
  EXPECT_NE(text.out.find("3000000000"), std::string::npos) << text.out;

  const CliRun status = Run({"status", "--nad", "3000000001"});
  ASSERT_EQ(status.exitCode, 0) << status.out << status.err;
  EXPECT_EQ(status.doc["controllers"][0]["nad"], 3000000001u);
  const CliRun info = Run({"info", "--nad", "3000000000"});
  ASSERT_EQ(info.exitCode, 0) << info.err;
  EXPECT_EQ(info.doc["nad"], 3000000000u);
  const CliRun missing = Run({"read", "temp", "--nad", "3000000009"}, false);
  EXPECT_NE(missing.err.find("error: NAD 3000000009: no controller"), std::string::npos)
      << missing.err;

  // The value file names the controller the same way, and carries values back to it.
  const std::string file = (dir_ / "big.xml").string();
  const CliRun exported = Run({"export", file, "temp", "--nad", "3000000001", "--ip", At(1)});
  ASSERT_EQ(exported.exitCode, 0) << exported.out << exported.err;
  EXPECT_NE(clitest::ReadWholeFile(file).find("<name>c3000000001.temp</name>"), std::string::npos);
  Sim(1).WriteVar("temp", 0, 1);
  const CliRun imported = Run({"import", file, "--write"});
  ASSERT_EQ(imported.exitCode, 0) << imported.out << imported.err;
  EXPECT_EQ(Sim(1).ReadVar("temp"), 77u);

  for (const CliRun* run : {&scan, &scanText, &read, &write, &text, &status, &missing, &imported}) {
    EXPECT_EQ(run->out.find("-12949"), std::string::npos) << run->out;
    EXPECT_EQ(run->err.find("-12949"), std::string::npos) << run->err;
  }
  // Nothing but the discovery ping went to another NAD than the controller's own: one
  // per scan (scan twice, read, write, status, missing, import).
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    int discovery = 0;
    EXPECT_TRUE(Misaddressed(Sim(i), discovery).empty());
    EXPECT_EQ(discovery, 7);
  }
}

TEST_F(CliInputsTest, NadZeroIsNeverTheTargetOfARequest) {
  StartHost(1, 10);
  // A controller that answers the scan as NAD 0 is set up wrongly: nothing goes to it.
  sim::TSimController& zero = AddTwin(0, "127.0.0.30");

  const CliRun read = Run({"read", "temp"});
  ASSERT_EQ(read.exitCode, 0) << read.out << read.err;
  ASSERT_EQ(read.doc["values"].size(), 1u) << read.out;
  EXPECT_EQ(read.doc["values"][0]["nad"], 10);
  ASSERT_EQ(read.doc["warnings"].size(), 1u) << read.out;
  EXPECT_NE(read.doc["warnings"][0]["message"].get<std::string>().find("127.0.0.30"),
            std::string::npos);

  // A file that names NAD 0 writes nothing there.
  const std::string file = WriteFile("zero.xml",
                                     "<data><var><name>c0.temp</name><value>9</value></var>"
                                     "<var><name>c10.temp</name><value>8</value></var></data>");
  const CliRun imported = Run({"import", file, "--write"});
  EXPECT_EQ(imported.exitCode, 1) << imported.out;
  EXPECT_EQ(Sim(0).ReadVar("temp"), 8u);
  ASSERT_EQ(imported.doc["errors"].size(), 1u) << imported.out;
  EXPECT_NE(imported.doc["errors"][0]["message"].get<std::string>().find("discovery address"),
            std::string::npos);

  int discovery = 0;
  for (const sim::TSimRequest& r : zero.Requests()) {
    EXPECT_EQ(r.Command, cmdPing) << "only the scan reached it";
    EXPECT_TRUE(r.Broadcast);
  }
  EXPECT_TRUE(Misaddressed(Sim(0), discovery).empty());
  EXPECT_EQ(discovery, 2);
}

// ---------------------------------------------------------------------------------------
// Integer options

TEST_F(CliInputsTest, IntegerOptionsAreIntegerTextWithinTheirRange) {
  StartHost(3, 8);  // NADs 8, 9 and 10 at 127.0.0.10, .11 and .12
  const std::string port = Port();
  char hexPort[16];
  std::snprintf(hexPort, sizeof hexPort, "%X", host_->Port());
  const std::string ten = Sim(2).IP();

  // Each reaches the controller with NAD 10 at the simulator's port, or fails.
  struct Good {
    std::vector<std::string> args;
  };
  const std::vector<Good> good = {
      {{"read", "temp", "--nad", "010", "--ip", ten, "--port", port}},  // no octal
      {{"read", "temp", "--nad", "$A", "--ip", ten, "--port", port}},
      {{"read", "temp", "--nad", "0xa", "--ip", ten, "--port", port}},
      {{"read", "temp", "--nad", "X0A", "--ip", ten, "--port", port}},
      {{"read", "temp", "--nad", " +10", "--ip", ten, "--port", port}},
      {{"read", "temp", "--nad", "10", "--ip", ten, "--port", "0x" + std::string(hexPort)}},
      {{"read", "temp", "--nad", "10", "--ip", ten, "--port", "$" + std::string(hexPort)}},
      {{"read", "temp", "--nad", "10", "--ip", ten, "--port", "000" + port}},
      {{"read", "temp", "--nad", "10", "--ip", ten + ":0x" + hexPort}},
      {{"info", "--nad", "0xA", "--ip", ten, "--port", port}},
      {{"ping", "--nad", "010", "--count", "$3", "--retries", "010", "--wait", "0x1F4", "--ip", ten,
        "--port", port}},
  };
  for (const Good& c : good) {
    SCOPED_TRACE(Joined(c.args));
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--adapter", "lo", "--json"});
    const CliRun run = RunRaw(args);
    ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
    if (c.args[0] == "read") {
      EXPECT_EQ(run.doc["values"][0]["nad"], 10);
      EXPECT_EQ(run.doc["values"][0]["value"], "-125");
    } else if (c.args[0] == "ping") {
      EXPECT_EQ(run.doc["nad"], 10);
      EXPECT_EQ(run.doc["count"], 3);
    } else {
      EXPECT_EQ(run.doc["nad"], 10);
      EXPECT_EQ(run.doc["ip"], ten);
    }
  }
  EXPECT_TRUE(Sim(0).Requests().empty()) << "NAD 8 was never asked";

  // A usage error that names the option, before anything is sent.
  const size_t before[3] = {Sim(0).Requests().size(), Sim(1).Requests().size(),
                            Sim(2).Requests().size()};
  struct Bad {
    std::vector<std::string> args;
    const char* option;
  };
  std::vector<Bad> bad;
  for (const char* nad : {"4294967306", "4294967296", "-1", "0", "0x0", "-0", "abc", "10abc", "1e3",
                          "1.0", "10 ", "", "$", "99999999999999999999999"}) {
    bad.push_back({{"read", "temp", "--nad", nad}, "--nad"});
  }
  for (const char* p : {"0", "65536", "0116534", "-1", "8442x", "0x10000", "$", "", "0b11"}) {
    bad.push_back({{"read", "temp", "--nad", "10", "--port", p}, "--port"});
    bad.push_back({{"ping", "--nad", "10", "--port", p}, "--port"});
  }
  for (const char* ip : {"127.0.0.12:0", "127.0.0.12:65536", "127.0.0.12:12ab", "127.0.0.12:"}) {
    bad.push_back({{"read", "temp", "--nad", "10", "--ip", ip}, "--ip"});
    bad.push_back({{"ping", "--ip", ip}, "--ip"});
  }
  for (const char* count : {"0", "10000001", "1.5", "x", "3 "}) {
    bad.push_back({{"ping", "--nad", "10", "--count", count}, "--count"});
  }
  for (const char* retries : {"-1", "1001", "3a"}) {
    bad.push_back({{"ping", "--nad", "10", "--retries", retries}, "--retries"});
  }
  for (const char* wait : {"0", "3600001", "1e3", "0x"}) {
    bad.push_back({{"ping", "--nad", "10", "--wait", wait}, "--wait"});
  }
  // NAD 0 for every command that addresses a controller.
  const std::string file = WriteFile("v.xml", "<data/>");
  for (std::vector<std::string> args : {std::vector<std::string>{"status"},
                                        {"read", "temp"},
                                        {"write", "temp=1"},
                                        {"rtc"},
                                        {"vars"},
                                        {"export", file, "temp"},
                                        {"import", file},
                                        {"info"},
                                        {"ping"}}) {
    args.insert(args.end(), {"--nad", "0"});
    bad.push_back({args, "--nad"});
  }
  for (const Bad& c : bad) {
    SCOPED_TRACE(Joined(c.args));
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--adapter", "lo"});
    const CliRun run = RunRaw(args);
    EXPECT_EQ(run.exitCode, 2) << run.out << run.err;
    EXPECT_EQ(run.err.rfind(std::string(c.option) + ":", 0), 0u) << run.err;
  }
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Sim(i).Requests().size(), before[i]) << i;
}

// ---------------------------------------------------------------------------------------
// Value files

TEST_F(CliInputsTest, AMalformedValueFileIsRefusedAndWritesNothing) {
  StartHost(1, 10);
  Sim(0).WriteVar("temp", 0, 55);
  const std::string good = "<var><name>c10.temp</name><value>66</value></var>";
  std::string laughs = "<!DOCTYPE data [<!ENTITY l0 \"lol\">";
  for (int i = 1; i <= 10; ++i) {
    laughs += "<!ENTITY l" + std::to_string(i) + " \"";
    for (int k = 0; k < 10; ++k) laughs += "&l" + std::to_string(i - 1) + ";";
    laughs += "\">";
  }
  struct Case {
    const char* what;
    std::string text;
  };
  const std::vector<Case> cases = {
      {"a bare ampersand",
       "<data>" + good + "<var><name>c10.x</name><value>&</value></var></data>"},
      {"text after the root", "<data>" + good + "</data>trailing"},
      {"a second root", "<data>" + good + "</data><data/>"},
      {"truncated", "<data>" + good + "<var><name>c10.x</name><val"},
      {"8-bit text that is no UTF-8", "<data>" + good + "<var><name>c10.t\xE9</name></var></data>"},
      {"billion laughs", laughs + "]><data>" + good +
                             "<var><name>c10.x</name><value>&l10;</value>"
                             "</var></data>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string file = WriteFile("bad.xml", c.text);
    const CliRun text = Run({"import", file, "--write"}, false);
    EXPECT_EQ(text.exitCode, 1);
    EXPECT_EQ(text.err, "error: Error parsing XML file.\n");
    const CliRun doc = Run({"import", file, "--write"});
    EXPECT_EQ(doc.exitCode, 1);
    ASSERT_EQ(doc.doc["errors"].size(), 1u) << doc.out;
    EXPECT_EQ(doc.doc["errors"][0]["message"], "Error parsing XML file.");
    EXPECT_TRUE(doc.doc["values"].empty());
  }
  EXPECT_TRUE(Sim(0).Requests().empty()) << "not even a scan";
  EXPECT_EQ(Sim(0).ReadVar("temp"), 55u);
}

TEST_F(CliInputsTest, AValueFileOver64MiBIsRefusedUnread) {
  StartHost(1, 10);
  const std::string file = WriteFile("huge.xml", "<data>");
  std::filesystem::resize_file(file, 64u * 1024 * 1024 + 1);
  const CliRun run = Run({"import", file, "--write"}, false);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "error: Cannot read file \"" + file + "\": larger than 67108864 bytes\n");
  EXPECT_TRUE(Sim(0).Requests().empty());
}

TEST_F(CliInputsTest, JsonOutputHoldsOnlyUtf8WhateverTheText) {
  StartHost(1, 10);
  // A windows-1252 file under a Latin-1 file name.
  const std::string file = WriteFile(
      "caf\xE9.xml",
      "<?xml version=\"1.0\" encoding=\"windows-1252\"?><data><var><name>c10.t\xE9mp</name>"
      "<value>5\x80</value></var></data>");
  const CliRun shown = Run({"import", file});
  ASSERT_EQ(shown.exitCode, 0) << shown.err;
  ASSERT_FALSE(shown.doc.is_discarded()) << shown.out;
  EXPECT_EQ(shown.doc["file"], (dir_ / "caf\xC3\xA9.xml").string());
  EXPECT_EQ(shown.doc["values"][0]["name"], "t\xC3\xA9mp");
  EXPECT_EQ(shown.doc["values"][0]["value"], "5\xE2\x82\xAC");

  // A file of invalid UTF-8 is refused, and the refusal is a JSON document too.
  const std::string invalid =
      WriteFile("bad\xFF.xml", "<data><var><name>c10.t\xE9</name><value>1</value></var></data>");
  const CliRun refused = Run({"import", invalid});
  EXPECT_EQ(refused.exitCode, 1);
  ASSERT_FALSE(refused.doc.is_discarded()) << refused.out;
  EXPECT_EQ(refused.doc["file"], (dir_ / "bad\xC3\xBF.xml").string());

  // A name given on the command line in Latin-1 is shown, not fatal.
  const CliRun read = Run({"read", "t\xE9mp", "--nad", "10", "--ip", At(0)});
  EXPECT_EQ(read.exitCode, 1);
  ASSERT_FALSE(read.doc.is_discarded()) << read.out;
  EXPECT_EQ(read.doc["values"][0]["name"], "t\xC3\xA9mp");
  EXPECT_NE(read.doc["errors"][0]["message"].get<std::string>().find("t\xC3\xA9mp"),
            std::string::npos);
}

// ---------------------------------------------------------------------------------------
// Scan answers

TEST_F(CliInputsTest, AScanAnswerThatArrivesTwiceListsTheControllerOnce) {
  sim::TSimFaults twice;
  twice.Duplicate = true;
  StartHost(2, 10, twice);
  const CliRun scan = Run({"scan"});
  ASSERT_EQ(scan.exitCode, 0) << scan.err;
  EXPECT_EQ(scan.doc["controllers"].size(), 2u) << scan.out;
  EXPECT_FALSE(scan.doc.contains("warnings")) << scan.out;
  const CliRun text = Run({"scan"}, false);
  EXPECT_EQ(text.out, "NAD 10  IP 127.0.0.10\nNAD 11  IP 127.0.0.11\n");
  EXPECT_EQ(text.err, "");
  host_->Stop();

  // The workflows choose it once, too.
  StartHost(1, 10);
  sim::TSimController& twin = AddTwin(20, "127.0.0.30", 3);
  twin.WriteVar("temp", 0, 20);
  const CliRun read = Run({"read", "temp", "--nad", "20"});
  ASSERT_EQ(read.exitCode, 0) << read.out << read.err;
  EXPECT_EQ(ValuesOf(read.doc, 20), (std::multiset<std::string>{"20"})) << read.out;
  EXPECT_FALSE(read.doc.contains("warnings")) << read.out;
}

TEST_F(CliInputsTest, OneNadAtTwoAddressesStaysTwoControllersWithAWarning) {
  StartHost(1, 10);
  sim::TSimController& twin = AddTwin(10, "127.0.0.30");
  Sim(0).WriteVar("temp", 0, 111);
  twin.WriteVar("temp", 0, 222);
  const std::string warning =
      "answered from 127.0.0.10 and from 127.0.0.30: more than one controller has this NAD";

  const CliRun scan = Run({"scan"});
  ASSERT_EQ(scan.exitCode, 0) << scan.err;
  EXPECT_EQ(scan.doc["controllers"].size(), 2u) << scan.out;
  ASSERT_EQ(scan.doc["warnings"].size(), 1u) << scan.out;
  EXPECT_EQ(scan.doc["warnings"][0]["nad"], 10);
  EXPECT_EQ(scan.doc["warnings"][0]["message"], warning);

  // Each entry is the controller at its own address, not whichever answers first.
  const CliRun read = Run({"read", "temp"});
  ASSERT_EQ(read.exitCode, 0) << read.out << read.err;
  EXPECT_EQ(ValuesOf(read.doc, 10), (std::multiset<std::string>{"111", "222"})) << read.out;
  ASSERT_EQ(read.doc["warnings"].size(), 1u) << read.out;
  EXPECT_EQ(read.doc["warnings"][0]["message"], warning);
  const CliRun text = Run({"status"}, false);
  EXPECT_NE(text.err.find("warning: NAD 10: " + warning + "\n"), std::string::npos) << text.err;

  const CliRun write = Run({"write", "temp=5"});
  ASSERT_EQ(write.exitCode, 0) << write.out << write.err;
  EXPECT_EQ(Sim(0).ReadVar("temp"), 5u);
  EXPECT_EQ(twin.ReadVar("temp"), 5u);
  for (const sim::TSimController* c : {&Sim(0), &twin}) {
    int writes = 0;
    for (const sim::TSimRequest& r : c->Requests()) writes += r.Command == kWriteRandom;
    EXPECT_EQ(writes, 1) << c->IP() << ": one write each, none twice";
  }
}

TEST_F(CliInputsTest, AControllerThatRefusesThePasswordIsListedWithItsCodeAndNeverDropped) {
  StartHost(3, 10);
  // NAD 11 keeps a password of its own; NAD 12 answers after its refusal.
  Sim(1).SetPassword("secret");
  sim::TSimFaults late;
  late.DelayMs = 100;
  Sim(2).SetFaults(late);
  const std::string warning = "NAD 11 at 127.0.0.11 refuses the password";

  const CliRun scan = Run({"scan"});
  ASSERT_EQ(scan.exitCode, 0) << scan.err;
  EXPECT_EQ(scan.doc["controllers"],
            json::parse(R"([{"nad":10,"ip":"127.0.0.10"},)"
                        R"({"nad":11,"ip":"127.0.0.11","code":12,"code_name":"md_BADPASS"},)"
                        R"({"nad":12,"ip":"127.0.0.12"}])"))
      << scan.out;
  ASSERT_EQ(scan.doc["warnings"].size(), 1u) << scan.out;
  EXPECT_EQ(scan.doc["warnings"][0]["nad"], 11);
  EXPECT_EQ(scan.doc["warnings"][0]["message"], warning);
  const CliRun text = Run({"scan"}, false);
  EXPECT_EQ(text.out,
            "NAD 10  IP 127.0.0.10\nNAD 11  IP 127.0.0.11  refused: md_BADPASS (12)\n"
            "NAD 12  IP 127.0.0.12\n");
  EXPECT_EQ(text.err, "warning: " + warning + "\n");

  // A workflow over the scan's controllers tries it and says that it failed.
  const CliRun read = Run({"read", "temp"});
  EXPECT_EQ(read.exitCode, 1) << read.out << read.err;
  EXPECT_EQ(ValuesOf(read.doc, 10), (std::multiset<std::string>{"-125"})) << read.out;
  EXPECT_EQ(ValuesOf(read.doc, 12), (std::multiset<std::string>{"-125"})) << read.out;
  std::set<uint64_t> failed;
  for (const json& e : read.doc["errors"]) failed.insert(e["nad"].get<uint64_t>());
  EXPECT_EQ(failed, std::set<uint64_t>{11}) << read.out;
  ASSERT_EQ(read.doc["warnings"].size(), 1u) << read.out;
  EXPECT_EQ(read.doc["warnings"][0]["message"], warning);
}

TEST_F(CliInputsTest, ANadWhoseScanAnswerIsLostIsAddressedDirectly) {
  StartHost(1, 10);
  // Answers every request but the discovery ping, as if its one answer were always lost.
  sim::TSimController& unheard = AddTwin(20, "127.0.0.30", 0);
  unheard.WriteVar("temp", 0, 77);

  const CliRun scan = Run({"scan"});
  ASSERT_EQ(scan.exitCode, 0) << scan.err;
  ASSERT_EQ(scan.doc["controllers"].size(), 1u) << "the scan does not hear it: " << scan.out;

  const CliRun read = Run({"read", "temp", "--nad", "20", "--nad", "10"});
  ASSERT_EQ(read.exitCode, 0) << read.out << read.err;
  EXPECT_EQ(ValuesOf(read.doc, 20), (std::multiset<std::string>{"77"})) << read.out;
  EXPECT_EQ(ValuesOf(read.doc, 10), (std::multiset<std::string>{"-125"})) << read.out;
  EXPECT_EQ(read.doc["values"][0]["nad"], 10) << "still in NAD order";

  const CliRun status = Run({"status", "--nad", "20"});
  ASSERT_EQ(status.exitCode, 0) << status.out << status.err;
  EXPECT_EQ(status.doc["controllers"][0]["ip"], "127.0.0.30");

  // Only a NAD asked for is looked for, and one nobody has is still reported.
  const CliRun absent = Run({"read", "temp", "--nad", "21"});
  EXPECT_EQ(absent.exitCode, 1) << absent.out;
  ASSERT_EQ(absent.doc["errors"].size(), 1u) << absent.out;
  EXPECT_EQ(absent.doc["errors"][0]["nad"], 21);
  EXPECT_EQ(absent.doc["errors"][0]["message"], "no controller with this NAD answered");
  const CliRun all = Run({"read", "temp"});
  EXPECT_EQ(ValuesOf(all.doc, 20).size(), 0u) << "without --nad only the scan chooses";
}

// ---------------------------------------------------------------------------------------
// Tabs of the template

const char* const kTemplate =
    "[General]\r\nVar0=flag\r\n"
    "[ Pumps ]\r\nDescription = Pump values\r\nVAR0 = temp\r\nVar1=levels[3]\r\n"
    "Var3=total\r\n"
    "[Empty]\r\n";

TEST_F(CliInputsTest, TabsListsTheTemplatesTabsInFileOrder) {
  const std::string ini = WriteFile("tabs.ini", kTemplate);
  const CliRun json = RunRaw({"tabs", "--template", ini, "--json"});
  ASSERT_EQ(json.exitCode, 0) << json.err;
  EXPECT_EQ(json.out,
            "{\"tabs\":[{\"name\":\"Pumps\",\"description\":\"Pump values\",\"vars\":[\"temp\","
            "\"levels[3]\"]},"
            "{\"name\":\"Empty\",\"description\":\"\",\"vars\":[]}]}\n");
  const CliRun text = RunRaw({"tabs", "--template", ini});
  ASSERT_EQ(text.exitCode, 0) << text.err;
  EXPECT_EQ(text.out,
            "TAB    DESCRIPTION  VARIABLES\n"
            "Pumps  Pump values  temp levels[3]\n"
            "Empty\n");

  const CliRun missing = RunRaw({"tabs", "--template", (dir_ / "none.ini").string(), "--json"});
  EXPECT_EQ(missing.exitCode, 0);
  EXPECT_EQ(missing.doc["tabs"], json::array());
  ASSERT_EQ(missing.doc["warnings"].size(), 1u) << missing.out;
  EXPECT_NE(missing.doc["warnings"][0]["message"].get<std::string>().find("none.ini"),
            std::string::npos);

  // Without --template: the desktop's own, varnel.ini beside the programs.
  const auto bin = dir_ / "bin";
  std::filesystem::create_directories(bin);
  std::filesystem::copy_file(std::string(VARNEL_BIN_DIR) + "/varnel-cli", bin / "varnel-cli");
  std::ofstream(bin / "varnel.ini", std::ios::binary) << "[Own]\nVar0=temp\n";
  const std::string command = clitest::ShellQuote((bin / "varnel-cli").string()) + " tabs --json";
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char buffer[512] = {};
  const size_t n = std::fread(buffer, 1, sizeof buffer - 1, pipe);
  EXPECT_EQ(::pclose(pipe), 0);
  EXPECT_EQ(std::string(buffer, n),
            "{\"tabs\":[{\"name\":\"Own\",\"description\":\"\",\"vars\":[\"temp\"]}]}\n");
}

TEST_F(CliInputsTest, ReadAndExportTakeATabsNamesInColumnOrder) {
  StartHost(1, 10);
  Sim(0).WriteVar("levels", 3, 44);
  const std::string ini = WriteFile("tabs.ini", kTemplate);
  const auto names = [](const json& doc) {
    std::vector<std::string> list;
    for (const json& v : doc["values"]) list.push_back(v["name"]);
    return list;
  };
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> names;
  };
  const std::vector<Case> cases = {
      {{"--tab", "pumps"}, {"temp", "levels[3]"}},
      {{"--tab", "PUMPS", "setpoint", "temp"}, {"temp", "levels[3]", "setpoint"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"read", "--template", ini};
    args.insert(args.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(Joined(args));
    const CliRun read = Run(args);
    ASSERT_EQ(read.exitCode, 0) << read.out << read.err;
    EXPECT_EQ(names(read.doc), c.names);
  }

  const std::string file = (dir_ / "pumps.xml").string();
  const CliRun exported = Run({"export", file, "--tab", "Pumps", "--template", ini});
  ASSERT_EQ(exported.exitCode, 0) << exported.out << exported.err;
  EXPECT_EQ(clitest::ReadWholeFile(file),
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<data>\r\n"
            "<var><name>c10.temp</name><value>-125</value></var>\r\n"
            "<var><name>c10.levels[3]</name><value>44</value></var>\r\n"
            "</data>\r\n");
}

TEST_F(CliInputsTest, AnUnknownTabOrNoNamesAtAllIsAUsageError) {
  StartHost(1, 10);
  const std::string ini = WriteFile("tabs.ini", kTemplate);
  const std::string file = WriteFile("v.xml", "<data/>");
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const std::vector<Case> cases = {
      {{"read", "--tab", "Valves", "--template", ini}, "no tab 'Valves' in the template " + ini},
      {{"export", file, "--tab", "Valves", "--template", ini}, "'Valves'"},
      {{"import", file, "--tab", "Valves", "--template", ini}, "'Valves'"},
      {{"read", "--tab", "Pumps", "--template", (dir_ / "none.ini").string()}, "does not exist"},
      {{"read", "--tab", "Empty", "--template", ini}, "names no variables"},
      {{"read", "--tab", "General", "--template", ini}, "no tab 'General'"},
      {{"read"}, "NAME is required"},
      {{"export", file}, "NAME is required"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Joined(c.args));
    const CliRun run = Run(c.args, false);
    EXPECT_EQ(run.exitCode, 2) << run.out << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
  }
  EXPECT_TRUE(Sim(0).Requests().empty()) << "refused before any scan";
}

TEST_F(CliInputsTest, ImportIntoATabFollowsTheDesktopsRulesAndWritesWhatItFilled) {
  StartHost(1, 10);
  // A second controller with NAD 10: only the first row of a NAD takes the values.
  sim::TSimController& twin = AddTwin(10, "127.0.0.30");
  const std::string ini =
      WriteFile("tabs.ini", "[Pumps]\nVar0=temp\nVar1=levels[3]\nVar2=setpoint\n");
  const std::string file = WriteFile(
      "values.xml",
      "<?xml version=\"1.0\"?>\n<data>"
      "<var><name> c10.TEMP </name><value> 321 </value></var>"   // any case, blanks trimmed
      "<var><name>c10.levels[03]</name><value>44</value></var>"  // the index as a number
      "<var><name>c10.setpoint</name><value></value></var>"      // empty: skipped
      "<var><name>c10.counter_w</name><value>9</value></var>"    // not on the tab
      "<var><name></name><value>1</value></var>"
      "</data>");

  const CliRun shown = Run({"import", file, "--tab", "pumps", "--template", ini});
  ASSERT_EQ(shown.exitCode, 0) << shown.out << shown.err;
  EXPECT_EQ(shown.doc["values"],
            json::parse(R"([{"nad":10,"name":"temp","value":"321","description":""},)"
                        R"({"nad":10,"name":"levels[3]","value":"44","description":""}])"));
  EXPECT_TRUE(Sim(0).Requests().empty() && twin.Requests().empty()) << "showing asks nobody";

  const CliRun written = Run({"import", file, "--tab", "pumps", "--template", ini, "--write"});
  ASSERT_EQ(written.exitCode, 0) << written.out << written.err;
  ASSERT_EQ(written.doc["values"].size(), 2u) << written.out;
  for (const json& v : written.doc["values"]) EXPECT_EQ(v["verified"], true) << v.dump();
  const bool first = Sim(0).ReadVar("temp") == 321u;
  sim::TSimController& filled = first ? Sim(0) : twin;
  sim::TSimController& other = first ? twin : Sim(0);
  EXPECT_EQ(filled.ReadVar("temp"), 321u);
  EXPECT_EQ(filled.ReadVar("levels", 3), 44u);
  EXPECT_EQ(other.ReadVar("temp"), static_cast<uint32_t>(static_cast<uint16_t>(-125)));
  EXPECT_NE(filled.ReadVar("counter_w"), 9u) << "a value the tab has no column for is not written";
  int writes = 0;
  for (const sim::TSimRequest& r : filled.Requests()) writes += r.Command == kWriteRandom;
  EXPECT_EQ(writes, 1) << "the filled cells in one exchange";
  for (const sim::TSimRequest& r : other.Requests()) EXPECT_NE(r.Command, kWriteRandom);
}

TEST_F(CliInputsTest, ImportNamesEveryEntryItLeftOutAndReadsOnPastOneItCannotRead) {
  StartHost(1, 10);
  const std::string ini = WriteFile("tabs.ini", "[Pumps]\nVar0=temp\nVar1=levels[3]\n");
  const std::string file =
      WriteFile("values.xml",
                "<?xml version=\"1.0\"?>\n<data>\n"
                "<var><name>c10.temp</name><value>5</value></var>\n"      // 3
                "<var><name>c10.<b>x</b></name><value>2</value></var>\n"  // 4: markup
                "<var><name>c10.nosuch</name><value>1</value></var>\n"    // 5: not on the tab
                "<var><name>c10.levels[3]</name><value></value></var>\n"  // 6: no value
                "<var><name>temp</name><value>1</value></var>\n"          // 7: no full name
                "<var><name>c99.temp</name><value>7</value></var>\n"  // 8: NAD 99 does not answer
                "<var><name>c10.levels[3]</name><value>8</value></var>\n"  // 9
                "</data>\n");

  const CliRun shown = Run({"import", file, "--tab", "pumps", "--template", ini});
  ASSERT_EQ(shown.exitCode, 0) << shown.out << shown.err;
  EXPECT_EQ(ValuesOf(shown.doc, 10), (std::multiset<std::string>{"5", "8"})) << shown.out;
  EXPECT_EQ(shown.doc["skipped"],
            json::parse(R"([{"line":4,"name":"","reason":"markup"},)"
                        R"({"line":5,"name":"c10.nosuch","reason":"no_column"},)"
                        R"({"line":6,"name":"c10.levels[3]","reason":"empty_value"},)"
                        R"({"line":7,"name":"temp","reason":"not_a_full_name"}])"))
      << shown.out;

  const CliRun written =
      Run({"import", file, "--tab", "pumps", "--template", ini, "--write"}, false);
  EXPECT_EQ(written.exitCode, 1) << "NAD 99 did not answer: " << written.err;
  EXPECT_EQ(Sim(0).ReadVar("levels", 3), 8u);
  for (const char* line :
       {"warning: line 4: not taken: the name or value holds markup, not plain text\n",
        "warning: line 5: c10.nosuch: not taken: the tab 'Pumps' has no variable 'nosuch'\n",
        "warning: line 6: c10.levels[3]: not taken: the entry has no value\n",
        "warning: line 7: temp: not taken: 'temp' is no full name such as c12.temp\n",
        "warning: line 8: c99.temp: not taken: no controller with NAD 99 answered\n"}) {
    EXPECT_NE(written.err.find(line), std::string::npos) << line << written.err;
  }

  // Without a tab every entry that reads is shown; those that do not are named too.
  const CliRun plain = Run({"import", file});
  ASSERT_EQ(plain.exitCode, 0) << plain.out << plain.err;
  EXPECT_EQ(plain.doc["values"].size(), 4u) << plain.out;
  ASSERT_EQ(plain.doc["skipped"].size(), 3u) << plain.out;
  EXPECT_EQ(plain.doc["skipped"][0]["reason"], "markup");
  EXPECT_EQ(plain.doc["skipped"][2]["line"], 7);
  // A file with nothing to leave out says nothing of it.
  const std::string clean =
      WriteFile("clean.xml", "<data><var><name>c10.temp</name><value>1</value></var></data>");
  EXPECT_FALSE(Run({"import", clean}).doc.contains("skipped"));
}

}  // namespace
