// The value file reader on arbitrary bytes. A refused document yields no entry; an
// accepted one yields trimmed UTF-8 values and names what it skipped, and what the writer makes of
// its entries reads back the same.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "data/uText.h"
#include "data/uValueFile.h"

namespace {

bool Trimmed(const std::string& text) {
  return !text.empty() && static_cast<uint8_t>(text.front()) > 0x20 &&
         static_cast<uint8_t>(text.back()) > 0x20;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::vector<TValueFileEntry> entries;
  std::vector<TValueFileSkip> skipped;
  std::string error;
  if (!ParseValueFile(bytes, entries, error, &skipped)) {
    if (!entries.empty() || !skipped.empty() || error != kValueFileParseError) __builtin_trap();
    return 0;
  }
  // What was skipped is named in file order.
  for (size_t i = 1; i < skipped.size(); ++i) {
    if (skipped[i].Line < skipped[i - 1].Line) __builtin_trap();
  }
  // The writer leaves out "?", which stands for a value nobody knows.
  std::vector<TValueFileVar> vars;
  std::vector<const TValueFileEntry*> kept;
  for (const TValueFileEntry& e : entries) {
    if (!Trimmed(e.Value) || TextAsUtf8(e.Value) != e.Value || TextAsUtf8(e.Name) != e.Name)
      __builtin_trap();
    if (e.HasIndex != (e.Index >= 0)) __builtin_trap();
    if (e.Value == "?") continue;
    vars.push_back({e.NAD, ValueFileKey(e), e.Value});
    kept.push_back(&e);
  }
  std::vector<TValueFileEntry> again;
  if (!ParseValueFile(ValueFileText(vars), again, error) || again.size() != kept.size())
    __builtin_trap();
  for (size_t i = 0; i < kept.size(); ++i) {
    const TValueFileEntry& e = *kept[i];
    if (again[i].NAD != e.NAD || again[i].Value != e.Value) __builtin_trap();
    // A name that keeps brackets of its own does not come back as the same key, nor one
    // that ended in blanks before an "=" (the whole name is trimmed when read); every
    // other name does.
    const bool plain = e.Name.find_first_of("[]") == std::string::npos &&
                       (e.Name.empty() || static_cast<uint8_t>(e.Name.back()) > 0x20);
    if (plain && (again[i].Name != e.Name || again[i].Index != e.Index)) __builtin_trap();
  }
  return 0;
}
