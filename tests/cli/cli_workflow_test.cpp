// varnel-cli's workflows (status, read, write, rtc, export, import) run as a program
// against simulated controllers hosted in this process on loopback.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/cli_runner.h"
#include "sim/uSimHost.h"
#include "support/sim_support.h"

namespace {

using nlohmann::json;

constexpr uint8_t kReadRandom = 0x33;
constexpr uint8_t kWriteRandom = 0x34;

struct CliRun {
  int exitCode = -1;
  std::string out;
  std::string err;
  json doc;  // stdout parsed, when it is JSON
};

using clitest::ReadWholeFile;

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ =
        std::filesystem::temp_directory_path() / ("varnel_cli_test_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override {
    if (host_) host_->Stop();
    std::filesystem::remove_all(dir_);
  }

  void StartHost(int controllers) {
    std::string error;
    host_ = testsupport::StartSimulators(controllers, error);
    ASSERT_NE(host_, nullptr) << error;
  }

  sim::TSimController& Sim(int i) { return host_->Controller(i); }

  // Options that reach controller i without a scan.
  std::vector<std::string> Direct(int i) {
    return {"--nad", std::to_string(Sim(i).NAD()), "--ip",
            Sim(i).IP() + ":" + std::to_string(host_->Port())};
  }

  // Runs varnel-cli with the loopback adapter, the simulator's port and --json.
  CliRun Run(std::vector<std::string> args, bool json = true) {
    args.insert(args.end(), {"--adapter", "lo", "--port", std::to_string(host_->Port())});
    if (json) args.push_back("--json");
    const clitest::CliResult result = clitest::RunVarnelCli(args, dir_);
    CliRun run;
    run.exitCode = result.exitCode;
    run.out = result.out;
    run.err = result.err;
    if (json) run.doc = json::parse(run.out, nullptr, false);
    return run;
  }

  // The "value" of each entry of doc["values"], keyed by "NAD name".
  static std::map<std::string, json> Values(const json& doc) {
    std::map<std::string, json> values;
    for (const json& v : doc["values"]) {
      values[std::to_string(v["nad"].get<int>()) + " " + v["name"].get<std::string>()] = v;
    }
    return values;
  }

  std::vector<sim::TSimRequest> Requests(int i, uint8_t command) {
    std::vector<sim::TSimRequest> found;
    for (const sim::TSimRequest& r : Sim(i).Requests()) {
      if (r.Command == command) found.push_back(r);
    }
    return found;
  }

  std::unique_ptr<sim::TSimHost> host_;
  std::filesystem::path dir_;
};

TEST_F(CliTest, StatusShowsEachControllersChecksFiguresAndClock) {
  StartHost(4);
  Sim(1).ClearProgram();
  Sim(2).SetRunning(false);
  std::vector<sim::TSimVar> lacking;
  for (const sim::TSimVar& v : sim::TSimController::DefaultVars()) {
    if (v.Name != "scan_time_max" && v.Name != "rtc_min") lacking.push_back(v);
  }
  Sim(3).ReplaceProgram(lacking);

  const CliRun run = Run({"status"});
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  const json& list = run.doc["controllers"];
  ASSERT_EQ(list.size(), 4u) << run.out;

  struct Expect {
    int nad;
    bool program, alc, run, figures, clock;
  };
  const std::vector<Expect> expected = {
      {10, true, true, true, true, true},
      {11, false, false, false, false, false},
      {12, true, true, false, true, true},
      {13, true, true, true, true, false},
  };
  for (size_t i = 0; i < expected.size(); ++i) {
    const Expect& e = expected[i];
    const json& c = list[i];
    SCOPED_TRACE(c.dump());
    EXPECT_EQ(c["nad"], e.nad);
    EXPECT_EQ(c["ip"], Sim(static_cast<int>(i)).IP());
    EXPECT_EQ(c["network"], true);
    EXPECT_EQ(c["ping"], true);
    EXPECT_EQ(c["program"], e.program);
    EXPECT_EQ(c["alc"], e.alc);
    EXPECT_EQ(c["run"], e.run);
    for (const char* name : {"scan_frequency", "scan_time", "scan_overrun"}) {
      EXPECT_EQ(c[name] != "?", e.figures) << name;
    }
    EXPECT_EQ(c["scan_time_max"] != "?", e.figures && e.nad != 13);
    if (e.clock) {
      EXPECT_EQ(c["rtc"].get<std::string>().size(), std::string("2026-12-10  09:50:00").size());
    } else {
      EXPECT_EQ(c["rtc"], "");
    }
  }
  EXPECT_EQ(list[0]["scan_overrun"], "0");
  EXPECT_EQ(list[2]["scan_frequency"], "0") << "a stopped PLC scans nothing";

  // A controller that passed its checks is pinged once after the scan's discovery, asked
  // for its run state once, and its figures and clock come in one read.
  std::map<uint8_t, int> asked;
  for (const sim::TSimRequest& r : Sim(0).Requests()) ++asked[r.Command];
  EXPECT_EQ(asked[0x10], 2) << "discovery and ping";
  EXPECT_EQ(asked[0x11], 1) << "run state";
  EXPECT_EQ(asked[0x33], 1) << "random read";
}

TEST_F(CliTest, WriteThenReadRoundTripsEveryTransferableType) {
  StartHost(1);
  struct Case {
    const char* name;
    const char* written;
    const char* readBack;
  };
  const std::vector<Case> cases = {
      {"flag", "1", "1"},
      {"counter_w", "65535", "65535"},
      {"temp", "$8000", "-32768"},  // unsigned hexadecimal names the bits
      {"levels[3]", "12", "12"},
      {"total", "-2147483648", "-2147483648"},
      {"setpoint", "0.1", "0.100000001490116"},
      {"recipe_no", "$1F", "31"},
  };
  std::vector<std::string> writeArgs = {"write"}, readArgs = {"read"};
  for (const Case& c : cases) {
    writeArgs.push_back(std::string(c.name) + "=" + c.written);
    readArgs.push_back(c.name);
  }
  for (const std::string& a : Direct(0)) {
    writeArgs.push_back(a);
    readArgs.push_back(a);
  }

  const CliRun write = Run(writeArgs);
  ASSERT_EQ(write.exitCode, 0) << write.out << write.err;
  const CliRun read = Run(readArgs);
  ASSERT_EQ(read.exitCode, 0) << read.out << read.err;
  const auto written = Values(write.doc), values = Values(read.doc);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string key = std::string("10 ") + c.name;
    EXPECT_EQ(written.at(key)["value"], c.readBack);
    EXPECT_EQ(written.at(key)["written"], true);
    EXPECT_EQ(written.at(key)["verified"], true);
    EXPECT_EQ(values.at(key)["value"], c.readBack);
    EXPECT_FALSE(values.at(key)["description"].get<std::string>().empty());
  }
  EXPECT_TRUE(read.doc["errors"].empty());
  EXPECT_EQ(Sim(0).ReadVar("levels", 3), 12u);
}

TEST_F(CliTest, RefusedAndUnappliedWritesAreReported) {
  StartHost(1);
  Sim(0).WriteVar("temp", 0, 55);
  const auto direct = Direct(0);
  std::vector<std::string> args = {"write", "temp=1.5", "counter_w=9", "scan_time=5", "nothere=1"};
  args.insert(args.end(), direct.begin(), direct.end());
  const CliRun run = Run(args);
  EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
  const auto values = Values(run.doc);
  EXPECT_EQ(values.at("10 temp")["value"], "55");
  EXPECT_EQ(values.at("10 temp")["verified"], false);
  EXPECT_EQ(values.at("10 counter_w")["verified"], true);
  // The controller's own scan figure is read-only: refused before anything is sent.
  EXPECT_EQ(values.at("10 scan_time")["written"], false);
  EXPECT_EQ(values.at("10 scan_time")["verified"], false);
  EXPECT_EQ(values.at("10 nothere")["value"], "?");
  EXPECT_EQ(Sim(0).ReadVar("temp"), 55u) << "a refused value is never written";

  std::map<std::string, std::string> messages;
  for (const json& e : run.doc["errors"]) messages[e["name"]] = e["message"];
  ASSERT_TRUE(messages.count("temp"));
  for (const char* part : {"temp", "1.5", "int"}) {
    EXPECT_NE(messages["temp"].find(part), std::string::npos) << messages["temp"];
  }
  EXPECT_TRUE(messages.count("scan_time"));
  EXPECT_TRUE(messages.count("nothere"));
  EXPECT_FALSE(messages.count("counter_w"));
}

TEST_F(CliTest, AValueThatDoesNotFitIsRefusedAndNothingOfItIsWritten) {
  StartHost(1);
  const auto direct = Direct(0);
  struct Case {
    const char* item;
    const char* name;
    const char* message;
  };
  const std::vector<Case> cases = {
      {"counter_w=70000", "counter_w", "70000 does not fit counter_w (word, 0 to 65535)"},
      {"counter_w=-1", "counter_w", "-1 does not fit counter_w (word, 0 to 65535)"},
      {"temp=40000", "temp", "40000 does not fit temp (int, -32768 to 32767)"},
      {"temp=$10000", "temp", "$10000 does not fit temp (int, -32768 to 32767)"},
      {"flag=2", "flag", "2 does not fit flag (bit, 0 to 1)"},
      {"total=2147483648", "total",
       "2147483648 does not fit total (long, -2147483648 to 2147483647)"},
      {"setpoint=1E39", "setpoint", "1E39 does not fit setpoint (real, -3.4E38 to 3.4E38)"},
      {"temp=1.5", "temp",
       "\"1.5\" is not a valid int value for temp: it takes whole numbers from -32768 to 32767"},
      {"serial_no=1", "serial_no", "'serial_no' is read-only; 1 was not written"},
      {"t_fill=1", "t_fill",
       "'t_fill' is of type timer, which carries no value; 1 was not written"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.item);
    Sim(0).ClearRequests();
    std::vector<std::string> args = {"write", c.item};
    args.insert(args.end(), direct.begin(), direct.end());
    const CliRun run = Run(args);
    EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
    EXPECT_TRUE(Requests(0, kWriteRandom).empty()) << "nothing of it goes out";
    ASSERT_EQ(run.doc["errors"].size(), 1u) << run.out;
    EXPECT_EQ(run.doc["errors"][0]["name"], c.name);
    EXPECT_EQ(run.doc["errors"][0]["message"], c.message);
    ASSERT_EQ(run.doc["values"].size(), 1u) << run.out;
    EXPECT_EQ(run.doc["values"][0]["written"], false);
    EXPECT_EQ(run.doc["values"][0]["verified"], false);
  }
  EXPECT_EQ(Sim(0).ReadVar("counter_w"), 1234u);
  EXPECT_EQ(Sim(0).ReadVar("temp"), static_cast<uint16_t>(-125));
  EXPECT_EQ(Sim(0).ReadVar("flag"), 1u);
  EXPECT_EQ(Sim(0).ReadVar("serial_no"), 20240117u);

  // Beside a refused value, the others of the same controller are written and verified.
  std::vector<std::string> args = {"write", "counter_w=70000", "temp=-300", "total=5"};
  args.insert(args.end(), direct.begin(), direct.end());
  Sim(0).ClearRequests();
  const CliRun mixed = Run(args, false);
  EXPECT_EQ(mixed.exitCode, 1) << mixed.out << mixed.err;
  EXPECT_NE(mixed.err.find("error: NAD 10 counter_w: 70000 does not fit counter_w (word, 0 to "
                           "65535)"),
            std::string::npos)
      << mixed.err;
  EXPECT_NE(mixed.out.find("WRITTEN  VERIFIED"), std::string::npos) << mixed.out;
  EXPECT_EQ(Requests(0, kWriteRandom).size(), 1u);
  EXPECT_EQ(Sim(0).ReadVar("temp"), static_cast<uint16_t>(-300));
  EXPECT_EQ(Sim(0).ReadVar("total"), 5u);
  EXPECT_EQ(Sim(0).ReadVar("counter_w"), 1234u);
}

TEST_F(CliTest, ImportWriteListsEveryRefusedEntryAndWritesTheRest) {
  StartHost(1);
  const auto file = (dir_ / "values.xml").string();
  std::ofstream(file) << "<?xml version=\"1.0\"?>\n<data>"
                         "<var><name>c10.counter_w</name><value>70000</value></var>"
                         "<var><name>c10.temp</name><value>321</value></var>"
                         "<var><name>c10.serial_no</name><value>5</value></var>"
                         "<var><name>c10.flag</name><value>0.5</value></var>"
                         "</data>";
  const CliRun run = Run({"import", file, "--write"});
  EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
  std::map<std::string, std::string> messages;
  for (const json& e : run.doc["errors"]) messages[e["name"]] = e["message"];
  EXPECT_EQ(messages.size(), 3u) << run.out;
  EXPECT_EQ(messages["counter_w"], "70000 does not fit counter_w (word, 0 to 65535)");
  EXPECT_EQ(messages["serial_no"], "'serial_no' is read-only; 5 was not written");
  EXPECT_NE(messages["flag"].find("0.5"), std::string::npos) << messages["flag"];
  const auto values = Values(run.doc);
  EXPECT_EQ(values.at("10 temp")["verified"], true);
  EXPECT_EQ(Sim(0).ReadVar("temp"), 321u);
  EXPECT_EQ(Sim(0).ReadVar("counter_w"), 1234u);
  EXPECT_EQ(Sim(0).ReadVar("serial_no"), 20240117u);
  EXPECT_EQ(Sim(0).ReadVar("flag"), 1u);
}

TEST_F(CliTest, WriteEeStoresAfterTheValuesInOneRequest) {
  StartHost(1);
  const auto direct = Direct(0);
  std::vector<std::string> args = {"write", "temp=77", "--ee"};
  args.insert(args.end(), direct.begin(), direct.end());
  const CliRun run = Run(args);
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;

  const auto writes = Requests(0, kWriteRandom);
  ASSERT_EQ(writes.size(), 2u);
  const uint16_t req = *Sim(0).VarAddress("ee_write_req");
  const uint16_t magic = *Sim(0).VarAddress("ee_write_magic");
  // c1 = 1 (ee_write_req, a bit), c2 = 1 (ee_write_magic, a word), c4 = 0; addresses;
  // then the values 1 and 52917 (0xCEB5).
  const std::vector<uint8_t> expected = {1,
                                         0,
                                         1,
                                         0,
                                         0,
                                         0,
                                         static_cast<uint8_t>(req & 0xFF),
                                         static_cast<uint8_t>(req >> 8),
                                         static_cast<uint8_t>(magic & 0xFF),
                                         static_cast<uint8_t>(magic >> 8),
                                         1,
                                         0xB5,
                                         0xCE};
  EXPECT_EQ(writes[1].Params, expected);

  // The stored value comes back with an EEPROM load after RAM has changed.
  Sim(0).WriteVar("temp", 0, 5);
  Sim(0).SetEepromLoadDelay(200);
  Sim(0).ClearRequests();
  args = {"read", "temp", "--ee"};
  args.insert(args.end(), direct.begin(), direct.end());
  const CliRun read = Run(args);
  ASSERT_EQ(read.exitCode, 0) << read.out << read.err;
  EXPECT_EQ(Values(read.doc).at("10 temp")["value"], "77");
}

TEST_F(CliTest, AControllerThatRefusesThePasswordIsSaidToRefuseIt) {
  StartHost(1);
  Sim(0).SetPassword("secret");
  const auto direct = Direct(0);
  std::vector<std::string> args = {"write", "temp=5", "--ee", "--password", "wrong"};
  args.insert(args.end(), direct.begin(), direct.end());
  const CliRun run = Run(args);
  EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
  std::map<std::string, std::string> messages;
  for (const json& e : run.doc["errors"]) messages[e["name"]] = e["message"];
  EXPECT_EQ(messages["temp"], "the controller refuses the password (md_BADPASS)");
  EXPECT_EQ(messages["ee_write_req"],
            "EEPROM store failed: the controller refuses the password (md_BADPASS)");
  EXPECT_EQ(Sim(0).ReadVar("temp"), static_cast<uint16_t>(-125));

  args = {"read", "temp", "--password", "wrong"};
  args.insert(args.end(), direct.begin(), direct.end());
  const CliRun read = Run(args);
  EXPECT_EQ(read.exitCode, 1);
  ASSERT_EQ(read.doc["errors"].size(), 1u) << read.out;
  EXPECT_EQ(read.doc["errors"][0]["message"], "PLC refuses the password!");
}

TEST_F(CliTest, ReadEeRequestsTheLoadAndWaitsForIt) {
  StartHost(1);
  Sim(0).SetEepromLoadDelay(300);
  const auto direct = Direct(0);
  std::vector<std::string> args = {"read", "counter_w", "--ee"};
  args.insert(args.end(), direct.begin(), direct.end());
  const CliRun run = Run(args);
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;

  const uint16_t req = *Sim(0).VarAddress("ee_read_req");
  std::vector<uint8_t> codes;
  for (const sim::TSimRequest& r : Sim(0).Requests()) {
    if (r.Command == kReadRandom || r.Command == kWriteRandom) codes.push_back(r.Command);
  }
  ASSERT_GE(codes.size(), 4u) << "the request, at least one poll, the value read";
  EXPECT_EQ(codes[0], kWriteRandom);
  const auto writes = Requests(0, kWriteRandom);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].Params, (std::vector<uint8_t>{1, 0, 0, 0, 0, 0, static_cast<uint8_t>(req),
                                                    static_cast<uint8_t>(req >> 8), 1}));
  EXPECT_EQ(Sim(0).ReadVar("ee_read_req"), 0u);
  EXPECT_TRUE(run.doc["errors"].empty()) << run.out;
}

TEST_F(CliTest, RtcSyncSetsEveryClockToThePcsTime) {
  StartHost(2);
  Sim(0).SetClockOffset(std::chrono::hours(-5));
  Sim(1).SetClockOffset(std::chrono::seconds(4000));
  const CliRun run = Run({"rtc", "--sync"});
  ASSERT_EQ(run.exitCode, 0) << run.out << run.err;
  ASSERT_EQ(run.doc["controllers"].size(), 2u);
  for (int i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    // The offset is whole seconds, so a clock set within the second reads -1, 0 or 1.
    EXPECT_LE(std::abs(Sim(i).ClockOffset().count()), 1);
    EXPECT_EQ(run.doc["controllers"][i]["nad"], 10 + i);
    EXPECT_EQ(run.doc["controllers"][i]["rtc"].get<std::string>().size(), 20u);
  }

  const CliRun read = Run({"rtc"});
  ASSERT_EQ(read.exitCode, 0) << read.err;
  EXPECT_EQ(read.doc["controllers"].size(), 2u);
}

TEST_F(CliTest, ExportThenImportWriteCarriesValuesToAnotherController) {
  StartHost(2);
  Sim(0).WriteVar("temp", 0, 321);
  Sim(0).WriteVar("levels", 3, 44);
  const auto file = (dir_ / "values.xml").string();
  const auto direct = Direct(0);
  std::vector<std::string> args = {"export", file, "temp", "levels[3]", "setpoint", "nothere"};
  args.insert(args.end(), direct.begin(), direct.end());
  const CliRun exported = Run(args);
  EXPECT_EQ(exported.exitCode, 1) << "nothere is reported";
  std::string text = ReadWholeFile(file);
  EXPECT_EQ(text,
            "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<data>\r\n"
            "<var><name>c10.temp</name><value>321</value></var>\r\n"
            "<var><name>c10.levels[3]</name><value>44</value></var>\r\n"
            "<var><name>c10.setpoint</name><value>21.5</value></var>\r\n"
            "</data>\r\n");

  // The technician edits the NADs to carry the values to controller 11.
  for (size_t at; (at = text.find("c10.")) != std::string::npos;) text.replace(at, 4, "c11.");
  std::ofstream(file, std::ios::binary) << text;

  const CliRun shown = Run({"import", file});
  ASSERT_EQ(shown.exitCode, 0) << shown.err;
  EXPECT_EQ(Values(shown.doc).at("11 levels[3]")["value"], "44");
  EXPECT_EQ(Sim(1).ReadVar("temp"), static_cast<uint32_t>(static_cast<uint16_t>(-125)))
      << "showing writes nothing";

  const CliRun imported = Run({"import", file, "--write"});
  ASSERT_EQ(imported.exitCode, 0) << imported.out << imported.err;
  const auto values = Values(imported.doc);
  EXPECT_EQ(values.size(), 3u);
  for (const auto& [key, v] : values) EXPECT_EQ(v["verified"], true) << key;
  EXPECT_EQ(Sim(1).ReadVar("temp"), 321u);
  EXPECT_EQ(Sim(1).ReadVar("levels", 3), 44u);
  EXPECT_EQ(Sim(1).ReadVar("setpoint"), Sim(0).ReadVar("setpoint"));
}

TEST_F(CliTest, ImportOfAnUnreadableFileFails) {
  StartHost(1);
  const auto file = (dir_ / "broken.xml").string();
  std::ofstream(file) << "<data><var>";
  const CliRun run = Run({"import", file});
  EXPECT_EQ(run.exitCode, 1);
  ASSERT_EQ(run.doc["errors"].size(), 1u);
  EXPECT_EQ(run.doc["errors"][0]["message"], "Error parsing XML file.");
}

TEST_F(CliTest, ExitCodesForUsageAndMissingControllers) {
  StartHost(1);
  struct Case {
    std::vector<std::string> args;
    int exitCode;
  };
  const std::string ip = Sim(0).IP() + ":" + std::to_string(host_->Port());
  const std::vector<Case> cases = {
      {{"write", "temp"}, 2},
      {{"write", "=5"}, 2},
      {{"read", "temp", "--ip", ip}, 2},
      {{"read", "temp", "--ip", ip, "--nad", "10", "--nad", "11"}, 2},
      {{"read", "temp", "--nad", "99"}, 1},
      {{"read", "temp", "--nad", "10", "--ip", Sim(0).IP() + ":1"}, 1},
  };
  for (const Case& c : cases) {
    std::string joined;
    for (const auto& a : c.args) joined += a + " ";
    SCOPED_TRACE(joined);
    const CliRun run = Run(c.args);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.out << run.err;
  }
}

TEST_F(CliTest, TextOutputNamesUnknownValues) {
  StartHost(1);
  const auto direct = Direct(0);
  std::vector<std::string> args = {"read", "temp", "levels[x]"};
  args.insert(args.end(), direct.begin(), direct.end());
  const CliRun run = Run(args, false);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.out.find("-125"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("levels[x]"), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("levels[x]"), std::string::npos) << run.err;
}

TEST_F(CliTest, VarsListsEachControllersGlobalVariables) {
  StartHost(2);
  Sim(1).SetWithoutAlc(true);
  const CliRun run = Run({"vars"});
  EXPECT_EQ(run.exitCode, 1) << run.out << run.err;
  ASSERT_EQ(run.doc["controllers"].size(), 1u) << run.out;
  const json& c = run.doc["controllers"][0];
  EXPECT_EQ(c["nad"], 10);
  std::map<std::string, int> elements;
  for (const json& v : c["variables"]) ++elements[v["name"].get<std::string>()];
  EXPECT_EQ(elements["levels"], 10) << "one entry per array element";
  EXPECT_EQ(elements["temp"], 1);
  EXPECT_EQ(elements.count("tmp_local"), 0u) << "local variables are not listed";
  ASSERT_EQ(run.doc["errors"].size(), 1u);
  EXPECT_EQ(run.doc["errors"][0]["nad"], 11);
  EXPECT_EQ(run.doc["errors"][0]["message"], "ALC data not found!");
}

}  // namespace

TEST_F(CliTest, ScanListsEveryControllerWithItsOwnAddress) {
  StartHost(3);
  const CliRun run = Run({"scan"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::map<int, std::string> found;
  for (const json& c : run.doc["controllers"]) found[c["nad"].get<int>()] = c["ip"];
  EXPECT_EQ(found, (std::map<int, std::string>{
                       {10, "127.0.0.10"}, {11, "127.0.0.11"}, {12, "127.0.0.12"}}));
  // Keys in the documented order.
  EXPECT_EQ(run.out.rfind("{\"controllers\":[{\"nad\":", 0), 0u) << run.out;
}

TEST_F(CliTest, InfoReportsStatusHeadersFilesAndVariables) {
  StartHost(2);
  Sim(1).SetWithoutAlc(true);
  const CliRun ok = Run({"info", "--nad", "10"});
  ASSERT_EQ(ok.exitCode, 0) << ok.err;
  EXPECT_EQ(ok.doc["ip"], "127.0.0.10");
  EXPECT_EQ(ok.doc["plc_status"], "psRun");
  EXPECT_EQ(ok.doc["code_header"]["magic"], 0xCEB5);
  EXPECT_GT(ok.doc["variables"].get<int>(), 0);
  const CliRun noAlc = Run({"info", "--nad", "11"});
  ASSERT_EQ(noAlc.exitCode, 0) << noAlc.err;
  EXPECT_TRUE(noAlc.doc["variables"].is_null());
  const CliRun silent = Run({"info", "--nad", "99"});
  EXPECT_EQ(silent.exitCode, 1);
}
