// TTarvo against simulated controllers on loopback: the link's state machine, the cost of
// an established link, binding, and the write and read of values.
#include "controller/uTarvo.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "comm/uAdapterTable.h"
#include "data/uErrors.h"
#include "data/uNumText.h"
#include "sim/uSimHost.h"
#include "support/sim_support.h"

namespace {

constexpr uint8_t kPing = 0x10;
constexpr uint8_t kReadStatus = 0x11;
constexpr uint8_t kReadCode = 0x21;
constexpr uint8_t kReadRandom = 0x33;
constexpr uint8_t kWriteRandom = 0x34;

// The write rule of these tags: a real takes a number, any other type an integer within
// 32 bits; anything else is refused. Which values a variable may really take is decided
// above this layer: here it matters only that what a rule accepts is written and what it
// refuses is not.
bool PlainNumber(const TTarvoVar& V, const std::string& text, TVarValue& value) {
  double d = 0;
  int32_t i = 0;
  if (V.Typ() == vtReal && ParseFloatText(text, d)) {
    value = TVarValue::Double(d);
    return true;
  }
  if (V.Typ() == vtReal || !ParseIntegerText(text, i)) return false;
  value = TVarValue::I32(i);
  return true;
}

// A tag as the workflows make them: NAD, name, index, write text, and a write rule.
std::unique_ptr<TTagVar> Tag(int32_t nad, const std::string& name, int32_t index = -1,
                             const std::string& write = "") {
  auto tag = std::make_unique<TTagVar>(std::to_string(nad) + "." + name, name, nad, index, write);
  tag->SetWriteRule(&PlainNumber);
  return tag;
}

sim::TSimVar Var(uint32_t address, int count, int size, const char* scope, const char* type,
                 const char* name, std::vector<uint32_t> initial = {}) {
  sim::TSimVar v;
  v.Address = address;
  v.Flags = 2;
  v.Count = count;
  v.Size = size;
  v.Scope = scope;
  v.Type = type;
  v.Name = name;
  v.Initial = std::move(initial);
  return v;
}

class TarvoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    host_ = testsupport::StartSimulators(2, error);
    ASSERT_NE(host_, nullptr) << error;
    tarvo_ = MakeTarvo(10);
  }

  std::unique_ptr<TTarvo> MakeTarvo(int32_t nad) {
    auto tarvo = std::make_unique<TTarvo>(nad);
    tarvo->SetEthAdapterID("lo");
    tarvo->SetPort(host_->Port());
    // Few, short repeats: a silent controller is given up on quickly.
    tarvo->Comm()->SetNoRetires(1);
    tarvo->Comm()->SetWaitTime(300);
    return tarvo;
  }

  sim::TSimController& Sim(int i = 0) { return host_->Controller(i); }

  // The command codes controller i received since the last call.
  std::vector<uint8_t> Commands(int i = 0) {
    std::vector<uint8_t> codes;
    for (const sim::TSimRequest& r : Sim(i).Requests()) codes.push_back(r.Command);
    Sim(i).ClearRequests();
    return codes;
  }

  std::vector<sim::TSimRequest> Requests(uint8_t command, int i = 0) {
    std::vector<sim::TSimRequest> found;
    for (const sim::TSimRequest& r : Sim(i).Requests()) {
      if (r.Command == command) found.push_back(r);
    }
    return found;
  }

  static size_t CountOf(const std::vector<uint8_t>& codes, uint8_t code) {
    return static_cast<size_t>(std::count(codes.begin(), codes.end(), code));
  }

  // Reads the named scalars of NAD 10 in one exchange.
  std::unique_ptr<TTagVarList> ReadTags(std::initializer_list<const char*> names) {
    auto tags = std::make_unique<TTagVarList>();
    for (const char* name : names) tags->Add(Tag(10, name));
    tarvo_->Read(*tags);
    return tags;
  }

  std::unique_ptr<sim::TSimHost> host_;
  std::unique_ptr<TTarvo> tarvo_;
};

TEST_F(TarvoTest, FirstReadWalksEveryStepAndReadsTheAllocationFile) {
  TTagVarList tags;
  tags.Add(Tag(10, "temp"));
  tarvo_->Read(tags);

  const auto codes = Commands();
  ASSERT_FALSE(codes.empty());
  EXPECT_EQ(codes.front(), kPing);
  EXPECT_GT(CountOf(codes, kReadCode), 2u) << "header, date and the allocation archive";
  EXPECT_EQ(CountOf(codes, kReadStatus), 1u);
  EXPECT_EQ(codes.back(), kReadRandom);
  EXPECT_TRUE(tarvo_->SockOK());
  EXPECT_TRUE(tarvo_->PingOK());
  EXPECT_TRUE(tarvo_->ProgramOK());
  EXPECT_TRUE(tarvo_->AlcOK());
  EXPECT_TRUE(tarvo_->RunOK());
  EXPECT_EQ(tarvo_->IP(), Sim().IP());
  EXPECT_EQ(tarvo_->ProgramState(), TProgramState::psCheckCode);
  EXPECT_FALSE(tarvo_->ProgramDate().empty());
  ASSERT_NE(tags.Items(0)->TarvoVar(), nullptr);
  EXPECT_EQ(tags.Items(0)->TarvoVar()->ValueFloat(), -125);
  EXPECT_EQ(tags.Items(0)->TarvoVar()->Description(), "Tank temperature in 0.1 degC");
}

TEST_F(TarvoTest, EstablishedLinkSpendsThreeChecksBeforeTheExchange) {
  ReadTags({"temp"});
  Commands();
  Sim().WriteVar("temp", 0, 321);
  const auto tagsOwned = ReadTags({"temp", "setpoint", "total"});
  const TTagVarList& tags = *tagsOwned;
  // Program header, transfer date, run state; then one read of all three values.
  EXPECT_EQ(Commands(), (std::vector<uint8_t>{kReadCode, kReadCode, kReadStatus, kReadRandom}));
  EXPECT_EQ(tags.Items(0)->TarvoVar()->ValueFloat(), 321);
  EXPECT_FLOAT_EQ(static_cast<float>(tags.Items(1)->TarvoVar()->ValueFloat()), 21.5f);
  EXPECT_EQ(tags.Items(2)->TarvoVar()->ValueFloat(), 123456789);
}

TEST_F(TarvoTest, ChecksRunByTheCallerLetTheNextReadExchangeAtOnce) {
  const auto runChecks = [this](TTarvo& T) {
    T.CheckSocket();
    T.CheckTarvo();
    T.CheckProgram();
    T.CheckAllocation();
    T.CheckPLCRun();
  };
  runChecks(*tarvo_);
  EXPECT_EQ(tarvo_->ProgramState(), TProgramState::psInit) << "the checks keep the state";
  tarvo_->ResumeAfterChecks();
  Commands();
  Sim().WriteVar("temp", 0, 77);
  const auto tagsOwned = ReadTags({"temp"});
  EXPECT_EQ(Commands(), (std::vector<uint8_t>{kReadRandom}));
  ASSERT_NE(tagsOwned->Items(0)->TarvoVar(), nullptr);
  EXPECT_EQ(tagsOwned->Items(0)->TarvoVar()->ValueFloat(), 77);
  EXPECT_EQ(tarvo_->ProgramState(), TProgramState::psCheckCode);

  // A check that failed leaves the next Read to walk every step itself.
  Sim(1).ClearProgram();
  auto other = MakeTarvo(11);
  runChecks(*other);
  other->ResumeAfterChecks();
  EXPECT_EQ(other->ProgramState(), TProgramState::psInit);
  Commands(1);
  TTagVarList tags;
  tags.Add(Tag(11, "temp"));
  other->Read(tags);
  const auto codes = Commands(1);
  ASSERT_FALSE(codes.empty());
  EXPECT_EQ(codes.front(), kPing);
  EXPECT_EQ(other->ErrorS, "PLC has no program!");
}

TEST_F(TarvoTest, ReplacedProgramIsNoticedAndItsVariablesBound) {
  ReadTags({"temp"});
  auto vars = sim::TSimController::DefaultVars();
  vars.push_back(Var(0x0400, 1, 2, "global", "word", "added", {4242}));
  Sim().ReplaceProgram(vars);
  Commands();

  const auto tagsOwned = ReadTags({"added"});
  const TTagVarList& tags = *tagsOwned;
  EXPECT_GT(CountOf(Commands(), kReadCode), 2u) << "the allocation file is read again";
  ASSERT_NE(tags.Items(0)->TarvoVar(), nullptr);
  EXPECT_EQ(tags.Items(0)->TarvoVar()->ValueFloat(), 4242);
}

TEST_F(TarvoTest, StoppedPlcStillExchangesValues) {
  Sim().SetRunning(false);
  const auto tagsOwned = ReadTags({"counter_w"});
  const TTagVarList& tags = *tagsOwned;
  EXPECT_FALSE(tarvo_->RunOK());
  EXPECT_EQ(tarvo_->ProgramState(), TProgramState::psCheckCode);
  ASSERT_NE(tags.Items(0)->TarvoVar(), nullptr);
  EXPECT_EQ(tags.Items(0)->TarvoVar()->ValueFloat(), 1234);
}

TEST_F(TarvoTest, SilentControllerIsPingedAgainNextTime) {
  sim::TSimFaults silent;
  silent.DropProbability = 1;
  Sim().SetFaults(silent);
  TTagVarList tags;
  tags.Add(Tag(10, "temp"));
  tarvo_->Read(tags);
  EXPECT_EQ(tarvo_->ErrorS, "PLC not responding!");
  EXPECT_FALSE(tarvo_->PingOK());
  EXPECT_EQ(tarvo_->ProgramState(), TProgramState::psSocketInit);
  EXPECT_EQ(tags.Items(0)->TarvoVar(), nullptr);
  EXPECT_TRUE(Requests(kReadRandom).empty());

  Sim().SetFaults({});
  Commands();
  tarvo_->Read(tags);
  const auto codes = Commands();
  ASSERT_FALSE(codes.empty());
  EXPECT_EQ(codes.front(), kPing);
  ASSERT_NE(tags.Items(0)->TarvoVar(), nullptr);
  EXPECT_EQ(tarvo_->ErrorS, "PLC not responding!") << "kept until the next failure";
}

TEST_F(TarvoTest, ControllerFallingSilentOnAnEstablishedLinkIsReopened) {
  ReadTags({"temp"});
  sim::TSimFaults silent;
  silent.DropProbability = 1;
  Sim().SetFaults(silent);
  const auto failedOwned = ReadTags({"temp"});
  const TTagVarList& failed = *failedOwned;
  EXPECT_EQ(tarvo_->ErrorS, "PLC has no program!");
  EXPECT_EQ(tarvo_->ProgramState(), TProgramState::psSocketInit);
  EXPECT_EQ(failed.Items(0)->TarvoVar(), nullptr);

  Sim().SetFaults({});
  Commands();
  const auto tagsOwned = ReadTags({"temp"});
  const TTagVarList& tags = *tagsOwned;
  EXPECT_EQ(Commands().front(), kPing);
  EXPECT_NE(tags.Items(0)->TarvoVar(), nullptr);
}

TEST_F(TarvoTest, TagsBindByExactNameScopeAndElement) {
  Sim().ReplaceProgram(std::vector<sim::TSimVar>{
      Var(0x0400, 1, 2, "global", "word", "x", {7}),
      Var(0x0410, 5, 2, "global", "int", "arr"),
      Var(0x0420, 1, 2, "local", "int", "loc", {9}),
  });
  for (int i = 0; i < 5; ++i) Sim().WriteVar("arr", i, 100 + i);

  struct Case {
    const char* name;
    int32_t index;
    int32_t nad;
    double value;  // -1: stays unbound
  };
  const std::vector<Case> cases = {
      {"x", -1, 10, 7},        {"x", 0, 10, 7},    {"arr", -1, 10, 100}, {"arr", 3, 10, 103},
      {"arr", 4, 10, 104},     {"arr", 5, 10, -1}, {"X", -1, 10, -1},    {"loc", -1, 10, -1},
      {"missing", -1, 10, -1}, {"x", -1, 11, -1},
  };
  TTagVarList tags;
  for (const Case& c : cases) tags.Add(Tag(c.nad, c.name, c.index));
  tarvo_->Read(tags);
  ASSERT_EQ(tarvo_->ProgramState(), TProgramState::psCheckCode) << tarvo_->ErrorS;
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(std::string(c.name) + "[" + std::to_string(c.index) + "] of NAD " +
                 std::to_string(c.nad));
    const TTarvoVar* bound = tags.Items(static_cast<int>(i))->TarvoVar();
    if (c.value < 0) {
      EXPECT_EQ(bound, nullptr);
    } else {
      ASSERT_NE(bound, nullptr);
      EXPECT_EQ(bound->ValueFloat(), c.value);
    }
  }
}

// Duplicates in both lists: two scalars and two element 1s of one name, one tag object
// listed twice, and tags that ask for the same variable in different words. The working
// copies, and the addresses of the read request, follow the variable list (and the tag list
// for one variable); a tag ends bound to the last variable it matched; the values read go to
// the variable of the first tag of each name and element, so an earlier duplicate keeps
// what it held although it was read.
TEST_F(TarvoTest, BindingFollowsTheVariableListAndCopiesBackToTheFirstTag) {
  Sim().ReplaceProgram(std::vector<sim::TSimVar>{
      Var(0x0100, 1, 2, "global", "word", "x"),    // 0
      Var(0x0110, 3, 2, "global", "word", "arr"),  // 1, 2, 3: elements 0 to 2
      Var(0x0200, 1, 2, "global", "word", "x"),    // 4
      Var(0x0300, 2, 2, "global", "word", "arr"),  // 5, 6: elements 0 and 1 again
      Var(0x0400, 1, 2, "global", "word", "X"),    // 7
  });
  for (const auto& [address, value] : std::vector<std::pair<uint32_t, uint8_t>>{{0x0100, 0x11},
                                                                                {0x0110, 0x31},
                                                                                {0x0112, 0x21},
                                                                                {0x0200, 0x12},
                                                                                {0x0300, 0x32},
                                                                                {0x0302, 0x22},
                                                                                {0x0400, 0x33}}) {
    Sim().WriteDataMemory(address, {value, 0});
  }

  // One tag listed twice: the list that owns the tags holds it once, the view the Read
  // walks holds it at both places.
  TTagVarList owned;
  TTagVarView tags;
  const auto add = [&](std::unique_ptr<TTagVar> tag) {
    tags.Add(tag.get());
    return owned.Items(owned.Add(std::move(tag)));
  };
  add(Tag(10, "arr", 1));                    // t0
  add(Tag(10, "x"));                         // t1
  add(Tag(10, "x", 0));                      // t2
  add(Tag(10, "arr"));                       // t3: element 0
  TTagVar* const twice = add(Tag(10, "x"));  // t4
  add(Tag(10, "X"));                         // t5
  add(Tag(11, "x"));                         // t6: another controller's
  add(Tag(10, "arr", 3));                    // t7: beyond the array
  add(Tag(10, "x", 1));                      // t8: a scalar has no element 1
  tags.Add(twice);                           // t9
  tarvo_->Read(tags);
  tags.Remove(twice);  // its first place
  ASSERT_EQ(tarvo_->ProgramState(), TProgramState::psCheckCode) << tarvo_->ErrorS;

  const TTarvoVarList& vars = *tarvo_->TarvoVarList();
  ASSERT_EQ(vars.Count(), 8);
  std::vector<uint16_t> copied;
  for (int i = 0; i < tarvo_->SelectedVarList().Count(); ++i)
    copied.push_back(static_cast<uint16_t>(tarvo_->SelectedVarList().Items(i)->RealAddress()));
  const std::vector<uint16_t> expected = {0x0100, 0x0100, 0x0100, 0x0100, 0x0110, 0x0112, 0x0200,
                                          0x0200, 0x0200, 0x0200, 0x0300, 0x0302, 0x0400};
  EXPECT_EQ(copied, expected);
  const auto reads = Requests(kReadRandom);
  ASSERT_EQ(reads.size(), 1u);
  std::vector<uint16_t> requested;
  for (size_t i = 6; i + 1 < reads[0].Params.size(); i += 2)
    requested.push_back(GetLE16(reads[0].Params.data() + i));
  EXPECT_EQ(requested, expected);

  const auto boundTo = [&](int t) { return vars.IndexOf(tags.Items(t)->TarvoVar()); };
  // t4 is gone from the list: t5 to t8 are now at 4 to 7, and the second t4 at 8.
  EXPECT_EQ(boundTo(0), 6);
  EXPECT_EQ(boundTo(1), 4);
  EXPECT_EQ(boundTo(2), 4);
  EXPECT_EQ(boundTo(3), 5);
  EXPECT_EQ(boundTo(4), 7);
  EXPECT_EQ(boundTo(5), -1);
  EXPECT_EQ(boundTo(6), -1);
  EXPECT_EQ(boundTo(7), -1);
  EXPECT_EQ(boundTo(8), 4);

  const auto value = [&](int v) { return vars.Items(v)->ValueFloat(); };
  EXPECT_EQ(value(4), 0x12);
  EXPECT_EQ(value(0), 0) << "read, but no tag's first variable";
  EXPECT_EQ(value(5), 0x32);
  EXPECT_EQ(value(1), 0);
  EXPECT_EQ(value(6), 0x22);
  EXPECT_EQ(value(2), 0);
  EXPECT_EQ(value(7), 0x33);
}

TEST_F(TarvoTest, TagListWithoutThisNadSendsNothing) {
  TTagVarList tags;
  tags.Add(Tag(11, "temp"));
  tarvo_->Read(tags);
  EXPECT_TRUE(Commands().empty());
  EXPECT_EQ(tarvo_->ProgramState(), TProgramState::psInit);
  EXPECT_EQ(tags.Items(0)->TarvoVar(), nullptr);
}

TEST_F(TarvoTest, AllocationParseErrorReachesTheCallerAndIsReadAgain) {
  ReadTags({"temp"});
  const std::string bad =
      sim::TSimController::MakeAlcText(sim::TSimController::DefaultVars(), 10) + "bad line\r\n";
  Sim().ReplaceProgram(bad);
  for (int attempt = 0; attempt < 2; ++attempt) {
    SCOPED_TRACE(attempt);
    Commands();
    TTagVarList tags;
    tags.Add(Tag(10, "temp"));
    EXPECT_THROW(tarvo_->Read(tags), EAlcParseError);
    EXPECT_EQ(tarvo_->ProgramState(), TProgramState::psReadAlc);
    EXPECT_EQ(tags.Items(0)->TarvoVar(), nullptr);
    EXPECT_TRUE(tarvo_->AlcOK()) << "keeps the outcome of the last check that ended";
    EXPECT_GT(CountOf(Commands(), kReadCode), 0u);
  }

  Sim().ReplaceProgram(sim::TSimController::DefaultVars());
  const auto tagsOwned = ReadTags({"temp"});
  const TTagVarList& tags = *tagsOwned;
  EXPECT_EQ(tarvo_->ProgramState(), TProgramState::psCheckCode);
  EXPECT_NE(tags.Items(0)->TarvoVar(), nullptr);
}

TEST_F(TarvoTest, MissingAllocationFileIsReportedAndLookedForAgain) {
  Sim().SetWithoutAlc(true);
  const auto tagsOwned = ReadTags({"temp"});
  const TTagVarList& tags = *tagsOwned;
  EXPECT_EQ(tarvo_->ErrorS, "ALC data not found!");
  EXPECT_FALSE(tarvo_->AlcOK());
  EXPECT_TRUE(tarvo_->ProgramOK());
  EXPECT_EQ(tarvo_->ProgramState(), TProgramState::psSocketInit);
  EXPECT_EQ(tags.Items(0)->TarvoVar(), nullptr);

  // The same program, its file readable again (as after an answer lost while reading it):
  // the transfer date has not changed, yet the variables must still be read.
  Sim().SetWithoutAlc(false);
  const auto againOwned = ReadTags({"temp"});
  EXPECT_TRUE(tarvo_->AlcOK());
  ASSERT_NE(againOwned->Items(0)->TarvoVar(), nullptr);
  EXPECT_EQ(againOwned->Items(0)->TarvoVar()->ValueFloat(), -125);
}

TEST_F(TarvoTest, NoProgramIsReported) {
  Sim().ClearProgram();
  ReadTags({"temp"});
  EXPECT_EQ(tarvo_->ErrorS, "PLC has no program!");
  EXPECT_FALSE(tarvo_->ProgramOK());
  EXPECT_TRUE(tarvo_->PingOK());
}

TEST_F(TarvoTest, WriteGoesOutInOneRequestAndIsReadBackInTheSameCall) {
  ReadTags({"temp"});
  Commands();
  TTagVarList tags;
  tags.Add(Tag(10, "temp", -1, "215"));
  tags.Add(Tag(10, "setpoint", -1, "0.1"));
  tags.Add(Tag(10, "levels", 3, "-1"));
  tags.Add(Tag(10, "flag", -1, "1"));
  tarvo_->Read(tags);
  EXPECT_EQ(Commands(),
            (std::vector<uint8_t>{kReadCode, kReadCode, kReadStatus, kWriteRandom, kReadRandom}));
  EXPECT_EQ(Sim().ReadVar("temp"), 215u);
  EXPECT_EQ(Sim().ReadVar("levels", 3), 0xFFFFu);
  EXPECT_EQ(Sim().ReadVar("flag"), 1u);
  EXPECT_EQ(Sim().ReadVar("setpoint"), 0x3DCCCCCDu);
  EXPECT_EQ(tags.Items(1)->TarvoVar()->ValueFloat(), static_cast<double>(0.1f));
  EXPECT_EQ(tags.Items(2)->TarvoVar()->ValueFloat(), -1);
  for (int i = 0; i < tags.Count(); ++i) {
    EXPECT_FALSE(tags.Items(i)->WriteReq());
    EXPECT_FALSE(tags.Items(i)->WriteRefused());
  }
  const TExchangeReport& exchange = tarvo_->LastExchange();
  EXPECT_TRUE(exchange.Reached);
  EXPECT_EQ(exchange.Write, TWriteAnswer::waAcknowledged);
  EXPECT_TRUE(exchange.ReadBack);
}

TEST_F(TarvoTest, ARefusedValueIsNotWrittenAndItsVariableIsStillReadBack) {
  Sim().WriteVar("temp", 0, 55);
  TTagVarList tags;
  tags.Add(Tag(10, "temp", -1, "1.5"));  // refused by the rule
  TTagVar* unruled =
      tags.Items(tags.Add(std::make_unique<TTagVar>("10.total", "total", 10, -1, "5")));
  (void)unruled;  // no rule: nothing judged it, so nothing writes it
  tags.Add(Tag(10, "counter_w", -1, "77"));
  tarvo_->Read(tags);
  ASSERT_EQ(tarvo_->ProgramState(), TProgramState::psCheckCode) << tarvo_->ErrorS;

  const auto writes = Requests(kWriteRandom);
  ASSERT_EQ(writes.size(), 1u);
  // Counts c1, c2, c4 = 0, 1, 0: only counter_w went out.
  EXPECT_EQ(std::vector<uint8_t>(writes[0].Params.begin(), writes[0].Params.begin() + 6),
            (std::vector<uint8_t>{0, 0, 1, 0, 0, 0}));
  EXPECT_EQ(Sim().ReadVar("temp"), 55u);
  EXPECT_EQ(Sim().ReadVar("total"), 123456789u);
  EXPECT_EQ(Sim().ReadVar("counter_w"), 77u);
  for (int i : {0, 1}) {
    const TTagVar* tag = tags.Items(i);
    EXPECT_TRUE(tag->WriteRefused()) << tag->Name();
    ASSERT_NE(tag->TarvoVar(), nullptr) << "still read back";
  }
  EXPECT_EQ(tags.Items(0)->TarvoVar()->ValueFloat(), 55);
  EXPECT_FALSE(tags.Items(2)->WriteRefused());

  // With every value refused, no write request goes out at all.
  Sim().ClearRequests();
  TTagVarList refused;
  refused.Add(Tag(10, "temp", -1, "x"));
  tarvo_->Read(refused);
  EXPECT_TRUE(Requests(kWriteRandom).empty());
  EXPECT_EQ(tarvo_->LastExchange().Write, TWriteAnswer::waNone);
  EXPECT_TRUE(tarvo_->LastExchange().ReadBack);
}

TEST_F(TarvoTest, AControllerThatRefusesThePasswordIsNotCalledSilent) {
  Sim().SetPassword("secret");
  const auto tags = ReadTags({"temp"});
  EXPECT_EQ(tarvo_->ErrorS, "PLC refuses the password!");
  EXPECT_EQ(tarvo_->RefusalCode(), md_BADPASS);
  EXPECT_FALSE(tarvo_->LastExchange().Reached);

  tarvo_->SetPassword("secret");
  ReadTags({"temp"});
  EXPECT_EQ(tarvo_->RefusalCode(), md_REQ);
  EXPECT_TRUE(tarvo_->LastExchange().ReadBack);

  // A silent one is what it always was.
  sim::TSimFaults silent;
  silent.DropProbability = 1;
  Sim().SetFaults(silent);
  tarvo_->Disconnect();
  ReadTags({"temp"});
  EXPECT_EQ(tarvo_->RefusalCode(), md_REQ);
}

TEST_F(TarvoTest, RealHoldingNoFiniteNumberIsReadWithoutRaising) {
  Sim().WriteVar("setpoint", 0, 0x7F800000u);  // +infinity
  std::unique_ptr<TTagVarList> tags;
  ASSERT_NO_THROW(tags = ReadTags({"setpoint", "temp"}));
  ASSERT_EQ(tarvo_->ProgramState(), TProgramState::psCheckCode) << tarvo_->ErrorS;
  ASSERT_NE(tags->Items(0)->TarvoVar(), nullptr);
  EXPECT_EQ(tags->Items(0)->TarvoVar()->TarvoValue(), 0x7F800000);
  EXPECT_EQ(tags->Items(1)->TarvoVar()->ValueFloat(), -125);
}

TEST_F(TarvoTest, ManyValuesTravelInAsFewRequestsAsPossible) {
  std::vector<sim::TSimVar> vars;
  for (int i = 0; i < 250; ++i) {
    sim::TSimVar v = Var(0x1000 + 4 * i, 1, 4, "global", "long", "");
    v.Name = "v" + std::to_string(i);
    vars.push_back(v);
  }
  Sim().ReplaceProgram(vars);
  TTagVarList tags;
  for (int i = 0; i < 250; ++i)
    tags.Add(Tag(10, "v" + std::to_string(i), -1, std::to_string(i * 3)));
  tarvo_->Read(tags);
  ASSERT_EQ(tarvo_->ProgramState(), TProgramState::psCheckCode) << tarvo_->ErrorS;
  EXPECT_EQ(Requests(kWriteRandom).size(), 3u) << "100 + 100 + 50";
  EXPECT_EQ(Requests(kReadRandom).size(), 2u) << "200 + 50";
  for (int i = 0; i < 250; i += 49) {
    EXPECT_EQ(Sim().ReadVar("v" + std::to_string(i)), static_cast<uint32_t>(i * 3));
    EXPECT_EQ(tags.Items(i)->TarvoVar()->ValueFloat(), i * 3);
  }
}

TEST_F(TarvoTest, DisconnectKeepsTheStateAndTheNextReadStillReaches) {
  ReadTags({"temp"});
  EXPECT_TRUE(tarvo_->Disconnect());
  EXPECT_EQ(tarvo_->ProgramState(), TProgramState::psCheckCode);
  Sim().WriteVar("temp", 0, 99);
  const auto tagsOwned = ReadTags({"temp"});
  const TTagVarList& tags = *tagsOwned;
  ASSERT_NE(tags.Items(0)->TarvoVar(), nullptr) << tarvo_->ErrorS;
  EXPECT_EQ(tags.Items(0)->TarvoVar()->ValueFloat(), 99);
  EXPECT_EQ(Requests(kPing).size(), 1u) << "only the first Read pinged";
}

TEST_F(TarvoTest, ReconnectPingsTheKnownAddress) {
  ReadTags({"temp"});
  tarvo_->Disconnect();
  Commands();
  EXPECT_TRUE(tarvo_->Reconnect());
  EXPECT_EQ(tarvo_->IP(), Sim().IP());
  const auto pings = Requests(kPing);
  ASSERT_EQ(pings.size(), 1u);
  EXPECT_FALSE(pings[0].Broadcast);
}

TEST_F(TarvoTest, StaticAddressWithPortReachesTheController) {
  auto other = MakeTarvo(11);
  other->SetIP(Sim(1).IP() + ":" + std::to_string(host_->Port()));
  EXPECT_EQ(other->Port(), host_->Port());
  TTagVarList tags;
  tags.Add(Tag(11, "counter_w"));
  other->Read(tags);
  ASSERT_NE(tags.Items(0)->TarvoVar(), nullptr) << other->ErrorS;
  EXPECT_EQ(other->IP(), Sim(1).IP());
  for (const sim::TSimRequest& r : Sim(1).Requests()) EXPECT_FALSE(r.Broadcast);
}

// The host's adapter table is read where a use needs it as it is now, opening a socket,
// and nowhere else: not per controller object, not when an adapter is chosen, not per
// request. A status check opens twice per controller (its socket check, then its first Read).
TEST_F(TarvoTest, AdapterTableIsReadOncePerSocketOpened) {
  int reads = 0;
  TScopedAdapterTable table([&reads](std::vector<TAdapterRecord>& out) {
    ++reads;
    out = {{"eth9", "eth9", "192.0.2.7", "255.255.255.0", "192.0.2.1"},
           {"lo", "lo", "127.0.0.1", "255.0.0.0", ""}};
    return true;
  });
  std::vector<std::unique_ptr<TTarvo>> controllers;
  for (int32_t nad : {10, 11}) controllers.push_back(MakeTarvo(nad));
  EXPECT_EQ(reads, 1) << "the first object reads it; the next take it as read";

  for (auto& T : controllers) {
    T->SetEthAdapterID("lo");
    ASSERT_TRUE(T->CheckSocket());
    ASSERT_TRUE(T->CheckTarvo());
    ASSERT_TRUE(T->CheckProgram());
    ASSERT_TRUE(T->CheckAllocation());
    T->CheckPLCRun();
    TTagVarList tags;
    tags.Add(Tag(T->NAD(), "counter_w"));
    T->Read(tags);
    T->Read(tags);
    ASSERT_NE(tags.Items(0)->TarvoVar(), nullptr) << T->ErrorS;
    T->Disconnect();
  }
  EXPECT_EQ(reads, 1 + 2 * 2);

  // The list the settings dialog shows is read afresh.
  TEthernetAdapterInfoList list;
  list.Refresh();
  EXPECT_EQ(reads, 6);
  EXPECT_EQ(list.Count(), 2);
}

TEST_F(TarvoTest, UnknownAdapterFailsTheSocketCheck) {
  tarvo_->SetEthAdapterID("no-such-adapter");
  ReadTags({"temp"});
  EXPECT_EQ(tarvo_->ErrorS, "Cannot open socket!");
  EXPECT_FALSE(tarvo_->SockOK());
  EXPECT_TRUE(Commands().empty());
}

TEST(TarvoNadTest, TheHighestNadReadsItsAllocationFileFromTheMarker) {
  // NAD 4294967295 is kept as -1; the preamble of its allocation file is not parsed.
  std::string error;
  const auto started = testsupport::StartSimulators(
      1, error, [](sim::TSimHostOptions& o) { o.BaseNAD = 4294967295u; });
  ASSERT_NE(started, nullptr) << error;
  sim::TSimHost& host = *started;
  TTarvo tarvo(-1);
  tarvo.SetEthAdapterID("lo");
  tarvo.SetPort(host.Port());
  TTagVarList tags;
  tags.Add(Tag(-1, "temp"));
  tarvo.Read(tags);
  EXPECT_TRUE(tarvo.AlcOK()) << tarvo.ErrorS;
  ASSERT_NE(tags.Items(0)->TarvoVar(), nullptr) << tarvo.ErrorS;
  EXPECT_EQ(tags.Items(0)->TarvoVar()->ValueFloat(), -125);
  // The communicator's own list of the variables, as the info command reads it.
  const std::unique_ptr<TTarvoVarList> listed = tarvo.Comm()->GetAlcVarList();
  ASSERT_NE(listed, nullptr);
  EXPECT_NE(listed->FindByName("temp"), nullptr);
  for (const sim::TSimRequest& r : host.Controller(0).Requests()) EXPECT_EQ(r.ToNAD, 4294967295u);
}

// Binding and copy-back against the rules applied one pair at a time (every variable with
// every tag), on random lists full of duplicates: names that differ in case, arrays that
// repeat, local variables, tags of another NAD, one tag listed several times, variable lists
// replaced by others of the same length, and tags rebound by hand before the copy-back.
class TarvoBindingRules : public ::testing::Test {
 protected:
  struct TReference {
    std::vector<const TTarvoVar*> Copies;   // the variable each copy is made from
    std::vector<const TTarvoVar*> BoundTo;  // per tag, after the binding
  };

  static bool Binds(const TTarvoVar& V, const TTagVar& T, int32_t nad) {
    return T.NAD() == nad && V.Name() == T.Name() && V.ArrayCount() > T.ArrayIndex() &&
           V.Scope() == vsGlobal &&
           (V.ArrayIndex() == T.ArrayIndex() || (T.ArrayIndex() < 0 && V.ArrayIndex() == 0));
  }

  static TReference Bind(const TTarvoVarList& vars, const TTagVars& tags, int32_t nad) {
    TReference r;
    r.BoundTo.assign(static_cast<size_t>(tags.Count()), nullptr);
    for (int v = 0; v < vars.Count(); ++v) {
      for (int t = 0; t < tags.Count(); ++t) {
        if (!Binds(*vars.Items(v), *tags.Items(t), nad)) continue;
        r.Copies.push_back(vars.Items(v));
        // One object listed twice is bound wherever it stands.
        for (int u = 0; u < tags.Count(); ++u)
          if (tags.Items(u) == tags.Items(t)) r.BoundTo[static_cast<size_t>(u)] = vars.Items(v);
      }
    }
    return r;
  }

  // Where each copy's value goes, given the tags as they are bound now.
  static std::vector<const TTarvoVar*> Targets(const TTarvoVarList& copies, const TTagVars& tags,
                                               int32_t nad) {
    std::vector<const TTarvoVar*> targets;
    for (int c = 0; c < copies.Count(); ++c) {
      const TTarvoVar* C = copies.Items(c);
      const TTarvoVar* target = nullptr;
      for (int t = 0; t < tags.Count() && target == nullptr; ++t) {
        const TTarvoVar* V = tags.Items(t)->TarvoVar();
        if (V != nullptr && tags.Items(t)->NAD() == nad && V->Name() == C->Name() &&
            V->ArrayIndex() == C->ArrayIndex()) {
          target = V;
        }
      }
      targets.push_back(target);
    }
    return targets;
  }

  std::unique_ptr<TTarvoVarList> RandomVars(int count) {
    static const char* const kNames[] = {"a", "b", "A", "level", "b"};
    auto vars = std::make_unique<TTarvoVarList>();
    while (vars->Count() < count) {
      const std::string name = kNames[Pick(5)];
      const TTarvoVarScope scope = Pick(6) == 0 ? vsLocal : vsGlobal;
      const int elements = Pick(3) == 0 ? 1 + Pick(4) : 1;
      for (int e = 0; e < elements && vars->Count() < count; ++e) {
        vars->Add(std::make_unique<TTarvoVar>(name, 0x100 + 2 * vars->Count(), 2, elements, e, 0,
                                              scope, vtWord, vvUser, vaReadWrite, "",
                                              TVarValue::U16(0)));
      }
    }
    return vars;
  }

  // Tags that one list owns and a view walks in some order, one object maybe several times.
  struct TTagSet {
    TTagVarList Owned;
    TTagVarView Tags;
    TTagVar* Own(std::unique_ptr<TTagVar> tag) { return Owned.Items(Owned.Add(std::move(tag))); }
  };

  std::unique_ptr<TTagVar> RandomTag() {
    static const char* const kNames[] = {"a", "b", "A", "level", "B", "c"};
    const int32_t nad = Pick(8) == 0 ? 11 : 10;
    return Tag(nad, kNames[Pick(6)], Pick(3) - 1 + (Pick(4) == 0 ? 2 : 0));
  }

  std::unique_ptr<TTagSet> RandomTags(int count) {
    auto set = std::make_unique<TTagSet>();
    TTagVarView& tags = set->Tags;
    while (tags.Count() < count) {
      if (tags.Count() > 0 && Pick(8) == 0) {
        tags.Add(tags.Items(Pick(tags.Count())));  // the same object again
        continue;
      }
      tags.Add(set->Own(RandomTag()));
    }
    return set;
  }

  // Distinct raw values in every variable, so that a copied value shows where it came from.
  static void Stamp(const TTarvoVarList& vars, int32_t base) {
    for (int v = 0; v < vars.Count(); ++v) vars.Items(v)->SetTarvoValue(base + v);
  }

  int Pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

  std::mt19937 random_{20240611};
};

TEST_F(TarvoBindingRules, MatchTheRulesPairByPair) {
  TTarvo tarvo(10);
  for (int trial = 0; trial < 300; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    // Every few trials the list is replaced by one just as long.
    if (trial % 3 == 0) tarvo.SetTarvoVarList(RandomVars(trial % 2 == 0 ? 24 : 1 + Pick(40)));
    const TTarvoVarList& vars = *tarvo.TarvoVarList();
    const std::unique_ptr<TTagSet> tagSet = RandomTags(1 + Pick(30));
    TTagVarView& tags = tagSet->Tags;
    Stamp(vars, 1000 * (trial + 1));

    const TReference expected = Bind(vars, tags, 10);
    tarvo.AssignTarvoVarsToTagVars(tags);
    const TTarvoVarList& copies = tarvo.SelectedVarList();
    ASSERT_EQ(copies.Count(), static_cast<int>(expected.Copies.size()));
    for (int c = 0; c < copies.Count(); ++c) {
      const TTarvoVar* from = expected.Copies[static_cast<size_t>(c)];
      EXPECT_EQ(copies.Items(c)->RealAddress(), from->RealAddress()) << "copy " << c;
    }
    for (int t = 0; t < tags.Count(); ++t)
      EXPECT_EQ(tags.Items(t)->TarvoVar(), expected.BoundTo[static_cast<size_t>(t)]) << "tag " << t;

    // Now and then a tag is rebound or unbound by hand before the values come back.
    if (trial % 4 == 1 && tags.Count() > 0 && vars.Count() > 0) {
      TTagVar* tag = tags.Items(Pick(tags.Count()));
      tag->ClearTarvoVarReference();
      if (Pick(2) == 0) tag->SetTarvoVar(vars.Items(Pick(vars.Count())));
    }
    // The copies hold the values of the stamp before; the variables get new ones.
    const std::vector<const TTarvoVar*> targets = Targets(copies, tags, 10);
    std::vector<int32_t> want;
    for (int v = 0; v < vars.Count(); ++v) want.push_back(5000 + v);
    for (size_t c = 0; c < targets.size(); ++c) {
      if (targets[c] != nullptr)
        want[static_cast<size_t>(vars.IndexOf(targets[c]))] =
            copies.Items(static_cast<int>(c))->TarvoValue();
    }
    Stamp(vars, 5000);
    tarvo.CopyValuesToTagVars(tags);
    for (int v = 0; v < vars.Count(); ++v)
      EXPECT_EQ(vars.Items(v)->TarvoValue(), want[static_cast<size_t>(v)]) << "variable " << v;
  }
}

// A Read binds the same tag lists over and over, and what is worked out for one binding
// may be kept for the next; a tag whose element or NAD changed, or a tag replaced by
// another in its place, must still bind by the rules, and so must a shorter or longer list.
TEST_F(TarvoBindingRules, SameTagListBoundAgainAfterItsTagsChange) {
  TTarvo tarvo(10);
  tarvo.SetTarvoVarList(RandomVars(30));
  const TTarvoVarList& vars = *tarvo.TarvoVarList();
  const std::unique_ptr<TTagSet> tagSet = RandomTags(20);
  TTagVarView& tags = tagSet->Tags;
  for (int round = 0; round < 200; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const TReference expected = Bind(vars, tags, 10);
    tarvo.AssignTarvoVarsToTagVars(tags);
    const TTarvoVarList& copies = tarvo.SelectedVarList();
    ASSERT_EQ(copies.Count(), static_cast<int>(expected.Copies.size()));
    for (int c = 0; c < copies.Count(); ++c) {
      EXPECT_EQ(copies.Items(c)->RealAddress(),
                expected.Copies[static_cast<size_t>(c)]->RealAddress())
          << "copy " << c;
    }
    for (int t = 0; t < tags.Count(); ++t)
      EXPECT_EQ(tags.Items(t)->TarvoVar(), expected.BoundTo[static_cast<size_t>(t)]) << "tag " << t;

    // Between bindings: an element changes, a tag is replaced by another (of the same
    // name for the other NAD, or any other), or the list grows or shrinks at its end.
    std::vector<TTagVar*> order;
    for (int t = 0; t < tags.Count(); ++t) order.push_back(tags.Items(t));
    const size_t at = static_cast<size_t>(Pick(tags.Count()));
    const auto another = [&] { return tagSet->Own(RandomTag()); };
    switch (Pick(4)) {
      case 0:
        order[at]->SetArrayIndex(Pick(4) - 1);
        break;
      case 1:
        order[at] = tagSet->Own(
            Tag(order[at]->NAD() == 10 ? 11 : 10, order[at]->Name(), order[at]->ArrayIndex()));
        break;
      case 2:
        order[at] = another();
        break;
      default:
        if (Pick(2) == 0 && order.size() > 1) {
          order.pop_back();
        } else {
          order.push_back(another());
        }
        break;
    }
    tags.Clear();
    for (TTagVar* t : order) tags.Add(t);
  }
}

TEST(TarvoListTest, ItemsLookupAndRemoval) {
  TTarvoList list;
  EXPECT_EQ(list.AddNewTarvoByNAD(5), 0);
  EXPECT_EQ(list.AddNewTarvoByNAD(7), 1);
  EXPECT_EQ(list.AddNewTarvoByNAD(5), 2);
  EXPECT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Items(-1), nullptr);
  EXPECT_EQ(list.Items(3), nullptr);
  EXPECT_EQ(list.GetByNAD(5), list.Items(2));
  EXPECT_EQ(list.GetByNAD(6), nullptr);

  TTarvo* seven = list.Items(1);
  const std::unique_ptr<TTarvo> removed = list.Remove(seven);
  EXPECT_EQ(removed.get(), seven);
  EXPECT_EQ(list.IndexOf(seven), -1);
  EXPECT_EQ(list.Remove(seven), nullptr);
  EXPECT_EQ(list.Count(), 2);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
}

TEST(TarvoListTest, BorrowedCommunicatorOutlivesTheController) {
  TCommunicator comm;
  comm.SetTarvoPort(9999);
  {
    TTarvo tarvo(3);
    tarvo.SetComm(&comm);
    EXPECT_EQ(tarvo.Comm(), &comm);
    EXPECT_EQ(tarvo.Port(), 9999);
    tarvo.SetPassword("abc");
    EXPECT_EQ(comm.PasswordCRC(), 0x7F00);
  }
  EXPECT_EQ(comm.TarvoPort(), 9999);
}

TEST(TarvoProperties, NadChangeForgetsTheAddressAndProgramDateFormats) {
  TTarvo tarvo;
  EXPECT_EQ(tarvo.NAD(), -1);
  EXPECT_EQ(tarvo.ProgramState(), TProgramState::psInit);
  tarvo.SetIP("127.0.0.5");
  EXPECT_EQ(tarvo.Comm()->TarvoIP(), "127.0.0.5");
  EXPECT_EQ(tarvo.Port(), 8442);
  tarvo.SetNAD(4);
  EXPECT_EQ(tarvo.Comm()->TarvoNAD(), 4);
  EXPECT_EQ(tarvo.Comm()->TarvoIP(), "");
  EXPECT_EQ(tarvo.IP(), "127.0.0.5");
  EXPECT_EQ(tarvo.ProgramDate(), "");
}

}  // namespace
