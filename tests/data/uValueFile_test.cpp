#include "data/uValueFile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <tuple>

#include "data/uText.h"

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

TEST(ValueFileRoundTrip, NadsAreUnsignedInTheFileAndReadBack) {
  // NADs are kept as the bit pattern of the unsigned number.
  const int32_t big = static_cast<int32_t>(3000000000u), top = -1;
  const std::string text = ValueFileText({{big, "a", "1"}, {top, "b", "2"}});
  EXPECT_NE(text.find("<name>c3000000000.a</name>"), std::string::npos) << text;
  EXPECT_NE(text.find("<name>c4294967295.b</name>"), std::string::npos) << text;
  const auto entries = Parse(text);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].NAD, big);
  EXPECT_EQ(entries[1].NAD, top);
  // Files written while NADs were printed signed name the same controller.
  const auto old =
      Parse(Doc("<data><var><name>c-1294967296.a</name><value>1</value></var>"
                "<var><name>c4294967296.a</name><value>1</value></var></data>"));
  ASSERT_EQ(old.size(), 1u) << "a NAD past 32 bits is no NAD";
  EXPECT_EQ(old[0].NAD, big);
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

TEST(ValueFileRead, EntriesThatCarryNothingAreSkippedAndSaidWhy) {
  using K = TValueFileSkipKind;
  struct Case {
    const char* what;
    std::string body;
    size_t count;
    std::vector<K> skipped;
  };
  const std::vector<Case> cases = {
      {"root named Data", "<Data><var><name>c1.a</name><value>1</value></var></Data>", 0, {}},
      {"no var elements", "<data><item><name>c1.a</name><value>1</value></item></data>", 0, {}},
      {"empty value",
       "<data><var><name>c1.a</name><value></value></var></data>",
       0,
       {K::vsEmptyValue}},
      {"blank value",
       "<data><var><name>c1.a</name><value> \t </value></var></data>",
       0,
       {K::vsEmptyValue}},
      {"missing value", "<data><var><name>c1.a</name></var></data>", 0, {K::vsEmptyValue}},
      {"missing name", "<data><var><value>1</value></var></data>", 0, {K::vsEmptyName}},
      {"nothing at all", "<data><var/></data>", 0, {K::vsEmptyName}},
      {"no full name",
       "<data><var><name>d1.a</name><value>1</value></var></data>",
       0,
       {K::vsNoFullName}},
      {"no full stop",
       "<data><var><name>c1a</name><value>1</value></var></data>",
       0,
       {K::vsNoFullName}},
      {"attributes, comments and blanks are ignored",
       "<data a='1'>\n  <!-- c -->\n  <var id='x'>\n    <name>c1.a</name>\n"
       "    <value><![CDATA[9]]></value>\n  </var>\n</data>",
       1,
       {}},
      {"only the first name counts",
       "<data><var><name>c1.a</name><name>c2.b</name><value>1</value></var></data>",
       1,
       {}},
      {"a skipped entry does not end the walk",
       "<data><var><name>x</name><value>1</value></var>"
       "<var><name>c1.a</name><value>2</value></var></data>",
       1,
       {K::vsNoFullName}},
      {"markup inside a name is skipped and the walk goes on",
       "<data><var><name>c1.a</name><value>1</value></var>"
       "<var><name><b>c1.b</b></name><value>2</value></var>"
       "<var><name>c1.c</name><value>3</value></var></data>",
       2,
       {K::vsMarkup}},
      {"markup inside a value too",
       "<data><var><name>c1.a</name><value>1<i/></value></var>"
       "<var><name>c1.c</name><value>3</value></var></data>",
       1,
       {K::vsMarkup}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<TValueFileEntry> entries;
    std::vector<TValueFileSkip> skipped;
    std::string error;
    ASSERT_TRUE(ParseValueFile(Doc(c.body), entries, error, &skipped));
    EXPECT_EQ(entries.size(), c.count);
    std::vector<K> kinds;
    for (const TValueFileSkip& k : skipped) kinds.push_back(k.Kind);
    EXPECT_EQ(kinds, c.skipped);
    // Without a list for them, the entries are the same.
    EXPECT_EQ(Parse(Doc(c.body)).size(), c.count);
  }
}

TEST(ValueFileRead, EachEntryAndEachSkipKnowsItsLine) {
  const std::string text =
      "<?xml version=\"1.0\"?>\n<data>\n"
      "<var><name>c1.a</name><value>1</value></var>\n"          // 3
      "<var><name> c1.b </name><value></value></var>\n"         // 4
      "<var><name>c1.<b>x</b>c</name><value>2</value></var>\n"  // 5
      "<var><name>c1.d</name><value>3<i/></value></var>\n"      // 6
      "<var><name>temp</name><value>4</value></var>\n"          // 7
      "<var>\n<name>c2.e</name><value>5</value></var>\n"        // 8
      "</data>\n";
  std::vector<TValueFileEntry> entries;
  std::vector<TValueFileSkip> skipped{{TValueFileSkipKind::vsMarkup, 99, "stale"}};
  std::string error;
  ASSERT_TRUE(ParseValueFile(text, entries, error, &skipped));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].Line, 3);
  EXPECT_EQ(entries[1].Line, 8);
  EXPECT_EQ(entries[1].Name, "e");
  ASSERT_EQ(skipped.size(), 4u);
  const std::tuple<TValueFileSkipKind, int, std::string> expected[] = {
      {TValueFileSkipKind::vsEmptyValue, 4, "c1.b"},
      {TValueFileSkipKind::vsMarkup, 5, ""},  // a name broken by markup is not shown
      {TValueFileSkipKind::vsMarkup, 6, "c1.d"},
      {TValueFileSkipKind::vsNoFullName, 7, "temp"}};
  for (size_t i = 0; i < skipped.size(); ++i) {
    EXPECT_EQ(std::make_tuple(skipped[i].Kind, skipped[i].Line, skipped[i].Name), expected[i]) << i;
  }

  // A document that is not well-formed names nothing: none of it is used.
  EXPECT_FALSE(ParseValueFile(text + "<extra/>", entries, error, &skipped));
  EXPECT_TRUE(entries.empty());
  EXPECT_TRUE(skipped.empty());
}

TEST(ValueFileRead, DocumentsThatAreNotWellFormedGiveTheParseErrorAndNoEntry) {
  const std::string good = Doc("<data><var><name>c1.a</name><value>1</value></var></data>");
  struct Case {
    const char* what;
    std::string text;
  };
  std::vector<Case> cases = {
      {"empty", ""},
      {"no markup", "not xml"},
      {"only the declaration", "<?xml version=\"1.0\"?>"},
      {"a bare ampersand", Doc("<data><var><name>c1.a</name><value>1 & 2</value></var></data>")},
      {"a bare less-than", Doc("<data><var><name>c1.a<b</name><value>1</value></var></data>")},
      {"text after the root", good + "trailing text"},
      {"a second root", good + "<data/>"},
      {"an unclosed root", Doc("<data><var><name>c1.a</name><value>1</value></var>")},
      {"mismatched tags", Doc("<data><var><name>c1.a</value></var></data>")},
      {"an attribute without quotes", Doc("<data a=1></data>")},
      {"a repeated attribute", Doc("<data a='1' a='2'></data>")},
      {"an undefined entity", Doc("<data><var><name>c1.a</name><value>&x;</value></var></data>")},
      {"a reference to no character", Doc("<data>&#0;</data>")},
      {"a control character", Doc("<data>\x01</data>")},
      {"a NUL byte", Doc(std::string("<data>\0</data>", 14))},
      {"a CDATA end in text", Doc("<data>]]></data>")},
      {"a declaration after the start", "\n<?xml version=\"1.0\"?><data/>"},
      {"a double hyphen in a comment", Doc("<data><!-- a -- b --></data>")},
  };
  // Cuts of a good document short of its end.
  for (size_t n : {size_t{10}, size_t{30}, good.size() / 2, good.size() - 1}) {
    cases.push_back({"truncated", good.substr(0, n)});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<TValueFileEntry> entries = {TValueFileEntry{}};
    std::string error;
    EXPECT_FALSE(ParseValueFile(c.text, entries, error)) << c.text;
    EXPECT_EQ(error, "Error parsing XML file.");
    EXPECT_TRUE(entries.empty()) << "nothing is taken from a malformed file";
  }
}

TEST(ValueFileRead, AFaultPastTheFirstPieceStillRefusesTheWholeFile) {
  // The good entries come first; the fault lies beyond the first piece the parser is fed.
  std::string text = Doc("<data>");
  while (text.size() < (3u << 20)) text += "<var><name>c1.a</name><value>1</value></var>\r\n";
  text += "<var><name>c1.b</name><value>&</value></var></data>";
  EXPECT_TRUE(Parse(text, false).empty());
}

namespace {

// Encodes UTF-8 text as UTF-16 with a byte-order mark.
std::string Utf16(const std::string& utf8, bool bigEndian) {
  std::string out;
  auto unit = [&](uint32_t u) {
    const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
    out += bigEndian ? hi : lo;
    out += bigEndian ? lo : hi;
  };
  unit(0xFEFF);
  for (size_t i = 0; i < utf8.size();) {
    const uint32_t cp = NextCodePoint(utf8, i);
    if (cp >= 0x10000) {
      unit(0xD800 + ((cp - 0x10000) >> 10));
      unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      unit(cp);
    }
  }
  return out;
}

}  // namespace

TEST(ValueFileRead, TheDeclaredEncodingApplies) {
  const auto file = [](const std::string& declaration, const std::string& name,
                       const std::string& value) {
    return declaration + "<data><var><name>c1." + name + "</name><value>" + value +
           "</value></var></data>";
  };
  const auto decl = [](const std::string& encoding) {
    return "<?xml version=\"1.0\" encoding=\"" + encoding + "\"?>";
  };
  struct Case {
    const char* what;
    std::string bytes;
    std::string name = "", value = "";  // as UTF-8
  };
  const std::vector<Case> cases = {
      {"UTF-8 declared", file(decl("UTF-8"), "t\xC3\xA9mp", "\xE2\x82\xAC"), "t\xC3\xA9mp",
       "\xE2\x82\xAC"},
      {"UTF-8 by default", file("", "\xC3\xBC", "\xF0\x9F\x98\x80"), "\xC3\xBC",
       "\xF0\x9F\x98\x80"},
      {"UTF-8 with a byte-order mark", "\xEF\xBB\xBF" + file(decl("UTF-8"), "\xC3\xA9", "1"),
       "\xC3\xA9", "1"},
      {"UTF-16 little-endian", Utf16(file(decl("UTF-16"), "t\xC3\xA9", "\xE2\x82\xAC"), false),
       "t\xC3\xA9", "\xE2\x82\xAC"},
      {"UTF-16 big-endian", Utf16(file(decl("UTF-16"), "t\xC3\xA9", "\xF0\x9F\x98\x80"), true),
       "t\xC3\xA9", "\xF0\x9F\x98\x80"},
      {"UTF-16 undeclared", Utf16(file("", "\xC3\xA9", "1"), true), "\xC3\xA9", "1"},
      {"ISO-8859-1", file(decl("ISO-8859-1"), "t\xE9", "\xFC\x80"), "t\xC3\xA9",
       "\xC3\xBC\xC2\x80"},
      {"iso-8859-1 in lower case", file(decl("iso-8859-1"), "\xE9", "1"), "\xC3\xA9", "1"},
      {"windows-1252", file(decl("windows-1252"), "\x9C\xE9", "5\x80"), "\xC5\x93\xC3\xA9",
       "5\xE2\x82\xAC"},
      {"windows-1252's undefined bytes", file(decl("Windows-1252"), "a\x81", "\x9D"), "a\xC2\x81",
       "\xC2\x9D"},
      {"cp1252", file(decl("CP1252"), "\x8A", "\x99"), "\xC5\xA0", "\xE2\x84\xA2"},
      {"US-ASCII", file(decl("US-ASCII"), "plain", "1"), "plain", "1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto entries = Parse(c.bytes);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].Name, c.name);
    EXPECT_EQ(entries[0].Value, c.value);
  }

  const std::vector<Case> refused = {
      {"an encoding the reader does not know", file(decl("KOI8-R"), "a", "1")},
      {"an encoding that does not exist", file(decl("x-no-such"), "a", "1")},
      {"8-bit text without a declaration", file("", "t\xE9", "1")},
      {"8-bit text declared UTF-8", file(decl("UTF-8"), "t\xE9", "1")},
      {"an overlong UTF-8 form", file(decl("UTF-8"), "\xC0\xAF", "1")},
      {"US-ASCII holding an 8-bit byte", file(decl("US-ASCII"), "\xE9", "1")},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.what);
    Parse(c.bytes, false);
  }
}

TEST(ValueFileRead, EntityDeclarationsAreRefusedSoNothingExpands) {
  // Ten levels of ten: a gigabyte of "lol" from under a kilobyte.
  std::string laughs = "<?xml version=\"1.0\"?>\n<!DOCTYPE data [\n<!ENTITY l0 \"lol\">\n";
  for (int i = 1; i <= 10; ++i) {
    laughs += "<!ENTITY l" + std::to_string(i) + " \"";
    for (int k = 0; k < 10; ++k) laughs += "&l" + std::to_string(i - 1) + ";";
    laughs += "\">\n";
  }
  laughs += "]>\n<data><var><name>c1.a</name><value>&l10;</value></var></data>";
  Parse(laughs, false);

  // Any entity of the document's own, however small; parameter and external ones alike.
  for (const std::string& subset :
       {std::string("<!ENTITY v \"1\">"), std::string("<!ENTITY % p \"\">"),
        std::string("<!ENTITY v SYSTEM \"file:///etc/hostname\">")}) {
    SCOPED_TRACE(subset);
    Parse(Doc("<!DOCTYPE data [" + subset +
              "]><data><var><name>c1.a</name><value>&v;</value></var></data>"),
          false);
  }

  // A document type without entities does no harm.
  const auto entries =
      Parse(Doc("<!DOCTYPE data [<!ELEMENT data ANY>]><data><var>"
                "<name>c1.a</name><value>1</value></var></data>"));
  EXPECT_EQ(entries.size(), 1u);
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

class ValueFileOnDisk : public ::testing::Test {
 protected:
  void TearDown() override { std::filesystem::remove(path_); }
  std::filesystem::path path_ = std::filesystem::temp_directory_path() /
                                ("varnel_valuefile_disk_" + std::to_string(::getpid()) + ".xml");
};

TEST_F(ValueFileOnDisk, ALargeFileIsReadInPiecesWithEveryEntry) {
  // Entries of varying length, so that the pieces of the file cut names, values and
  // markup at every kind of place.
  std::vector<TValueFileVar> vars;
  for (int i = 0; i < 40000; ++i) {
    vars.push_back({i, "v" + std::string(static_cast<size_t>(i % 37), 'x'), std::to_string(i)});
  }
  std::string error;
  ASSERT_TRUE(SaveValueFile(path_.string(), vars, error)) << error;
  ASSERT_GT(std::filesystem::file_size(path_), 20u * 65536);
  std::vector<TValueFileEntry> entries;
  ASSERT_TRUE(LoadValueFile(path_.string(), entries, error)) << error;
  ASSERT_EQ(entries.size(), vars.size());
  for (size_t i = 0; i < vars.size(); ++i) {
    ASSERT_EQ(entries[i].NAD, vars[i].NAD);
    ASSERT_EQ(entries[i].Name, vars[i].Name);
    ASSERT_EQ(entries[i].Value, vars[i].Value);
  }
}

TEST_F(ValueFileOnDisk, AFileOver64MiBIsRefusedBeforeItIsRead) {
  // Sparse: the size is what counts, not what was written.
  const std::string head = ValueFileText({{1, "a", "1"}});
  {
    std::ofstream out(path_, std::ios::binary);
    out << head;
  }
  std::filesystem::resize_file(path_, 64u * 1024 * 1024 + 1);
  std::vector<TValueFileEntry> entries;
  std::string error;
  EXPECT_FALSE(LoadValueFile(path_.string(), entries, error));
  EXPECT_EQ(error, "Cannot read file \"" + path_.string() + "\": larger than 67108864 bytes");
  EXPECT_TRUE(entries.empty());

  // At the bound the size is no reason; the zero bytes after the document are.
  std::filesystem::resize_file(path_, 64u * 1024 * 1024);
  EXPECT_FALSE(LoadValueFile(path_.string(), entries, error));
  EXPECT_EQ(error, "Error parsing XML file.");
}

TEST_F(ValueFileOnDisk, ADirectoryIsNoValueFile) {
  std::vector<TValueFileEntry> entries;
  std::string error;
  EXPECT_FALSE(LoadValueFile(std::filesystem::temp_directory_path().string(), entries, error));
  EXPECT_EQ(error, "Error parsing XML file.");
}
