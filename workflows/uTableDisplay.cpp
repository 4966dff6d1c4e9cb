#include "workflows/uTableDisplay.h"

std::string RowNumberText(int position) {
  return std::to_string(position + 1) + ".";
}

bool CellReached(const TSession& session, int position, int column) {
  const int step = column - kColNetwork;
  return session.CurrentTest > position * 10 + step || session.CurrentTest == -1 ||
         session.ShowRTCUpdate;
}

bool ProgressMarker(const TSession& session, int position, int column) {
  // A row that is not checked takes no part: the marker never rests on it, not even in
  // the pause between the row before it and the one after.
  const TTableRow* row = session.SystemTable().RowByPosition(position);
  return column >= kColNetwork && session.ShowSystemStatus && row != nullptr && row->Checked &&
         position * 10 + (column - kColNetwork) == session.CurrentTest;
}

namespace {

bool Flag(const TTarvo& T, int column) {
  switch (column) {
    case kColNetwork:
      return T.SockOK();
    case kColNetwork + 1:
      return T.PingOK();
    case kColNetwork + 2:
      return T.ProgramOK();
    case kColNetwork + 3:
      return T.AlcOK();
    default:
      return T.RunOK();
  }
}

}  // namespace

TCellLook SystemCellLook(const TSession& session, int position, int column) {
  TCellLook look;
  const TVSTTable& table = session.SystemTable();
  const TTableRow* row = table.RowByPosition(position);
  if (row == nullptr || row->Tarvo == nullptr) return look;
  const TTarvo& T = *row->Tarvo;
  if (!row->Checked) look.TextColour = TTextColour::tcGrey;
  if (ProgressMarker(session, position, column)) look.Background = TCellBackground::cbRed;
  const bool tested = T.StatusTested();
  if (column == kColNo) {
    look.Text = RowNumberText(position);
  } else if (column == kColNAD || column == kColIP) {
    look.Text = column == kColNAD ? NADText(T.NAD()) : T.IP();
    look.ScanRefusal = session.ScanAnswer(T);
    // A controller that is there but will not be served stands out.
    if (look.ScanRefusal != md_ACK && row->Checked) look.TextColour = TTextColour::tcRed;
  } else if (column >= kColNetwork && column <= kColRun) {
    if (session.ShowSystemStatus && tested && CellReached(session, position, column)) {
      look.Led = Flag(T, column) ? TLed::ldGreen : TLed::ldRed;
    }
  } else if (const TTreeVar* cell = table.CellAt(position, column)) {
    if (tested && CellReached(session, position, column)) {
      look.Text = cell->Caption();
      look.Hint = cell->Description;
    }
  } else if (column == kColClock) {
    if (session.ShowSystemStatus && tested) look.Text = T.RTCString();
  }
  return look;
}

TCellLook VariablesCellLook(const TVSTTable& table, int position, int column) {
  TCellLook look;
  const TTableRow* row = table.RowByPosition(position);
  if (row == nullptr) return look;
  if (column == kColNo) {
    look.Text = RowNumberText(position);
  } else if (column == kColNAD) {
    look.Text = row->Tarvo ? NADText(row->Tarvo->NAD()) : "";
  }
  const TTreeVar* cell = table.CellAt(position, column);
  if (cell != nullptr) {
    look.Text = cell->Caption();
    look.Hint = cell->Description;
    look.Note = cell->Note;
    if (cell->Updating) {
      look.Background = TCellBackground::cbRed;
    } else if (cell->Selected) {
      look.Background = TCellBackground::cbHighlight;
    }
    if (cell->AwaitWrite) {
      look.TextColour = TTextColour::tcRed;
    } else if (cell->Selected) {
      look.TextColour = TTextColour::tcHighlight;
    }
  }
  if (!row->Checked) look.TextColour = TTextColour::tcGrey;
  return look;
}
