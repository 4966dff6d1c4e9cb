// What the workflow tests share: a front-end that records what the workflows ask of it,
// a clock the test sets, and a session against simulated controllers on loopback.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/uSimHost.h"
#include "support/sim_support.h"
#include "workflows/uSession.h"
#include "workflows/uWrites.h"

namespace wftest {

// A clock whose ticks move only when a workflow pauses, so that time limits run out
// without waiting.
class TFakeClock : public TWorkflowClock {
 public:
  int64_t Ticks() const override { return fTicks; }
  TLocalTime Now() const override { return fNow; }
  void Advance(int ms) { fTicks += ms; }
  void SetNow(const TLocalTime& now) { fNow = now; }

 private:
  int64_t fTicks = 1000;
  TLocalTime fNow;
};

class TRecorder : public TWorkflowFrontEnd {
 public:
  // The System table's CurrentTest at each of its repaints, when a session is watched.
  std::vector<int> CurrentTests;
  std::vector<std::string> Events;  // "repaint 1", "cell 1 0 2", "pause 20", ...
  std::vector<std::string> Messages;
  std::vector<std::string> Warnings;
  std::vector<TWriteOutcome> Writes;  // the writes reported (all but the verified ones)
  std::vector<TEepromStoreOutcome> Stores;
  std::vector<TWorkflow> Changes;
  int BusyDepth = 0;
  std::vector<bool> TabControls;
  std::string EditAnswer;
  bool EditAccepts = false;
  int Edits = 0;
  const TSession* Watched = nullptr;
  TFakeClock* Clock = nullptr;
  // Pauses take real time too (for a controller that works in real time).
  bool RealPause = false;
  // Called at every pause (a test's way to act while a workflow runs).
  std::function<void()> OnPause;
  std::vector<TScanRemark> Remarks;
  // The questions whether to discard values awaiting writing, and the answer given.
  std::vector<TUnwrittenCells> DiscardQuestions;
  bool DiscardAnswer = true;
  std::vector<TImportReport> ImportReports;

  void Repaint(const TVSTTable& table) override {
    Events.push_back("repaint " + std::to_string(table.Tag));
    if (Watched != nullptr && table.Tag == 0) CurrentTests.push_back(Watched->CurrentTest);
  }
  void RepaintCell(const TVSTTable& table, int position, int column) override {
    Events.push_back("cell " + std::to_string(table.Tag) + " " + std::to_string(position) + " " +
                     std::to_string(column));
  }
  void Pause(int ms) override {
    Events.push_back("pause " + std::to_string(ms));
    if (RealPause) TWorkflowFrontEnd::Pause(ms);
    if (Clock) Clock->Advance(ms);
    if (OnPause) OnPause();
  }
  void SetBusy(bool busy) override { BusyDepth += busy ? 1 : -1; }
  void ShowMessage(TMessageKind kind, const std::string& text) override {
    Messages.push_back(text);
  }
  void Warning(const std::string& text) override { Warnings.push_back(text); }
  void WriteReported(const TWriteOutcome& outcome) override { Writes.push_back(outcome); }
  void EepromStoreReported(const TEepromStoreOutcome& outcome) override {
    Stores.push_back(outcome);
  }
  void EnableTabControls(bool enabled) override { TabControls.push_back(enabled); }
  void WorkflowChanged(TWorkflow running) override { Changes.push_back(running); }
  bool EditValue(std::string& value) override {
    ++Edits;
    if (EditAccepts) value = EditAnswer;
    return EditAccepts;
  }
  void ScanRemark(const TScanRemark& remark) override { Remarks.push_back(remark); }
  bool ConfirmDiscard(const TUnwrittenCells& unwritten) override {
    DiscardQuestions.push_back(unwritten);
    return DiscardAnswer;
  }
  void ImportReport(const TImportReport& report) override { ImportReports.push_back(report); }
};

// A session on adapter "lo" at the simulator's port, with quick repeats so that a silent
// controller is given up on soon.
class SessionTest : public ::testing::Test {
 protected:
  void StartHost(int controllers, const testsupport::TSimAdjust& adjust = {}) {
    std::string error;
    host_ = testsupport::StartSimulators(controllers, error, adjust);
    ASSERT_NE(host_, nullptr) << error;
    MakeSession();
  }

  void MakeSession() {
    session_ = std::make_unique<TSession>(recorder_);
    session_->Settings.EthAdapterID = "lo";
    session_->SetControllerPort(host_ ? host_->Port() : kDefaultTarvoPort);
    session_->TarvoComm().SetNoRetires(1);
    session_->TarvoComm().SetWaitTime(250);
    session_->SetClock(&clock_);
    recorder_.Watched = session_.get();
    recorder_.Clock = &clock_;
  }

  int AddTab(const std::vector<std::string>& names) {
    return session_->AddVSTTab("Values", "Values of the test", names);
  }

  TVSTTable& Table(int tab) { return session_->VSTTabList().Items(tab)->vstTable(); }
  TTreeVar& CellOf(int tab, int position, int index) {
    return *Table(tab).RowByPosition(position)->Cell(index);
  }
  sim::TSimController& Sim(int i) { return host_->Controller(i); }

  std::vector<int32_t> NADs(int tab) {
    std::vector<int32_t> nads;
    for (const auto& row : Table(tab).Rows()) nads.push_back(row->Tarvo->NAD());
    return nads;
  }

  // The requests of a command that controller i received, and forgets them.
  std::vector<sim::TSimRequest> Requests(int i, uint8_t command) {
    std::vector<sim::TSimRequest> found;
    for (const sim::TSimRequest& r : Sim(i).Requests()) {
      if (r.Command == command) found.push_back(r);
    }
    return found;
  }

  // The same once at least `least` of them have arrived: a simulated controller hears a
  // datagram on its own thread, a moment after the workflow sent it, and what was sent
  // together arrives together.
  std::vector<sim::TSimRequest> ArrivedRequests(int i, uint8_t command, size_t least) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    std::vector<sim::TSimRequest> found = Requests(i, command);
    while (found.size() < least && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      found = Requests(i, command);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return Requests(i, command);
  }

  TRecorder recorder_;
  TFakeClock clock_;
  std::unique_ptr<sim::TSimHost> host_;
  std::unique_ptr<TSession> session_;
};

}  // namespace wftest
