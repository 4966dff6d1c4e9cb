// The binding of tags to a controller's variables on its own: which variable a tag names,
// the copies and their order, where values go back, and what it keeps between bindings.
#include "controller/uVarBinding.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int32_t kNAD = 10;

std::unique_ptr<TTarvoVar> Var(const std::string& name, int32_t address, int32_t elements = 1,
                               int32_t element = 0, TTarvoVarScope scope = vsGlobal) {
  return std::make_unique<TTarvoVar>(name, address, 2, elements, element, 0, scope, vtWord, vvUser,
                                     vaReadWrite, "", TVarValue::U16(0));
}

std::unique_ptr<TTagVar> Tag(const std::string& name, int32_t index = -1, int32_t nad = kNAD,
                             const std::string& write = "") {
  return std::make_unique<TTagVar>("c" + std::to_string(nad) + "." + name, name, nad, index, write);
}

// temp, levels[0..2], a local `temp`, and `Temp`, which differs by case.
std::unique_ptr<TTarvoVarList> Program() {
  auto vars = std::make_unique<TTarvoVarList>();
  vars->Add(Var("temp", 0x100));
  for (int e = 0; e < 3; ++e) vars->Add(Var("levels", 0x110, 3, e));
  vars->Add(Var("temp", 0x200, 1, 0, vsLocal));
  vars->Add(Var("Temp", 0x300));
  return vars;
}

struct BindCase {
  const char* Name;
  std::string Tag;
  int32_t Index;
  int32_t NAD;
  int32_t Address;  // of the variable it binds; -1: none
};

class Binding : public ::testing::TestWithParam<BindCase> {};

TEST_P(Binding, ATagNamesOneGlobalVariableOfItsNameAndElement) {
  const BindCase& c = GetParam();
  const auto vars = Program();
  TTagVarList tags;
  tags.Add(Tag(c.Tag, c.Index, c.NAD));
  TVarBinding binding;
  binding.Bind(*vars, kNAD, tags);
  const TTarvoVar* bound = tags.Items(0)->TarvoVar();
  if (c.Address < 0) {
    EXPECT_EQ(bound, nullptr);
    EXPECT_EQ(binding.Copies().Count(), 0);
  } else {
    ASSERT_NE(bound, nullptr);
    EXPECT_EQ(bound->RealAddress(), c.Address);
    ASSERT_EQ(binding.Copies().Count(), 1);
    EXPECT_EQ(binding.CopyTags().at(0), tags.Items(0));
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, Binding,
                         ::testing::Values(BindCase{"Scalar", "temp", -1, kNAD, 0x100},
                                           BindCase{"ByCase", "Temp", -1, kNAD, 0x300},
                                           BindCase{"NoSuchName", "tmp", -1, kNAD, -1},
                                           BindCase{"AnotherNAD", "temp", -1, 11, -1},
                                           BindCase{"ArrayWithoutIndexIsItsFirstElement", "levels",
                                                    -1, kNAD, 0x110},
                                           BindCase{"ArrayElement", "levels", 2, kNAD, 0x114},
                                           BindCase{"PastTheArray", "levels", 3, kNAD, -1},
                                           BindCase{"ScalarElementZero", "temp", 0, kNAD, 0x100},
                                           BindCase{"ScalarElementOne", "temp", 1, kNAD, -1}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(VarBinding, CopiesTravelInListOrderAndGoBackToTheFirstTagOfTheirVariable) {
  const auto vars = Program();
  TTagVarList tags;
  tags.Add(Tag("levels", 1));
  tags.Add(Tag("temp"));
  tags.Add(Tag("temp"));  // the same variable again: its own copy, one target
  TVarBinding binding;
  binding.Bind(*vars, kNAD, tags);
  const TTarvoVarList& copies = binding.Copies();
  ASSERT_EQ(copies.Count(), 3);
  EXPECT_EQ(copies.Items(0)->RealAddress(), 0x100);
  EXPECT_EQ(copies.Items(1)->RealAddress(), 0x100);
  EXPECT_EQ(copies.Items(2)->RealAddress(), 0x112);
  EXPECT_EQ(binding.CopyTags(),
            (std::vector<TTagVar*>{tags.Items(1), tags.Items(2), tags.Items(0)}));

  binding.Copies().Items(0)->SetTarvoValue(7);
  binding.Copies().Items(1)->SetTarvoValue(8);
  binding.Copies().Items(2)->SetTarvoValue(9);
  binding.CopyBack(tags, kNAD);
  EXPECT_EQ(vars->Items(0)->TarvoValue(), 8) << "the later copy of the same variable lands last";
  EXPECT_EQ(vars->Items(2)->TarvoValue(), 9);
}

TEST(VarBinding, DroppedCopiesAreNeitherWrittenNorCopiedBack) {
  const auto vars = Program();
  TTagVarList tags;
  tags.Add(Tag("temp", -1, kNAD, "5"));
  tags.Add(Tag("Temp", -1, kNAD, "6"));
  TVarBinding binding;
  binding.Bind(*vars, kNAD, tags);
  binding.DropCopies([&](const TTagVar& T) { return &T == tags.Items(0); });
  ASSERT_EQ(binding.Copies().Count(), 1);
  EXPECT_EQ(binding.Copies().Items(0)->RealAddress(), 0x300);
  EXPECT_EQ(binding.CopyTags(), (std::vector<TTagVar*>{tags.Items(1)}));
}

TEST(VarBinding, AChangedListIsIndexedAgain) {
  auto vars = Program();
  TTagVarList tags;
  tags.Add(Tag("temp"));
  TVarBinding binding;
  binding.Bind(*vars, kNAD, tags);
  ASSERT_EQ(binding.Copies().Count(), 1);

  // A list of the same length whose variable moved elsewhere.
  auto moved = std::make_unique<TTarvoVarList>();
  for (int v = 0; v < vars->Count(); ++v) {
    moved->Add(v == 3 ? Var("temp", 0x500) : Var("other", 0x400 + 2 * v));
  }
  binding.Forget();
  binding.Bind(*moved, kNAD, tags);
  ASSERT_NE(tags.Items(0)->TarvoVar(), nullptr);
  EXPECT_EQ(tags.Items(0)->TarvoVar()->RealAddress(), 0x500);
  binding.ReleaseTags();
  EXPECT_TRUE(binding.CopyTags().empty());
}

}  // namespace
