// The cell selection of a variables table and the gestures that change it. The front-end
// turns mouse and keys into these calls, giving the row position and the column under the
// pointer; what the table shows follows from the cells' Selected flags.
#pragma once

#include <string>

#include "workflows/uFrontEnd.h"
#include "workflows/uVSTTab.h"

void ClearCellSelection(TVSTTable& table);
// Selected := value for the cells of rows rowMin..rowMax and cell indexes cellMin..cellMax
// (column minus the table's first cell column); others keep theirs.
void SelectRange(TVSTTable& table, int rowMin, int cellMin, int rowMax, int cellMax, bool value);
// Every selected cell gets the text and awaits its write.
void SetSelectedValues(TVSTTable& table, const std::string& text);

// A cell under the pointer: the position of a row that exists and a column that holds one
// of its cells.
struct TCellHit {
  int Position = 0;
  int Column = 0;
  TTreeVar* Cell = nullptr;
  explicit operator bool() const { return Cell != nullptr; }
};
TCellHit CellAt(const TVSTTable& table, int position, int column);

enum class TCellKey : uint8_t { ckEnter, ckLeft, ckRight, ckUp, ckDown };

// The gesture state shared by all variables tables (one pointer, one cursor).
class TCellSelection {
 public:
  explicit TCellSelection(TWorkflowFrontEnd& frontEnd) : fFrontEnd(frontEnd) {}

  // A left-button press at (position, column); position -1 below the last row.
  void MousePress(TVSTTable& table, int position, int column, bool ctrl, bool shift,
                  bool rightButtonDown = false);
  void MouseMove(TVSTTable& table, int position, int column, bool ctrl, bool shift);
  void MouseRelease() { fMouseDown = false; }
  // A double click edits the selection when the current cell is selected. pressFollows:
  // the toolkit delivers the press that completes a double click after this call (the
  // press is then ignored); a toolkit that replaces that press by the double click passes
  // false.
  void DoubleClick(TVSTTable& table, bool pressFollows = true);
  void KeyPress(TVSTTable& table, TCellKey key, bool shift);
  void MoveCellCursor(TVSTTable& table, int rowDelta, bool extend, int columnDelta);
  void SelectAll(TVSTTable& table);
  // Del: the selected cells are emptied and await their write (which skips empty cells).
  void Delete(TVSTTable& table);
  // Asks the front-end for a value and gives it to every selected cell.
  void EditSelectedValues(TVSTTable& table);
  // The page showing the table was brought to the front.
  void TableShown(TVSTTable& table);
  // The rows of the tables are about to be freed: forget the current cell.
  void Reset();

  int CurrX = 0, CurrY = 0;    // cursor: row position, column
  int PivotX = 0, PivotY = 0;  // anchor of a Shift selection
  TTreeVar* CurrTreeVar = nullptr;
  bool fMouseDown = false;
  bool fMouseSelectAction = false;  // the Selected state a drag spreads
  bool fDblClick = false;

 private:
  TWorkflowFrontEnd& fFrontEnd;
  unsigned fGeneration = 0;  // counts Reset calls
};
