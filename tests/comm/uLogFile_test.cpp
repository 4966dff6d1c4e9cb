// The debug log's file: which folder it goes to, the state folder made on first use, and
// a log that cannot be written handed to the front-ends once.
#include "comm/uLogFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

namespace fs = std::filesystem;

struct ChoiceCase {
  const char* what;
  bool exeDirWritable;
  const char* stateHome;
  const char* expected;
};

class ChooseLogFilePathTest : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(ChooseLogFilePathTest, BesideTheProgramElseInTheUsersStateFolder) {
  const ChoiceCase& c = GetParam();
  EXPECT_EQ(ChooseLogFilePath("/opt/varnel/bin", c.exeDirWritable, c.stateHome, "/home/tech"),
            c.expected)
      << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Folders, ChooseLogFilePathTest,
    ::testing::Values(ChoiceCase{"a folder the user may write", true, "/home/tech/state",
                                 "/opt/varnel/bin/q-link.log"},
                      ChoiceCase{"an installed program, XDG_STATE_HOME set", false,
                                 "/home/tech/state", "/home/tech/state/varnel/q-link.log"},
                      ChoiceCase{"an installed program, XDG_STATE_HOME unset", false, "",
                                 "/home/tech/.local/state/varnel/q-link.log"},
                      ChoiceCase{"a relative XDG_STATE_HOME is ignored", false, "state",
                                 "/home/tech/.local/state/varnel/q-link.log"}));

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class LogFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(::testing::TempDir()) /
           ("varnel_logfile_" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    SetLogFilePath("");
    fs::remove_all(dir_);
  }

  // A path no one can open, root included: its folder is a plain file.
  std::string Unopenable() {
    std::ofstream(dir_ / "plain-file") << "x";
    return (dir_ / "plain-file" / "q-link.log").string();
  }

  fs::path dir_;
};

TEST_F(LogFileTest, AMissingFolderIsMadeForTheUserAloneAndLinesAreAppended) {
  const fs::path log = dir_ / "state" / "varnel" / "q-link.log";
  SetLogFilePath(log.string());
  ASSERT_TRUE(CheckLogFile());
  ASSERT_TRUE(fs::exists(log));
  EXPECT_EQ(fs::file_size(log), 0u) << "checking writes nothing";
  struct stat info {};
  ASSERT_EQ(stat(log.parent_path().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);

  EXPECT_TRUE(AppendToLogFile("one\r\n"));
  EXPECT_TRUE(AppendToLogFile("two\r\n"));
  EXPECT_EQ(ReadFile(log), "one\r\ntwo\r\n");
  EXPECT_FALSE(TakeLogFileFailure());
}

TEST_F(LogFileTest, ALogThatCannotBeOpenedIsHandedOutOnceWithItsPathAndReason) {
  const std::string path = Unopenable();
  SetLogFilePath(path);
  EXPECT_FALSE(AppendToLogFile("lost\r\n"));
  EXPECT_FALSE(CheckLogFile());
  EXPECT_FALSE(AppendToLogFile("lost too\r\n"));

  const auto failure = TakeLogFileFailure();
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->Path, path);
  EXPECT_EQ(failure->Error, ENOTDIR);
  EXPECT_FALSE(AppendToLogFile("and again\r\n"));
  EXPECT_FALSE(TakeLogFileFailure()) << "one report for a log that keeps failing";

  // Another path is another log, with a report of its own.
  SetLogFilePath((dir_ / "plain-file" / "other.log").string());
  EXPECT_FALSE(CheckLogFile());
  EXPECT_TRUE(TakeLogFileFailure());
}

}  // namespace
