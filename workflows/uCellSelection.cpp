#include "workflows/uCellSelection.h"

#include <algorithm>

void ClearCellSelection(TVSTTable& table) {
  for (const auto& row : table.Rows()) {
    for (const auto& cell : row->Cells) cell->Selected = false;
  }
}

void SelectRange(TVSTTable& table, int rowMin, int cellMin, int rowMax, int cellMax, bool value) {
  for (int r = std::max(rowMin, 0); r <= rowMax && r < table.RowCount(); ++r) {
    const TTableRow* row = table.RowByPosition(r);
    for (int i = std::max(cellMin, 0); i <= cellMax && i < row->CellCount(); ++i) {
      row->Cell(i)->Selected = value;
    }
  }
}

void SetSelectedValues(TVSTTable& table, const std::string& text) {
  for (const auto& row : table.Rows()) {
    for (const auto& cell : row->Cells) {
      if (!cell->Selected) continue;
      cell->SetCaption(text);
      cell->AwaitWrite = true;
    }
  }
}

TCellHit CellAt(const TVSTTable& table, int position, int column) {
  TCellHit hit;
  hit.Cell = table.CellAt(position, column);
  if (hit.Cell) {
    hit.Position = position;
    hit.Column = column;
  }
  return hit;
}

void TCellSelection::MousePress(TVSTTable& table, int position, int column, bool ctrl, bool shift,
                                bool rightButtonDown) {
  if (rightButtonDown) return;  // the selection stays for the context menu
  if (fDblClick) {
    fDblClick = false;
    return;
  }
  if (!(ctrl && !shift)) ClearCellSelection(table);
  const int first = table.FirstCellColumn();
  if (const TCellHit hit = CellAt(table, position, column)) {
    CurrX = hit.Position;
    CurrY = hit.Column;
    CurrTreeVar = hit.Cell;
    hit.Cell->Selected = !hit.Cell->Selected;
    fMouseSelectAction = hit.Cell->Selected;
    fMouseDown = true;
    if (shift) {
      SelectRange(table, std::min(PivotX, CurrX), std::min(PivotY, CurrY) - first,
                  std::max(PivotX, CurrX), std::max(PivotY, CurrY) - first, fMouseSelectAction);
    }
  } else {
    CurrX = 0;
    CurrY = 0;
    CurrTreeVar = nullptr;
  }
  if (!shift) {
    PivotX = CurrX;
    PivotY = CurrY;
  }
  fFrontEnd.Repaint(table);
}

void TCellSelection::MouseMove(TVSTTable& table, int position, int column, bool ctrl, bool shift) {
  if (shift || !fMouseDown) return;
  const TCellHit hit = CellAt(table, position, column);
  if (!hit) return;
  if (!ctrl) ClearCellSelection(table);
  const int first = table.FirstCellColumn();
  SelectRange(table, std::min(CurrX, hit.Position), std::min(CurrY, hit.Column) - first,
              std::max(CurrX, hit.Position), std::max(CurrY, hit.Column) - first,
              fMouseSelectAction);
  fFrontEnd.Repaint(table);
}

void TCellSelection::DoubleClick(TVSTTable& table, bool pressFollows) {
  fDblClick = pressFollows;
  if (CurrTreeVar != nullptr && CurrTreeVar->Selected) EditSelectedValues(table);
}

void TCellSelection::KeyPress(TVSTTable& table, TCellKey key, bool shift) {
  switch (key) {
    case TCellKey::ckEnter:
      EditSelectedValues(table);
      break;
    case TCellKey::ckLeft:
      MoveCellCursor(table, 0, shift, -1);
      break;
    case TCellKey::ckRight:
      MoveCellCursor(table, 0, shift, +1);
      break;
    case TCellKey::ckUp:
      MoveCellCursor(table, -1, shift, 0);
      break;
    case TCellKey::ckDown:
      MoveCellCursor(table, +1, shift, 0);
      break;
  }
  fFrontEnd.Repaint(table);
}

void TCellSelection::MoveCellCursor(TVSTTable& table, int rowDelta, bool extend, int columnDelta) {
  if (!extend) ClearCellSelection(table);
  const int first = table.FirstCellColumn();
  if (CurrY + columnDelta >= first && CurrY + columnDelta < table.ColumnCount()) {
    CurrY += columnDelta;
  }
  if (CurrX + rowDelta >= 0 && CurrX + rowDelta < table.RowCount()) CurrX += rowDelta;
  if (TTreeVar* cell = table.CellAt(CurrX, CurrY)) cell->Selected = true;
  fFrontEnd.Repaint(table);
}

void TCellSelection::SelectAll(TVSTTable& table) {
  if (table.RowCount() == 0) return;
  CurrTreeVar = table.RowByPosition(0)->Cell(0);
  for (const auto& row : table.Rows()) {
    for (const auto& cell : row->Cells) cell->Selected = true;
  }
  fFrontEnd.Repaint(table);
}

void TCellSelection::Delete(TVSTTable& table) {
  SetSelectedValues(table, "");
  fFrontEnd.Repaint(table);
}

void TCellSelection::EditSelectedValues(TVSTTable& table) {
  if (CurrTreeVar == nullptr) return;
  std::string value = CurrTreeVar->Caption();
  const unsigned generation = fGeneration;
  if (!fFrontEnd.EditValue(value)) return;
  // A dialog runs events: rows freed meanwhile must not be written to.
  if (generation != fGeneration) return;
  SetSelectedValues(table, value);
  fFrontEnd.Repaint(table);
}

void TCellSelection::TableShown(TVSTTable& table) {
  ClearCellSelection(table);
  fFrontEnd.Repaint(table);
}

void TCellSelection::Reset() {
  ++fGeneration;
  CurrTreeVar = nullptr;
  fMouseDown = false;
}
