// The records every table is made of: tabs, rows and cells. A table here is the data a
// front-end shows, rows in display order; widgets, colours and fonts are the front-end's.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TTarvo;
struct TWriteOutcome;

enum class TCheckState : uint8_t { csUnchecked, csChecked, csMixed };
enum class TSortDirection : uint8_t { sdAscending, sdDescending };

// One cell: the value of one variable of one controller as text.
class TTreeVar {
 public:
  TTreeVar() = default;
  TTreeVar(const TTreeVar&) = delete;
  TTreeVar& operator=(const TTreeVar&) = delete;

  const std::string& Caption() const { return fCaption; }
  // Changed tells whether a known value was replaced by a different known value. A new
  // caption, the user's or a controller's, makes the last write's note obsolete.
  void SetCaption(const std::string& Value);

  std::string Description;
  bool AwaitWrite = false;  // entered, cleared or imported and not yet written
  bool Updating = false;    // its exchange is under way
  bool Changed = false;
  bool Selected = false;
  // What the last write made of this cell when it did not simply take: why the value still
  // awaits its write, or that the value written is unverified. Worded by the front-end.
  std::shared_ptr<const TWriteOutcome> Note;

 private:
  std::string fCaption;
};

// One row of a table: its controller (borrowed from the session's TTarvoList), its cells
// (owned, one per variable column) and the state of its check box.
class TTableRow {
 public:
  TTableRow(TTarvo* ATarvo, int cellCount);
  TTableRow(const TTableRow&) = delete;
  TTableRow& operator=(const TTableRow&) = delete;

  int CellCount() const { return static_cast<int>(Cells.size()); }
  // nullptr outside 0 .. CellCount() - 1.
  TTreeVar* Cell(int index) const;

  TTarvo* Tarvo = nullptr;
  std::vector<std::unique_ptr<TTreeVar>> Cells;
  bool Checked = false;
};

// The rows of one tab in display order. Columns: the fixed ones (position and check box,
// NAD, and on the System table IP and the five lights), then one per variable, then the
// trailing ones (the System table's clock).
class TVSTTable {
 public:
  TVSTTable(int firstCellColumn, int cellCount, int trailingColumns);
  TVSTTable(const TVSTTable&) = delete;
  TVSTTable& operator=(const TVSTTable&) = delete;

  int RowCount() const { return static_cast<int>(fRows.size()); }
  // The row at a display position; nullptr outside the table.
  TTableRow* RowByPosition(int position) const;
  TTableRow& AddRow(TTarvo* tarvo);
  // Frees every row with its cells.
  void Clear() { fRows.clear(); }

  int FirstCellColumn() const { return fFirstCellColumn; }
  int CellCount() const { return fCellCount; }
  int ColumnCount() const { return fFirstCellColumn + fCellCount + fTrailingColumns; }
  // The cell shown at (position, column); nullptr for the fixed and trailing columns.
  TTreeVar* CellAt(int position, int column) const;

  // all rows checked, none, or some; unchecked without rows.
  TCheckState RowsCheckState() const;

  // The table's index in the tab list.
  int Tag = 0;
  // What the header shows: its check box, the sort column (-1 none) and the direction
  // the next sort takes.
  TCheckState HeaderCheckState = TCheckState::csUnchecked;
  int SortColumn = -1;
  TSortDirection SortDirection = TSortDirection::sdAscending;

  std::vector<std::unique_ptr<TTableRow>>& Rows() { return fRows; }
  const std::vector<std::unique_ptr<TTableRow>>& Rows() const { return fRows; }

 private:
  int fFirstCellColumn;
  int fCellCount;
  int fTrailingColumns;
  std::vector<std::unique_ptr<TTableRow>> fRows;
};

// One tab: a name, the hint over it, its variable names in column order and its table.
class TVSTTab {
 public:
  TVSTTab(std::string AName, std::string ADescription, std::vector<std::string> AVarNames,
          int firstCellColumn = 2, int trailingColumns = 0);
  TVSTTab(const TVSTTab&) = delete;
  TVSTTab& operator=(const TVSTTab&) = delete;

  const std::string& Name() const { return fName; }
  const std::string& Description() const { return fDescription; }
  const std::vector<std::string>& VarNames() const { return fVarNames; }
  TVSTTable& vstTable() { return fvstTable; }
  const TVSTTable& vstTable() const { return fvstTable; }

 private:
  std::string fName;
  std::string fDescription;
  std::vector<std::string> fVarNames;
  TVSTTable fvstTable;
};

// The tabs, owned; entry 0 is the System tab.
class TVSTTabList {
 public:
  int Add(std::unique_ptr<TVSTTab> AItem);
  int Count() const { return static_cast<int>(FItems.size()); }
  // nullptr outside 0 .. Count() - 1.
  TVSTTab* Items(int index) const;
  void Clear();

 private:
  std::vector<std::unique_ptr<TVSTTab>> FItems;
};
