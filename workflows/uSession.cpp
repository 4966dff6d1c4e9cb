#include "workflows/uSession.h"

#include <algorithm>
#include <cctype>
#include <exception>

#include "comm/uEthernetUtils.h"
#include "data/uNumText.h"
#include "data/uValueFile.h"
#include "protocol/uQLink.h"
#include "workflows/uWrites.h"

const std::vector<std::string> SystemVarNames = {"scan_frequency", "scan_time", "scan_time_max",
                                                 "scan_overrun"};

namespace {

constexpr int kStepPauseMs = 20;
constexpr int kClockPauseMs = 120;

// Shows what became of a cell's write. A value that was not written keeps its text and
// stays red, awaiting its write; one that was written shows what the controller holds, or
// what was sent when the read-back was lost.
void ShowWrite(TTreeVar& cell, const TWriteOutcome& outcome) {
  switch (outcome.Kind) {
    case TWriteKind::wkVerified:
    case TWriteKind::wkNotHeld:
      cell.SetCaption(outcome.Held);
      cell.AwaitWrite = false;
      break;
    case TWriteKind::wkUnverified:
      cell.AwaitWrite = false;
      break;
    case TWriteKind::wkNoVariable:
      cell.SetCaption("?");
      cell.AwaitWrite = false;
      break;
    default:
      break;
  }
  if (outcome.Kind != TWriteKind::wkVerified) cell.Note = std::make_shared<TWriteOutcome>(outcome);
}

class TBusy {
 public:
  explicit TBusy(TWorkflowFrontEnd& frontEnd) : fFrontEnd(frontEnd) { fFrontEnd.SetBusy(true); }
  ~TBusy() {
    try {
      fFrontEnd.SetBusy(false);
    } catch (...) {
    }
  }

 private:
  TWorkflowFrontEnd& fFrontEnd;
};

}  // namespace

// Marks a workflow as running for as long as it lives; a second one does not start.
class TSession::TRun {
 public:
  TRun(TSession& session, TWorkflow workflow)
      : fSession(session), fStarted(session.fRunning == TWorkflow::wfNone) {
    if (!fStarted) return;
    fSession.fRunning = workflow;
    fSession.fCancel = false;
    fSession.fActiveComm = nullptr;
    fSession.fFrontEnd.WorkflowChanged(workflow);
  }
  ~TRun() {
    if (!fStarted) return;
    fSession.fRunning = TWorkflow::wfNone;
    fSession.fActiveComm = nullptr;
    try {
      fSession.fFrontEnd.WorkflowChanged(TWorkflow::wfNone);
    } catch (...) {
    }
  }
  TRun(const TRun&) = delete;
  TRun& operator=(const TRun&) = delete;
  bool Started() const { return fStarted; }

 private:
  TSession& fSession;
  bool fStarted;
};

TSession::TSession(TWorkflowFrontEnd& frontEnd, std::unique_ptr<TCommunicator> scanComm)
    : Selection(frontEnd),
      fFrontEnd(frontEnd),
      fTarvoComm(scanComm ? std::move(scanComm) : std::make_unique<TCommunicator>()),
      fTarvoList(std::make_unique<TTarvoList>()) {
  fTarvoComm->EthAdapter().SetByID(Settings.EthAdapterID);
  fTarvoComm->SetDirectConnection(false);
  fTarvoComm->SetWaitTime(Settings.WaitTime());
  fTarvoComm->SetNoRetires(Settings.NoRetires());
  fVSTTabList.Add(
      std::make_unique<TVSTTab>("System", "System status", SystemVarNames, kColFirstScanVar, 1));
}

TSession::~TSession() {
  // The rows borrow the controllers: they go first. The front-end may be half gone by
  // now, so it is not told.
  for (int t = 0; t < fVSTTabList.Count(); ++t) fVSTTabList.Items(t)->vstTable().Clear();
  fTarvoList.reset();
  fTarvoComm.reset();
  fVSTTabList.Clear();
}

int TSession::AddVSTTab(const std::string& Name, const std::string& Description,
                        const std::vector<std::string>& Names) {
  auto tab = std::make_unique<TVSTTab>(Name, Description, Names, kColFirstVar, 0);
  TVSTTab* added = tab.get();
  const int index = fVSTTabList.Add(std::move(tab));
  // A tab added after a scan gets its rows at once, so that every table holds the same
  // controllers at the same positions.
  TVSTTable& table = added->vstTable();
  if (fTarvoList->Count() > 0) {
    fFrontEnd.RowsAboutToChange(table);
    for (const auto& systemRow : SystemTable().Rows()) {
      table.AddRow(systemRow->Tarvo).Checked = systemRow->Checked;
    }
    fFrontEnd.RowsChanged(table);
  }
  return index;
}

void TSession::AddTemplateTabs(const std::vector<TTemplateTab>& tabs) {
  for (const TTemplateTab& tab : tabs) AddVSTTab(tab.Name, tab.Description, tab.VarNames);
}

int TSession::AddController(std::unique_ptr<TTarvo> tarvo) {
  // NAD 0 is the discovery address: no workflow may address it.
  if (fRunning != TWorkflow::wfNone || tarvo == nullptr || tarvo->NAD() == 0) return -1;
  TTarvo* added = tarvo.get();
  fTarvoList->Add(std::move(tarvo));
  for (int t = 0; t < fVSTTabList.Count(); ++t) {
    TVSTTable& table = fVSTTabList.Items(t)->vstTable();
    fFrontEnd.RowsAboutToChange(table);
    table.AddRow(added).Checked = true;
    fFrontEnd.RowsChanged(table);
  }
  SyncHeaderCheckBoxes(SystemTable());
  fFrontEnd.EnableTabControls(true);
  return SystemTable().RowCount() - 1;
}

// ---- guard ---------------------------------------------------------------------------

TWorkflowResult TSession::Perform(TWorkflow workflow, const std::function<void()>& body) {
  std::string error;
  bool failed = false;
  bool cancelled = false;
  {
    TRun run(*this, workflow);
    if (!run.Started()) return TWorkflowResult::wrRefused;
    try {
      body();
    } catch (const std::exception& e) {
      failed = true;
      error = e.what();
    } catch (...) {
      failed = true;
      error = "Unexpected error";
    }
    cancelled = fCancel;
  }
  // The message is shown once the guard is released: a message box runs events too.
  if (failed) {
    fFrontEnd.ShowMessage(TMessageKind::mkError, error);
    return TWorkflowResult::wrFailed;
  }
  return cancelled ? TWorkflowResult::wrCancelled : TWorkflowResult::wrDone;
}

void TSession::RequestCancel() {
  if (fRunning == TWorkflow::wfNone) return;
  fCancel = true;
  if (fActiveComm == nullptr) return;
  // The wait under way ends now; the rest of this exchange (the next repeats and checks)
  // must not wait again. Every workflow hands a controller its settings before using it,
  // and discovery restores the scanning communicator's own values.
  fActiveComm->SetNoRetires(0);
  fActiveComm->SetWaitTime(0);
  fActiveComm->CancelAll();
}

// ---- settings handed to controllers --------------------------------------------------

TCommSettings TSession::CommSettings() const {
  TCommSettings s;
  s.EthAdapterID = Settings.EthAdapterID;
  s.DirectConnection = Settings.DirectConnection;
  s.Password = Settings.Password;
  s.NoRetires = fTarvoComm->NoRetires();
  s.WaitTime = fTarvoComm->WaitTime();
  s.LogToFile = Settings.CreateDebugLogs;
  s.Port = fControllerPort;
  return s;
}

void TSession::ApplySettings(TTarvo& T) {
  ::ApplySettings(T, CommSettings());
}

void TSession::SetControllerPort(int port) {
  fControllerPort = port;
  fTarvoComm->SetTarvoPort(port);
}

void TSession::Warn(const TTarvo& T, const std::string& text) {
  fFrontEnd.Warning("NAD " + NADText(T.NAD()) + ": " + text);
}

// ---- scan ----------------------------------------------------------------------------

void TSession::ClearTables() {
  Selection.Reset();
  for (int t = 0; t < fVSTTabList.Count(); ++t) {
    TVSTTable& table = fVSTTabList.Items(t)->vstTable();
    fFrontEnd.RowsAboutToChange(table);
    table.Clear();
    fFrontEnd.RowsChanged(table);
  }
}

void TSession::BuildRows() {
  for (int t = 0; t < fVSTTabList.Count(); ++t) {
    TVSTTable& table = fVSTTabList.Items(t)->vstTable();
    fFrontEnd.RowsAboutToChange(table);
    for (TTarvo* tarvo : fTarvoList->List()) table.AddRow(tarvo);
    fFrontEnd.RowsChanged(table);
  }
}

TUnwrittenCells TSession::UnwrittenCells() const {
  TUnwrittenCells unwritten;
  for (int t = 1; t < fVSTTabList.Count(); ++t) {
    int values = 0;
    for (const auto& row : fVSTTabList.Items(t)->vstTable().Rows()) {
      for (int i = 0; i < row->CellCount(); ++i) values += CellToWrite(*row->Cell(i), false);
    }
    unwritten.Values += values;
    unwritten.Tabs += values > 0;
  }
  return unwritten;
}

TMessageDirection TSession::ScanAnswer(const TTarvo& T) const {
  const auto refused = fScanRefusals.find(&T);
  return refused == fScanRefusals.end() ? md_ACK : refused->second;
}

TWorkflowResult TSession::Scan() {
  if (fRunning != TWorkflow::wfNone) return TWorkflowResult::wrRefused;
  // Asked before the workflow starts: while the question is open nothing runs, and
  // keeping the values leaves everything as it was.
  const TUnwrittenCells unwritten = UnwrittenCells();
  if (unwritten.Values > 0 && !fFrontEnd.ConfirmDiscard(unwritten)) {
    return TWorkflowResult::wrCancelled;
  }
  return Perform(TWorkflow::wfScan, [this] {
    TBusy busy(fFrontEnd);
    AutoDetecting = true;
    ShowSystemStatus = false;
    ClearTables();
    fScanRefusals.clear();
    fTarvoList->Clear();
    fFrontEnd.Repaint(SystemTable());

    fTarvoComm->SetDirectConnection(Settings.DirectConnection);
    fTarvoComm->SetPasswordCRC(PasswordHashUtf8(Settings.Password, 0));
    fTarvoComm->SetTarvoPort(fControllerPort);
    fTarvoComm->Open(Settings.EthAdapterID);  // discovery goes out in any case
    std::vector<std::string> nads, ips;
    std::vector<TMessageDirection> codes;
    Use(fTarvoComm.get());
    fTarvoComm->DetectTarvos(&nads, &ips, Settings.ScanTimeout(), &codes);
    Use(nullptr);
    fTarvoComm->Disconnect();
    if (Cancelled()) {
      AutoDetecting = false;
      fFrontEnd.EnableTabControls(false);
      return;
    }

    std::vector<TScanRemark> remarks;
    for (const TFoundController& found : FoundControllers(nads, ips, codes, remarks)) {
      auto tarvo = std::make_unique<TTarvo>();
      tarvo->SetNAD(found.NAD);
      tarvo->SetIP(found.IP);
      if (found.Refused()) fScanRefusals[tarvo.get()] = found.Code;
      fTarvoList->Add(std::move(tarvo));
    }
    for (const TScanRemark& remark : remarks) fFrontEnd.ScanRemark(remark);

    BuildRows();
    for (TTarvo* tarvo : fTarvoList->List()) {
      tarvo->SetStatusTested(false);
      ApplySettings(*tarvo);
    }
    fFrontEnd.Repaint(SystemTable());
    AutoDetecting = false;
    fFrontEnd.EnableTabControls(fTarvoList->Count() > 0);
    fTarvoComm->Disconnect();

    for (int t = 0; t < fVSTTabList.Count(); ++t) {
      TVSTTable& table = fVSTTabList.Items(t)->vstTable();
      for (int r = 0; r < table.RowCount(); ++r) SetRowChecked(table, r, true);
    }
    SystemTable().SortDirection = TSortDirection::sdAscending;
    DoSortTables(kColNAD);
  });
}

// ---- status check --------------------------------------------------------------------

void TSession::FillCell(TTarvo& T, std::unique_ptr<TTagVar> tag, TTreeVar& cell) {
  TTagVarList tags;
  const TTagVar* read = tags.Items(tags.Add(std::move(tag)));
  Use(T.Comm());
  T.Read(tags);
  if (Cancelled()) return;  // a cut-short exchange says nothing of the value
  // A read that failed leaves the variable's earlier value: that is no value.
  const TTarvoVar* V = Exchanged(T) ? read->TarvoVar() : nullptr;
  if (V != nullptr) {
    cell.SetCaption(ValueText(*V));
    cell.Description = V->Description();
  } else {
    cell.SetCaption("?");
    cell.Description.clear();
  }
}

void TSession::StatusRow(TTableRow& row, int position) {
  TTarvo& T = *row.Tarvo;
  TVSTTable& table = SystemTable();
  CurrentTarvo = position;
  ApplySettings(T);
  T.SetStatusTested(true);
  fFrontEnd.Repaint(table);

  for (TStatusCheck check : kStatusChecks) {
    Use(T.Comm());
    (T.*check)();
    ++CurrentTest;
    fFrontEnd.Repaint(table);
    fFrontEnd.Pause(kStepPauseMs);
    if (Cancelled()) return;
  }
  for (int i = 0; i < row.CellCount(); ++i) {
    TTreeVar& cell = *row.Cell(i);
    cell.Updating = true;
    fFrontEnd.RepaintCell(table, position, table.FirstCellColumn() + i);
    const std::string& name = SystemVarNames[static_cast<size_t>(i)];
    FillCell(T, std::make_unique<TTagVar>(NADText(T.NAD()) + "." + name, name, T.NAD(), 0, ""),
             cell);
    cell.Updating = false;
    cell.AwaitWrite = false;
    ++CurrentTest;
    fFrontEnd.Repaint(table);
    fFrontEnd.Pause(kStepPauseMs);
    if (Cancelled()) return;
  }
  Use(T.Comm());
  UpdateRTC(T, nullptr);
  ++CurrentTest;
  fFrontEnd.Repaint(table);
  fFrontEnd.Pause(kStepPauseMs);
  T.Disconnect();
}

TWorkflowResult TSession::CheckStatus() {
  return Perform(TWorkflow::wfStatus, [this] {
    TVSTTable& table = SystemTable();
    CurrentTest = 0;
    ShowSystemStatus = true;
    fTarvoComm->Disconnect();
    for (TTarvo* tarvo : fTarvoList->List()) tarvo->SetRTCString("");
    const int count = table.RowCount();
    for (int position = 0; position < count && !Cancelled(); ++position) {
      TTableRow* row = table.RowByPosition(position);
      if (row == nullptr) break;
      if (!row->Checked) {
        CurrentTest += 10;
        continue;
      }
      fFrontEnd.Progress(position, count, "NAD " + NADText(row->Tarvo->NAD()));
      StatusRow(*row, position);
    }
    CurrentTest = -1;
    fFrontEnd.Repaint(table);
  });
}

// ---- clock ---------------------------------------------------------------------------

TWorkflowResult TSession::WriteRTC() {
  return Perform(TWorkflow::wfWriteRTC, [this] {
    TVSTTable& table = SystemTable();
    CurrentTest = 9;
    ShowRTCUpdate = true;
    const int count = table.RowCount();
    for (int position = 0; position < count && !Cancelled(); ++position) {
      TTableRow* row = table.RowByPosition(position);
      if (row == nullptr) break;
      if (row->Checked) {
        TTarvo& T = *row->Tarvo;
        fFrontEnd.Progress(position, count, "NAD " + NADText(T.NAD()));
        ApplySettings(T);
        T.SetRTCString("");
        fFrontEnd.Repaint(table);
        fFrontEnd.Pause(kClockPauseMs);
        if (Cancelled()) break;
        // Each controller gets the time of its own turn.
        const TLocalTime now = fClock->Now();
        Use(T.Comm());
        UpdateRTC(T, &now);
        ShowSystemStatus = true;
        T.Disconnect();
      }
      CurrentTest += 10;
    }
    CurrentTest = -1;
    fFrontEnd.Repaint(table);
    ShowRTCUpdate = false;
  });
}

// ---- read and write of a tab ---------------------------------------------------------

void TSession::ReadRow(TVSTTab& tab, TTableRow& row, int position) {
  TTarvo& T = *row.Tarvo;
  TVSTTable& table = tab.vstTable();
  ApplySettings(T);
  for (int i = 0; i < row.CellCount() && !Cancelled(); ++i) {
    TTreeVar& cell = *row.Cell(i);
    const int column = table.FirstCellColumn() + i;
    cell.Updating = true;
    fFrontEnd.RepaintCell(table, position, column);
    if (i == 0 && TabOption(TTabOption::toReadEE)) {
      Use(T.Comm());
      switch (EepromLoad(T, fFrontEnd, *fClock, [this] { return Cancelled(); })) {
        case TEepromLoad::elLoaded:
          break;
        case TEepromLoad::elUnbound:
          Warn(T, Exchanged(T) ? "the program has no ee_read_req: nothing was loaded from EEPROM"
                               : "the EEPROM load failed: " + T.ErrorS);
          break;
        case TEepromLoad::elTimedOut:
          Warn(T, "the EEPROM load did not finish within 5000 ms; the values were read anyway");
          break;
        case TEepromLoad::elCancelled:
          cell.Updating = false;
          fFrontEnd.RepaintCell(table, position, column);
          return;
      }
    }
    FillCell(T, MakeTag(T, tab.VarNames()[static_cast<size_t>(i)]), cell);
    fFrontEnd.Pause(kStepPauseMs);
    cell.Updating = false;
    cell.AwaitWrite = false;
    fFrontEnd.RepaintCell(table, position, column);
  }
  fFrontEnd.Repaint(table);
  T.Disconnect();
}

void TSession::WriteRow(TVSTTab& tab, TTableRow& row, int position) {
  TTarvo& T = *row.Tarvo;
  TVSTTable& table = tab.vstTable();
  ApplySettings(T);
  const bool writeAll = TabOption(TTabOption::toWriteAll);
  for (int i = 0; i < row.CellCount() && !Cancelled(); ++i) {
    TTreeVar& cell = *row.Cell(i);
    if (!CellToWrite(cell, writeAll)) continue;
    const int column = table.FirstCellColumn() + i;
    cell.Updating = true;
    fFrontEnd.RepaintCell(table, position, column);
    const std::string& name = tab.VarNames()[static_cast<size_t>(i)];
    Use(T.Comm());
    const TWriteOutcome outcome = WriteValues(T, {{name, cell.Caption()}}).front();
    // A cut-short exchange says nothing of the write: the cell awaits it still.
    if (!Cancelled()) {
      ShowWrite(cell, outcome);
      if (outcome.Kind != TWriteKind::wkVerified) fFrontEnd.WriteReported(outcome);
    }
    fFrontEnd.RepaintCell(table, position, column);
    cell.Updating = false;
  }
  if (TabOption(TTabOption::toWriteEE) && !Cancelled()) {
    Use(T.Comm());
    const TEepromStoreOutcome store = EepromStore(T);
    if (!Cancelled() && store.Kind != TEepromStoreKind::esStored) {
      fFrontEnd.EepromStoreReported(store);
    }
  }
  fFrontEnd.Repaint(table);
}

TWorkflowResult TSession::EachCheckedRow(TWorkflow workflow, int tabIndex,
                                         void (TSession::*step)(TVSTTab&, TTableRow&, int)) {
  TVSTTab* tab = tabIndex > 0 ? fVSTTabList.Items(tabIndex) : nullptr;
  if (tab == nullptr) return TWorkflowResult::wrRefused;
  return Perform(workflow, [this, tab, step] {
    TVSTTable& table = tab->vstTable();
    const int count = table.RowCount();
    for (int position = 0; position < count && !Cancelled(); ++position) {
      TTableRow* row = table.RowByPosition(position);
      if (row == nullptr) break;
      if (!row->Checked) continue;
      fFrontEnd.Progress(position, count, "NAD " + NADText(row->Tarvo->NAD()));
      (this->*step)(*tab, *row, position);
    }
  });
}

TWorkflowResult TSession::ReadTab(int tabIndex) {
  return EachCheckedRow(TWorkflow::wfRead, tabIndex, &TSession::ReadRow);
}

TWorkflowResult TSession::WriteTab(int tabIndex) {
  return EachCheckedRow(TWorkflow::wfWrite, tabIndex, &TSession::WriteRow);
}

// ---- export and import ---------------------------------------------------------------

TWorkflowResult TSession::ExportToXML(const std::string& FileName, int tabIndex) {
  TVSTTab* tab = tabIndex > 0 ? fVSTTabList.Items(tabIndex) : nullptr;
  if (tab == nullptr) return TWorkflowResult::wrRefused;
  std::string error;
  bool saved = true;
  const TWorkflowResult result = Perform(TWorkflow::wfExport, [&] {
    std::vector<TValueFileVar> vars;
    for (const auto& row : tab->vstTable().Rows()) {
      for (int i = 0; i < row->CellCount(); ++i) {
        vars.push_back(
            {row->Tarvo->NAD(), tab->VarNames()[static_cast<size_t>(i)], row->Cell(i)->Caption()});
      }
    }
    saved = SaveValueFile(FileName, vars, error);
  });
  if (result != TWorkflowResult::wrDone || saved) return result;
  fFrontEnd.ShowMessage(TMessageKind::mkError, error);
  return TWorkflowResult::wrFailed;
}

TWorkflowResult TSession::ImportFromXML(const std::string& FileName, int tabIndex) {
  TVSTTab* tab = tabIndex > 0 ? fVSTTabList.Items(tabIndex) : nullptr;
  if (tab == nullptr) return TWorkflowResult::wrRefused;
  std::string error;
  bool loaded = true;
  const TWorkflowResult result = Perform(TWorkflow::wfImport, [&] {
    std::vector<TValueFileEntry> entries;
    std::vector<TValueFileSkip> skipped;
    loaded = LoadValueFile(FileName, entries, error, &skipped);
    if (!loaded) return;
    TVSTTable& table = tab->vstTable();
    const TImportReport report = ImportEntries(entries, tab->VarNames(), table, skipped);
    fFrontEnd.Repaint(table);
    if (!report.Skipped.empty()) fFrontEnd.ImportReport(report);
  });
  if (result != TWorkflowResult::wrDone || loaded) return result;
  fFrontEnd.ShowMessage(TMessageKind::mkError, error);
  return TWorkflowResult::wrFailed;
}

// ---- check boxes and sorting ---------------------------------------------------------

void TSession::SetRowChecked(TVSTTable& table, int position, bool checked) {
  TTableRow* changed = table.RowByPosition(position);
  if (changed == nullptr) return;
  if (!checked && changed->Tarvo != nullptr) changed->Tarvo->SetStatusTested(false);
  changed->Checked = checked;
  for (int t = 0; t < fVSTTabList.Count(); ++t) {
    TVSTTable& other = fVSTTabList.Items(t)->vstTable();
    if (&other == &table) continue;
    if (TTableRow* row = other.RowByPosition(position)) row->Checked = checked;
  }
  SyncHeaderCheckBoxes(table);
}

void TSession::SetAllRowsChecked(bool checked) {
  for (int t = 0; t < fVSTTabList.Count(); ++t) {
    TVSTTable& table = fVSTTabList.Items(t)->vstTable();
    for (const auto& row : table.Rows()) row->Checked = checked;
    fFrontEnd.Repaint(table);
  }
}

void TSession::SyncHeaderCheckBoxes(const TVSTTable& changed) {
  const TCheckState state = changed.RowsCheckState();
  for (int t = 0; t < fVSTTabList.Count(); ++t) {
    TVSTTable& table = fVSTTabList.Items(t)->vstTable();
    table.HeaderCheckState = state;
    fFrontEnd.Repaint(table);
  }
}

void TSession::HeaderClicked(TVSTTable& table, int column) {
  if (column == kColNo) {
    table.HeaderCheckState = table.HeaderCheckState == TCheckState::csChecked
                                 ? TCheckState::csUnchecked
                                 : TCheckState::csChecked;
    SetAllRowsChecked(table.HeaderCheckState == TCheckState::csChecked);
  } else if (column == kColNAD || (column == kColIP && IsSystemTable(table))) {
    if (SortTables(column)) fFrontEnd.Repaint(table);
  }
  SyncHeaderCheckBoxes(table);
}

bool TSession::SortTables(int column) {
  if (fRunning != TWorkflow::wfNone) return false;
  DoSortTables(column);
  return true;
}

void TSession::DoSortTables(int column) {
  TVSTTable& system = SystemTable();
  if (system.SortColumn != column) system.SortDirection = TSortDirection::sdAscending;
  system.SortColumn = column;
  const TSortDirection dir = system.SortDirection;
  for (int t = 0; t < fVSTTabList.Count(); ++t) {
    TVSTTable& table = fVSTTabList.Items(t)->vstTable();
    fFrontEnd.RowsAboutToChange(table);
    // Stable, so that rows that compare equal keep one order in every table.
    std::stable_sort(table.Rows().begin(), table.Rows().end(), [&](const auto& a, const auto& b) {
      const int c = CompareRows(*a, *b);
      return dir == TSortDirection::sdAscending ? c < 0 : c > 0;
    });
    if (&table != &system) table.SortColumn = column == kColNAD ? kColNAD : -1;
    fFrontEnd.RowsChanged(table);
  }
  const TSortDirection next = dir == TSortDirection::sdAscending ? TSortDirection::sdDescending
                                                                 : TSortDirection::sdAscending;
  for (int t = 0; t < fVSTTabList.Count(); ++t)
    fVSTTabList.Items(t)->vstTable().SortDirection = next;
}

int TSession::CompareRows(const TTableRow& a, const TTableRow& b) const {
  const int column = fVSTTabList.Items(0)->vstTable().SortColumn;
  uint32_t x = 0, y = 0;
  if (column == kColNAD) {
    x = static_cast<uint32_t>(a.Tarvo->NAD());
    y = static_cast<uint32_t>(b.Tarvo->NAD());
  } else if (column == kColIP) {
    x = IsValidIP(a.Tarvo->IP()) ? IPToInt(a.Tarvo->IP()) : 0;
    y = IsValidIP(b.Tarvo->IP()) ? IPToInt(b.Tarvo->IP()) : 0;
  } else {
    return 0;
  }
  return x < y ? -1 : (x > y ? 1 : 0);
}

void TSession::CheckBoxClicked(TTabOption option, bool checked) {
  if (UpdatingCheckBoxes) return;
  UpdatingCheckBoxes = true;
  try {
    fTabOptions[static_cast<size_t>(option)] = checked;
    fFrontEnd.TabOptionChanged(option, checked);
  } catch (...) {
    UpdatingCheckBoxes = false;
    throw;
  }
  UpdatingCheckBoxes = false;
}

// ---- settings ------------------------------------------------------------------------

void TSession::LoadSettings(const TSettingsStore& store, TWindowPlacement& placement) {
  if (!ReadSettings(store, Settings, placement)) return;
  fTarvoComm->SetNoRetires(Settings.NoRetires());
  fTarvoComm->SetWaitTime(Settings.WaitTime());
}

void TSession::SaveSettings(TSettingsStore& store, const TWindowPlacement& placement) {
  if (Settings.EthAdapterID.empty()) Settings.EthAdapterID = fTarvoComm->EthAdapter().ID();
  WriteSettings(store, Settings, placement);
}

TSettings TSession::SetupValues() const {
  TSettings values = Settings;
  // The stored adapter, present or not: OK after a change of something else must not
  // store another one in its place.
  if (values.EthAdapterID.empty()) values.EthAdapterID = fTarvoComm->EthAdapter().ID();
  return values;
}

bool TSession::AcceptSetup(const TSettings& values) {
  if (fRunning != TWorkflow::wfNone) return false;
  Settings.Password = values.Password;
  Settings.EthAdapterID = values.EthAdapterID;
  Settings.DirectConnection = values.DirectConnection;
  Settings.CreateDebugLogs = values.CreateDebugLogs;
  fTarvoComm->EthAdapter().SetByID(Settings.EthAdapterID);
  fTarvoComm->SetDirectConnection(Settings.DirectConnection);
  fTarvoComm->SetLogToFile(Settings.CreateDebugLogs);
  Settings.ExtraRetries = values.ExtraRetries;
  Settings.ExtraTimeout = values.ExtraTimeout;
  fTarvoComm->SetNoRetires(Settings.NoRetires());
  fTarvoComm->SetWaitTime(Settings.WaitTime());
  for (TTarvo* tarvo : fTarvoList->List()) {
    tarvo->Disconnect();
    tarvo->SetDirectConnection(Settings.DirectConnection);
    tarvo->SetEthAdapterID(Settings.EthAdapterID);
    tarvo->Comm()->SetLogToFile(Settings.CreateDebugLogs);
  }
  return true;
}
