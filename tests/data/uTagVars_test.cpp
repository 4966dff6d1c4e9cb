#include "data/uTagVars.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "data/uNumText.h"

namespace {

// ---------------------------------------------------------------------------------------
// Full names

struct TagNameCase {
  const char* text;
  bool ok;
  int32_t nad = 0;
  const char* name = "";
  int32_t index = -1;
  const char* writeValue = "";
};

TEST(TagNameTest, ParseTagName) {
  const TagNameCase cases[] = {
      {"c1000.temp", true, 1000, "temp"},
      {"C12.arr[3]", true, 12, "arr", 3},
      {"c12.arr[x]", true, 12, "arr[x]"},
      {"c12.arr[]", true, 12, "arr[]"},
      {"c12.arr[-1]", true, 12, "arr[-1]"},
      {"c12.arr[$A]", true, 12, "arr", 10},
      {"c12.arr[ 7]", true, 12, "arr", 7},
      {"c12.arr[2]tail", true, 12, "arrtail", 2},
      {"c12.a]b[1]", true, 12, "a]b[1]"},
      {"c12.arr[1][2]", true, 12, "arr[2]", 1},
      {"c5.x=12.5", true, 5, "x", -1, "12.5"},
      {"c5.x\\=7", true, 5, "x", -1, "7"},
      {"c5.a\\b=7", true, 5, "a\\b", -1, "7"},
      {"c5.x\\", true, 5, "x\\"},
      {"c5.x=abc", true, 5, "x"},
      {"c5.x=1,5", true, 5, "x"},
      {"c5.x= -1.5E3", true, 5, "x", -1, " -1.5E3"},
      {"c5.x=1=2", true, 5, "x"},
      {"c5.arr[2]=3", true, 5, "arr", 2, "3"},
      {"c5.x.y", true, 5, "x.y"},
      {"c5.", true, 5, ""},
      {"c$10.x", true, 16, "x"},
      {"c 7.x", true, 7, "x"},
      {"c-1.x", true, -1, "x"},
      // NADs are unsigned; the signed form of the same pattern reads too.
      {"c3000000000.x", true, static_cast<int32_t>(3000000000u), "x"},
      {"c4294967295.x", true, -1, "x"},
      {"c-1294967296.x", true, static_cast<int32_t>(3000000000u), "x"},
      {"c$B2D05E00.x", true, static_cast<int32_t>(3000000000u), "x"},
      {"c4294967296.x", false},
      {"c4294967306.x", false},
      {"c-2147483649.x", false},
      {"c010.x", true, 10, "x"},
      {"d5.x", false},
      {"c5x", false},
      {"cabc.x", false},
      {"c.x", false},
      {"c5=1.x", false},
      {".c5", false},
      {"", false},
      {"c99999999999.x", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    int32_t nad = -7, index = -7;
    std::string name = "?", value = "?";
    bool hasIndex = false;
    ASSERT_EQ(ParseTagName(c.text, nad, name, value, hasIndex, index), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(nad, c.nad);
    EXPECT_EQ(name, c.name);
    EXPECT_EQ(index, c.index);
    EXPECT_EQ(hasIndex, c.index >= 0);
    EXPECT_EQ(value, c.writeValue);
  }
}

TEST(TagNameTest, HasIndexIsOnlyEverSet) {
  int32_t nad = 0, index = 0;
  std::string name, value;
  bool hasIndex = true;
  ASSERT_TRUE(ParseTagName("c1.plain", nad, name, value, hasIndex, index));
  EXPECT_TRUE(hasIndex);
  EXPECT_EQ(index, -1);
}

TEST(TagVarTest, CreateFromAFullName) {
  TTagVar written("c12.arr[3]=1.5");
  EXPECT_EQ(written.FullName(), "c12.arr[3]=1.5");
  EXPECT_EQ(written.Name(), "arr");
  EXPECT_EQ(written.NAD(), 12);
  EXPECT_EQ(written.ArrayIndex(), 3);
  EXPECT_TRUE(written.IsArray());
  EXPECT_TRUE(written.ReadReq());
  EXPECT_TRUE(written.WriteReq());
  EXPECT_EQ(written.WriteValue(), "1.5");
  EXPECT_EQ(written.TarvoVar(), nullptr);

  TTagVar plain("c12.x=abc");
  EXPECT_EQ(plain.ArrayIndex(), -1);
  EXPECT_FALSE(plain.IsArray());
  EXPECT_FALSE(plain.WriteReq());

  TTagVar bad("not a name");
  EXPECT_EQ(bad.FullName(), "");
  EXPECT_EQ(bad.Name(), "");
  EXPECT_EQ(bad.NAD(), 0);
  EXPECT_EQ(bad.ArrayIndex(), 0);
  EXPECT_FALSE(bad.ReadReq());
  EXPECT_FALSE(bad.WriteReq());

  TTagVar given("1000.temp", "temp", 1000, -1, "");
  EXPECT_TRUE(given.ReadReq());
  EXPECT_FALSE(given.WriteReq());
  TTagVar givenValue("1000.temp", "temp", 1000, -1, "5");
  EXPECT_TRUE(givenValue.WriteReq());
}

// ---------------------------------------------------------------------------------------
// Binding and write values

std::unique_ptr<TTarvoVar> Var(TTarvoVarTyp typ, const std::string& name = "temp",
                               int32_t count = 1) {
  auto v = std::make_unique<TTarvoVar>(name, 0x10, TypWidth(typ), count, 0, 0, vsGlobal, typ,
                                       vvUser, vaReadWrite, "", TVarValue::U8(0));
  v->SetTarvoValue(typ == vtReal ? 0x41200000 : 9);  // 10.0 for a real, else 9
  return v;
}

std::string ValueText(const TTarvoVar& v) {
  return FormatValueText(v.ValueFloat());
}

// A rule that takes "ok:N" as the integer N and refuses everything else, recording what it
// was asked.
std::vector<std::string> gAsked;
bool OkRule(const TTarvoVar& V, const std::string& text, TVarValue& value) {
  gAsked.push_back(V.Name() + "=" + text);
  int32_t i = 0;
  if (text.rfind("ok:", 0) != 0 || !ParseIntegerText(text.substr(3), i)) return false;
  value = TVarValue::I32(i);
  return true;
}

TEST(TagVarTest, AWriteValueReachesTheVariableOnlyThroughItsRule) {
  const struct {
    const char* text;
    bool ruled;
    bool refused;
    const char* after;  // the variable's value text after the binding
  } cases[] = {
      {"ok:12", true, false, "12"},
      {"12", true, true, "9"},
      {"ok:12", false, true, "9"},  // no rule: nothing judged the text, nothing applies it
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text) + (c.ruled ? " ruled" : " unruled"));
    gAsked.clear();
    auto v = Var(vtInt);
    TTagVar tag("1.temp", "temp", 1, -1, c.text);
    if (c.ruled) tag.SetWriteRule(&OkRule);
    tag.SetTarvoVar(v.get());
    EXPECT_EQ(tag.TarvoVar(), v.get());
    EXPECT_TRUE(tag.WriteReq()) << "the controller object clears it, not the binding";
    EXPECT_EQ(tag.WriteRefused(), c.refused);
    EXPECT_EQ(ValueText(*v), c.after);
    EXPECT_EQ(gAsked, c.ruled ? std::vector<std::string>{std::string("temp=") + c.text}
                              : std::vector<std::string>{});
  }
}

TEST(TagVarTest, EachBindingWithAWriteRequestJudgesAgain) {
  auto v = Var(vtInt);
  TTagVar tag("1.temp", "temp", 1, -1, "x");
  tag.SetWriteRule(&OkRule);
  tag.SetTarvoVar(v.get());
  EXPECT_TRUE(tag.WriteRefused());

  tag.SetWriteValue("ok:2");
  tag.SetTarvoVar(v.get());
  EXPECT_FALSE(tag.WriteRefused());
  EXPECT_EQ(ValueText(*v), "2");

  // A binding without a write request judges nothing and keeps the last verdict.
  tag.SetWriteValue("x");
  tag.SetTarvoVar(v.get());
  EXPECT_TRUE(tag.WriteRefused());
  tag.SetWriteReq(false);
  gAsked.clear();
  tag.SetTarvoVar(v.get());
  EXPECT_TRUE(tag.WriteRefused());
  EXPECT_TRUE(gAsked.empty());
}

TEST(TagVarTest, BindingWithoutWriteRequestLeavesTheValue) {
  auto v = Var(vtInt);
  TTagVar tag("c1.temp");
  tag.SetTarvoVar(v.get());
  EXPECT_EQ(ValueText(*v), "9");
  EXPECT_FALSE(tag.WriteRefused());
}

TEST(TagVarTest, AnArrayTagMovesTheVariableToItsElement) {
  auto v = Var(vtInt, "arr", 10);
  TTagVar element("c1.arr[2]");
  element.SetTarvoVar(v.get());
  EXPECT_EQ(v->ArrayIndex(), 2);
  EXPECT_EQ(v->RealAddress(), 0x10 + 2 * 2);

  TTagVar whole("c1.arr");
  whole.SetTarvoVar(v.get());
  EXPECT_EQ(v->ArrayIndex(), 2);

  element.SetTarvoVar(nullptr);
  EXPECT_EQ(element.TarvoVar(), nullptr);
}

// ---------------------------------------------------------------------------------------
// The list

struct TagListFixture : ::testing::Test {
  std::unique_ptr<TTarvoVar> real = Var(vtReal, "r");
  std::unique_ptr<TTarvoVar> integer = Var(vtInt, "i");
  TTagVarList list;

  void SetUp() override {
    real->SetValue(TVarValue::Double(1.5));
    integer->SetValue(TVarValue::I32(-3));
    list.Add(std::make_unique<TTagVar>("c1000.r"));
    list.Add(std::make_unique<TTagVar>("c1000.i"));
    list.Add(std::make_unique<TTagVar>("c2000.unbound"));
    list.Items(0)->SetTarvoVar(real.get());
    list.Items(1)->SetTarvoVar(integer.get());
  }
};

TEST_F(TagListFixture, LookupsOutsideTheListGiveNothing) {
  EXPECT_EQ(list.Count(), 3);
  for (int bad : {-1, 3, 4}) {
    EXPECT_EQ(list.GetByIndex(bad), nullptr);
    EXPECT_EQ(list.Items(bad), nullptr);
  }
  EXPECT_EQ(list.GetByFullName("c1000.r"), list.Items(0));
  EXPECT_EQ(list.GetByFullName("C1000.r"), nullptr);
  EXPECT_EQ(list.IndexOf(list.Items(2)), 2);
  EXPECT_EQ(list.IndexOf(nullptr), -1);
}

TEST_F(TagListFixture, ReadValues) {
  double d = 0;
  int32_t i = 0;
  EXPECT_TRUE(list.ReadNumValue(0, d));
  EXPECT_EQ(d, 1.5);
  EXPECT_TRUE(list.ReadNumValue("c1000.i", d));
  EXPECT_EQ(d, -3.0);
  EXPECT_TRUE(list.ReadValueInt(0, i));
  EXPECT_EQ(i, 0x3FC00000);
  EXPECT_TRUE(list.ReadValueFloat(1, d));
  EXPECT_EQ(d, -3.0);
  d = 42;
  EXPECT_FALSE(list.ReadNumValue(2, d));
  EXPECT_FALSE(list.ReadNumValue("c2000.unbound", d));
  EXPECT_FALSE(list.ReadNumValue("c9.none", d));
  EXPECT_FALSE(list.ReadNumValue(7, d));
  EXPECT_FALSE(list.ReadValueInt(2, i));
  EXPECT_FALSE(list.ReadValueFloat(-1, d));
  EXPECT_EQ(d, 42);
}

TEST_F(TagListFixture, ReadersSwallowConversionErrors) {
  // A long built with an out-of-range display has no raw form to give.
  TTarvoVar odd("odd", 0, 4, 1, 0, 0, vsGlobal, vtLong, vvUser, vaReadWrite, "",
                TVarValue::Double(1E12));
  list.Items(2)->SetTarvoVar(&odd);
  int32_t i = 0;
  double d = 0;
  EXPECT_FALSE(list.ReadValueInt(2, i));
  EXPECT_FALSE(list.ReadNumValue(2, d));
  list.Items(2)->ClearTarvoVarReference();
}

TEST_F(TagListFixture, WriteNumValue) {
  list.WriteNumValue(1, TVarValue::Double(7.25));
  TTagVar* tag = list.Items(1);
  EXPECT_EQ(integer->ValueFloat(), 7.0);
  EXPECT_TRUE(integer->WriteReq());
  EXPECT_TRUE(integer->DiscardNextRead());
  EXPECT_EQ(tag->WriteValue(), "7.25");
  EXPECT_TRUE(tag->WriteReq());

  list.WriteNumValue("c1000.r", TVarValue::Double(0.1));
  EXPECT_EQ(list.Items(0)->WriteValue(), "0.1");
  EXPECT_EQ(real->TarvoValue(), 0x3DCCCCCD);

  list.WriteNumValue(2, TVarValue::I32(5));  // unbound: nothing happens
  EXPECT_FALSE(list.Items(2)->WriteReq());
  EXPECT_EQ(list.Items(2)->WriteValue(), "");
  list.WriteNumValue(9, TVarValue::I32(5));
  list.WriteNumValue("missing", TVarValue::I32(5));

  EXPECT_THROW(list.WriteNumValue(1, TVarValue::Double(1E12)), ERangeError);
  EXPECT_EQ(tag->WriteValue(), "7.25");
}

TEST_F(TagListFixture, Bindings) {
  EXPECT_FALSE(list.AllTagsOk());
  list.Items(2)->SetTarvoVar(integer.get());
  EXPECT_TRUE(list.AllTagsOk());

  list.ClearTarvoVarReferencesByNAD(2000);
  EXPECT_EQ(list.Items(2)->TarvoVar(), nullptr);
  EXPECT_EQ(list.Items(0)->TarvoVar(), real.get());

  list.ClearTarvoVarReferences();
  for (int i = 0; i < list.Count(); ++i) EXPECT_EQ(list.Items(i)->TarvoVar(), nullptr);
  EXPECT_TRUE(TTagVarList().AllTagsOk());
}

TEST_F(TagListFixture, ClearingReferencesAppliesNoWriteValue) {
  TTagVar* tag = list.Items(1);
  tag->SetWriteValue("100");
  tag->SetWriteReq(true);
  list.ClearTarvoVarReferences();
  EXPECT_EQ(integer->ValueFloat(), -3.0);
}

TEST_F(TagListFixture, RemoveHandsTheTagOverAndAViewOnlyForgets) {
  TTagVar* tag = list.Items(1);
  const std::unique_ptr<TTagVar> removed = list.Remove(tag);
  EXPECT_EQ(removed.get(), tag);
  EXPECT_EQ(list.Remove(tag), nullptr);
  EXPECT_EQ(list.Count(), 2);

  TTagVarView borrowing;
  borrowing.Add(list.Items(0));
  borrowing.Clear();
  EXPECT_EQ(borrowing.Count(), 0);
  EXPECT_EQ(list.Items(0)->Name(), "r");  // still alive: freed by its owner
}

}  // namespace
