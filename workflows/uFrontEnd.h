// What a workflow needs from the program that runs it: the desktop window implements it
// with its widgets, the command-line tool with its output, tests with a recorder.
#pragma once

#include <cstdint>
#include <string>

class TVSTTable;
struct TWriteOutcome;
struct TEepromStoreOutcome;
struct TScanRemark;
struct TImportReport;

// The workflows that cannot overlap; wfNone while none runs.
enum class TWorkflow : uint8_t {
  wfNone,
  wfScan,
  wfStatus,
  wfWriteRTC,
  wfRead,
  wfWrite,
  wfExport,
  wfImport,
};

// "Scan", "Status check", "Clock write", "Read", "Write", "Export", "Import"; empty for
// wfNone.
const char* WorkflowName(TWorkflow workflow);

enum class TMessageKind : uint8_t { mkInfo, mkError };

// Values entered or imported on the variables tabs that a Write would send and has not:
// what a scan or closing the window would throw away.
struct TUnwrittenCells {
  int Values = 0;
  int Tabs = 0;  // how many variables tabs hold them
};

// The three check boxes every variables tab carries; each stands for all tabs at once.
enum class TTabOption : uint8_t { toReadEE, toWriteEE, toWriteAll };

class TWorkflowFrontEnd {
 public:
  virtual ~TWorkflowFrontEnd() = default;

  // Show the table's current state; with a row and column only that cell changed. Called
  // often, also from inside communicator waits: queue the repaint rather than paint.
  virtual void Repaint(const TVSTTable& table) {}
  virtual void RepaintCell(const TVSTTable& table, int position, int column) { Repaint(table); }
  // Around every change of a table's rows: cleared, added or reordered.
  virtual void RowsAboutToChange(const TVSTTable& table) {}
  virtual void RowsChanged(const TVSTTable& table) {}
  // Wait ms milliseconds; a window keeps processing its events meanwhile. The default
  // sleeps.
  virtual void Pause(int ms);
  virtual void SetBusy(bool busy) {}
  // A message the user has to see (a window shows a message box).
  virtual void ShowMessage(TMessageKind kind, const std::string& text) {}
  // Something the user should know that stops nothing.
  virtual void Warning(const std::string& text) {}
  // A write that did not simply take (refused, unverified, not held, ...), and an EEPROM
  // store that was not confirmed: the front-end words them as it shows warnings.
  virtual void WriteReported(const TWriteOutcome& outcome) {}
  virtual void EepromStoreReported(const TEepromStoreOutcome& outcome) {}
  // Before the workflow turns to the next of `count` controllers.
  virtual void Progress(int index, int count, const std::string& text) {}
  // Everything but the tables on every tab page is usable exactly when enabled.
  virtual void EnableTabControls(bool enabled) {}
  // A workflow started (the one given) or ended (wfNone): actions that would start another
  // are refused until it ends.
  virtual void WorkflowChanged(TWorkflow running) {}
  // A tab option changed: every tab's box of that option is to show `checked`.
  virtual void TabOptionChanged(TTabOption option, bool checked) {}
  // Asks for one value for the selected cells, value holding the current cell's text;
  // false when the user cancels. The default cancels.
  virtual bool EditValue(std::string& value) { return false; }
  // Something about a scan's answers the user should know (uSteps.h): an odd answer, or a
  // controller that refused. Each front-end words it.
  virtual void ScanRemark(const TScanRemark& remark) {}
  // Whether to go on and throw away values that await writing; false keeps them and
  // stops what would discard them. The default goes on: it has no one to ask.
  virtual bool ConfirmDiscard(const TUnwrittenCells& unwritten) { return true; }
  // What an import did not take from its file, and why (uSteps.h); called only when it
  // left something out.
  virtual void ImportReport(const TImportReport& report) {}
};

// The PC's local time, split as the controllers' clocks keep it.
struct TLocalTime {
  int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
  int Weekday = 0;  // 0 Sunday .. 6 Saturday
};

// Where the workflows take time from; tests replace it to choose the day and to let the
// EEPROM wait run out without waiting.
class TWorkflowClock {
 public:
  virtual ~TWorkflowClock() = default;
  // Milliseconds of a steady clock.
  virtual int64_t Ticks() const;
  virtual TLocalTime Now() const;
};
