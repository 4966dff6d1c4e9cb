// The allocation file parser of TTarvoVarList.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "data/uTarvoVars.h"

namespace {

const std::string kMarker = ";CPU Tarvo-2 V2.40";

// One variable in one line: "Level 0010+0 [0/1] size 2 int global user readonly
// 'Tank level in mm'".
std::string Show(const TTarvoVar& v) {
  char address[32];
  std::snprintf(address, sizeof address, "%04X+%d", static_cast<uint32_t>(v.Address()), v.Offset());
  std::ostringstream s;
  s << v.Name() << " " << address << " [" << v.ArrayIndex() << "/" << v.ArrayCount() << "] size "
    << v.Size() << " " << TypWord(v.Typ()) << " " << ScopeWord(v.Scope()) << " "
    << (v.Visibility() == vvUser ? "user" : "system") << " "
    << (v.AccessType() == vaReadOnly ? "readonly" : "readwrite") << " '" << v.Description() << "'";
  return s.str();
}

std::vector<std::string> Shown(const TTarvoVarList& list) {
  std::vector<std::string> out;
  for (int i = 0; i < list.Count(); ++i) out.push_back(Show(*list.Items(i)));
  return out;
}

struct AlcCase {
  const char* name;
  std::vector<std::string> lines;
  std::vector<std::string> vars;  // what the list holds afterwards
  int errorLine = -1;             // the line the parser reports, -1 for none
  bool arraysAsSingle = false;
  int32_t nad = 5;
};

// The outcome as one comparable text: the variables, then the error if any.
std::vector<std::string> Parse(const AlcCase& c) {
  TTarvoVarList list;
  std::vector<std::string> out;
  try {
    list.LoadFromStr(c.lines, c.nad, c.arraysAsSingle);
    out = Shown(list);
  } catch (const EAlcParseError& e) {
    out = Shown(list);
    out.push_back(e.what());
    EXPECT_EQ(e.Line(), c.errorLine);
  }
  return out;
}

std::vector<std::string> Expected(const AlcCase& c) {
  std::vector<std::string> out = c.vars;
  if (c.errorLine >= 0)
    out.push_back("Error parsing ALC data on line " + std::to_string(c.errorLine));
  return out;
}

const std::string kLevel = "0010 3 1 0 2 global int Level Tank level in mm";
const std::string kLevelVar =
    "Level 0010+0 [0/1] size 2 int global user readonly 'Tank level in mm'";

std::vector<AlcCase> Cases() {
  return {
      {"a three-word description", {kMarker, kLevel}, {kLevelVar}},
      {"count 4 gives four elements",
       {kMarker, "0010 3 4 0 2 global int Level Tank level in mm"},
       {"Level 0010+0 [0/4] size 2 int global user readonly 'Tank level in mm'",
        "Level 0010+0 [1/4] size 2 int global user readonly 'Tank level in mm'",
        "Level 0010+0 [2/4] size 2 int global user readonly 'Tank level in mm'",
        "Level 0010+0 [3/4] size 2 int global user readonly 'Tank level in mm'"}},
      {"count 4 as one array",
       {kMarker, "0010 3 4 0 2 global int Level Tank level in mm"},
       {"Level 0010+0 [0/4] size 2 int global user readonly 'Tank level in mm'"},
       -1,
       true},
      {"capitals and no description",
       {kMarker, "00A0 0 1 0 1 GLOBAL BIT Flag"},
       {"Flag 00A0+0 [0/1] size 1 bit global system readwrite ''"}},
      {"every type word",
       {kMarker, "1 2 1 0 1 global Bit a", "2 2 1 0 2 global WORD b", "3 2 1 0 2 global int c",
        "4 2 1 0 4 global long d", "5 2 1 0 4 global real e", "6 2 1 0 4 global timer f",
        "7 2 1 0 4 global counter g", "8 2 1 0 4 global void h", "9 2 1 0 4 global timerbit i",
        "A 2 1 0 4 global timerlong j", "B 2 1 0 4 global counterbit k",
        "C 2 1 0 4 global counterlong l"},
       {"a 0001+0 [0/1] size 1 bit global user readwrite ''",
        "b 0002+0 [0/1] size 2 word global user readwrite ''",
        "c 0003+0 [0/1] size 2 int global user readwrite ''",
        "d 0004+0 [0/1] size 4 long global user readwrite ''",
        "e 0005+0 [0/1] size 4 real global user readwrite ''",
        "f 0006+0 [0/1] size 4 timer global user readwrite ''",
        "g 0007+0 [0/1] size 4 counter global user readwrite ''",
        "h 0008+0 [0/1] size 4 void global user readwrite ''",
        "i 0009+0 [0/1] size 4 timerbit global user readwrite ''",
        "j 000A+0 [0/1] size 4 timerlong global user readwrite ''",
        "k 000B+0 [0/1] size 4 counterbit global user readwrite ''",
        "l 000C+0 [0/1] size 4 counterlong global user readwrite ''"}},
      {"counterint is no type word", {kMarker, "1 2 1 0 4 global counterint x"}, {}, 1},
      {"flags: only the two low bits count",
       {kMarker, "10 FC 1 0 2 global int a", "12 FD 1 0 2 global int b",
        "14 FE 1 0 2 global int c"},
       {"a 0010+0 [0/1] size 2 int global system readwrite ''",
        "b 0012+0 [0/1] size 2 int global system readonly ''",
        "c 0014+0 [0/1] size 2 int global user readwrite ''"}},
      {"the line stops after its type word", {kMarker, "0010 3 1 0 2 global int"}, {}, 1},
      {"the line stops after its type word and a blank",
       {kMarker, "0010 3 1 0 2 global int "},
       {},
       1},
      {"unknown type word", {kMarker, "0010 3 1 0 2 global bool Flag"}, {}, 1},
      {"unknown scope word", {kMarker, "0010 3 1 0 2 static int Flag"}, {}, 1},
      {"local, reg and const add nothing",
       {kMarker, "0010 3 1 0 2 local int a", "0010 3 1 0 2 REG int b",
        "0010 3 1 0 2 global CONST c", kLevel},
       {kLevelVar}},
      {"ignored lines",
       {kMarker, "", "   ", "\t", ";Addr Flags Count", ";CPU anything", "ABC", "  lone", kLevel},
       {kLevelVar}},
      {"a lone semicolon is no address", {kMarker, "; a comment"}, {}, 1},
      {"a single word and a trailing blank", {kMarker, "ABC "}, {}, 1},
      {"count -1 fails", {kMarker, "0010 3 -1 0 2 global int Level"}, {}, 1},
      {"count 0 adds nothing", {kMarker, "0010 3 0 0 2 global int Level"}, {}},
      {"count 0 as one array",
       {kMarker, "0010 3 0 0 2 global int Level"},
       {"Level 0010+0 [0/0] size 2 int global user readonly ''"},
       -1,
       true},
      {"a negative count other than -1 adds nothing", {kMarker, "0010 3 -2 0 2 global int L"}, {}},
      {"size -1 fails", {kMarker, "0010 3 1 0 -1 global int Level"}, {}, 1},
      {"offset -1 fails", {kMarker, "0010 3 1 -1 2 global int Level"}, {}, 1},
      {"offset -2 is a value",
       {kMarker, "0010 3 1 -2 2 global int L"},
       {"L 0010+-2 [0/1] size 2 int global user readonly ''"}},
      {"address FFFFFFFF fails", {kMarker, "FFFFFFFF 3 1 0 2 global int Level"}, {}, 1},
      {"flags FFFFFFFF fail", {kMarker, "0010 FFFFFFFF 1 0 2 global int Level"}, {}, 1},
      {"an address with a prefix fails", {kMarker, "0x10 3 1 0 2 global int Level"}, {}, 1},
      {"decimal columns take hexadecimal prefixes",
       {kMarker, "0010 3 $2 x4 0X2 global int L"},
       {"L 0010+4 [0/2] size 2 int global user readonly ''",
        "L 0010+4 [1/2] size 2 int global user readonly ''"}},
      {"a column that is not a number", {kMarker, "0010 3 one 0 2 global int L"}, {}, 1},
      {"lines before the marker are not parsed",
       {"garbage", "; more garbage", kMarker, kLevel},
       {kLevelVar}},
      {"no marker, no variables", {kLevel, kLevel}, {}},
      {"NAD -1 parses from the first line", {"some garbage", kMarker, kLevel}, {}, 0, false, -1},
      {"NAD -1 without a marker", {kLevel}, {kLevelVar}, -1, false, -1},
      {"the marker is case-sensitive", {";cpu tarvo-2 V2", kLevel}, {}},
      {"the marker needs its blank", {";CPU Tarvo-2", kLevel}, {}},
      {"a marker inside another line makes that line parsed",
       {"xyz ;CPU Tarvo-2 V2", kLevel},
       {},
       0},
      {"a malformed third line",
       {kMarker, kLevel, "0010 3 1 0 2 global bool Bad", kLevel},
       {kLevelVar},
       2},
      {"a second marker", {kMarker, kLevel, kMarker, kLevel}, {kLevelVar, kLevelVar}},
      {"blanks and tabs around columns",
       {kMarker, "  0010   3 1\t 0 2   global   int  Level   Tank   level \t "},
       {"Level 0010+0 [0/1] size 2 int global user readonly 'Tank   level'"}},
      {"tabs alone separate no columns", {kMarker, "0010\t3\t1\t0\t2\tglobal\tint\tLevel"}, {}},
      {"tabs and a blank further on", {kMarker, "0010\t3\t1\t0\t2\tglobal\tint Level"}, {}, 1},
      {"names and descriptions outside ASCII",
       {kMarker,
        "0010 3 1 0 2 global int Temp\xC2\xB0 Temperatur in \xC2\xB0"
        "C"},
       {"Temp\xC2\xB0 0010+0 [0/1] size 2 int global user readonly 'Temperatur in \xC2\xB0"
        "C'"}},
      // Arrays beyond what a 16-bit data memory holds are refused.
      {"65536 elements at most", {kMarker, "0010 3 65537 0 1 global bit big"}, {}, 1},
      {"a huge count as one array",
       {kMarker, "0010 3 2147483647 0 1 global bit big"},
       {"big 0010+0 [0/2147483647] size 1 bit global user readonly ''"},
       -1,
       true},
      {"a huge local array adds nothing", {kMarker, "0010 3 2147483647 0 1 local bit big"}, {}},
  };
}

TEST(AlcParserTest, Lines) {
  for (const AlcCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Parse(c), Expected(c));
  }
}

TEST(AlcParserTest, TheListIsNotClearedFirstAndKeepsWhatAnErrorFollows) {
  TTarvoVarList list;
  list.LoadFromStr({kMarker, kLevel}, 1, false);
  list.LoadFromStr({kMarker, kLevel}, 1, false);
  EXPECT_EQ(list.Count(), 2);
  EXPECT_THROW(list.LoadFromStr({kMarker, kLevel, "bad line"}, 1, false), EAlcParseError);
  EXPECT_EQ(list.Count(), 3);
}

TEST(AlcParserTest, TheListStopsGrowingAtItsBound) {
  // 262144 variables is four times what a 16-bit data memory holds in bytes.
  std::vector<std::string> lines{kMarker};
  for (int i = 0; i < 5; ++i) lines.push_back("0000 0 65536 0 1 global bit b" + std::to_string(i));
  TTarvoVarList list;
  try {
    list.LoadFromStr(lines, 1, false);
    FAIL() << "no error";
  } catch (const EAlcParseError& e) {
    EXPECT_EQ(e.Line(), 5);
  }
  EXPECT_EQ(list.Count(), 4 * 65536);
}

std::string FixturePath(const std::string& name) {
  return std::string(VARNEL_TEST_DATA) + "/files/" + name;
}

const std::vector<std::string> kPlantVars = {
    "Level 0010+0 [0/1] size 2 int global user readonly 'Tank level in mm'",
    "Pump 0012+0 [0/4] size 1 bit global user readwrite 'Pump running'",
    "Pump 0012+0 [1/4] size 1 bit global user readwrite 'Pump running'",
    "Pump 0012+0 [2/4] size 1 bit global user readwrite 'Pump running'",
    "Pump 0012+0 [3/4] size 1 bit global user readwrite 'Pump running'",
    "Setpoint 0016+0 [0/1] size 4 real global user readwrite ''",
    "scan_time 001A+0 [0/1] size 4 long global system readwrite 'Scan time in us'",
    "Alarms 001E+0 [0/1] size 2 word global system readonly 'Alarm bits'",
    "T1 0040+0 [0/1] size 4 timer global user readwrite 'Fill timer'",
    "Cycles 0044+4 [0/2] size 4 counterlong global user readwrite 'Fill cycles'",
    "Cycles 0044+4 [1/2] size 4 counterlong global user readwrite 'Fill cycles'",
};

TEST(AlcParserTest, LoadFromFile) {
  TTarvoVarList list;
  list.LoadFromFile(FixturePath("plant.alc"), 7);
  EXPECT_EQ(Shown(list), kPlantVars);
  EXPECT_THROW(list.LoadFromFile(FixturePath("missing.alc"), 7), EVarnelError);
}

TEST(AlcParserTest, LoadFromStreamDecodesTheText) {
  std::ifstream in(FixturePath("plant.alc"), std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(text.empty());

  auto utf16 = [&](bool bigEndian) {
    std::vector<uint8_t> bytes =
        bigEndian ? std::vector<uint8_t>{0xFE, 0xFF} : std::vector<uint8_t>{0xFF, 0xFE};
    for (char c : text) {
      const auto b = static_cast<uint8_t>(c);
      if (bigEndian)
        bytes.insert(bytes.end(), {0, b});
      else
        bytes.insert(bytes.end(), {b, 0});
    }
    return bytes;
  };
  std::vector<uint8_t> utf8{0xEF, 0xBB, 0xBF};
  utf8.insert(utf8.end(), text.begin(), text.end());
  std::vector<uint8_t> offset{'s', 'k', 'i', 'p'};
  offset.insert(offset.end(), text.begin(), text.end());

  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    size_t position;
  } cases[] = {
      {"8-bit", std::vector<uint8_t>(text.begin(), text.end()), 0},
      {"UTF-8 with a mark", utf8, 0},
      {"UTF-16LE", utf16(false), 0},
      {"UTF-16BE", utf16(true), 0},
      {"from the stream's position", offset, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TMemoryStream stream(c.bytes);
    stream.SetPosition(c.position);
    TTarvoVarList list;
    list.LoadFromStream(stream, 7);
    EXPECT_EQ(Shown(list), kPlantVars);
  }
}

TEST(AlcParserTest, ArraysAsSingleVariables) {
  std::ifstream in(FixturePath("plant.alc"), std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  TTarvoVarList list;
  list.LoadFromStr(SplitLines(text), 7, true);
  ASSERT_EQ(list.Count(), 7);
  EXPECT_EQ(Show(*list.Items(1)),
            "Pump 0012+0 [0/4] size 1 bit global user readwrite 'Pump running'");
  EXPECT_EQ(Show(*list.Items(6)),
            "Cycles 0044+4 [0/2] size 4 counterlong global user readwrite 'Fill cycles'");
}

}  // namespace
