#include "workflows/uVSTTab.h"

void TTreeVar::SetCaption(const std::string& Value) {
  Changed = fCaption != Value && !fCaption.empty() && !Value.empty();
  fCaption = Value;
  Note.reset();
}

TTableRow::TTableRow(TTarvo* ATarvo, int cellCount) : Tarvo(ATarvo) {
  for (int i = 0; i < cellCount; ++i) Cells.push_back(std::make_unique<TTreeVar>());
}

TTreeVar* TTableRow::Cell(int index) const {
  return index >= 0 && index < CellCount() ? Cells[static_cast<size_t>(index)].get() : nullptr;
}

TVSTTable::TVSTTable(int firstCellColumn, int cellCount, int trailingColumns)
    : fFirstCellColumn(firstCellColumn), fCellCount(cellCount), fTrailingColumns(trailingColumns) {}

TTableRow* TVSTTable::RowByPosition(int position) const {
  return position >= 0 && position < RowCount() ? fRows[static_cast<size_t>(position)].get()
                                                : nullptr;
}

TTableRow& TVSTTable::AddRow(TTarvo* tarvo) {
  fRows.push_back(std::make_unique<TTableRow>(tarvo, fCellCount));
  return *fRows.back();
}

TTreeVar* TVSTTable::CellAt(int position, int column) const {
  const TTableRow* row = RowByPosition(position);
  return row ? row->Cell(column - fFirstCellColumn) : nullptr;
}

TCheckState TVSTTable::RowsCheckState() const {
  int checked = 0;
  for (const auto& row : fRows) checked += row->Checked ? 1 : 0;
  if (checked == 0) return TCheckState::csUnchecked;
  return checked == RowCount() ? TCheckState::csChecked : TCheckState::csMixed;
}

TVSTTab::TVSTTab(std::string AName, std::string ADescription, std::vector<std::string> AVarNames,
                 int firstCellColumn, int trailingColumns)
    : fName(std::move(AName)),
      fDescription(std::move(ADescription)),
      fVarNames(std::move(AVarNames)),
      fvstTable(firstCellColumn, static_cast<int>(fVarNames.size()), trailingColumns) {}

int TVSTTabList::Add(std::unique_ptr<TVSTTab> AItem) {
  AItem->vstTable().Tag = Count();
  FItems.push_back(std::move(AItem));
  return Count() - 1;
}

TVSTTab* TVSTTabList::Items(int index) const {
  return index >= 0 && index < Count() ? FItems[static_cast<size_t>(index)].get() : nullptr;
}

void TVSTTabList::Clear() {
  while (!FItems.empty()) FItems.pop_back();
}
