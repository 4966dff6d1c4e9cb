// The table models: one per table kind, over the session's tab records. They show what
// the display rules give for each cell at the moment it is asked; the delegate paints the
// roles below.
#pragma once

#include <QAbstractTableModel>
#include <QStringList>

#include "workflows/uSession.h"
#include "workflows/uTableDisplay.h"

// Roles beyond Qt's own: values of TCellBackground, TTextColour and TLed.
enum TCellRole : int {
  crBackground = Qt::UserRole + 1,
  crTextColour,
  crLed,
};

class TTableModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  // table may be nullptr: a table without rows (the template page's).
  TTableModel(TSession* session, TVSTTable* table, QStringList titles, QObject* parent);

  TVSTTable* Table() const { return fTable; }
  TSession* Session() const { return fSession; }
  // Forgets the table (the session is about to free it).
  void Detach();

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  // The check box of column 0: a user's change, with everything it brings along.
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

  // Around the session's change of the rows: cleared, added or sorted.
  void BeginRowsChange();
  void EndRowsChange();
  void CellChanged(int position, int column);
  void AllChanged();

 protected:
  virtual TCellLook Look(int position, int column) const = 0;

  TSession* fSession;
  TVSTTable* fTable;
  QStringList fTitles;
  bool fResetting = false;
};

// The System table: position, NAD, IP, five lights, the four scan figures, the clock.
class TSystemTableModel : public TTableModel {
  Q_OBJECT

 public:
  TSystemTableModel(TSession* session, QObject* parent);
  static QStringList Titles();

 protected:
  TCellLook Look(int position, int column) const override;
};

// A variables table: position, NAD and one column per variable of its tab.
class TVariablesTableModel : public TTableModel {
  Q_OBJECT

 public:
  // tab may be nullptr (the template page's table: only "No." and "NAD").
  TVariablesTableModel(TSession* session, TVSTTab* tab, QObject* parent);

 protected:
  TCellLook Look(int position, int column) const override;
};
