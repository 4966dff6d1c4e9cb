// varnel-cli alc FILE: the listing of allocation files and of zip archives holding one,
// run as a program on files; no network.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/cli_runner.h"

namespace {

using nlohmann::json;

using AlcRun = clitest::CliResult;
using clitest::ReadWholeFile;

std::string Fixture(const std::string& name) {
  return std::string(VARNEL_TEST_DATA) + "/files/" + name;
}

class AlcCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ =
        std::filesystem::temp_directory_path() / ("varnel_alc_test_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  AlcRun Run(std::vector<std::string> args) {
    args.insert(args.begin(), "alc");
    return clitest::RunVarnelCli(args, dir_);
  }

  // A copy of a fixture with some bytes replaced.
  std::string Altered(const std::string& fixture, size_t offset, const std::string& bytesThere) {
    std::string bytes = ReadWholeFile(Fixture(fixture));
    bytes.replace(offset, bytesThere.size(), bytesThere);
    const auto path = dir_ / ("altered" + std::to_string(++altered_) + "_" + fixture);
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }

  std::filesystem::path dir_;
  int altered_ = 0;
};

TEST_F(AlcCommandTest, ArchivesOfStandardToolsAndTheTextListAlike) {
  const json level = json::parse(
      R"({"name":"Level","index":0,"count":1,"type":"int","scope":"global","visibility":"user",)"
      R"("access":"readonly","address":16,"real_address":16,"offset":0,"size":2,)"
      R"("description":"Tank level in mm"})");
  const json cycles1 = json::parse(
      R"({"name":"Cycles","index":1,"count":2,"type":"counterlong","scope":"global",)"
      R"("visibility":"user","access":"readwrite","address":68,"real_address":76,"offset":4,)"
      R"("size":4,"description":"Fill cycles"})");
  for (const char* file : {"plant.alc", "plant_infozip.zip", "plant_python.zip"}) {
    SCOPED_TRACE(file);
    const AlcRun run = Run({Fixture(file), "--json"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const json doc = json::parse(run.out);
    ASSERT_EQ(doc["variables"].size(), 11u) << run.out;
    EXPECT_EQ(doc["variables"][0], level);
    EXPECT_EQ(doc["variables"][10], cycles1);
    // Key order is part of the format scripts see.
    EXPECT_EQ(run.out.substr(0, 40), R"({"variables":[{"name":"Level","index":0,)");
  }
}

TEST_F(AlcCommandTest, ArraysAsSingleVariables) {
  const AlcRun run = Run({Fixture("plant_infozip.zip"), "--arrays-as-single", "--json"});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const json doc = json::parse(run.out);
  ASSERT_EQ(doc["variables"].size(), 7u);
  EXPECT_EQ(doc["variables"][1]["name"], "Pump");
  EXPECT_EQ(doc["variables"][1]["count"], 4);
}

TEST_F(AlcCommandTest, TheTableIsAligned) {
  const AlcRun run = Run({Fixture("plant.alc")});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = run.out.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(run.out.substr(start, end - start));
  ASSERT_EQ(lines.size(), 12u) << run.out;
  EXPECT_EQ(lines[0],
            "name       index  count  type         scope   visibility  access     address  "
            "real_address  offset  size  description");
  EXPECT_EQ(lines[1],
            "Level          0      1  int          global  user        readonly   0x0010   "
            "0x0010             0     2  Tank level in mm");
  EXPECT_EQ(lines[11],
            "Cycles         1      2  counterlong  global  user        readwrite  0x0044   "
            "0x004C             4     4  Fill cycles");
}

TEST_F(AlcCommandTest, Failures) {
  // Offsets in the archive's local header: 14 the CRC, 18 the compressed size, 22 the
  // uncompressed size.
  const struct {
    const char* name;
    std::string file;
    std::string message;
  } cases[] = {
      {"CRC mismatch", Altered("plant_infozip.zip", 14, "CRC!"), "CRC Error in \"plant.alc\"."},
      {"4 GiB member", Altered("plant_infozip.zip", 22, "\xFF\xFF\xFF\xFF"),
       "Member \"plant.alc\" is too large: 4294967295 bytes, at most 16777216"},
      {"member past the end", Altered("plant_infozip.zip", 18, std::string("\x00\x00\x00\x7F", 4)),
       "Member \"plant.alc\" runs past the end of the archive"},
      {"missing file", (dir_ / "missing.alc").string(),
       "Cannot read file \"" + (dir_ / "missing.alc").string() + "\": No such file or directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const AlcRun text = Run({c.file});
    EXPECT_EQ(text.exitCode, 1);
    EXPECT_EQ(text.out, "");
    EXPECT_EQ(text.err, "error: " + c.message + "\n");
    const AlcRun js = Run({c.file, "--json"});
    EXPECT_EQ(js.exitCode, 1);
    EXPECT_EQ(json::parse(js.out), (json{{"ok", false}, {"error", c.message}}));
  }
}

TEST_F(AlcCommandTest, AParseErrorNamesTheLine) {
  std::string text = ReadWholeFile(Fixture("plant.alc"));
  const size_t at = text.find("global bit");
  text.replace(at, 10, "global bool");
  const auto path = dir_ / "bad.alc";
  std::ofstream(path, std::ios::binary) << text;
  const AlcRun run = Run({path.string()});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "error: Error parsing ALC data on line 6\n");
}

TEST_F(AlcCommandTest, UsageErrors) {
  EXPECT_EQ(Run({}).exitCode, 2);
  EXPECT_EQ(Run({Fixture("plant.alc"), "--no-such-flag"}).exitCode, 2);
}

}  // namespace
