// The header of every table: a check box in column 0 that shows whether the rows are
// checked, and the sort mark, which shows the direction the next click on that column
// sorts in. A double click acts as a click.
#pragma once

#include <QHeaderView>
#include <optional>

#include "workflows/uVSTTab.h"

class THeaderView : public QHeaderView {
  Q_OBJECT

 public:
  explicit THeaderView(QWidget* parent = nullptr);

  // What the header shows follows this table (nullptr: no check mark, no sort mark).
  void SetTable(const TVSTTable* table);
  // Takes over the table's check and sort state.
  void Sync();

  // The sort mark of a column: the order the next click takes, none when unmarked.
  static std::optional<Qt::SortOrder> SortMark(const TVSTTable& table, int column);
  Qt::CheckState CheckState() const;
  // Where the check box of column 0 is drawn.
  QRect CheckBoxRect() const;

 protected:
  void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
  void initStyleOptionForIndex(QStyleOptionHeader* option, int logicalIndex) const override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  QRect CheckBoxRectIn(const QRect& section) const;

  const TVSTTable* fTable = nullptr;
};
