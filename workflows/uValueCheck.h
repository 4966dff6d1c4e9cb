// The one judgement of a value given for a variable (typed into a cell, given on the
// command line, read from a value file) before anything is written: whether the text
// names a value the variable holds as it is, and the raw value its memory then gets. A
// value is never cut or wrapped to make it fit: what does not fit is refused, with the
// range it missed, and nothing of it is written.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "data/uTarvoVars.h"

enum class TValueVerdict : uint8_t {
  vvAccepted,
  vvNotANumber,  // the text reads as no value of the kind the type takes
  vvNotWhole,    // a number with a point or an exponent, for a bit or an integer type
  vvOutOfRange,  // a number past the type's range
  vvTooSmall,    // a real nearer to 0 than the smallest magnitude a real holds, and not 0
  vvReadOnly,    // the variable is read-only: it takes no value at all
  vvNoValue,     // the type carries no value (timer, counter, const, ...)
};

// The values of a type: Min to Max, exact for the integer types. A real holds 0 and the
// magnitudes from Smallest to Max.
struct TValueRange {
  double Min = 0;
  double Max = 0;
  double Smallest = 0;
};

struct TValueCheck {
  TValueVerdict Verdict = TValueVerdict::vvNotANumber;
  TTarvoVarTyp Typ = vtNone;
  TValueRange Range;
  // Accepted: the display value, and the raw value as TTarvoVar::TarvoValue gives it.
  TVarValue Value;
  int32_t Raw = 0;

  bool Accepted() const { return Verdict == TValueVerdict::vvAccepted; }
};

// bit 0 to 1, word 0 to 65535, int -32768 to 32767, long -2147483648 to 2147483647, real
// -3.4E38 to 3.4E38 (no magnitude below 1.5E-45 but 0); all zero for the other types.
TValueRange RangeOf(TTarvoVarTyp typ);

// Integer types take integer text (uNumText.h). Hexadecimal text without a sign names the
// bits the variable holds, so "$FFFF" is -1 for an int as "$FFFFFFFF" is for a long;
// with a sign, or in decimal, the text is a plain number. Reals take decimal number text,
// rounded to single precision.
TValueCheck CheckValue(TTarvoVarTyp typ, TTarvoVarAccessType access, std::string_view text);
TValueCheck CheckValue(const TTarvoVar& V, std::string_view text);

// The one verification of a write: whether the variable, as read back, holds the raw value
// that was sent.
bool HoldsWritten(const TTarvoVar& V, const TValueCheck& sent);

// The write rule (TTagVar::TWriteRule) of every tag the workflows make: a write text
// reaches a variable only through CheckValue.
bool CheckedWriteValue(const TTarvoVar& V, const std::string& text, TVarValue& value);
