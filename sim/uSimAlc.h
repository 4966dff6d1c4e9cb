// The controller's allocation file: generating its text from a variable list, and reading
// back just enough of a user's file to place its variables in data memory.
#pragma once

#include <string>
#include <vector>

#include "sim/uSimController.h"

namespace sim {

// The line that opens the variable list; everything before it is free text.
inline constexpr const char* kAlcMarker = ";CPU Tarvo-2 ";

// Variables of the lines after the marker that have all columns in order. Lines that do
// not are passed over: the controller serves the file verbatim, and complaining about it
// is the reader's business.
std::vector<TSimVar> ParseAlcText(const std::string& text);

// Integer column text: optional blanks and sign, decimal digits, or hexadecimal digits
// after "$", "x", "X", "0x" or "0X". False when anything else is there.
bool ParseAlcInt(const std::string& text, long long& value);

}  // namespace sim
