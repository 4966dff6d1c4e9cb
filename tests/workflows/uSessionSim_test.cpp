// The workflows against simulated controllers on loopback: scan, status check, read and
// write of a tab with and without EEPROM, the clock write, the overlap guard and cancel.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "comm/uCommunication.h"
#include "comm/uMemoryUdpEndpoint.h"
#include "data/uNumText.h"
#include "workflow_support.h"
#include "workflows/uSession.h"
#include "workflows/uTableDisplay.h"
#include "workflows/uWrites.h"

namespace {

using wftest::SessionTest;

constexpr uint8_t kPing = 0x10;
constexpr uint8_t kReadRandom = 0x33;
constexpr uint8_t kWriteRandom = 0x34;

// The value a random-access write request carries for a data memory address.
std::optional<uint32_t> WrittenValue(const sim::TSimRequest& request, uint16_t address) {
  const std::vector<uint8_t>& p = request.Params;
  if (p.size() < 6) return std::nullopt;
  const size_t c1 = GetLE16(p.data()), c2 = GetLE16(p.data() + 2), c4 = GetLE16(p.data() + 4);
  const size_t n = c1 + c2 + c4;
  if (p.size() < 6 + 2 * n) return std::nullopt;
  size_t at = 6 + 2 * n;
  for (size_t i = 0; i < n; ++i) {
    const int width = i < c1 ? 1 : (i < c1 + c2 ? 2 : 4);
    if (GetLE16(p.data() + 6 + 2 * i) == address) {
      uint32_t value = 0;
      for (int b = 0; b < width; ++b) value |= static_cast<uint32_t>(p.at(at + b)) << (8 * b);
      return value;
    }
    at += width;
  }
  return std::nullopt;
}

class WorkflowTest : public SessionTest {
 protected:
  void Start(int controllers = 3, std::function<void(sim::TSimHostOptions&)> adjust = {}) {
    StartHost(controllers, adjust);
    session_->TarvoComm().SetNoRetires(1);
    session_->TarvoComm().SetWaitTime(100);
  }

  void Scan() {
    ASSERT_EQ(session_->Scan(), TWorkflowResult::wrDone);
    for (int i = 0; i < host_->Count(); ++i) Sim(i).ClearRequests();
  }

  std::vector<std::string> Captions(int tab, int position) {
    std::vector<std::string> captions;
    for (const auto& cell : Table(tab).RowByPosition(position)->Cells) {
      captions.push_back(cell->Caption());
    }
    return captions;
  }
};

// ---- scan ------------------------------------------------------------------------------

TEST_F(WorkflowTest, ScanListsTheAnswersByNADInEveryTableAllChecked) {
  Start();
  const int tab = AddTab({"temp"});
  // The answers arrive as 12, 10, 11.
  sim::TSimFaults late;
  late.DelayMs = 150;
  Sim(0).SetFaults(late);
  late.DelayMs = 300;
  Sim(1).SetFaults(late);
  ASSERT_EQ(session_->Scan(), TWorkflowResult::wrDone);
  for (int i = 0; i < 3; ++i) Sim(i).SetFaults({});

  EXPECT_EQ(session_->TarvoList().Items(0)->NAD(), 12) << "the list keeps the answer order";
  for (int t : {0, tab}) {
    EXPECT_EQ(NADs(t), (std::vector<int32_t>{10, 11, 12})) << "table " << t;
    for (const auto& row : Table(t).Rows()) EXPECT_TRUE(row->Checked);
    EXPECT_EQ(Table(t).HeaderCheckState, TCheckState::csChecked);
  }
  EXPECT_EQ(Table(0).RowByPosition(1)->Tarvo->IP(), Sim(1).IP());
  EXPECT_EQ(Table(0).SortColumn, kColNAD);
  EXPECT_EQ(Table(0).SortDirection, TSortDirection::sdDescending) << "one click sorts descending";
  EXPECT_EQ(recorder_.TabControls, std::vector<bool>{true});
  EXPECT_EQ(recorder_.BusyDepth, 0);
  EXPECT_EQ(recorder_.Changes, (std::vector<TWorkflow>{TWorkflow::wfScan, TWorkflow::wfNone}));
  EXPECT_TRUE(recorder_.Warnings.empty());
  EXPECT_TRUE(recorder_.Remarks.empty());
  for (TTarvo* t : session_->TarvoList().List()) {
    EXPECT_EQ(t->Port(), host_->Port());
    EXPECT_EQ(t->EthAdapterID(), "lo");
  }
}

TEST_F(WorkflowTest, ASecondScanDiscardsEveryValueLightAndClock) {
  Start(2);
  const int tab = AddTab({"temp", "levels[3]"});
  Scan();
  ASSERT_EQ(session_->CheckStatus(), TWorkflowResult::wrDone);
  ASSERT_EQ(session_->ReadTab(tab), TWorkflowResult::wrDone);
  ASSERT_EQ(Captions(tab, 0), (std::vector<std::string>{"-125", "-5"}));

  Scan();
  EXPECT_FALSE(session_->ShowSystemStatus);
  EXPECT_EQ(Captions(tab, 0), (std::vector<std::string>{"", ""}));
  EXPECT_EQ(Captions(0, 0), (std::vector<std::string>{"", "", "", ""}));
  for (TTarvo* t : session_->TarvoList().List()) {
    EXPECT_FALSE(t->StatusTested());
    EXPECT_EQ(t->RTCString(), "");
    EXPECT_FALSE(t->PingOK());
  }
  EXPECT_EQ(SystemCellLook(*session_, 0, kColNetwork).Led, TLed::ldNone);
}

TEST_F(WorkflowTest, ARepeatedAnswerIsOneControllerAndASilentNetworkNone) {
  Start(2);
  sim::TSimFaults twice;
  twice.Duplicate = true;
  Sim(0).SetFaults(twice);
  Scan();
  EXPECT_EQ(NADs(0), (std::vector<int32_t>{10, 11}));
  EXPECT_TRUE(recorder_.Remarks.empty());

  sim::TSimFaults silent;
  silent.DropProbability = 1;
  Sim(0).SetFaults(silent);
  Sim(1).SetFaults(silent);
  Scan();
  EXPECT_EQ(session_->TarvoList().Count(), 0);
  EXPECT_EQ(recorder_.TabControls.back(), false);
}

TEST(ScanAnswers, OneNADFromTwoAddressesIsTwoRowsAndARemark) {
  auto endpoint = std::make_unique<TMemoryUdpEndpoint>();
  TMemoryUdpEndpoint* memory = endpoint.get();
  memory->SetResponder([](const TMemoryDatagram&) {
    std::vector<TMemoryReply> replies;
    for (const char* from : {"127.0.0.10", "127.0.0.11", "127.0.0.10"}) {
      std::vector<uint8_t> frame(kFrameBufferSize);
      uint16_t length = 0;
      EncodeFrame(10, 1, cmdPing, md_ACK, mt_COMMAND, frame.data(), length, 0);
      frame.resize(length);
      replies.push_back({frame, from, 8442});
    }
    return replies;
  });
  wftest::TRecorder recorder;
  TSession session(recorder, std::make_unique<TCommunicator>(std::move(endpoint)));
  ASSERT_EQ(session.Scan(), TWorkflowResult::wrDone);
  ASSERT_EQ(session.TarvoList().Count(), 2);
  EXPECT_EQ(session.SystemTable().RowByPosition(0)->Tarvo->IP(), "127.0.0.10");
  EXPECT_EQ(session.SystemTable().RowByPosition(1)->Tarvo->IP(), "127.0.0.11");
  ASSERT_EQ(recorder.Remarks.size(), 1u);
  EXPECT_EQ(recorder.Remarks[0].Kind, TScanRemarkKind::srSharedNAD);
  EXPECT_EQ(recorder.Remarks[0].NAD, 10);
  EXPECT_EQ(recorder.Remarks[0].FirstIP, "127.0.0.10");
  EXPECT_EQ(recorder.Remarks[0].IP, "127.0.0.11");
  ASSERT_FALSE(memory->Sent().empty());
}

TEST_F(WorkflowTest, AControllerThatRefusesThePasswordIsARowWithItsCodeAndTheOthersFollow) {
  Start(3);
  // NAD 11 keeps a password of its own, and NAD 12 answers only after its refusal.
  Sim(1).SetPassword("secret");
  sim::TSimFaults late;
  late.DelayMs = 100;
  Sim(2).SetFaults(late);
  ASSERT_EQ(session_->Scan(), TWorkflowResult::wrDone);
  EXPECT_EQ(NADs(0), (std::vector<int32_t>{10, 11, 12}));
  ASSERT_EQ(recorder_.Remarks.size(), 1u);
  EXPECT_EQ(recorder_.Remarks[0].Kind, TScanRemarkKind::srRefused);
  EXPECT_EQ(recorder_.Remarks[0].NAD, 11);
  EXPECT_EQ(recorder_.Remarks[0].IP, Sim(1).IP());
  EXPECT_EQ(recorder_.Remarks[0].Code, md_BADPASS);
  for (int position = 0; position < 3; ++position) {
    SCOPED_TRACE(position);
    const TTarvo& T = *Table(0).RowByPosition(position)->Tarvo;
    const TMessageDirection code = position == 1 ? md_BADPASS : md_ACK;
    EXPECT_EQ(session_->ScanAnswer(T), code);
    EXPECT_TRUE(Table(0).RowByPosition(position)->Checked);
    for (int column : {kColNAD, kColIP}) {
      const TCellLook look = SystemCellLook(*session_, position, column);
      EXPECT_EQ(look.ScanRefusal, code);
      EXPECT_EQ(look.TextColour, position == 1 ? TTextColour::tcRed : TTextColour::tcNormal);
    }
  }
  EXPECT_EQ(recorder_.TabControls.back(), true);

  // The next scan knows the password: no refusal is left over.
  Sim(1).SetPassword("");
  Scan();
  for (TTarvo* t : session_->TarvoList().List()) EXPECT_EQ(session_->ScanAnswer(*t), md_ACK);
}

TEST_F(WorkflowTest, AScanAsksBeforeItDiscardsValuesThatAwaitWriting) {
  Start(2);
  const int first = AddTab({"temp", "levels[3]"});
  const int second = AddTab({"setpoint"});
  Scan();
  // Nothing awaits writing: no question.
  Scan();
  EXPECT_TRUE(recorder_.DiscardQuestions.empty());

  CellOf(first, 0, 0).SetCaption("7");
  CellOf(first, 0, 0).AwaitWrite = true;
  CellOf(first, 1, 1).SetCaption("8");
  CellOf(first, 1, 1).AwaitWrite = true;
  CellOf(second, 1, 0).SetCaption("9");
  CellOf(second, 1, 0).AwaitWrite = true;
  recorder_.Changes.clear();

  // Kept: nothing happens, not even a datagram.
  recorder_.DiscardAnswer = false;
  EXPECT_EQ(session_->Scan(), TWorkflowResult::wrCancelled);
  ASSERT_EQ(recorder_.DiscardQuestions.size(), 1u);
  EXPECT_EQ(recorder_.DiscardQuestions[0].Values, 3);
  EXPECT_EQ(recorder_.DiscardQuestions[0].Tabs, 2);
  EXPECT_EQ(CellOf(first, 0, 0).Caption(), "7");
  EXPECT_TRUE(CellOf(second, 1, 0).AwaitWrite);
  EXPECT_EQ(session_->TarvoList().Count(), 2);
  EXPECT_TRUE(recorder_.Changes.empty()) << "no workflow started";
  EXPECT_TRUE(Requests(0, kPing).empty());

  // Discarded: the scan runs as ever.
  recorder_.DiscardAnswer = true;
  EXPECT_EQ(session_->Scan(), TWorkflowResult::wrDone);
  EXPECT_EQ(recorder_.DiscardQuestions.size(), 2u);
  EXPECT_EQ(Captions(first, 0), (std::vector<std::string>{"", ""}));
  EXPECT_EQ(session_->UnwrittenCells().Values, 0);
}

// ---- status check ----------------------------------------------------------------------

TEST_F(WorkflowTest, StatusCheckLightsAndValuesForEachKindOfController) {
  Start(5);
  Sim(1).SetRunning(false);
  Sim(2).ClearProgram();
  Sim(3).SetWithoutAlc(true);
  Scan();
  sim::TSimFaults silent;
  silent.DropProbability = 1;
  Sim(4).SetFaults(silent);
  ASSERT_EQ(session_->CheckStatus(), TWorkflowResult::wrDone);

  struct Case {
    const char* what;
    std::array<TLed, 5> lights;
    bool values, clock;
  } cases[] = {
      {"running",
       {TLed::ldGreen, TLed::ldGreen, TLed::ldGreen, TLed::ldGreen, TLed::ldGreen},
       true,
       true},
      {"stopped",
       {TLed::ldGreen, TLed::ldGreen, TLed::ldGreen, TLed::ldGreen, TLed::ldRed},
       true,
       true},
      {"no program",
       {TLed::ldGreen, TLed::ldGreen, TLed::ldRed, TLed::ldRed, TLed::ldRed},
       false,
       false},
      {"no allocation file",
       {TLed::ldGreen, TLed::ldGreen, TLed::ldGreen, TLed::ldRed, TLed::ldGreen},
       false,
       false},
      {"silent", {TLed::ldGreen, TLed::ldRed, TLed::ldRed, TLed::ldRed, TLed::ldRed}, false, false},
  };
  for (int r = 0; r < 5; ++r) {
    const Case& c = cases[r];
    for (int i = 0; i < 5; ++i) {
      EXPECT_EQ(SystemCellLook(*session_, r, kColNetwork + i).Led, c.lights[i])
          << c.what << " light " << i;
    }
    for (int i = 0; i < 4; ++i) {
      const std::string text = SystemCellLook(*session_, r, kColFirstScanVar + i).Text;
      if (c.values) {
        double value = 0;
        EXPECT_TRUE(ParseFloatText(text, value)) << c.what << " " << text;
      } else {
        EXPECT_EQ(text, "?") << c.what;
      }
    }
    const std::string clock = SystemCellLook(*session_, r, kColClock).Text;
    EXPECT_EQ(clock.empty(), !c.clock) << c.what << " " << clock;
  }
  EXPECT_EQ(SystemCellLook(*session_, 1, kColFirstScanVar).Text, "0") << "a stopped PLC scans 0";
  EXPECT_EQ(SystemCellLook(*session_, 0, kColFirstScanVar + 1).Hint, "Last scan time in us");
  EXPECT_EQ(session_->CurrentTest, -1);
  EXPECT_EQ(Requests(0, kWriteRandom).size(), 0u) << "a status check writes nothing";
}

TEST_F(WorkflowTest, StatusCheckStepsThroughEveryCheckedRowAndSkipsTheOthers) {
  Start(3);
  Scan();
  session_->SetRowChecked(Table(0), 1, false);
  recorder_.CurrentTests.clear();
  ASSERT_EQ(session_->CheckStatus(), TWorkflowResult::wrDone);

  std::vector<int> expected;
  for (int r : {0, 2}) {
    for (int s = 0; s <= 10; ++s) expected.push_back(r * 10 + s);
  }
  expected.push_back(-1);
  EXPECT_EQ(recorder_.CurrentTests, expected);
  EXPECT_TRUE(Requests(1, kPing).empty()) << "the unchecked controller hears nothing";
  EXPECT_EQ(Captions(0, 1), (std::vector<std::string>{"", "", "", ""}));
  EXPECT_EQ(SystemCellLook(*session_, 1, kColClock).Text, "");
  EXPECT_FALSE(SystemCellLook(*session_, 0, kColClock).Text.empty());
  EXPECT_EQ(session_->CurrentTarvo, 2);
}

// ---- read and write --------------------------------------------------------------------

TEST_F(WorkflowTest, ReadAndWriteEachType) {
  Start(1);
  struct Case {
    const char* name;
    const char* read;
    const char* write;
    const char* shown;  // after the write
    std::optional<uint32_t> raw;
  } cases[] = {
      {"flag", "1", "0", "0", 0},
      {"counter_w", "1234", "65535", "65535", 65535},
      {"temp", "-125", "-300", "-300", static_cast<uint16_t>(-300)},
      {"total", "123456789", "-5", "-5", static_cast<uint32_t>(-5)},
      {"setpoint", "21.5", "0.1", "0.100000001490116", 0x3DCCCCCD},
      {"levels[3]", "-5", "$C", "12", 12},
      {"levels[x]", "?", "1", "?", std::nullopt},
      {"levels[10]", "?", "1", "?", std::nullopt},
      {"nosuch", "?", "1", "?", std::nullopt},
      {"tmp_local", "?", "1", "?", std::nullopt},
  };
  std::vector<std::string> names;
  for (const Case& c : cases) names.push_back(c.name);
  const int tab = AddTab(names);
  Scan();

  ASSERT_EQ(session_->ReadTab(tab), TWorkflowResult::wrDone);
  for (size_t i = 0; i < std::size(cases); ++i) {
    const TTreeVar& cell = CellOf(tab, 0, static_cast<int>(i));
    EXPECT_EQ(cell.Caption(), cases[i].read) << cases[i].name;
    EXPECT_FALSE(cell.Updating);
  }
  EXPECT_EQ(CellOf(tab, 0, 2).Description, "Tank temperature in 0.1 degC");
  EXPECT_EQ(CellOf(tab, 0, 8).Description, "");

  for (size_t i = 0; i < std::size(cases); ++i) {
    TTreeVar& cell = CellOf(tab, 0, static_cast<int>(i));
    cell.SetCaption(cases[i].write);
    cell.AwaitWrite = true;
  }
  ASSERT_EQ(session_->WriteTab(tab), TWorkflowResult::wrDone);
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    const TTreeVar& cell = CellOf(tab, 0, static_cast<int>(i));
    EXPECT_EQ(cell.Caption(), c.shown) << c.name;
    EXPECT_FALSE(cell.AwaitWrite) << c.name;
    if (c.raw) {
      std::string name;
      int32_t index = 0;
      SplitIndexedName(c.name, name, index);
      EXPECT_EQ(Sim(0).ReadVar(name, std::max(index, 0)), c.raw) << c.name;
    }
  }
  EXPECT_TRUE(recorder_.Warnings.empty());
}

TEST_F(WorkflowTest, AValueThatDoesNotFitItsTypeIsNotWrittenAndStaysAwaitingItsWrite) {
  Start(1);
  const std::vector<std::string> names = {"counter_w", "temp", "flag", "setpoint"};
  const int tab = AddTab(names);
  Scan();
  const std::pair<const char*, TValueVerdict> refused[] = {{"12.5", TValueVerdict::vvNotWhole},
                                                           {"70000", TValueVerdict::vvOutOfRange},
                                                           {"2", TValueVerdict::vvOutOfRange},
                                                           {"1E39", TValueVerdict::vvOutOfRange}};
  for (int i = 0; i < 4; ++i) {
    CellOf(tab, 0, i).SetCaption(refused[i].first);
    CellOf(tab, 0, i).AwaitWrite = true;
  }
  ASSERT_EQ(session_->WriteTab(tab), TWorkflowResult::wrDone);

  EXPECT_TRUE(Requests(0, kWriteRandom).empty()) << "nothing of a refused value goes out";
  EXPECT_EQ(Sim(0).ReadVar("counter_w"), 1234u);
  EXPECT_EQ(Sim(0).ReadVar("temp"), static_cast<uint16_t>(-125));
  EXPECT_EQ(Sim(0).ReadVar("flag"), 1u);
  ASSERT_EQ(recorder_.Writes.size(), 4u);
  for (int i = 0; i < 4; ++i) {
    const TTreeVar& cell = CellOf(tab, 0, i);
    SCOPED_TRACE(refused[i].first);
    EXPECT_EQ(cell.Caption(), refused[i].first) << "the user's text stays";
    EXPECT_TRUE(cell.AwaitWrite) << "and stays red";
    ASSERT_NE(cell.Note, nullptr);
    EXPECT_EQ(cell.Note->Kind, TWriteKind::wkRefused);
    EXPECT_EQ(cell.Note->Check.Verdict, refused[i].second);
    const TWriteOutcome& reported = recorder_.Writes[static_cast<size_t>(i)];
    EXPECT_EQ(reported.NAD, 10);
    EXPECT_EQ(reported.Name, names[static_cast<size_t>(i)]);
    EXPECT_EQ(reported.Text, refused[i].first);
  }
  EXPECT_EQ(CellOf(tab, 0, 1).Note->Check.Range.Max, 32767);
  EXPECT_TRUE(recorder_.Warnings.empty()) << "the front-end words the outcomes";

  // Until the user changes it: a new text clears the reason, and the next Write takes it.
  CellOf(tab, 0, 1).SetCaption("-300");
  EXPECT_EQ(CellOf(tab, 0, 1).Note, nullptr);
  recorder_.Writes.clear();
  for (int i : {0, 2, 3}) CellOf(tab, 0, i).AwaitWrite = false;
  ASSERT_EQ(session_->WriteTab(tab), TWorkflowResult::wrDone);
  EXPECT_EQ(Sim(0).ReadVar("temp"), static_cast<uint16_t>(-300));
  EXPECT_EQ(CellOf(tab, 0, 1).Caption(), "-300");
  EXPECT_FALSE(CellOf(tab, 0, 1).AwaitWrite);
  EXPECT_TRUE(recorder_.Writes.empty());
}

TEST_F(WorkflowTest, WriteAllLeavesReadOnlyVariablesAlone) {
  Start(1);
  // serial_no and scan_time are read-only in the controller's allocation file.
  const int tab = AddTab({"serial_no", "scan_time", "temp"});
  Scan();
  ASSERT_EQ(session_->ReadTab(tab), TWorkflowResult::wrDone);
  CellOf(tab, 0, 0).SetCaption("1");
  CellOf(tab, 0, 0).AwaitWrite = true;
  Sim(0).ClearRequests();
  session_->CheckBoxClicked(TTabOption::toWriteAll, true);
  ASSERT_EQ(session_->WriteTab(tab), TWorkflowResult::wrDone);

  EXPECT_EQ(Sim(0).ReadVar("serial_no"), 20240117u);
  const auto writes = Requests(0, kWriteRandom);
  ASSERT_EQ(writes.size(), 1u) << "temp alone";
  EXPECT_TRUE(WrittenValue(writes[0], *Sim(0).VarAddress("temp")));
  EXPECT_FALSE(WrittenValue(writes[0], *Sim(0).VarAddress("serial_no")));
  ASSERT_EQ(recorder_.Writes.size(), 2u);
  for (const TWriteOutcome& w : recorder_.Writes) {
    EXPECT_EQ(w.Kind, TWriteKind::wkRefused) << w.Name;
    EXPECT_EQ(w.Check.Verdict, TValueVerdict::vvReadOnly) << w.Name;
  }
  EXPECT_EQ(CellOf(tab, 0, 0).Caption(), "1");
  EXPECT_TRUE(CellOf(tab, 0, 0).AwaitWrite) << "the user's value is kept, unwritten";
  EXPECT_FALSE(CellOf(tab, 0, 1).AwaitWrite) << "a value only read stays as it was";
}

TEST_F(WorkflowTest, WriteAllSendsEveryKnownCellOtherwiseOnlyTheChangedOnes) {
  Start(1);
  const int tab = AddTab({"counter_w", "temp", "total", "levels[3]"});
  Scan();
  ASSERT_EQ(session_->ReadTab(tab), TWorkflowResult::wrDone);
  CellOf(tab, 0, 1).SetCaption("-7");
  CellOf(tab, 0, 1).AwaitWrite = true;
  // Cleared with Del: empty and awaiting its write, which never comes.
  ClearCellSelection(Table(tab));
  CellOf(tab, 0, 3).Selected = true;
  session_->Selection.Delete(Table(tab));
  Sim(0).ClearRequests();

  struct Case {
    bool writeAll;
    size_t writes;
  } cases[] = {{false, 1}, {true, 3}};
  for (const Case& c : cases) {
    session_->CheckBoxClicked(TTabOption::toWriteAll, c.writeAll);
    ASSERT_EQ(session_->WriteTab(tab), TWorkflowResult::wrDone);
    EXPECT_EQ(Requests(0, kWriteRandom).size(), c.writes) << "write all " << c.writeAll;
    EXPECT_EQ(CellOf(tab, 0, 3).Caption(), "");
    EXPECT_TRUE(CellOf(tab, 0, 3).AwaitWrite) << "a cleared cell stays red";
    Sim(0).ClearRequests();
  }
  EXPECT_EQ(Sim(0).ReadVar("temp"), static_cast<uint16_t>(-7));
  EXPECT_EQ(Sim(0).ReadVar("levels", 3), static_cast<uint16_t>(-5));
}

TEST_F(WorkflowTest, UncheckedRowsAreNeitherReadNorWritten) {
  Start(2);
  const int tab = AddTab({"temp"});
  Scan();
  session_->SetRowChecked(Table(tab), 0, false);
  session_->CheckBoxClicked(TTabOption::toWriteAll, true);
  CellOf(tab, 0, 0).SetCaption("5");
  ASSERT_EQ(session_->ReadTab(tab), TWorkflowResult::wrDone);
  ASSERT_EQ(session_->WriteTab(tab), TWorkflowResult::wrDone);
  EXPECT_TRUE(Sim(0).Requests().empty());
  EXPECT_EQ(CellOf(tab, 0, 0).Caption(), "5");
  EXPECT_EQ(CellOf(tab, 1, 0).Caption(), "-125");
}

// ---- EEPROM ------------------------------------------------------------------------------

TEST_F(WorkflowTest, ReadEELoadsOncePerCheckedRowBeforeItsFirstCell) {
  Start(3);
  const int tab = AddTab({"counter_w", "temp"});
  Scan();
  session_->SetRowChecked(Table(tab), 1, false);
  recorder_.RealPause = true;  // the controller takes real time to load
  for (int i = 0; i < 3; ++i) {
    Sim(i).WriteVar("counter_w", 0, 1);  // RAM differs from the EEPROM's 1234
    Sim(i).SetEepromLoadDelay(120);      // a few polls
    Sim(i).ClearRequests();
  }
  session_->CheckBoxClicked(TTabOption::toReadEE, true);
  ASSERT_EQ(session_->ReadTab(tab), TWorkflowResult::wrDone);

  for (int i : {0, 2}) {
    const auto writes = Requests(i, kWriteRandom);
    ASSERT_EQ(writes.size(), 1u) << "controller " << i;
    EXPECT_EQ(WrittenValue(writes[0], *Sim(i).VarAddress("ee_read_req")), 1u);
    EXPECT_EQ(CellOf(tab, i, 0).Caption(), "1234") << "read after the load";
  }
  EXPECT_TRUE(Sim(1).Requests().empty());
  EXPECT_EQ(CellOf(tab, 1, 0).Caption(), "");
  EXPECT_TRUE(recorder_.Warnings.empty());
  EXPECT_NE(std::find(recorder_.Events.begin(), recorder_.Events.end(), "pause 50"),
            recorder_.Events.end());
}

TEST_F(WorkflowTest, AnEEPROMLoadThatNeverEndsGivesUpAndTheValuesAreReadAnyway) {
  Start(1);
  const int tab = AddTab({"temp"});
  Scan();
  Sim(0).SetEepromLoadDelay(600000);
  session_->CheckBoxClicked(TTabOption::toReadEE, true);
  ASSERT_EQ(session_->ReadTab(tab), TWorkflowResult::wrDone);
  EXPECT_EQ(CellOf(tab, 0, 0).Caption(), "-125");
  ASSERT_EQ(recorder_.Warnings.size(), 1u);
  EXPECT_NE(recorder_.Warnings[0].find("5000 ms"), std::string::npos) << recorder_.Warnings[0];
  const auto polls = std::count(recorder_.Events.begin(), recorder_.Events.end(), "pause 50");
  EXPECT_EQ(polls, 101) << "polled every 50 ms until past 5000 ms";
}

TEST_F(WorkflowTest, WriteEEStoresAfterTheRowsCellsEvenWhenNoCellNeededWriting) {
  Start(1);
  const int tab = AddTab({"counter_w"});
  Scan();
  recorder_.RealPause = true;  // the controller takes real time to load
  session_->CheckBoxClicked(TTabOption::toWriteEE, true);
  CellOf(tab, 0, 0).SetCaption("4321");
  CellOf(tab, 0, 0).AwaitWrite = true;
  ASSERT_EQ(session_->WriteTab(tab), TWorkflowResult::wrDone);
  auto writes = Requests(0, kWriteRandom);
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(WrittenValue(writes[0], *Sim(0).VarAddress("counter_w")), 4321u);
  EXPECT_EQ(WrittenValue(writes[1], *Sim(0).VarAddress("ee_write_magic")), 52917u);
  EXPECT_EQ(WrittenValue(writes[1], *Sim(0).VarAddress("ee_write_req")), 1u);

  // The store took 4321: a load after RAM changed brings it back.
  Sim(0).WriteVar("counter_w", 0, 7);
  session_->CheckBoxClicked(TTabOption::toWriteEE, false);
  session_->CheckBoxClicked(TTabOption::toReadEE, true);
  ASSERT_EQ(session_->ReadTab(tab), TWorkflowResult::wrDone);
  EXPECT_EQ(CellOf(tab, 0, 0).Caption(), "4321");

  Sim(0).ClearRequests();
  session_->CheckBoxClicked(TTabOption::toReadEE, false);
  session_->CheckBoxClicked(TTabOption::toWriteEE, true);
  ASSERT_EQ(session_->WriteTab(tab), TWorkflowResult::wrDone);
  writes = Requests(0, kWriteRandom);
  ASSERT_EQ(writes.size(), 1u) << "nothing awaited its write; the store goes out anyway";
  EXPECT_EQ(WrittenValue(writes[0], *Sim(0).VarAddress("ee_write_req")), 1u);
}

// ---- clock -------------------------------------------------------------------------------

TEST_F(WorkflowTest, ClockWriteSendsThePCsTimeAndShowsTheClockOnceTested) {
  Start(3);
  Scan();
  session_->SetRowChecked(Table(0), 1, false);
  clock_.SetNow({2012, 3, 4, 8, 5, 9, 999, 0});  // a Sunday
  recorder_.CurrentTests.clear();
  ASSERT_EQ(session_->WriteRTC(), TWorkflowResult::wrDone);

  EXPECT_EQ(recorder_.CurrentTests, (std::vector<int>{9, 29, -1}));
  const std::pair<const char*, uint32_t> sent[] = {
      {"rtc_year", 2012}, {"rtc_month", 3}, {"rtc_date", 4},    {"rtc_hour", 8},
      {"rtc_min", 5},     {"rtc_sec", 9},   {"rtc_weekday", 0}, {"rtc_write_req", 1}};
  for (int i : {0, 2}) {
    const auto writes = Requests(i, kWriteRandom);
    ASSERT_EQ(writes.size(), 1u) << "one write of all eight";
    for (const auto& [name, value] : sent) {
      EXPECT_EQ(WrittenValue(writes[0], *Sim(i).VarAddress(name)), value) << name;
    }
    const std::string clock = session_->TarvoList().GetByNAD(10 + i)->RTCString();
    EXPECT_EQ(clock.substr(0, 18), "2012-03-04  08:05:") << clock;
  }
  EXPECT_TRUE(Requests(1, kWriteRandom).empty());
  EXPECT_EQ(SystemCellLook(*session_, 0, kColClock).Text, "") << "no status check yet";

  ASSERT_EQ(session_->CheckStatus(), TWorkflowResult::wrDone);
  clock_.SetNow({2012, 3, 10, 19, 0, 4, 0, 6});  // a Saturday
  Sim(0).ClearRequests();
  ASSERT_EQ(session_->WriteRTC(), TWorkflowResult::wrDone);
  const auto writes = Requests(0, kWriteRandom);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(WrittenValue(writes[0], *Sim(0).VarAddress("rtc_weekday")), 6u);
  EXPECT_EQ(SystemCellLook(*session_, 0, kColClock).Text.substr(0, 18), "2012-03-10  19:00:");
}

// ---- guard and cancel --------------------------------------------------------------------

TEST_F(WorkflowTest, NoWorkflowStartsWhileAnotherRuns) {
  Start(1);
  const int tab = AddTab({"temp"});
  Scan();
  std::vector<TWorkflowResult> refused;
  bool setupRefused = false, sortRefused = false;
  TWorkflow seen = TWorkflow::wfNone;
  recorder_.OnPause = [&] {
    if (!refused.empty()) return;
    seen = session_->Running();
    refused = {session_->Scan(),
               session_->CheckStatus(),
               session_->WriteRTC(),
               session_->ReadTab(tab),
               session_->WriteTab(tab),
               session_->ExportToXML("/tmp/never.xml", tab),
               session_->ImportFromXML("/tmp/never.xml", tab)};
    setupRefused = !session_->AcceptSetup(session_->SetupValues());
    sortRefused = !session_->SortTables(kColNAD);
  };
  recorder_.Changes.clear();
  ASSERT_EQ(session_->CheckStatus(), TWorkflowResult::wrDone);
  EXPECT_EQ(seen, TWorkflow::wfStatus);
  EXPECT_STREQ(WorkflowName(seen), "Status check");
  EXPECT_EQ(refused, std::vector<TWorkflowResult>(7, TWorkflowResult::wrRefused));
  EXPECT_TRUE(setupRefused);
  EXPECT_TRUE(sortRefused);
  EXPECT_EQ(recorder_.Changes, (std::vector<TWorkflow>{TWorkflow::wfStatus, TWorkflow::wfNone}));
  EXPECT_EQ(session_->TarvoList().Count(), 1) << "the controller in use was not freed";
  EXPECT_EQ(session_->Running(), TWorkflow::wfNone);
  recorder_.OnPause = {};
  EXPECT_EQ(session_->ReadTab(tab), TWorkflowResult::wrDone);
}

// Cancels from inside the first communicator wait, as a window closing would.
class CancelTest : public WorkflowTest {
 protected:
  void TearDown() override { SetProcessEventsHook({}); }
  void CancelInFirstWait() {
    SetProcessEventsHook([this] {
      if (session_->Running() != TWorkflow::wfNone && !session_->CancelRequested()) {
        session_->RequestCancel();
      }
    });
  }
};

TEST_F(CancelTest, CancelEndsTheWaitAndTheRepeatsOfASilentController) {
  Start(2);
  const int tab = AddTab({"temp", "counter_w"});
  Scan();
  sim::TSimFaults silent;
  silent.DropProbability = 1;
  Sim(0).SetFaults(silent);
  session_->TarvoComm().SetNoRetires(10);  // uncancelled, every request goes out 11 times
  session_->TarvoComm().SetWaitTime(200);

  CellOf(tab, 0, 0).SetCaption("earlier");
  struct Case {
    const char* what;
    std::function<TWorkflowResult()> run;
  } cases[] = {
      {"status check", [&] { return session_->CheckStatus(); }},
      {"read", [&] { return session_->ReadTab(tab); }},
      {"clock write", [&] { return session_->WriteRTC(); }},
  };
  for (const Case& c : cases) {
    Sim(0).ClearRequests();
    Sim(1).ClearRequests();
    CancelInFirstWait();
    EXPECT_EQ(c.run(), TWorkflowResult::wrCancelled) << c.what;
    SetProcessEventsHook({});
    EXPECT_EQ(ArrivedRequests(0, kPing, 1).size(), 1u) << c.what;
    EXPECT_TRUE(Sim(1).Requests().empty()) << c.what << ": the next row is not started";
    EXPECT_EQ(session_->Running(), TWorkflow::wfNone);
    for (const auto& row : Table(tab).Rows()) {
      for (const auto& cell : row->Cells) EXPECT_FALSE(cell->Updating) << c.what;
    }
  }
  EXPECT_EQ(CellOf(tab, 0, 0).Caption(), "earlier") << "a cancelled read changes no value";
  EXPECT_EQ(session_->CurrentTest, -1);
}

TEST_F(CancelTest, ACancelledScanFindsNothingAndLeavesNothingBehind) {
  Start(2);
  Scan();
  CancelInFirstWait();
  EXPECT_EQ(session_->Scan(), TWorkflowResult::wrCancelled);
  EXPECT_EQ(session_->TarvoList().Count(), 0);
  EXPECT_EQ(Table(0).RowCount(), 0);
  EXPECT_EQ(recorder_.BusyDepth, 0);
  EXPECT_EQ(session_->TarvoComm().WaitTime(), 100) << "discovery restores its communicator";
  SetProcessEventsHook({});
  Scan();
  EXPECT_EQ(session_->TarvoList().Count(), 2);
}

TEST_F(WorkflowTest, AnAllocationFileThatDoesNotParseEndsTheWorkflowWithItsMessage) {
  Start(2);
  Scan();
  Sim(0).ReplaceProgram(std::string(";CPU Tarvo-2 \r\nnot a variable line\r\n"));
  ASSERT_EQ(session_->CheckStatus(), TWorkflowResult::wrFailed);
  ASSERT_EQ(recorder_.Messages.size(), 1u);
  EXPECT_EQ(recorder_.Messages[0].rfind("Error parsing ALC data on line ", 0), 0u)
      << recorder_.Messages[0];
  EXPECT_EQ(session_->CurrentTest, 3) << "the marker stays on the failed step";
  EXPECT_TRUE(Sim(1).Requests().empty()) << "the later rows are not examined";
  EXPECT_EQ(session_->Running(), TWorkflow::wfNone);
}

}  // namespace
