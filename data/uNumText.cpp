#include "data/uNumText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The power of ten of the first significant digit of an unsigned decimal number ("0.05e3"
// gives 1), the exponent saturating far beyond any double's range; 0 when all digits are 0.
int64_t DecimalExponent(std::string_view number) {
  const size_t e = number.find_first_of("eE");
  const std::string_view mantissa = number.substr(0, e);
  const size_t dot = mantissa.find('.');
  const std::string_view whole = mantissa.substr(0, dot);
  const std::string_view fraction =
      dot == std::string_view::npos ? std::string_view() : mantissa.substr(dot + 1);
  int64_t lead = 0;
  if (const size_t k = whole.find_first_not_of('0'); k != std::string_view::npos) {
    lead = static_cast<int64_t>(whole.size() - 1 - k);
  } else if (const size_t j = fraction.find_first_not_of('0'); j != std::string_view::npos) {
    lead = -static_cast<int64_t>(j + 1);
  } else {
    return 0;
  }
  int64_t exponent = 0;
  if (e != std::string_view::npos) {
    size_t i = e + 1;
    const bool negative = number[i] == '-';
    if (number[i] == '+' || number[i] == '-') ++i;
    for (; i < number.size(); ++i)
      exponent = std::min<int64_t>(exponent * 10 + (number[i] - '0'), 1000000000);
    if (negative) exponent = -exponent;
  }
  return lead + exponent;
}

}  // namespace

namespace {

// The parts of an integer text; false when the syntax is broken or the magnitude passes
// `limit`, which is checked digit by digit so that no length of text can wrap it.
struct TIntegerText {
  bool negative = false;
  bool hex = false;
  uint64_t magnitude = 0;
};

bool ReadIntegerText(std::string_view text, uint64_t limit, TIntegerText& out) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  out = TIntegerText();
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    out.negative = text[i] == '-';
    ++i;
  }
  if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    out.hex = true;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    out.hex = true;
    i += 2;
  }
  if (i >= text.size()) return false;
  const uint64_t base = out.hex ? 16 : 10;
  for (; i < text.size(); ++i) {
    const int d = out.hex ? HexValue(text[i]) : (IsDigit(text[i]) ? text[i] - '0' : -1);
    if (d < 0) return false;
    const auto digit = static_cast<uint64_t>(d);
    if (out.magnitude > (limit - digit) / base) return false;
    out.magnitude = out.magnitude * base + digit;
  }
  return true;
}

}  // namespace

bool ParseIntegerText(std::string_view text, int32_t& value) {
  TIntegerText t;
  if (!ReadIntegerText(text, 0xFFFFFFFFull, t)) return false;
  if (t.hex) {
    const auto pattern = static_cast<uint32_t>(t.magnitude);
    value = static_cast<int32_t>(t.negative ? 0u - pattern : pattern);
    return true;
  }
  if (t.magnitude > (t.negative ? 2147483648ull : 2147483647ull)) return false;
  value = t.negative ? static_cast<int32_t>(-static_cast<int64_t>(t.magnitude))
                     : static_cast<int32_t>(t.magnitude);
  return true;
}

bool ParseIntegerText64(std::string_view text, int64_t& value) {
  constexpr uint64_t kMinMagnitude = uint64_t{1} << 63;
  TIntegerText t;
  if (!ReadIntegerText(text, kMinMagnitude, t)) return false;
  if (!t.negative && t.magnitude == kMinMagnitude) return false;
  value = t.negative ? static_cast<int64_t>(0 - t.magnitude) : static_cast<int64_t>(t.magnitude);
  return true;
}

bool ParseNADText(std::string_view text, int32_t& NAD) {
  int64_t v = 0;
  if (!ParseIntegerText64(text, v) || v < 0 || v > 0xFFFFFFFFll) return false;
  NAD = static_cast<int32_t>(static_cast<uint32_t>(v));
  return true;
}

std::string NADText(int32_t NAD) {
  return std::to_string(NADValue(NAD));
}

bool ParseFloatText(std::string_view text, double& value) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  const size_t start = i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  size_t digits = 0;
  while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    size_t expDigits = 0;
    while (i < text.size() && IsDigit(text[i])) ++i, ++expDigits;
    if (expDigits == 0) return false;
  }
  if (i != text.size()) return false;
  // from_chars takes no leading '+'.
  std::string_view number = text.substr(start);
  bool negate = false;
  if (number.front() == '+' || number.front() == '-') {
    negate = number.front() == '-';
    number.remove_prefix(1);
  }
  double v = 0;
  const auto result = std::from_chars(number.data(), number.data() + number.size(), v);
  if (result.ec == std::errc::result_out_of_range) {
    // Overflow reads as infinity, underflow as zero, as a decimal reader would. Decided
    // here rather than by the C library, whose reader follows the user's locale.
    v = DecimalExponent(number) > 0 ? HUGE_VAL : 0.0;
  } else if (result.ec != std::errc() || result.ptr != number.data() + number.size()) {
    return false;
  }
  value = negate ? -v : v;
  return true;
}

std::string FormatValueText(double value) {
  if (value == 0) return "0";
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  // Round to 15 significant digits first; the decimal exponent of the rounded value
  // decides the notation.
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.14e", value);
  std::string s(buf);
  const size_t ePos = s.find('e');
  const int exponent = std::atoi(s.c_str() + ePos + 1);
  std::string mantissa = s.substr(0, ePos);
  const bool negative = mantissa[0] == '-';
  if (negative) mantissa.erase(0, 1);
  std::string digits;
  for (char c : mantissa)
    if (IsDigit(c)) digits += c;
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  std::string out;
  if (exponent >= -5 && exponent < 15) {
    if (exponent < 0) {
      out = "0." + std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
    } else if (static_cast<int>(digits.size()) <= exponent + 1) {
      out = digits + std::string(static_cast<size_t>(exponent + 1) - digits.size(), '0');
    } else {
      out = digits.substr(0, static_cast<size_t>(exponent + 1)) + "." +
            digits.substr(static_cast<size_t>(exponent + 1));
    }
  } else {
    out = digits.substr(0, 1);
    if (digits.size() > 1) out += "." + digits.substr(1);
    out += "E" + std::to_string(exponent);
  }
  return negative ? "-" + out : out;
}
