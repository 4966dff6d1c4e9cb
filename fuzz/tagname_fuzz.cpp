// Tag full names on arbitrary text: the parser, the tag built from it, and its write
// value applied to a variable of every type through the value check.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "data/uNumText.h"
#include "data/uTagVars.h"
#include "workflows/uValueCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  int32_t nad = 0, index = 0;
  std::string name, value;
  bool hasIndex = false;
  if (ParseTagName(text, nad, name, value, hasIndex, index)) {
    if (hasIndex != (index >= 0) || index < -1) __builtin_trap();
    if (name.size() >= size) __builtin_trap();
    double d = 0;
    if (!value.empty() && !ParseFloatText(value, d)) __builtin_trap();
  }

  // Numbers read from text read back from their own formatting.
  int32_t i = 0;
  if (ParseIntegerText(text, i)) {
    int32_t back = 0;
    if (!ParseIntegerText(std::to_string(i), back) || back != i) __builtin_trap();
  }
  // Fifteen digits cannot hold the very largest doubles: they would round up past the range.
  double d = 0;
  if (ParseFloatText(text, d) && std::fabs(d) < 1E300) {
    double back = 0;
    if (!ParseFloatText(FormatValueText(d), back)) __builtin_trap();
    if (std::fabs(back - d) > std::fabs(d) * 1e-14) __builtin_trap();
  }

  for (int t = vtNone; t <= vtCounterInt; ++t) {
    const auto typ = static_cast<TTarvoVarTyp>(t);
    TTarvoVar var("v", 0x10, 4, 4, 0, 0, vsGlobal, typ, vvUser, vaReadWrite, "", TVarValue::U8(0));
    var.SetTarvoValue(0x12345678);
    const double before = var.ValueFloat();
    TTagVar tag("1.v", "v", 1, hasIndex ? index : -1, std::string(text));
    tag.SetWriteRule(&CheckedWriteValue);
    tag.SetTarvoVar(&var);
    const bool applied = tag.WriteReq() && !tag.WriteRefused();
    if (tag.WriteReq() && !applied && var.ValueFloat() != before) __builtin_trap();
    // What is applied lies in the type's range: nothing is wrapped into it.
    const TValueRange range = RangeOf(typ);
    const double after = var.ValueFloat();
    if (applied && (after < range.Min || after > range.Max)) __builtin_trap();
    if (applied && typ == vtBit && after != 0 && after != 1) __builtin_trap();
  }
  TTagVar parsed(text);
  (void)parsed.IsArray();
  return 0;
}
