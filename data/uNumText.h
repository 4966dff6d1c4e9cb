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

// The same syntax read into 64 bits, for values whose range the caller checks itself
// (command-line options). Hexadecimal is a plain magnitude here, not a bit pattern; any
// value outside the signed 64-bit range does not read.
bool ParseIntegerText64(std::string_view text, int64_t& value);

// A NAD is unsigned 32-bit on the wire and kept in an int32_t holding that bit pattern
// (NAD 3000000000 is stored as -1294967296). These read and write it as the unsigned
// number it is.
inline uint32_t NADValue(int32_t NAD) {
  return static_cast<uint32_t>(NAD);
}
// Integer text whose value lies in 0 to 4294967295; nothing else reads as a NAD.
bool ParseNADText(std::string_view text, int32_t& NAD);
// Unsigned decimal: "3000000000", never a negative number.
std::string NADText(int32_t NAD);

// Floating-point text: optional leading blanks, an optional sign, digits with an optional
// "." and fraction (at least one digit in all), an optional exponent "E" or "e" with an
// optional sign and digits; nothing may follow. "." is the decimal point.
bool ParseFloatText(std::string_view text, double& value);

// General number format: up to 15 significant digits, "." as decimal separator, no
// thousands separator, trailing zeros and an unneeded point dropped; fixed notation when
// 1E-5 <= |v| < 1E15, otherwise mantissa, "E", and the exponent ("1E-6", "1E20").
std::string FormatValueText(double value);
