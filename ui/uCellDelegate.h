// Paints a cell as the display rules say: a filled background (the cell less its
// rightmost pixel column) in the highlight colour or red, the text in its colour, and a
// status light centred in the cell. Colours come from the view's palette, red excepted.
#pragma once

#include <QStyledItemDelegate>

class TCellDelegate : public QStyledItemDelegate {
  Q_OBJECT

 public:
  // showFocus: the cell cursor is drawn where the view has its current cell.
  TCellDelegate(bool showFocus, QObject* parent);

  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

  // Where the row check box of a cell lies (an empty rectangle where there is none).
  QRect CheckBoxRect(const QStyleOptionViewItem& option, const QModelIndex& index) const;

  // The area a cell's background fills.
  static QRect FillRect(const QRect& cell) {
    return QRect(cell.x(), cell.y(), cell.width() - 1, cell.height());
  }
  // Where a light is drawn in a cell.
  static QPoint LedPosition(const QRect& cell);

 private:
  bool fShowFocus;
};
