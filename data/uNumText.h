// Numbers read from text: the one integer syntax and the one floating-point syntax used
// wherever the tool reads a number (allocation file columns, tag names, write values,
// ports). Both ignore the user's locale.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Integer text: optional leading blanks, an optional sign, then decimal digits, or
// hexadecimal digits (either case) after "$", "x", "X", "0x" or "0X"; nothing may follow.
// Decimal values must fit a signed 32-bit integer; hexadecimal values may use all 32 bits
// and are taken as their signed 32-bit pattern ("$FFFFFFFF" reads -1).
bool ParseIntegerText(std::string_view text, int32_t& value);

// Floating-point text: optional leading blanks, an optional sign, digits with an optional
// "." and fraction (at least one digit in all), an optional exponent "E" or "e" with an
// optional sign and digits; nothing may follow. "." is the decimal point.
bool ParseFloatText(std::string_view text, double& value);

// General number format: up to 15 significant digits, "." as decimal separator, no
// thousands separator, trailing zeros and an unneeded point dropped; fixed notation when
// 1E-5 <= |v| < 1E15, otherwise mantissa, "E", and the exponent ("1E-6", "1E20").
std::string FormatValueText(double value);
