#include "ui/uTableModels.h"

#include "ui/uCommon.h"
#include "ui/uOutcomeText.h"

namespace {

// The reason a write did not simply take comes first: it is why the cell looks as it does.
QVariant Hint(const TCellLook& look) {
  std::string hint = look.Note ? WriteOutcomeText(*look.Note) : std::string();
  if (!hint.empty() && !look.Hint.empty()) hint += "\n";
  hint += look.Hint;
  return hint.empty() ? QVariant() : QVariant(ToQ(hint));
}

}  // namespace

TTableModel::TTableModel(TSession* session, TVSTTable* table, QStringList titles, QObject* parent)
    : QAbstractTableModel(parent), fSession(session), fTable(table), fTitles(std::move(titles)) {}

void TTableModel::Detach() {
  beginResetModel();
  fTable = nullptr;
  endResetModel();
}

int TTableModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid() || fTable == nullptr || fResetting) return 0;
  return fTable->RowCount();
}

int TTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(fTitles.size());
}

QVariant TTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || fTable == nullptr || fResetting) return {};
  const TTableRow* row = fTable->RowByPosition(index.row());
  if (row == nullptr) return {};
  if (role == Qt::CheckStateRole) {
    if (index.column() != kColNo) return {};
    return row->Checked ? Qt::Checked : Qt::Unchecked;
  }
  const TCellLook look = Look(index.row(), index.column());
  switch (role) {
    case Qt::DisplayRole:
      return ToQ(look.Text);
    case Qt::ToolTipRole:
      if (look.ScanRefusal != md_ACK) return ScanRefusalHint(look.ScanRefusal);
      return Hint(look);
    case crBackground:
      return static_cast<int>(look.Background);
    case crTextColour:
      return static_cast<int>(look.TextColour);
    case crLed:
      return static_cast<int>(look.Led);
    default:
      return {};
  }
}

QVariant TTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  return fTitles.value(section);
}

Qt::ItemFlags TTableModel::flags(const QModelIndex& index) const {
  if (!index.isValid()) return Qt::NoItemFlags;
  Qt::ItemFlags flags = Qt::ItemIsEnabled;
  if (index.column() == kColNo) flags |= Qt::ItemIsUserCheckable;
  return flags;
}

bool TTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (role != Qt::CheckStateRole || index.column() != kColNo || fTable == nullptr ||
      fSession == nullptr || fTable->RowByPosition(index.row()) == nullptr) {
    return false;
  }
  fSession->SetRowChecked(*fTable, index.row(), value.toInt() == Qt::Checked);
  return true;
}

void TTableModel::BeginRowsChange() {
  if (fResetting) return;
  beginResetModel();
  fResetting = true;
}

void TTableModel::EndRowsChange() {
  if (!fResetting) return;
  fResetting = false;
  endResetModel();
}

void TTableModel::CellChanged(int position, int column) {
  const QModelIndex cell = index(position, column);
  if (cell.isValid()) emit dataChanged(cell, cell);
}

void TTableModel::AllChanged() {
  if (rowCount() == 0) return;
  emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1));
}

TSystemTableModel::TSystemTableModel(TSession* session, QObject* parent)
    : TTableModel(session, &session->SystemTable(), Titles(), parent) {}

QStringList TSystemTableModel::Titles() {
  QStringList titles = {"No.",        "NAD",         "IP",       "Network",
                        "Tarvo ping", "PLC program", "ALC file", "PLC run"};
  for (const std::string& name : SystemVarNames) titles << ToQ(name);
  titles << "Realtime clock";
  return titles;
}

TCellLook TSystemTableModel::Look(int position, int column) const {
  return SystemCellLook(*fSession, position, column);
}

namespace {

QStringList VariablesTitles(const TVSTTab* tab) {
  QStringList titles = {"No.", "NAD"};
  if (tab != nullptr) {
    for (const std::string& name : tab->VarNames()) titles << ToQ(name);
  }
  return titles;
}

}  // namespace

TVariablesTableModel::TVariablesTableModel(TSession* session, TVSTTab* tab, QObject* parent)
    : TTableModel(session, tab ? &tab->vstTable() : nullptr, VariablesTitles(tab), parent) {}

TCellLook TVariablesTableModel::Look(int position, int column) const {
  return VariablesCellLook(*fTable, position, column);
}
