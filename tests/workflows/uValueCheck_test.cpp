// The value check: what each type takes, where its range ends, and that nothing is wrapped
// into it; and the one verification of a write that both front-ends use.
#include "workflows/uValueCheck.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "data/uNumText.h"

namespace {

using enum TValueVerdict;

struct Case {
  TTarvoVarTyp typ;
  const char* text;
  TValueVerdict verdict;
  std::optional<int32_t> raw = std::nullopt;  // accepted: what the memory gets
  const char* shown = "";                     // accepted: the value as the tables show it
};

const char* VerdictName(TValueVerdict v) {
  switch (v) {
    case vvAccepted:
      return "accepted";
    case vvNotANumber:
      return "not a number";
    case vvNotWhole:
      return "not whole";
    case vvOutOfRange:
      return "out of range";
    case vvTooSmall:
      return "too small";
    case vvReadOnly:
      return "read-only";
    case vvNoValue:
      return "no value";
  }
  return "?";
}

TEST(CheckValue, EachTypeTakesItsRangeAndNothingBeyond) {
  const Case cases[] = {
      // bit: 0 and 1 only
      {vtBit, "0", vvAccepted, 0, "0"},
      {vtBit, "1", vvAccepted, 1, "1"},
      {vtBit, "2", vvOutOfRange},
      {vtBit, "-1", vvOutOfRange},
      {vtBit, "256", vvOutOfRange},  // its byte's low bits are 0: once written as 0
      {vtBit, "$1", vvAccepted, 1, "1"},
      {vtBit, "$100", vvOutOfRange},
      {vtBit, "0.5", vvNotWhole},
      // word: 0 to 65535
      {vtWord, "0", vvAccepted, 0, "0"},
      {vtWord, "65535", vvAccepted, 65535, "65535"},
      {vtWord, "65536", vvOutOfRange},
      {vtWord, "70000", vvOutOfRange},  // once written as 4464
      {vtWord, "-1", vvOutOfRange},     // once written as 65535
      {vtWord, "x1234", vvAccepted, 0x1234, "4660"},
      {vtWord, "$FFFF", vvAccepted, 65535, "65535"},
      {vtWord, "$10000", vvOutOfRange},
      {vtWord, "12.5", vvNotWhole},
      // int: -32768 to 32767; unsigned hexadecimal names its 16 bits
      {vtInt, "-32768", vvAccepted, -32768, "-32768"},
      {vtInt, "32767", vvAccepted, 32767, "32767"},
      {vtInt, "32768", vvOutOfRange},
      {vtInt, "-32769", vvOutOfRange},
      {vtInt, "40000", vvOutOfRange},  // once written as -25536
      {vtInt, "$7FFF", vvAccepted, 32767, "32767"},
      {vtInt, "$8000", vvAccepted, -32768, "-32768"},
      {vtInt, "0xFFFF", vvAccepted, -1, "-1"},
      {vtInt, "$10000", vvOutOfRange},
      {vtInt, "$FFFFFFFF", vvOutOfRange},               // 32 bits for a 16-bit variable
      {vtInt, "-$8000", vvAccepted, -32768, "-32768"},  // signed: a plain number
      {vtInt, "-$8001", vvOutOfRange},
      {vtInt, "+$FFFF", vvOutOfRange},
      {vtInt, "1.5", vvNotWhole},
      {vtInt, "1.0", vvNotWhole},
      {vtInt, "1E3", vvNotWhole},
      // long: the 32-bit range; unsigned hexadecimal names its 32 bits
      {vtLong, "-2147483648", vvAccepted, INT32_MIN, "-2147483648"},
      {vtLong, "2147483647", vvAccepted, INT32_MAX, "2147483647"},
      {vtLong, "2147483648", vvOutOfRange},
      {vtLong, "-2147483649", vvOutOfRange},
      {vtLong, "$FFFFFFFF", vvAccepted, -1, "-1"},
      {vtLong, "$80000000", vvAccepted, INT32_MIN, "-2147483648"},
      {vtLong, "$100000000", vvOutOfRange},
      {vtLong, "99999999999999999999", vvOutOfRange},
      {vtLong, "$FFFFFFFFFFFFFFFFFF", vvOutOfRange},
      {vtLong, "0.5", vvNotWhole},
      // integer text as the tool reads it everywhere
      {vtWord, "  12", vvAccepted, 12, "12"},
      {vtWord, "12 ", vvNotANumber},
      {vtWord, "", vvNotANumber},
      {vtWord, "$", vvNotANumber},
      {vtWord, "0x", vvNotANumber},
      {vtWord, "$-1", vvNotANumber},
      {vtWord, "abc", vvNotANumber},
      {vtWord, "1,5", vvNotANumber},
      // real: finite, within single precision, rounded to it
      {vtReal, "0.1", vvAccepted, 0x3DCCCCCD, "0.100000001490116"},
      {vtReal, "-0.5", vvAccepted, static_cast<int32_t>(0xBF000000), "-0.5"},
      {vtReal, "7", vvAccepted, 0x40E00000, "7"},
      {vtReal, "3.4E38", vvAccepted, 0x7F7FC99E, "3.39999995214436E38"},
      {vtReal, "-3.4E38", vvAccepted, static_cast<int32_t>(0xFF7FC99E), "-3.39999995214436E38"},
      {vtReal, "3.40282E38", vvOutOfRange},  // beyond 3.4E38 once rounded
      {vtReal, "1E39", vvOutOfRange},
      {vtReal, "-1E39", vvOutOfRange},
      {vtReal, "1e400", vvOutOfRange},  // reads as infinity
      {vtReal, "3E-45", vvAccepted, 2, "2.80259692864963E-45"},
      {vtReal, "1.5E-45", vvTooSmall},  // rounds to the smallest single, 1.4E-45
      {vtReal, "1E-50", vvAccepted, 0, "0"},
      {vtReal, "0", vvAccepted, 0, "0"},
      {vtReal, "$1F", vvNotANumber},
      {vtReal, "NAN", vvNotANumber},
      {vtReal, "INF", vvNotANumber},
      {vtReal, "1,5", vvNotANumber},
      // types that carry no value
      {vtTimer, "5", vvNoValue},
      {vtCounter, "5", vvNoValue},
      {vtConst, "5", vvNoValue},
      {vtNone, "5", vvNoValue},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(TypWord(c.typ)) + " <- '" + c.text + "'");
    const TValueCheck check = CheckValue(c.typ, vaReadWrite, c.text);
    EXPECT_STREQ(VerdictName(check.Verdict), VerdictName(c.verdict));
    EXPECT_EQ(check.Typ, c.typ);
    if (!c.raw || !check.Accepted()) continue;
    EXPECT_EQ(check.Raw, *c.raw);
    EXPECT_EQ(FormatValueText(check.Value.ToDouble()), c.shown);
    // What the variable makes of the value is what the controller gets.
    TTarvoVar V("v", 0x10, TypWidth(c.typ), 1, 0, 0, vsGlobal, c.typ, vvUser, vaReadWrite, "",
                TVarValue::U8(0));
    V.SetValue(check.Value);
    EXPECT_EQ(V.TarvoValue(), *c.raw);
  }
}

TEST(CheckValue, AReadOnlyVariableTakesNoValueAtAll) {
  for (TTarvoVarTyp typ : {vtBit, vtWord, vtInt, vtLong, vtReal, vtTimer}) {
    for (const char* text : {"0", "1", "abc"}) {
      EXPECT_EQ(CheckValue(typ, vaReadOnly, text).Verdict, vvReadOnly)
          << TypWord(typ) << " <- " << text;
    }
  }
}

TEST(CheckValue, ARefusalCarriesTheRangeItMissed) {
  const struct {
    TTarvoVarTyp typ;
    double min, max, smallest;
  } ranges[] = {
      {vtBit, 0, 1, 0},
      {vtWord, 0, 65535, 0},
      {vtInt, -32768, 32767, 0},
      {vtLong, -2147483648.0, 2147483647.0, 0},
      {vtReal, -3.4E38, 3.4E38, 1.5E-45},
      {vtTimer, 0, 0, 0},
  };
  for (const auto& r : ranges) {
    const TValueCheck check = CheckValue(r.typ, vaReadWrite, "1E40");
    EXPECT_FALSE(check.Accepted()) << TypWord(r.typ);
    EXPECT_EQ(check.Range.Min, r.min) << TypWord(r.typ);
    EXPECT_EQ(check.Range.Max, r.max) << TypWord(r.typ);
    EXPECT_EQ(check.Range.Smallest, r.smallest) << TypWord(r.typ);
  }
}

TEST(HoldsWritten, ComparesTheVariablesOwnBytesWithWhatWasSent) {
  const struct {
    TTarvoVarTyp typ;
    const char* sent;
    int32_t readBack;  // the raw value as a read of the variable's bytes gives it
    bool holds;
  } cases[] = {
      {vtInt, "-1", 0xFFFF, true},
      {vtInt, "$8000", 0x8000, true},
      {vtInt, "-1", 0xFFFE, false},
      {vtWord, "65535", 0xFFFF, true},
      {vtBit, "1", 1, true},
      {vtBit, "1", 0, false},
      {vtLong, "$FFFFFFFF", -1, true},
      {vtReal, "0.1", 0x3DCCCCCD, true},
      {vtReal, "0.1", 0x3DCCCCCC, false},                      // one unit off in the last place
      {vtReal, "0", static_cast<int32_t>(0x80000000), false},  // -0 is other bits
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(TypWord(c.typ)) + " " + c.sent);
    TTarvoVar V("v", 0x10, TypWidth(c.typ), 1, 0, 0, vsGlobal, c.typ, vvUser, vaReadWrite, "",
                TVarValue::U8(0));
    V.SetTarvoValue(c.readBack);
    const TValueCheck sent = CheckValue(V, c.sent);
    ASSERT_TRUE(sent.Accepted());
    EXPECT_EQ(HoldsWritten(V, sent), c.holds);
  }
  // Nothing that was refused counts as held, whatever the variable holds.
  TTarvoVar V("v", 0x10, 2, 1, 0, 0, vsGlobal, vtWord, vvUser, vaReadWrite, "", TVarValue::U8(0));
  V.SetTarvoValue(4464);
  EXPECT_FALSE(HoldsWritten(V, CheckValue(V, "70000")));
}

}  // namespace
