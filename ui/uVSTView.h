// A table of the window: the System table or a variables table. Mouse and keys become
// calls of the session's cell selection and check boxes; Qt's own selection and current
// cell play no part, and the current cell never lies in column 0.
#pragma once

#include <QTableView>

#include "workflows/uSession.h"

class TCellDelegate;
class THeaderView;
class TTableModel;

class TVSTView : public QTableView {
  Q_OBJECT

 public:
  // variables: a variables table, whose cells are selected and edited; otherwise the
  // System table, which shows no selection and no cell cursor.
  TVSTView(TSession* session, TTableModel* model, bool variables, QWidget* parent);

  TTableModel* Model() const { return fModel; }
  TVSTTable* Table() const;
  THeaderView* Header() const { return fHeader; }
  bool IsVariablesTable() const { return fVariables; }

  // Shows the table's state: cells, header check box and sort marks.
  void Refresh();
  void RefreshCell(int position, int column);
  // The rows are about to change, and have changed.
  void BeginRowsChange();
  void EndRowsChange();

  // Forgets the table: the session is about to free it.
  void Detach();

  // Where a row's check box lies in the viewport (empty without such a row).
  QRect CheckBoxRect(int position) const;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;

 private:
  struct TPointer {
    int Position = -1;  // -1 below the last row
    int Column = -1;
  };
  TPointer At(const QPoint& point) const;
  // A press on a row's check box: the row whose box it is, or -1.
  int CheckBoxAt(const QPoint& point) const;
  void Press(QMouseEvent* event, bool doubleClick);
  void HeaderClicked(int column);
  // Qt's current cell follows the cursor of the selection, outside column 0 only.
  void FollowCursor();

  TSession* fSession;
  TTableModel* fModel;
  THeaderView* fHeader;
  TCellDelegate* fDelegate;
  bool fVariables;
  int fPressedCheckBox = -1;
};
