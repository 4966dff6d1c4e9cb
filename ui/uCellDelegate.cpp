#include "ui/uCellDelegate.h"

#include <QApplication>
#include <QPainter>

#include "ui/uArtwork.h"
#include "ui/uTableModels.h"

namespace {

const QColor kRed(255, 0, 0);

QColor TextColour(const QVariant& kind, const QPalette& palette) {
  switch (static_cast<TTextColour>(kind.toInt())) {
    case TTextColour::tcGrey:
      return palette.color(QPalette::Disabled, QPalette::Text);
    case TTextColour::tcHighlight:
      return palette.color(QPalette::Active, QPalette::HighlightedText);
    case TTextColour::tcRed:
      return kRed;
    case TTextColour::tcNormal:
      break;
  }
  return {};
}

}  // namespace

TCellDelegate::TCellDelegate(bool showFocus, QObject* parent)
    : QStyledItemDelegate(parent), fShowFocus(showFocus) {}

QPoint TCellDelegate::LedPosition(const QRect& cell) {
  // The edges as the lights have always been placed: right and bottom are exclusive.
  const int left = cell.left(), top = cell.top();
  const int right = cell.left() + cell.width(), bottom = cell.top() + cell.height();
  return QPoint((left + right - kLedSize) / 2, (top + bottom - kLedSize) / 2 + 1);
}

void TCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const {
  QStyleOptionViewItem opt(option);
  initStyleOption(&opt, index);
  // The cells' own flags say what is selected; the view's selection plays no part.
  opt.state &= ~QStyle::State_Selected;
  if (!fShowFocus) opt.state &= ~QStyle::State_HasFocus;

  switch (static_cast<TCellBackground>(index.data(crBackground).toInt())) {
    case TCellBackground::cbHighlight:
      painter->fillRect(FillRect(opt.rect),
                        opt.palette.brush(QPalette::Active, QPalette::Highlight));
      break;
    case TCellBackground::cbRed:
      painter->fillRect(FillRect(opt.rect), kRed);
      break;
    case TCellBackground::cbNone:
      break;
  }
  const QColor text = TextColour(index.data(crTextColour), opt.palette);
  if (text.isValid()) {
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
      opt.palette.setColor(group, QPalette::Text, text);
      opt.palette.setColor(group, QPalette::HighlightedText, text);
    }
  }
  const QWidget* widget = opt.widget;
  QStyle* style = widget ? widget->style() : QApplication::style();
  style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);

  const int led = index.data(crLed).toInt();
  if (led == static_cast<int>(TLed::ldGreen) || led == static_cast<int>(TLed::ldRed)) {
    painter->drawPixmap(LedPosition(opt.rect),
                        LedImage(led == static_cast<int>(TLed::ldGreen) ? liGreen : liRed));
  }
}

QSize TCellDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  return QStyledItemDelegate::sizeHint(option, index).expandedTo(QSize(kLedSize, kLedSize + 2));
}

QRect TCellDelegate::CheckBoxRect(const QStyleOptionViewItem& option,
                                  const QModelIndex& index) const {
  QStyleOptionViewItem opt(option);
  initStyleOption(&opt, index);
  if (!(opt.features & QStyleOptionViewItem::HasCheckIndicator)) return {};
  const QWidget* widget = opt.widget;
  QStyle* style = widget ? widget->style() : QApplication::style();
  return style->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, widget);
}
