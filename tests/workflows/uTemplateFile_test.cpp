// The template file: which sections become tabs and which keys become columns.
#include "workflows/uTemplateFile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

struct Tab {
  std::string name, description;
  std::vector<std::string> vars;
};

TEST(Templates, SectionsBecomeTabsInFileOrderWithTheirVariablesUpToTheFirstGap) {
  struct Case {
    const char* what;
    const char* text;
    std::vector<Tab> tabs;
  } cases[] = {
      {"file order, description, Var0..",
       "[Pumps]\nDescription=Pump values\nVar0=setpoint\nVar1=levels[3]\n[Alarms]\nVar0=flag\n",
       {{"Pumps", "Pump values", {"setpoint", "levels[3]"}}, {"Alarms", "", {"flag"}}}},
      {"a gap ends the list", "[T]\nVar0=a\nVar1=b\nVar3=d\n", {{"T", "", {"a", "b"}}}},
      {"no Var0: no variable columns", "[T]\nDescription=d\nVar1=b\n", {{"T", "d", {}}}},
      {"keys in any order", "[T]\nVar1=b\nVar0=a\n", {{"T", "", {"a", "b"}}}},
      {"\"General\" is no tab", "[General]\nVar0=a\n[T]\nVar0=b\n", {{"T", "", {"b"}}}},
      {"\"general\" is one", "[general]\nVar0=b\n", {{"general", "", {"b"}}}},
      {"\" General \" is \"General\"", "[ General ]\nVar0=b\n", {}},
      {"key names without regard to case",
       "[T]\nDESCRIPTION=up\nvar0=a\nVAR1=b\nVaR2=c\n",
       {{"T", "up", {"a", "b", "c"}}}},
      {"blanks around names and values",
       "  [ Pumps ]  \n  Var0  =  temp_set  \r\nDescription = two words \r\n",
       {{"Pumps", "two words", {"temp_set"}}}},
      {"a key with blanks before it is a key, not more of the value above",
       "[T]\nVar0=pressure\n  Var1=temperature\n\tVar2=flow\n",
       {{"T", "", {"pressure", "temperature", "flow"}}}},
      {"an indented section after a key is a section",
       "[A]\nVar0=a\n  [B]\n  Var0=b\n",
       {{"A", "", {"a"}}, {"B", "", {"b"}}}},
      {"indented comments stay comments",
       "[T]\nVar0=a\n  ; Var1=x\n\t# Var1=y\nVar1=b\n",
       {{"T", "", {"a", "b"}}}},
      {"a section without keys is a tab",
       "[Empty]\n[Next]\nVar0=a\n",
       {{"Empty", "", {}}, {"Next", "", {"a"}}}},
      {"the same section twice is one tab at its first place",
       "[A]\nVar0=a\n[B]\n[a]\nVar1=b\n",
       {{"A", "", {"a", "b"}}, {"B", "", {}}}},
      {"the first of a repeated key counts", "[T]\nVar0=a\nvar0=z\n", {{"T", "", {"a"}}}},
      {"comments and keys before any section",
       "Var0=x\n; note\n[T]\n# other\nVar0=a ; why\n",
       {{"T", "", {"a"}}}},
      {"a long section name is kept whole",
       "[A section name that is longer than fifty characters, all of it]\nVar0=a\n",
       {{"A section name that is longer than fifty characters, all of it", "", {"a"}}}},
      {"a byte-order mark", "\xEF\xBB\xBF[T]\nVar0=a\n", {{"T", "", {"a"}}}},
      {"empty text", "", {}},
  };
  for (const Case& c : cases) {
    const auto tabs = ParseTemplates(c.text);
    ASSERT_EQ(tabs.size(), c.tabs.size()) << c.what;
    for (size_t i = 0; i < tabs.size(); ++i) {
      EXPECT_EQ(tabs[i].Name, c.tabs[i].name) << c.what;
      EXPECT_EQ(tabs[i].Description, c.tabs[i].description) << c.what;
      EXPECT_EQ(tabs[i].VarNames, c.tabs[i].vars) << c.what;
    }
  }
}

TEST(Templates, ALineTooLongForTheReaderIsSkippedWholeAndNamed) {
  const std::string text = "[T]\nDescription=" + std::string(400, 'x') + "\nVar0=a\n";
  std::vector<std::string> warnings;
  const auto tabs = ParseTemplates(text, &warnings);
  ASSERT_EQ(tabs.size(), 1u);
  EXPECT_EQ(tabs[0].Description, "");
  EXPECT_EQ(tabs[0].VarNames, std::vector<std::string>{"a"});
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0], "template line 2 is too long and was ignored");
}

TEST(Templates, AMissingFileGivesNoTabs) {
  EXPECT_TRUE(LoadTemplates("/nonexistent/varnel.ini").empty());
}

TEST(Templates, TheFileLiesBesideTheExecutable) {
  EXPECT_EQ(TemplateFileName("/opt/varnel/bin/varnel"), "/opt/varnel/bin/varnel.ini");
  EXPECT_EQ(TemplateFileName("/opt/v.1/varnel.exe"), "/opt/v.1/varnel.ini");

  const auto path = std::filesystem::temp_directory_path() / "workflows_template_test.ini";
  std::ofstream(path) << "[Pumps]\nVar0=setpoint\n";
  const auto tabs = LoadTemplates(path.string());
  std::filesystem::remove(path);
  ASSERT_EQ(tabs.size(), 1u);
  EXPECT_EQ(tabs[0].VarNames, std::vector<std::string>{"setpoint"});
}

}  // namespace
