#include "workflows/uValueCheck.h"

#include <bit>
#include <cmath>
#include <limits>

#include "data/uNumText.h"

namespace {

// The real range as the value texts state it; "3.40282E38", below the largest single,
// still lies past it and is refused.
constexpr double kRealMax = 3.4E38;
constexpr double kRealSmallest = 1.5E-45;

bool IsIntegerType(TTarvoVarTyp typ) {
  return typ == vtBit || typ == vtWord || typ == vtInt || typ == vtLong;
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool IsDecimalDigit(char c) {
  return c >= '0' && c <= '9';
}

// An integer text as the value check needs it: its number, whether it was hexadecimal and
// signed, and, for one that does not read, whether it was integer text all the same whose
// magnitude passes every range.
struct TIntegerText {
  bool Read = false;
  bool Hex = false;
  bool Signed = false;
  bool Huge = false;
  int64_t Value = 0;
};

TIntegerText ReadInteger(std::string_view text) {
  TIntegerText t;
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  t.Signed = i < text.size() && (text[i] == '+' || text[i] == '-');
  if (t.Signed) ++i;
  size_t digits = i;
  if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    t.Hex = true;
    digits = i + 1;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    t.Hex = true;
    digits = i + 2;
  }
  // Hexadecimal is a plain magnitude here; the check itself decides what its bits mean.
  t.Read = ParseIntegerText64(text, t.Value);
  if (!t.Read && digits < text.size()) {
    t.Huge = true;
    for (size_t k = digits; k < text.size() && t.Huge; ++k)
      t.Huge = t.Hex ? IsHexDigit(text[k]) : IsDecimalDigit(text[k]);
  }
  return t;
}

TValueCheck Refused(TValueCheck check, TValueVerdict verdict) {
  check.Verdict = verdict;
  return check;
}

TValueCheck CheckInteger(TValueCheck check, std::string_view text) {
  const TIntegerText t = ReadInteger(text);
  if (!t.Read) {
    if (t.Huge) return Refused(check, TValueVerdict::vvOutOfRange);
    double ignored = 0;
    return Refused(check, ParseFloatText(text, ignored) ? TValueVerdict::vvNotWhole
                                                        : TValueVerdict::vvNotANumber);
  }
  int64_t v = t.Value;
  if (t.Hex && !t.Signed && check.Range.Min < 0) {
    // The upper half of an int's or a long's bit patterns are its negative values.
    const int64_t span = int64_t{1} << (8 * TypWidth(check.Typ));
    if (v > static_cast<int64_t>(check.Range.Max) && v < span) v -= span;
  }
  if (v < static_cast<int64_t>(check.Range.Min) || v > static_cast<int64_t>(check.Range.Max))
    return Refused(check, TValueVerdict::vvOutOfRange);
  switch (check.Typ) {
    case vtBit:
      check.Value = TVarValue::U8(static_cast<uint8_t>(v));
      break;
    case vtWord:
      check.Value = TVarValue::U16(static_cast<uint16_t>(v));
      break;
    case vtInt:
      check.Value = TVarValue::I16(static_cast<int16_t>(v));
      break;
    default:
      check.Value = TVarValue::I32(static_cast<int32_t>(v));
      break;
  }
  check.Raw = static_cast<int32_t>(v);
  check.Verdict = TValueVerdict::vvAccepted;
  return check;
}

TValueCheck CheckReal(TValueCheck check, std::string_view text) {
  double d = 0;
  if (!ParseFloatText(text, d)) return Refused(check, TValueVerdict::vvNotANumber);
  // Checked before the conversion, so that the cast stays within its range.
  if (!(std::fabs(d) <= static_cast<double>(std::numeric_limits<float>::max())))
    return Refused(check, TValueVerdict::vvOutOfRange);
  const float single = static_cast<float>(d);
  const double magnitude = std::fabs(static_cast<double>(single));
  if (magnitude > kRealMax) return Refused(check, TValueVerdict::vvOutOfRange);
  if (single != 0 && magnitude < kRealSmallest) return Refused(check, TValueVerdict::vvTooSmall);
  check.Value = TVarValue::Double(static_cast<double>(single));
  check.Raw = std::bit_cast<int32_t>(single);
  check.Verdict = TValueVerdict::vvAccepted;
  return check;
}

}  // namespace

TValueRange RangeOf(TTarvoVarTyp typ) {
  switch (typ) {
    case vtBit:
      return {0, 1, 0};
    case vtWord:
      return {0, 65535, 0};
    case vtInt:
      return {-32768, 32767, 0};
    case vtLong:
      return {-2147483648.0, 2147483647.0, 0};
    case vtReal:
      return {-kRealMax, kRealMax, kRealSmallest};
    default:
      return {};
  }
}

TValueCheck CheckValue(TTarvoVarTyp typ, TTarvoVarAccessType access, std::string_view text) {
  TValueCheck check;
  check.Typ = typ;
  check.Range = RangeOf(typ);
  if (access == vaReadOnly) return Refused(check, TValueVerdict::vvReadOnly);
  if (IsIntegerType(typ)) return CheckInteger(check, text);
  if (typ == vtReal) return CheckReal(check, text);
  return Refused(check, TValueVerdict::vvNoValue);
}

TValueCheck CheckValue(const TTarvoVar& V, std::string_view text) {
  return CheckValue(V.Typ(), V.AccessType(), text);
}

bool HoldsWritten(const TTarvoVar& V, const TValueCheck& sent) {
  const int width = TypWidth(V.Typ());
  if (!sent.Accepted() || sent.Typ != V.Typ() || width == 0) return false;
  // Only the variable's own bytes travel: an int sent as -1 reads back as 0xFFFF.
  const uint32_t mask = width == 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1;
  return (static_cast<uint32_t>(V.TarvoValue()) & mask) == (static_cast<uint32_t>(sent.Raw) & mask);
}

bool CheckedWriteValue(const TTarvoVar& V, const std::string& text, TVarValue& value) {
  const TValueCheck check = CheckValue(V, text);
  if (check.Accepted()) value = check.Value;
  return check.Accepted();
}
