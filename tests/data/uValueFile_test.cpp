#include "data/uValueFile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

const std::string kHead = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<data>\r\n";
const std::string kTail = "</data>\r\n";

std::vector<TValueFileEntry> Parse(const std::string& text, bool expectOk = true) {
  std::vector<TValueFileEntry> entries;
  std::string error;
  EXPECT_EQ(ParseValueFile(text, entries, error), expectOk) << text;
  if (!expectOk) {
    EXPECT_EQ(error, "Error parsing XML file.");
  }
  return entries;
}

std::string Doc(const std::string& body) {
  return "<?xml version=\"1.0\"?>\n" + body;
}

}  // namespace

TEST(ValueFileWrite, ExactLines) {
  EXPECT_EQ(ValueFileText({}), kHead + kTail);
  EXPECT_EQ(ValueFileText({{12, "temp_set", "5"}, {3, "levels[3]", "0.100000001490116"}}),
            kHead + "<var><name>c12.temp_set</name><value>5</value></var>\r\n" +
                "<var><name>c3.levels[3]</name><value>0.100000001490116</value></var>\r\n" + kTail);
}

TEST(ValueFileWrite, UnknownValuesAreLeftOut) {
  EXPECT_EQ(ValueFileText({{1, "a", ""}, {1, "b", "?"}}), kHead + kTail);
  EXPECT_EQ(ValueFileText({{1, "a",
                            "?"
                            "?"}}),
            kHead +
                "<var><name>c1.a</name><value>?"
                "?</value></var>\r\n" +
                kTail);
}

TEST(ValueFileWrite, TextIsLatin1WithReservedCharactersEscaped) {
  // U+00E9 is one byte in ISO-8859-1; U+20AC is not in it and becomes a reference.
  EXPECT_EQ(ValueFileText({{7, "t\xC3\xA9mp", "a<b&c>d \xE2\x82\xAC"}}),
            kHead +
                "<var><name>c7.t\xE9mp</name><value>a&lt;b&amp;c&gt;d &#8364;</value></var>\r\n" +
                kTail);
  // Bytes that are no UTF-8 are kept as the 8-bit characters they are.
  EXPECT_EQ(ValueFileText({{7, "x", "\xE9"}}),
            kHead + "<var><name>c7.x</name><value>\xE9</value></var>\r\n" + kTail);
}

TEST(ValueFileRoundTrip, EveryExportedValueImportsAgain) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"temp", "215"},
      {"levels[3]", "-0.5"},
      {"a&b", "x<y"},
      {"q>r", "]]>"},
      {"caf\xC3\xA9", "\xC3\xBC\xC3\x9F"},
      {"euro", "5 \xE2\x82\xAC"},
      {"emoji", "\xF0\x9F\x98\x80"},
      {"lines", "one\r\ntwo\tthree"},
      {"quotes", "'\"&amp;"},
  };
  std::vector<TValueFileVar> vars;
  for (const auto& [name, value] : cases) vars.push_back({42, name, value});
  const auto entries = Parse(ValueFileText(vars));
  ASSERT_EQ(entries.size(), cases.size());
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].first);
    EXPECT_EQ(entries[i].NAD, 42);
    EXPECT_EQ(ValueFileKey(entries[i]), cases[i].first);
    EXPECT_EQ(entries[i].Value, cases[i].second);
  }
}

TEST(ValueFileRead, FullNamesAreTakenApart) {
  const auto entries =
      Parse(Doc("<data><var><name>c12.levels[03]</name><value>7</value></var>"
                "<var><name>C5.temp</name><value> 1.5 </value></var>"
                "<var><name>c5.arr[x]</name><value>2</value></var></data>"));
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].NAD, 12);
  EXPECT_EQ(entries[0].Name, "levels");
  EXPECT_TRUE(entries[0].HasIndex);
  EXPECT_EQ(entries[0].Index, 3);
  EXPECT_EQ(ValueFileKey(entries[0]), "levels[3]");
  EXPECT_EQ(entries[1].NAD, 5);
  EXPECT_FALSE(entries[1].HasIndex);
  EXPECT_EQ(entries[1].Value, "1.5");
  EXPECT_EQ(ValueFileKey(entries[2]), "arr[x]");
  EXPECT_FALSE(entries[2].HasIndex);
}

TEST(ValueFileRead, EntriesThatCarryNothingAreSkipped) {
  struct Case {
    const char* what;
    std::string body;
    size_t count;
  };
  const std::vector<Case> cases = {
      {"root named Data", "<Data><var><name>c1.a</name><value>1</value></var></Data>", 0},
      {"no var elements", "<data><item><name>c1.a</name><value>1</value></item></data>", 0},
      {"empty value", "<data><var><name>c1.a</name><value></value></var></data>", 0},
      {"blank value", "<data><var><name>c1.a</name><value> \t </value></var></data>", 0},
      {"missing value", "<data><var><name>c1.a</name></var></data>", 0},
      {"missing name", "<data><var><value>1</value></var></data>", 0},
      {"no full name", "<data><var><name>d1.a</name><value>1</value></var></data>", 0},
      {"no full stop", "<data><var><name>c1a</name><value>1</value></var></data>", 0},
      {"attributes, comments and blanks are ignored",
       "<data a='1'>\n  <!-- c -->\n  <var id='x'>\n    <name>c1.a</name>\n"
       "    <value><![CDATA[9]]></value>\n  </var>\n</data>",
       1},
      {"only the first name counts",
       "<data><var><name>c1.a</name><name>c2.b</name><value>1</value></var></data>", 1},
      {"a skipped entry does not end the walk",
       "<data><var><name>x</name><value>1</value></var>"
       "<var><name>c1.a</name><value>2</value></var></data>",
       1},
      {"markup inside a name ends the walk",
       "<data><var><name>c1.a</name><value>1</value></var>"
       "<var><name><b>c1.b</b></name><value>2</value></var>"
       "<var><name>c1.c</name><value>3</value></var></data>",
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Parse(Doc(c.body)).size(), c.count);
  }
}

TEST(ValueFileRead, UnreadableDocumentsGiveTheParseError) {
  for (const std::string& text :
       {std::string(), std::string("not xml"), Doc("<data><var><name>c1.a<b</name></var></data>"),
        Doc("<data><var>"), Doc("<data></data><data/>")}) {
    Parse(text, false);
  }
}

TEST(ValueFileRead, DeclaredEncodingApplies) {
  const auto latin1 = Parse(kHead + "<var><name>c1.t\xE9</name><value>\xFC</value></var>" + kTail);
  ASSERT_EQ(latin1.size(), 1u);
  EXPECT_EQ(latin1[0].Name, "t\xC3\xA9");
  EXPECT_EQ(latin1[0].Value, "\xC3\xBC");
  const auto utf8 = Parse(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><data><var><name>c1.t\xC3\xA9</name>"
      "<value>1</value></var></data>");
  ASSERT_EQ(utf8.size(), 1u);
  EXPECT_EQ(utf8[0].Name, "t\xC3\xA9");
}

TEST(ValueFileFiles, SaveReplacesAndLoadReadsBack) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("varnel_valuefile_" + std::to_string(::getpid()) + ".xml");
  std::string error;
  { std::ofstream(path) << "old content that is longer than the new file"; }
  ASSERT_TRUE(SaveValueFile(path.string(), {{3, "x", "1"}}, error)) << error;
  std::ifstream in(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(bytes, ValueFileText({{3, "x", "1"}}));
  std::vector<TValueFileEntry> entries;
  ASSERT_TRUE(LoadValueFile(path.string(), entries, error));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].Value, "1");
  std::filesystem::remove(path);

  EXPECT_FALSE(LoadValueFile(path.string(), entries, error));
  EXPECT_EQ(error, "Error parsing XML file.");
  EXPECT_FALSE(SaveValueFile((path / "no" / "such.xml").string(), {}, error));
  EXPECT_NE(error.find("such.xml"), std::string::npos);
}
