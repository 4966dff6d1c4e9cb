#include "data/uTarvoVars.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

#include "data/uNumText.h"

namespace {

std::unique_ptr<TTarvoVar> Var(TTarvoVarTyp typ, int32_t raw = 0) {
  auto v = std::make_unique<TTarvoVar>("v", 0x100, TypWidth(typ), 1, 0, 0, vsGlobal, typ, vvUser,
                                       vaReadWrite, "", TVarValue::U8(0));
  v->SetTarvoValue(raw);
  return v;
}

std::string KindName(TVarValue::TKind k) {
  const char* names[] = {"u8", "u16", "i16", "i32", "double"};
  return names[k];
}

// "i16 -32768", "double 0.100000001490116"
std::string Show(const TVarValue& v) {
  if (v.IsDouble()) return "double " + FormatValueText(v.Dbl);
  return KindName(v.Kind) + " " + std::to_string(v.Int);
}

// ---------------------------------------------------------------------------------------
// Display value

TEST(VarValueTest, ToIntegerRoundsHalfToEvenAndChecksRange) {
  const struct {
    TVarValue value;
    const char* expected;  // the integer, or "range"
  } cases[] = {
      {TVarValue::Double(2.5), "2"},
      {TVarValue::Double(3.5), "4"},
      {TVarValue::Double(-2.5), "-2"},
      {TVarValue::Double(-3.5), "-4"},
      {TVarValue::Double(0.5), "0"},
      {TVarValue::Double(1.5), "2"},
      {TVarValue::Double(2.4999999), "2"},
      {TVarValue::Double(2.5000001), "3"},
      {TVarValue::Double(-0.0), "0"},
      {TVarValue::Double(2147483647.4), "2147483647"},
      {TVarValue::Double(2147483647.5), "range"},
      {TVarValue::Double(-2147483648.5), "-2147483648"},
      {TVarValue::Double(-2147483649.0), "range"},
      {TVarValue::Double(3.0E9), "range"},
      {TVarValue::Double(std::numeric_limits<double>::infinity()), "range"},
      {TVarValue::Double(std::numeric_limits<double>::quiet_NaN()), "range"},
      {TVarValue::U8(255), "255"},
      {TVarValue::U16(65535), "65535"},
      {TVarValue::I16(-32768), "-32768"},
      {TVarValue::I32(INT32_MIN), "-2147483648"},
      {TVarValue{TVarValue::vkI32, int64_t{1} << 40, 0}, "range"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Show(c.value));
    std::string got;
    try {
      got = std::to_string(c.value.ToInteger());
    } catch (const ERangeError&) {
      got = "range";
    }
    EXPECT_EQ(got, c.expected);
  }
}

// ---------------------------------------------------------------------------------------
// Raw and display values

TEST(TarvoVarTest, ValueIsDerivedFromTheRawValueByType) {
  const struct {
    TTarvoVarTyp typ;
    uint32_t raw;
    const char* value;
  } cases[] = {
      {vtInt, 0x00018000, "i16 -32768"},
      {vtInt, 0xFFFF, "i16 -1"},
      {vtInt, 0x7FFF, "i16 32767"},
      {vtWord, 0xFFFFFFFF, "u16 65535"},
      {vtBit, 2, "u8 2"},
      {vtBit, 0x1FF, "u8 255"},
      {vtLong, 0x80000000, "i32 -2147483648"},
      {vtLong, 0xFFFFFFFF, "i32 -1"},
      {vtReal, 0x3FC00000, "double 1.5"},
      {vtReal, 0xBDCCCCCD, "double -0.100000001490116"},
      {vtReal, 0, "double 0"},
      {vtReal, 0x7F800000, "double INF"},
      {vtReal, 0xFF800000, "double -INF"},
      {vtReal, 0x7FC00000, "double NAN"},
      {vtTimer, 1234, "i32 1234"},
      {vtCounterInt, 0xFFFFFFFF, "i32 -1"},
      {vtNone, 7, "i32 7"},
      {vtVoid, 0x80000000, "i32 -2147483648"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(TypWord(c.typ)) + " raw " + std::to_string(c.raw));
    auto v = Var(c.typ, static_cast<int32_t>(c.raw));
    EXPECT_EQ(Show(v->Value()), c.value);
  }
}

TEST(TarvoVarTest, FreshVariablesReadZero) {
  for (TTarvoVarTyp typ : {vtBit, vtWord, vtInt, vtLong, vtReal, vtTimer}) {
    TTarvoVar v("v", 0, 2, 1, 0, 0, vsGlobal, typ, vvUser, vaReadWrite, "", TVarValue::U8(0));
    EXPECT_EQ(v.ValueFloat(), 0.0);
    EXPECT_EQ(v.Value().IsDouble(), typ == vtReal);
    EXPECT_EQ(v.TarvoValue(), 0);
  }
  TTarvoVar empty;
  EXPECT_EQ(empty.Typ(), vtNone);
  EXPECT_EQ(empty.Scope(), vsNone);
  EXPECT_EQ(empty.Visibility(), vvSystem);
  EXPECT_EQ(empty.AccessType(), vaReadWrite);
  EXPECT_EQ(Show(empty.Value()), "i32 0");
  EXPECT_FALSE(empty.WriteReq());
  EXPECT_FALSE(empty.DiscardNextRead());
}

// Writing Value stores both forms; what TarvoValue (the raw form to write) and Value
// read back afterwards.
TEST(TarvoVarTest, SetValueConvertsByType) {
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    TTarvoVarTyp typ;
    TVarValue value;
    const char* result;  // "raw <hex> reads <value>", "range" or "overflow"
  } cases[] = {
      {vtReal, TVarValue::Double(0.1), "raw 3DCCCCCD reads double 0.100000001490116"},
      {vtReal, TVarValue::Double(3.0E9), "raw 4F32D05E reads double 3000000000"},
      {vtReal, TVarValue::I32(-3), "raw C0400000 reads double -3"},
      {vtReal, TVarValue::Double(1E-50), "raw 00000000 reads double 0"},
      {vtReal, TVarValue::Double(std::numeric_limits<float>::max()),
       "raw 7F7FFFFF reads double 3.40282346638529E38"},
      {vtReal, TVarValue::Double(3.4028235E38 * (1 + 1E-9)),
       "raw 7F7FFFFF reads double 3.40282346638529E38"},
      {vtReal, TVarValue::Double(1E39), "overflow"},
      {vtReal, TVarValue::Double(-1E39), "overflow"},
      {vtReal, TVarValue::Double(inf), "overflow"},
      {vtReal, TVarValue::Double(std::numeric_limits<double>::quiet_NaN()), "range"},
      {vtInt, TVarValue::Double(2.5), "raw 00000002 reads i16 2"},
      {vtInt, TVarValue::Double(3.5), "raw 00000004 reads i16 4"},
      {vtInt, TVarValue::Double(-2.5), "raw FFFFFFFE reads i16 -2"},
      {vtInt, TVarValue::I32(40000), "raw FFFF9C40 reads i16 -25536"},
      {vtInt, TVarValue::I32(-1), "raw FFFFFFFF reads i16 -1"},
      {vtWord, TVarValue::I32(70000), "raw 00001170 reads u16 4464"},
      {vtWord, TVarValue::I32(-1), "raw 0000FFFF reads u16 65535"},
      {vtBit, TVarValue::I32(300), "raw 0000002C reads u8 44"},
      {vtBit, TVarValue::Double(1.0), "raw 00000001 reads u8 1"},
      {vtLong, TVarValue::Double(3.0E9), "range"},
      {vtLong, TVarValue::Double(-2147483648.0), "raw 80000000 reads i32 -2147483648"},
      {vtLong, TVarValue::U16(65535), "raw 0000FFFF reads i32 65535"},
      {vtTimer, TVarValue::I32(77), "raw 0000004D reads i32 77"},
      {vtTimer, TVarValue::Double(3.0E9), "range"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(TypWord(c.typ)) + " <- " + Show(c.value));
    auto v = Var(c.typ, 0x5A5A);
    std::string got;
    try {
      v->SetValue(c.value);
      char raw[16];
      std::snprintf(raw, sizeof raw, "%08X", static_cast<uint32_t>(v->TarvoValue()));
      // Non-value types keep their raw value but give no raw form to write.
      const std::string shownRaw = TypWidth(c.typ) ? raw : [&] {
        std::snprintf(raw, sizeof raw, "%08X", static_cast<uint32_t>(v->Value().Int));
        return std::string(raw);
      }();
      got = "raw " + shownRaw + " reads " + Show(v->Value());
    } catch (const ERangeError&) {
      got = "range";
    } catch (const EOverflowError&) {
      got = "overflow";
    }
    EXPECT_EQ(got, c.result);
    if (got == "range" || got == "overflow") {
      EXPECT_EQ(v->Value().ToDouble(), Var(c.typ, 0x5A5A)->Value().ToDouble())
          << "a refused value leaves the variable unchanged";
    }
  }
}

TEST(TarvoVarTest, NonValueTypesGiveNoRawValue) {
  for (TTarvoVarTyp typ : {vtNone, vtTimer, vtCounter, vtConst, vtVoid, vtTimerBit, vtTimerLong,
                           vtCounterBit, vtCounterInt}) {
    SCOPED_TRACE(TypWord(typ));
    // The display given at construction is not what Value reads: that comes from the raw.
    TTarvoVar v("t", 0, 4, 1, 0, 0, vsGlobal, typ, vvUser, vaReadWrite, "", TVarValue::I32(99));
    EXPECT_EQ(v.TarvoValue(), 0);
    v.SetTarvoValue(1234);
    EXPECT_EQ(v.TarvoValue(), 0);
    EXPECT_EQ(Show(v.Value()), "i32 1234");
    EXPECT_EQ(v.ValueInt(), 0);
    EXPECT_EQ(v.ValueFloat(), 1234.0);
  }
}

TEST(TarvoVarTest, TarvoValueIsDerivedFromTheDisplayGivenAtConstruction) {
  TTarvoVar real("r", 0, 4, 1, 0, 0, vsGlobal, vtReal, vvUser, vaReadWrite, "",
                 TVarValue::Double(1.5));
  EXPECT_EQ(real.TarvoValue(), 0x3FC00000);
  EXPECT_EQ(real.ValueFloat(), 0.0);  // Value reads the raw field, still 0
  TTarvoVar bit("b", 0, 1, 1, 0, 0, vsGlobal, vtBit, vvUser, vaReadWrite, "", TVarValue::I32(511));
  EXPECT_EQ(bit.TarvoValue(), 255);
  TTarvoVar integer("i", 0, 2, 1, 0, 0, vsGlobal, vtInt, vvUser, vaReadWrite, "",
                    TVarValue::Double(40000.4));
  EXPECT_EQ(integer.TarvoValue(), -25536);
}

TEST(TarvoVarTest, ValueIntOfARealIsItsBitPattern) {
  auto v = Var(vtReal);
  v->SetValue(TVarValue::Double(1.5));
  EXPECT_EQ(v->ValueInt(), 0x3FC00000);
  EXPECT_EQ(v->ValueFloat(), 1.5);
}

TEST(TarvoVarTest, ValueForPLCMarksTheVariableForWriting) {
  auto v = Var(vtWord);
  v->ValueForPLC(TVarValue::I32(12));
  EXPECT_TRUE(v->WriteReq());
  EXPECT_TRUE(v->DiscardNextRead());
  EXPECT_EQ(v->TarvoValue(), 12);

  auto refused = Var(vtLong);
  EXPECT_THROW(refused->ValueForPLC(TVarValue::Double(1E12)), ERangeError);
  EXPECT_FALSE(refused->WriteReq());
  EXPECT_FALSE(refused->DiscardNextRead());
}

TEST(TarvoVarTest, RawValueOfATypedValue) {
  const struct {
    TVarValue value;
    TTarvoVarTyp typ;
    const char* raw;
  } cases[] = {
      {TVarValue::I32(0x1FF), vtBit, "u8 255"},
      {TVarValue::Double(2.5), vtBit, "u8 2"},
      {TVarValue::I32(-1), vtWord, "u16 65535"},
      {TVarValue::I32(40000), vtInt, "i16 -25536"},
      {TVarValue::Double(-7.5), vtLong, "i32 -8"},
      {TVarValue::Double(1.5), vtReal, "i32 1069547520"},
      {TVarValue::Double(0.1), vtReal, "i32 1036831949"},
      {TVarValue::Double(12.7), vtTimer, "double 12.7"},
      {TVarValue::U16(9), vtNone, "u16 9"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(TypWord(c.typ)) + " " + Show(c.value));
    EXPECT_EQ(Show(RawValueOf(c.value, c.typ)), c.raw);
  }
  EXPECT_THROW(RawValueOf(TVarValue::Double(3.0E9), vtLong), ERangeError);
  EXPECT_THROW(RawValueOf(TVarValue::Double(1E39), vtReal), EOverflowError);
}

TEST(TarvoVarTest, RealAddress) {
  const struct {
    int32_t address, offset, size, count, index, expected;
  } cases[] = {
      {0x0100, 4, 2, 10, 3, 0x010A},
      {0x0100, 4, 2, 1, 3, 0x0104},
      {0x0100, 4, 2, 0, 3, 0x0104},
      {0x0100, 0, 4, 2, 1, 0x0104},
      {0x0100, -4, 1, 1, 0, 0x00FC},
      // Addresses wrap at 32 bits rather than overflow.
      {INT32_MAX, 1, 4, 1, 0, INT32_MIN},
      {0x10, 0, 65536, 65536, 65535, static_cast<int32_t>(0xFFFF0010u)},
  };
  for (const auto& c : cases) {
    TTarvoVar v("a", c.address, c.size, c.count, c.index, c.offset, vsGlobal, vtInt, vvUser,
                vaReadWrite, "", TVarValue::U8(0));
    EXPECT_EQ(v.RealAddress(), c.expected)
        << c.address << "+" << c.offset << " [" << c.index << "] of " << c.count;
  }
}

TEST(TarvoVarTest, AssignCopiesEverythingAndTheValue) {
  TTarvoVar source("Setpoint", 0x16, 4, 3, 2, 8, vsGlobal, vtReal, vvUser, vaReadOnly,
                   "Desired level", TVarValue::U8(0));
  source.SetValue(TVarValue::Double(0.1));
  source.SetWriteReq(true);
  source.SetDiscardNextRead(true);

  TTarvoVar copy;
  copy.Assign(&source);
  EXPECT_EQ(copy.Name(), "Setpoint");
  EXPECT_EQ(copy.Description(), "Desired level");
  EXPECT_EQ(copy.Typ(), vtReal);
  EXPECT_EQ(copy.Scope(), vsGlobal);
  EXPECT_EQ(copy.Visibility(), vvUser);
  EXPECT_EQ(copy.AccessType(), vaReadOnly);
  EXPECT_EQ(copy.Address(), 0x16);
  EXPECT_EQ(copy.Size(), 4);
  EXPECT_EQ(copy.ArrayCount(), 3);
  EXPECT_EQ(copy.ArrayIndex(), 2);
  EXPECT_EQ(copy.Offset(), 8);
  EXPECT_EQ(copy.RealAddress(), source.RealAddress());
  EXPECT_TRUE(copy.WriteReq());
  EXPECT_TRUE(copy.DiscardNextRead());
  EXPECT_EQ(copy.TarvoValue(), 0x3DCCCCCD);
  EXPECT_EQ(Show(copy.Value()), "double 0.100000001490116");

  TTarvoVar untouched = copy;
  copy.Assign(nullptr);
  EXPECT_EQ(copy.Name(), untouched.Name());
  EXPECT_EQ(copy.TarvoValue(), untouched.TarvoValue());
}

// ---------------------------------------------------------------------------------------
// The list

std::unique_ptr<TTarvoVar> Named(const std::string& name, TTarvoVarVisibility vis,
                                 TTarvoVarAccessType access, const std::string& desc = "") {
  return std::make_unique<TTarvoVar>(name, 0, 2, 1, 0, 0, vsGlobal, vtInt, vis, access, desc,
                                     TVarValue::U8(0));
}

TEST(TarvoVarListTest, AddItemsIndexOfRemove) {
  TTarvoVarList list;
  EXPECT_EQ(list.Add(Named("a", vvUser, vaReadWrite)), 0);
  EXPECT_EQ(list.Add(Named("b", vvUser, vaReadWrite)), 1);
  EXPECT_EQ(list.Add(Named("c", vvUser, vaReadWrite)), 2);
  for (int bad : {-1, 3, 4, INT32_MIN}) EXPECT_EQ(list.Items(bad), nullptr);
  TTarvoVar* b = list.Items(1);
  EXPECT_EQ(list.IndexOf(b), 1);
  int former = 99;
  std::unique_ptr<TTarvoVar> removed = list.Remove(b, &former);
  EXPECT_EQ(removed.get(), b);
  EXPECT_EQ(former, 1);
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Items(1)->Name(), "c");
  EXPECT_EQ(list.IndexOf(b), -1);
  EXPECT_EQ(list.Remove(b, &former), nullptr);
  EXPECT_EQ(former, -1);
  EXPECT_EQ(list.Remove(nullptr), nullptr);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
}

TEST(TarvoVarListTest, FindByNameIsCaseSensitiveAndTakesTheFirst) {
  TTarvoVarList list;
  list.Add(Named("Level", vvUser, vaReadWrite, "first"));
  list.Add(Named("Level", vvUser, vaReadWrite, "second"));
  ASSERT_NE(list.FindByName("Level"), nullptr);
  EXPECT_EQ(list.FindByName("Level")->Description(), "first");
  EXPECT_EQ(list.FindByName("level"), nullptr);
  EXPECT_EQ(list.FindByName(""), nullptr);
}

TEST(TarvoVarListTest, GetVarNamesFiltersByVisibilityAndAccess) {
  TTarvoVarList list;
  list.Add(Named("userRw", vvUser, vaReadWrite));
  list.Add(Named("sysRw", vvSystem, vaReadWrite));
  list.Add(Named("userRo", vvUser, vaReadOnly));
  list.Add(Named("hiddenRo", vvHidden, vaReadOnly));

  auto join = [](const std::unique_ptr<std::vector<std::string>>& names) -> std::string {
    if (!names) return "nil";
    std::string s;
    for (const auto& n : *names) s += (s.empty() ? "" : ",") + n;
    return s;
  };
  const uint8_t anyVis = SetOf(vvSystem) | SetOf(vvUser) | SetOf(vvHidden);
  const uint8_t anyAccess = SetOf(vaReadWrite) | SetOf(vaReadOnly);
  const struct {
    uint8_t vis, access;
    const char* names;
  } cases[] = {
      {anyVis, anyAccess, "userRw,sysRw,userRo,hiddenRo"},
      {SetOf(vvUser), anyAccess, "userRw,userRo"},
      {SetOf(vvUser), SetOf(vaReadWrite), "userRw"},
      {SetOf(vvHidden) | SetOf(vvSystem), SetOf(vaReadOnly), "hiddenRo"},
      {SetOf(vvSystem), SetOf(vaReadOnly), "nil"},
      {0, anyAccess, "nil"},
      {anyVis, 0, "nil"},
  };
  for (const auto& c : cases) EXPECT_EQ(join(list.GetVarNames(c.vis, c.access)), c.names);
  EXPECT_EQ(join(list.Strings()), "userRw,sysRw,userRo,hiddenRo");
  EXPECT_EQ(join(TTarvoVarList().Strings()), "nil");
}

// ---------------------------------------------------------------------------------------
// Text

TEST(TextLinesTest, SplitLines) {
  const struct {
    std::string text;
    std::vector<std::string> lines;
  } cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\n", {"a"}},
      {"a\r\nb\rc\nd", {"a", "b", "c", "d"}},
      {"\n", {""}},
      {"\r\n\r\n", {"", ""}},
      {"a\r\r\nb", {"a", "", "b"}},
      {"a\n\rb", {"a", "", "b"}},
      {std::string("a\0b\n", 4), {std::string("a\0b", 3)}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitLines(c.text), c.lines) << c.text;
}

TEST(TextLinesTest, DecodeTextBytes) {
  using B = std::vector<uint8_t>;
  const struct {
    const char* name;
    B bytes;
    std::string text;
  } cases[] = {
      {"plain ASCII", {'a', 'b'}, "ab"},
      {"Latin-1 without a mark",
       {'2', 0xB0, 'C', 0xE9},
       "2\xC2\xB0"
       "C\xC3\xA9"},
      {"UTF-8 with a mark", {0xEF, 0xBB, 0xBF, 'x', 0xC2, 0xB0}, "x\xC2\xB0"},
      {"UTF-8 mark only", {0xEF, 0xBB, 0xBF}, ""},
      {"broken UTF-8 after a mark",
       {0xEF, 0xBB, 0xBF, 'a', 0xC2, 'b', 0xFF},
       "a\xEF\xBF\xBD"
       "b\xEF\xBF\xBD"},
      {"overlong UTF-8", {0xEF, 0xBB, 0xBF, 0xC0, 0xAF}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"UTF-8 surrogate",
       {0xEF, 0xBB, 0xBF, 0xED, 0xA0, 0x80},
       "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"UTF-16LE", {0xFF, 0xFE, 'h', 0, 0xB0, 0, 0xAC, 0x20}, "h\xC2\xB0\xE2\x82\xAC"},
      {"UTF-16BE", {0xFE, 0xFF, 0, 'h', 0x20, 0xAC}, "h\xE2\x82\xAC"},
      {"UTF-16 surrogate pair", {0xFF, 0xFE, 0x3D, 0xD8, 0x00, 0xDE}, "\xF0\x9F\x98\x80"},
      {"UTF-16 lone surrogate",
       {0xFF, 0xFE, 0x3D, 0xD8, 'a', 0},
       "\xEF\xBF\xBD"
       "a"},
      {"UTF-16 odd byte", {0xFF, 0xFE, 'a', 0, 'b'}, "a\xEF\xBF\xBD"},
      {"a lone 0xFF", {0xFF}, "\xC3\xBF"},
      {"empty", {}, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeTextBytes(c.bytes), c.text) << c.name;
}

}  // namespace
