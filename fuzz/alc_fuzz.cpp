// The allocation file parser on arbitrary text, then every variable it yields through its
// raw and display conversions. The first byte picks the parser's options.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "data/uTarvoVars.h"

namespace {

void Exercise(TTarvoVar& v, int32_t raw) {
  v.SetTarvoValue(raw);
  const TVarValue value = v.Value();
  (void)v.RealAddress();
  (void)v.ValueFloat();
  try {
    (void)v.TarvoValue();
    (void)v.ValueInt();
  } catch (const EVarnelError&) {
  }
  // A value read back from the raw form is always accepted again, unchanged for the types
  // that carry one.
  try {
    v.SetValue(value);
  } catch (const EVarnelError&) {
    if (v.Typ() != vtReal || std::isfinite(value.ToDouble())) __builtin_trap();
    return;
  }
  if (TypWidth(v.Typ()) != 0 && v.Value().ToDouble() != value.ToDouble()) __builtin_trap();
  TTarvoVar copy;
  copy.Assign(&v);
  if (copy.Name() != v.Name() || copy.RealAddress() != v.RealAddress()) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t options = data[0];
  const std::vector<uint8_t> bytes(data + 1, data + size);
  TTarvoVarList list;
  try {
    list.LoadFromStr(SplitLines(DecodeTextBytes(bytes)), (options & 1) ? -1 : 5,
                     (options & 2) != 0);
  } catch (const EAlcParseError& e) {
    if (e.Line() < 0) __builtin_trap();
  }
  for (int i = 0; i < list.Count() && i < 64; ++i) {
    TTarvoVar& v = *list.Items(i);
    if (v.Name().empty() || v.Scope() != vsGlobal || v.Typ() == vtConst || v.Typ() == vtNone)
      __builtin_trap();
    int32_t raw = 0;
    std::memcpy(&raw, data + (i % size), std::min<size_t>(4, size - (i % size)));
    Exercise(v, raw);
  }
  return 0;
}
