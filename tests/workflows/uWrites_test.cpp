// What becomes of a write when the answers around it go missing or are refused: a
// simulated controller behind the in-memory transport, whose answers a test holds back or
// replaces by command, so that exactly the write or exactly its read-back is lost.
#include "workflows/uWrites.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>

#include "comm/uMemoryUdpEndpoint.h"
#include "protocol/uQLink.h"
#include "sim/uSimController.h"
#include "workflow_support.h"

namespace {

// The answer a request of one command gets.
struct TAnswerRule {
  enum TKind : uint8_t { arPass, arDrop, arRefuse };
  TKind Kind = arPass;
  TMessageDirection Code = md_ACK;  // arRefuse
};

class TScriptedController {
 public:
  TScriptedController() : fSim(10, "127.0.0.10") {}

  // A controller object that reaches this controller, with quick repeats.
  std::unique_ptr<TTarvo> MakeTarvo() {
    auto endpoint = std::make_unique<TMemoryUdpEndpoint>();
    endpoint->SetResponder([this](const TMemoryDatagram& sent) { return Answer(sent); });
    auto tarvo = std::make_unique<TTarvo>(std::make_unique<TCommunicator>(std::move(endpoint)));
    tarvo->SetNAD(10);
    tarvo->SetEthAdapterID("lo");
    tarvo->Comm()->SetNoRetires(1);
    tarvo->Comm()->SetWaitTime(50);
    return tarvo;
  }

  // From now on, requests of this command get this answer.
  void Rule(uint8_t command, TAnswerRule rule) {
    std::lock_guard lock(fMutex);
    fRules[command] = rule;
  }

  sim::TSimController& Sim() { return fSim; }

 private:
  std::vector<TMemoryReply> Answer(const TMemoryDatagram& sent) {
    const sim::TSimReply reply =
        fSim.HandleDatagram(sent.Bytes.data(), sent.Bytes.size(), "127.0.0.1", 49152, false);
    const std::vector<sim::TSimRequest> requests = fSim.Requests();
    if (requests.empty()) return {};
    const sim::TSimRequest& request = requests.back();
    TAnswerRule rule;
    {
      std::lock_guard lock(fMutex);
      rule = fRules[request.Command];
    }
    std::vector<TMemoryReply> answers;
    if (rule.Kind == TAnswerRule::arDrop) return answers;
    if (rule.Kind == TAnswerRule::arRefuse) {
      answers.push_back({BuildFrame(10, request.FromNAD, rule.Code, mt_COMMAND, nullptr, 0)});
      return answers;
    }
    for (const auto& datagram : reply.Datagrams) answers.push_back({datagram});
    return answers;
  }

  sim::TSimController fSim;
  std::mutex fMutex;
  TAnswerRule fRules[256];
};

class WritesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tarvo_ = link_.MakeTarvo();
    // The link stands and the variables are known before the answers start to go missing.
    const auto first = WriteValues(*tarvo_, {{"counter_w", "1"}});
    ASSERT_EQ(first.front().Kind, TWriteKind::wkVerified) << first.front().Reason;
  }

  // A variable's raw value in the simulated controller's memory.
  uint32_t Memory(const char* name) { return link_.Sim().ReadVar(name).value_or(0xDEAD); }

  TScriptedController link_;
  std::unique_ptr<TTarvo> tarvo_;
};

TEST_F(WritesTest, AnAcknowledgedWriteWhoseReadBackIsLostIsWrittenAndUnverified) {
  link_.Rule(cmdReadRandom, {TAnswerRule::arDrop});
  const auto outcomes = WriteValues(*tarvo_, {{"temp", "77"}, {"setpoint", "0.1"}});
  ASSERT_EQ(outcomes.size(), 2u);
  for (const TWriteOutcome& o : outcomes) {
    SCOPED_TRACE(o.Name);
    EXPECT_EQ(o.Kind, TWriteKind::wkUnverified);
    EXPECT_TRUE(o.Written());
    EXPECT_EQ(o.Held, "") << "nothing was read back";
    EXPECT_EQ(o.Reason, "Error reading vars");
    EXPECT_EQ(o.ResponseCode, md_REQ);
  }
  EXPECT_EQ(outcomes[0].Sent, "77");
  EXPECT_EQ(outcomes[1].Sent, "0.100000001490116") << "the value sent, not the text given";
  EXPECT_EQ(Memory("temp"), 77u);

  // The EEPROM store is acknowledged too, and its read-back lost the same way.
  const TEepromStoreOutcome store = EepromStore(*tarvo_);
  EXPECT_EQ(store.Kind, TEepromStoreKind::esUnconfirmed);
  EXPECT_EQ(store.NAD, 10);
}

TEST_F(WritesTest, AWriteTheControllerRefusesIsNotWrittenAndNamesTheCode) {
  link_.Rule(cmdWriteRandom, {TAnswerRule::arRefuse, md_BADPASS});
  link_.Rule(cmdReadRandom, {TAnswerRule::arRefuse, md_BADPASS});
  const TWriteOutcome o = WriteValues(*tarvo_, {{"temp", "77"}}).front();
  EXPECT_EQ(o.Kind, TWriteKind::wkRejected);
  EXPECT_FALSE(o.Written());
  EXPECT_EQ(o.ResponseCode, md_BADPASS);
  EXPECT_EQ(o.Reason, "PLC refuses the password!");

  const TEepromStoreOutcome store = EepromStore(*tarvo_);
  EXPECT_EQ(store.Kind, TEepromStoreKind::esRejected);
  EXPECT_EQ(store.ResponseCode, md_BADPASS);
}

TEST_F(WritesTest, AWriteWithoutAnyAnswerIsOfUnknownFate) {
  link_.Rule(cmdWriteRandom, {TAnswerRule::arDrop});
  link_.Rule(cmdReadRandom, {TAnswerRule::arDrop});
  const TWriteOutcome o = WriteValues(*tarvo_, {{"temp", "77"}}).front();
  EXPECT_EQ(o.Kind, TWriteKind::wkUnanswered);
  EXPECT_FALSE(o.Written());
  EXPECT_EQ(EepromStore(*tarvo_).Kind, TEepromStoreKind::esUnanswered);

  // Whatever became of the write's answer, a read-back that holds the value settles it.
  link_.Rule(cmdReadRandom, {});
  EXPECT_EQ(WriteValues(*tarvo_, {{"temp", "78"}}).front().Kind, TWriteKind::wkVerified);
}

TEST_F(WritesTest, AControllerThatRefusesThePasswordIsNotReachedAndSaysSo) {
  link_.Sim().SetPassword("secret");
  tarvo_->Disconnect();
  const TWriteOutcome o = WriteValues(*tarvo_, {{"temp", "77"}}).front();
  EXPECT_EQ(o.Kind, TWriteKind::wkNotReached);
  EXPECT_EQ(o.ResponseCode, md_BADPASS);
  EXPECT_EQ(o.Reason, "PLC refuses the password!");
  const TEepromStoreOutcome store = EepromStore(*tarvo_);
  EXPECT_EQ(store.Kind, TEepromStoreKind::esNotReached);
  EXPECT_EQ(store.ResponseCode, md_BADPASS);
}

TEST_F(WritesTest, AStoreThatCannotBeRequestedNamesTheMissingVariable) {
  std::vector<sim::TSimVar> vars;
  for (const sim::TSimVar& v : sim::TSimController::DefaultVars()) {
    if (v.Name != "ee_write_magic") vars.push_back(v);
  }
  link_.Sim().ReplaceProgram(vars);
  const TEepromStoreOutcome store = EepromStore(*tarvo_);
  EXPECT_EQ(store.Kind, TEepromStoreKind::esNotRequested);
  ASSERT_EQ(store.Faults.size(), 1u);
  EXPECT_EQ(store.Faults[0].Name, "ee_write_magic");
  EXPECT_EQ(store.Faults[0].Kind, TWriteKind::wkNoVariable);
}

// The window's side of it: the cell keeps the value sent, is no longer red, and its note
// says it is unverified.
TEST(WriteTab, ACellWhoseReadBackIsLostKeepsTheTextSentAndIsMarkedUnverified) {
  TScriptedController link;
  wftest::TRecorder recorder;
  TSession session(recorder);
  session.Settings.EthAdapterID = "lo";
  session.TarvoComm().SetNoRetires(1);
  session.TarvoComm().SetWaitTime(50);
  ASSERT_EQ(session.AddController(link.MakeTarvo()), 0);
  const int tab = session.AddVSTTab("Values", "", {"temp", "counter_w"});
  TTableRow& row = *session.VSTTabList().Items(tab)->vstTable().RowByPosition(0);
  ASSERT_EQ(session.ReadTab(tab), TWorkflowResult::wrDone);
  ASSERT_EQ(row.Cell(0)->Caption(), "-125");

  link.Rule(cmdReadRandom, {TAnswerRule::arDrop});
  row.Cell(0)->SetCaption("$40");
  row.Cell(0)->AwaitWrite = true;
  ASSERT_EQ(session.WriteTab(tab), TWorkflowResult::wrDone);
  EXPECT_EQ(link.Sim().ReadVar("temp"), 64u);
  EXPECT_EQ(row.Cell(0)->Caption(), "$40") << "never \"?\"";
  EXPECT_FALSE(row.Cell(0)->AwaitWrite) << "it was written";
  ASSERT_NE(row.Cell(0)->Note, nullptr);
  EXPECT_EQ(row.Cell(0)->Note->Kind, TWriteKind::wkUnverified);
  EXPECT_EQ(row.Cell(0)->Note->Sent, "64");
  ASSERT_EQ(recorder.Writes.size(), 1u);
  EXPECT_EQ(recorder.Writes[0].Kind, TWriteKind::wkUnverified);
}

}  // namespace
