// What a cell of a table shows, given the session's state at paint time: the rules a
// front-end's table model and painting follow. Colours are named by role; the front-end
// takes them from its palette (red is pure red).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "workflows/uSession.h"

enum class TLed : uint8_t { ldNone, ldRed, ldGreen };
enum class TTextColour : uint8_t { tcNormal, tcGrey, tcHighlight, tcRed };
// The filled area is the cell rectangle less its rightmost pixel column.
enum class TCellBackground : uint8_t { cbNone, cbHighlight, cbRed };

struct TCellLook {
  std::string Text;
  std::string Hint;
  TTextColour TextColour = TTextColour::tcNormal;
  TCellBackground Background = TCellBackground::cbNone;
  TLed Led = TLed::ldNone;  // centred in the cell
  // A variables cell's last write, when it did not simply take: the front-end words it in
  // the hint before the description.
  std::shared_ptr<const TWriteOutcome> Note;
  // The System table's NAD and IP cells of a controller that refused the scan: its code
  // (the front-end words the hint); md_ACK otherwise.
  TMessageDirection ScanRefusal = md_ACK;
};

// "1.", "2.", ... for the row at a position.
std::string RowNumberText(int position);

// A System table cell of a status column (3 and up) whose step the running (or last)
// status check or clock write has passed.
bool CellReached(const TSession& session, int position, int column);
// The red marker of the step under way (on checked rows only).
bool ProgressMarker(const TSession& session, int position, int column);
TCellLook SystemCellLook(const TSession& session, int position, int column);

TCellLook VariablesCellLook(const TVSTTable& table, int position, int column);
