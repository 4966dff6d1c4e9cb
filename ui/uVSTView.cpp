#include "ui/uVSTView.h"

#include <QFocusEvent>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>

#include "ui/uCellDelegate.h"
#include "ui/uCommon.h"
#include "ui/uHeaderView.h"
#include "ui/uTableModels.h"

TVSTView::TVSTView(TSession* session, TTableModel* model, bool variables, QWidget* parent)
    : QTableView(parent),
      fSession(session),
      fModel(model),
      fHeader(new THeaderView(this)),
      fDelegate(new TCellDelegate(variables, this)),
      fVariables(variables) {
  setHorizontalHeader(fHeader);
  setModel(model);
  setItemDelegate(fDelegate);
  fHeader->SetTable(model->Table());
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(std::max(fontMetrics().height() + 6, 20));
  fHeader->setStretchLastSection(false);
  setSelectionMode(QAbstractItemView::NoSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setTabKeyNavigation(false);
  setWordWrap(false);
  setCornerButtonEnabled(false);
  setFocusPolicy(variables ? Qt::StrongFocus : Qt::NoFocus);
  setMouseTracking(false);
  connect(fHeader, &QHeaderView::sectionClicked, this,
          [this](int column) { Guarded([&] { HeaderClicked(column); }); });
}

TVSTTable* TVSTView::Table() const {
  return fModel->Table();
}

void TVSTView::Detach() {
  fHeader->SetTable(nullptr);
  fModel->Detach();
}

void TVSTView::Refresh() {
  fModel->AllChanged();
  fHeader->Sync();
  viewport()->update();
}

void TVSTView::RefreshCell(int position, int column) {
  fModel->CellChanged(position, column);
}

void TVSTView::BeginRowsChange() {
  fModel->BeginRowsChange();
}

void TVSTView::EndRowsChange() {
  fModel->EndRowsChange();
  fHeader->Sync();
  FollowCursor();
}

TVSTView::TPointer TVSTView::At(const QPoint& point) const {
  // The columns cannot be moved: the column under the point is its index, counted in
  // content coordinates.
  return {rowAt(point.y()), columnAt(point.x())};
}

QRect TVSTView::CheckBoxRect(int position) const {
  const QModelIndex cell = fModel->index(position, kColNo);
  if (!cell.isValid()) return {};
  QStyleOptionViewItem option;
  initViewItemOption(&option);
  option.rect = visualRect(cell);
  return fDelegate->CheckBoxRect(option, cell);
}

int TVSTView::CheckBoxAt(const QPoint& point) const {
  const TPointer at = At(point);
  if (at.Column != kColNo || at.Position < 0) return -1;
  return CheckBoxRect(at.Position).adjusted(-2, -2, 2, 2).contains(point) ? at.Position : -1;
}

void TVSTView::Press(QMouseEvent* event, bool doubleClick) {
  if (event->button() != Qt::LeftButton) return;
  const QPoint point = event->position().toPoint();
  fPressedCheckBox = CheckBoxAt(point);
  TVSTTable* table = Table();
  if (!fVariables || table == nullptr) return;
  setFocus(Qt::MouseFocusReason);
  const TPointer at = At(point);
  const Qt::KeyboardModifiers keys = event->modifiers();
  if (doubleClick && fPressedCheckBox < 0) {
    // Qt sends the double click in place of the press that completes it.
    fSession->Selection.DoubleClick(*table, false);
  } else {
    fSession->Selection.MousePress(*table, at.Position, at.Column, keys & Qt::ControlModifier,
                                   keys & Qt::ShiftModifier, event->buttons() & Qt::RightButton);
  }
  FollowCursor();
}

void TVSTView::mousePressEvent(QMouseEvent* event) {
  Guarded([&] { Press(event, false); });
}

void TVSTView::mouseDoubleClickEvent(QMouseEvent* event) {
  Guarded([&] { Press(event, true); });
}

void TVSTView::mouseMoveEvent(QMouseEvent* event) {
  Guarded([&] {
    TVSTTable* table = Table();
    if (!fVariables || table == nullptr || !(event->buttons() & Qt::LeftButton)) return;
    const TPointer at = At(event->position().toPoint());
    const Qt::KeyboardModifiers keys = event->modifiers();
    fSession->Selection.MouseMove(*table, at.Position, at.Column, keys & Qt::ControlModifier,
                                  keys & Qt::ShiftModifier);
  });
}

void TVSTView::mouseReleaseEvent(QMouseEvent* event) {
  Guarded([&] {
    if (event->button() != Qt::LeftButton) return;
    if (fVariables) fSession->Selection.MouseRelease();
    const int pressed = fPressedCheckBox;
    fPressedCheckBox = -1;
    if (pressed < 0 || CheckBoxAt(event->position().toPoint()) != pressed) return;
    const QModelIndex cell = fModel->index(pressed, kColNo);
    const bool checked = cell.data(Qt::CheckStateRole).toInt() == Qt::Checked;
    fModel->setData(cell, checked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
  });
}

void TVSTView::keyPressEvent(QKeyEvent* event) {
  TVSTTable* table = Table();
  if (!fVariables || table == nullptr) {
    event->ignore();
    return;
  }
  TCellKey key;
  switch (event->key()) {
    case Qt::Key_Left:
      key = TCellKey::ckLeft;
      break;
    case Qt::Key_Right:
      key = TCellKey::ckRight;
      break;
    case Qt::Key_Up:
      key = TCellKey::ckUp;
      break;
    case Qt::Key_Down:
      key = TCellKey::ckDown;
      break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      key = TCellKey::ckEnter;
      break;
    default:
      event->ignore();
      return;
  }
  Guarded([&] {
    fSession->Selection.KeyPress(*table, key, event->modifiers() & Qt::ShiftModifier);
    FollowCursor();
  });
}

void TVSTView::focusInEvent(QFocusEvent* event) {
  // Not QAbstractItemView's, which would make the first cell of column 0 current.
  QAbstractScrollArea::focusInEvent(event);
  viewport()->update();
}

void TVSTView::HeaderClicked(int column) {
  TVSTTable* table = Table();
  if (table != nullptr) fSession->HeaderClicked(*table, column);
  fHeader->Sync();
}

void TVSTView::FollowCursor() {
  if (!fVariables || selectionModel() == nullptr) return;
  const TCellSelection& selection = fSession->Selection;
  const QModelIndex cursor = fModel->index(selection.CurrX, selection.CurrY);
  TVSTTable* table = Table();
  if (table != nullptr && cursor.isValid() && table->CellAt(selection.CurrX, selection.CurrY)) {
    selectionModel()->setCurrentIndex(cursor, QItemSelectionModel::NoUpdate);
    scrollTo(cursor);
  } else {
    selectionModel()->clearCurrentIndex();
  }
}
