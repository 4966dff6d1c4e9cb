#include "ui/uHeaderView.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionButton>

#include "ui/uCommon.h"

THeaderView::THeaderView(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
  setSectionsClickable(true);
  setSectionsMovable(false);
  setHighlightSections(false);
  setSortIndicatorShown(true);
  setSortIndicator(-1, Qt::AscendingOrder);
  setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
}

void THeaderView::SetTable(const TVSTTable* table) {
  fTable = table;
  Sync();
}

std::optional<Qt::SortOrder> THeaderView::SortMark(const TVSTTable& table, int column) {
  if (column < 0 || table.SortColumn != column) return std::nullopt;
  return table.SortDirection == TSortDirection::sdAscending ? Qt::AscendingOrder
                                                            : Qt::DescendingOrder;
}

void THeaderView::Sync() {
  // The header's own flip on a click is overruled here: the session decides. (The table
  // view turns the mark off when the header is handed to it.)
  setSortIndicatorShown(true);
  const std::optional<Qt::SortOrder> mark =
      fTable ? SortMark(*fTable, fTable->SortColumn) : std::nullopt;
  if (mark) {
    setSortIndicator(fTable->SortColumn, *mark);
  } else {
    setSortIndicator(-1, Qt::AscendingOrder);
  }
  viewport()->update();
}

Qt::CheckState THeaderView::CheckState() const {
  if (fTable == nullptr) return Qt::Unchecked;
  switch (fTable->HeaderCheckState) {
    case TCheckState::csChecked:
      return Qt::Checked;
    case TCheckState::csMixed:
      return Qt::PartiallyChecked;
    case TCheckState::csUnchecked:
      break;
  }
  return Qt::Unchecked;
}

QRect THeaderView::CheckBoxRectIn(const QRect& section) const {
  QStyleOptionButton box;
  box.initFrom(this);
  const QRect indicator = style()->subElementRect(QStyle::SE_CheckBoxIndicator, &box, this);
  const int margin = style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, this);
  return QRect(section.left() + margin, section.top() + (section.height() - indicator.height()) / 2,
               indicator.width(), indicator.height());
}

QRect THeaderView::CheckBoxRect() const {
  return CheckBoxRectIn(QRect(sectionViewportPosition(0), 0, sectionSize(0), height()));
}

void THeaderView::initStyleOptionForIndex(QStyleOptionHeader* option, int logicalIndex) const {
  QHeaderView::initStyleOptionForIndex(option, logicalIndex);
  // Column 0 draws its title beside the check box itself.
  if (logicalIndex == 0) option->text.clear();
}

void THeaderView::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const {
  QHeaderView::paintSection(painter, rect, logicalIndex);
  if (logicalIndex != 0 || !rect.isValid()) return;
  painter->save();
  // The section's painting leaves a clip of its own behind.
  painter->setClipRect(rect);
  QStyleOptionButton box;
  box.initFrom(this);
  box.rect = CheckBoxRectIn(rect);
  box.state &= ~(QStyle::State_HasFocus | QStyle::State_MouseOver);
  switch (CheckState()) {
    case Qt::Checked:
      box.state |= QStyle::State_On;
      break;
    case Qt::PartiallyChecked:
      box.state |= QStyle::State_NoChange;
      break;
    case Qt::Unchecked:
      box.state |= QStyle::State_Off;
      break;
  }
  style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &box, painter, this);
  const int margin = style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, this);
  const QRect text(box.rect.right() + 1 + margin, rect.top(),
                   rect.right() - box.rect.right() - margin, rect.height());
  painter->setPen(palette().color(QPalette::ButtonText));
  painter->drawText(text, Qt::AlignLeft | Qt::AlignVCenter,
                    model() ? model()->headerData(0, Qt::Horizontal).toString() : QString());
  painter->restore();
}

void THeaderView::mouseDoubleClickEvent(QMouseEvent* event) {
  // Taken as a press, so that its release is one more click (on a column's edge it starts
  // a resize, as a press does).
  Guarded([&] { QHeaderView::mousePressEvent(event); });
}
