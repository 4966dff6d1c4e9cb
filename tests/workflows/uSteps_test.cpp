// The single-controller steps that need no network: names, NADs, clock texts and the list
// a scan's answers give.
#include "workflows/uSteps.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

namespace {

TEST(SplitIndexedName, TakesAnIndexOfZeroOrMoreAndLeavesAnythingElseInTheName) {
  struct Case {
    const char* text;
    const char* name;
    int32_t index;
  } cases[] = {
      {"temp", "temp", -1},           {"levels[3]", "levels", 3},
      {"levels[03]", "levels", 3},    {"levels[$A]", "levels", 10},
      {"levels[x]", "levels[x]", -1}, {"levels[-1]", "levels[-1]", -1},
      {"levels[]", "levels[]", -1},   {"a[2].b", "a.b", 2},
      {"levels]3[", "levels]3[", -1},
  };
  for (const Case& c : cases) {
    std::string name;
    int32_t index = 7;
    SplitIndexedName(c.text, name, index);
    EXPECT_EQ(name, c.name) << c.text;
    EXPECT_EQ(index, c.index) << c.text;
  }
}

TEST(NADText, NADsAreUnsignedThirtyTwoBitNumbers) {
  EXPECT_EQ(NADText(static_cast<int32_t>(3000000000u)), "3000000000");
  EXPECT_EQ(NADText(-1), "4294967295");
  EXPECT_TRUE(NADLess(10, static_cast<int32_t>(3000000000u)));
}

TEST(MakeTag, NamesTheControllerByItsUnsignedNAD) {
  TTarvo tarvo(static_cast<int32_t>(3000000000u));
  const auto tag = MakeTag(tarvo, "levels[3]", "5");
  EXPECT_EQ(tag->FullName(), "3000000000.levels[3]");
  EXPECT_EQ(tag->Name(), "levels");
  EXPECT_EQ(tag->ArrayIndex(), 3);
  EXPECT_EQ(tag->NAD(), static_cast<int32_t>(3000000000u));
  EXPECT_TRUE(tag->WriteReq());
}

TEST(RTCWriteTexts, SendsDecimalTextsWithSundayAsZeroAndNoMilliseconds) {
  struct Case {
    TLocalTime now;
    std::array<std::string, 8> texts;
  } cases[] = {
      {{2012, 3, 4, 8, 5, 9, 999, 0}, {"2012", "3", "4", "8", "5", "9", "0", "1"}},
      {{2012, 3, 10, 23, 59, 59, 0, 6}, {"2012", "3", "10", "23", "59", "59", "6", "1"}},
      {{2024, 12, 31, 0, 0, 0, 500, 2}, {"2024", "12", "31", "0", "0", "0", "2", "1"}},
  };
  for (const Case& c : cases) EXPECT_EQ(RTCWriteTexts(c.now), c.texts) << c.texts[2];
}

TEST(RTCText, PadsEachFieldAndPutsTwoBlanksBetweenDateAndTime) {
  EXPECT_EQ(RTCText(2012, 3, 3, 19, 0, 4), "2012-03-03  19:00:04");
  EXPECT_EQ(RTCText(812, 12, 31, 8, 5, 9), "0812-12-31  08:05:09");
}

TEST(FoundControllers, ListsARepeatedAnswerOnceAndRemarksOnEachOddAnswer) {
  std::vector<TScanRemark> remarks;
  const auto found = FoundControllers({"30", "10", "30", "10", "3000000000", "0", "1x", "20"},
                                      {"127.0.0.30", "127.0.0.10", "127.0.0.30", "127.0.0.11",
                                       "127.0.0.40", "127.0.0.50", "127.0.0.60", "127.0.0.20"},
                                      {}, remarks);
  ASSERT_EQ(found.size(), 5u);
  const std::pair<uint32_t, const char*> expected[] = {{30, "127.0.0.30"},
                                                       {10, "127.0.0.10"},
                                                       {10, "127.0.0.11"},
                                                       {3000000000u, "127.0.0.40"},
                                                       {20, "127.0.0.20"}};
  for (size_t i = 0; i < found.size(); ++i) {
    EXPECT_EQ(static_cast<uint32_t>(found[i].NAD), expected[i].first) << i;
    EXPECT_EQ(found[i].IP, expected[i].second) << i;
    EXPECT_FALSE(found[i].Refused()) << "no codes: every answer acknowledged";
  }
  // NAD 0 is left out of the controllers, not out of the remarks.
  ASSERT_EQ(remarks.size(), 3u);
  EXPECT_EQ(remarks[0].Kind, TScanRemarkKind::srSharedNAD);
  EXPECT_EQ(remarks[1].Kind, TScanRemarkKind::srNADZero);
  EXPECT_EQ(remarks[1].IP, "127.0.0.50");
  EXPECT_EQ(remarks[2].Kind, TScanRemarkKind::srNoNAD);
  EXPECT_EQ(remarks[2].Text, "1x");
}

TEST(ScanAnswers, ARefusingControllerIsListedWithItsCodeAndARemark) {
  struct Case {
    const char* what;
    std::vector<std::string> nads, ips;
    std::vector<TMessageDirection> codes;
    std::vector<TMessageDirection> found;    // the code of each answer listed, in order
    std::vector<TMessageDirection> remarks;  // the code of each refusal remark, in order
  } cases[] = {
      {"the refusal between two acknowledgements",
       {"10", "11", "12"},
       {"127.0.0.10", "127.0.0.11", "127.0.0.12"},
       {md_ACK, md_BADPASS, md_ACK},
       {md_ACK, md_BADPASS, md_ACK},
       {md_BADPASS}},
      {"any negative code",
       {"10", "11"},
       {"127.0.0.10", "127.0.0.11"},
       {md_NOTREADY, md_ACK},
       {md_NOTREADY, md_ACK},
       {md_NOTREADY}},
      {"a refusal repeated is one controller and one remark",
       {"11", "11"},
       {"127.0.0.11", "127.0.0.11"},
       {md_BADPASS, md_BADPASS},
       {md_BADPASS},
       {md_BADPASS}},
      {"an acknowledgement of the same controller takes the refusal back",
       {"11", "12", "11"},
       {"127.0.0.11", "127.0.0.12", "127.0.0.11"},
       {md_BADPASS, md_BADPASS, md_ACK},
       {md_ACK, md_BADPASS},
       {md_BADPASS}},
      {"NAD 0 has its own remark, and a later acknowledgement of it takes nothing back",
       {"0", "0", "10"},
       {"127.0.0.50", "127.0.0.50", "127.0.0.10"},
       {md_BADPASS, md_ACK, md_BADPASS},
       {md_ACK, md_BADPASS},
       {md_BADPASS}},
      {"codes shorter than the lists count as acknowledgements",
       {"10", "11"},
       {"127.0.0.10", "127.0.0.11"},
       {md_BADPASS},
       {md_BADPASS, md_ACK},
       {md_BADPASS}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<TScanRemark> remarks;
    const auto answers = ScanAnswers(c.nads, c.ips, remarks, c.codes);
    std::vector<TMessageDirection> found, refusals;
    for (const TFoundController& a : answers) found.push_back(a.Code);
    for (const TScanRemark& r : remarks) {
      if (r.Kind == TScanRemarkKind::srNADZero) continue;
      ASSERT_EQ(r.Kind, TScanRemarkKind::srRefused);
      refusals.push_back(r.Code);
      // The remark names the controller that refused.
      const auto refused = std::find_if(answers.begin(), answers.end(), [&](const auto& a) {
        return a.NAD == r.NAD && a.IP == r.IP;
      });
      ASSERT_NE(refused, answers.end());
      EXPECT_EQ(refused->Code, r.Code);
    }
    EXPECT_EQ(found, c.found);
    EXPECT_EQ(refusals, c.remarks);
  }
}

TEST(ScanAnswers, KeepsNADZeroForAListingAndRemarksOnEachOddAnswerInAnswerOrder) {
  std::vector<TScanRemark> remarks;
  const auto answers = ScanAnswers({"10", "0", "10", "0", "x", "10", "10"},
                                   {"127.0.0.10", "127.0.0.50", "127.0.0.11", "127.0.0.50",
                                    "127.0.0.60", "127.0.0.12", "127.0.0.11"},
                                   remarks);
  ASSERT_EQ(answers.size(), 4u);
  EXPECT_EQ(answers[1].NAD, 0);
  EXPECT_TRUE(SharedNAD(answers, 10));
  EXPECT_FALSE(SharedNAD(answers, 0));
  struct Expect {
    TScanRemarkKind kind;
    const char* ip;
    const char* firstIP;
  } expected[] = {
      {TScanRemarkKind::srNADZero, "127.0.0.50", ""},
      {TScanRemarkKind::srSharedNAD, "127.0.0.11", "127.0.0.10"},
      {TScanRemarkKind::srNoNAD, "127.0.0.60", ""},
      {TScanRemarkKind::srSharedNAD, "127.0.0.12", "127.0.0.10"},
  };
  ASSERT_EQ(remarks.size(), std::size(expected));
  for (size_t i = 0; i < remarks.size(); ++i) {
    EXPECT_EQ(remarks[i].Kind, expected[i].kind) << i;
    EXPECT_EQ(remarks[i].IP, expected[i].ip) << i;
    EXPECT_EQ(remarks[i].FirstIP, expected[i].firstIP) << i;
  }
  EXPECT_EQ(remarks[2].Text, "x");
}

TEST(ImportEntries, FillsTheFirstRowOfANADAtTheColumnItsNameMatches) {
  TTarvo first(12), second(12), other(13);
  const std::vector<std::string> names = {"TEMP_SET", "levels[3]"};
  TVSTTable table(2, 2, 0);
  for (TTarvo* T : {&first, &second, &other}) table.AddRow(T);
  table.RowByPosition(2)->Cell(0)->SetCaption("7");
  const auto entry = [](int32_t nad, const char* name, bool hasIndex, int32_t index,
                        const char* value) {
    TValueFileEntry e;
    e.NAD = nad;
    e.Name = name;
    e.HasIndex = hasIndex;
    e.Index = index;
    e.Value = value;
    return e;
  };
  ImportEntries({entry(12, "temp_set", false, -1, "5"), entry(12, "levels", true, 3, "44"),
                 entry(12, "levels", false, -1, "1"), entry(99, "temp_set", false, -1, "8"),
                 entry(13, "nothere", false, -1, "9")},
                names, table);
  const TTableRow& filled = *table.RowByPosition(0);
  EXPECT_EQ(filled.Cell(0)->Caption(), "5");
  EXPECT_EQ(filled.Cell(1)->Caption(), "44");
  EXPECT_TRUE(filled.Cell(0)->AwaitWrite && filled.Cell(1)->AwaitWrite);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(table.RowByPosition(1)->Cell(i)->Caption(), "") << "only the first row of a NAD";
    EXPECT_FALSE(table.RowByPosition(1)->Cell(i)->AwaitWrite);
  }
  EXPECT_EQ(table.RowByPosition(2)->Cell(0)->Caption(), "7");
  EXPECT_FALSE(table.RowByPosition(2)->Cell(0)->AwaitWrite);

  // A Write without "Write all" takes exactly the filled cells; a cleared cell never.
  EXPECT_TRUE(CellToWrite(*filled.Cell(0), false));
  EXPECT_FALSE(CellToWrite(*table.RowByPosition(2)->Cell(0), false));
  EXPECT_TRUE(CellToWrite(*table.RowByPosition(2)->Cell(0), true));
  filled.Cell(1)->SetCaption("");
  EXPECT_FALSE(CellToWrite(*filled.Cell(1), true));
}

}  // namespace
