#include "apps/cli/alc_listing.h"

#include <array>
#include <cstdio>
#include <vector>

namespace cli {

std::string VisibilityWord(TTarvoVarVisibility visibility) {
  switch (visibility) {
    case vvUser:
      return "user";
    case vvHidden:
      return "hidden";
    default:
      return "system";
  }
}

std::string AccessWord(TTarvoVarAccessType access) {
  return access == vaReadOnly ? "readonly" : "readwrite";
}

Json VarListJson(const TTarvoVarList& list) {
  Json vars = Json::array();
  for (int i = 0; i < list.Count(); ++i) {
    const TTarvoVar& v = *list.Items(i);
    vars.push_back({{"name", v.Name()},
                    {"index", v.ArrayIndex()},
                    {"count", v.ArrayCount()},
                    {"type", TypWord(v.Typ())},
                    {"scope", ScopeWord(v.Scope())},
                    {"visibility", VisibilityWord(v.Visibility())},
                    {"access", AccessWord(v.AccessType())},
                    {"address", v.Address()},
                    {"real_address", v.RealAddress()},
                    {"offset", v.Offset()},
                    {"size", v.Size()},
                    {"description", v.Description()}});
  }
  return {{"variables", vars}};
}

namespace {

constexpr size_t kColumns = 12;
using Row = std::array<std::string, kColumns>;

std::string Hex(int32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%04X", static_cast<uint32_t>(value));
  return text;
}

// Characters on screen, not bytes: names and descriptions may hold UTF-8.
size_t Width(const std::string& s) {
  size_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

}  // namespace

void PrintVarTable(const TTarvoVarList& list, std::ostream& out) {
  std::vector<Row> rows;
  rows.push_back({"name", "index", "count", "type", "scope", "visibility", "access", "address",
                  "real_address", "offset", "size", "description"});
  for (int i = 0; i < list.Count(); ++i) {
    const TTarvoVar& v = *list.Items(i);
    rows.push_back({v.Name(), std::to_string(v.ArrayIndex()), std::to_string(v.ArrayCount()),
                    TypWord(v.Typ()), ScopeWord(v.Scope()), VisibilityWord(v.Visibility()),
                    AccessWord(v.AccessType()), Hex(v.Address()), Hex(v.RealAddress()),
                    std::to_string(v.Offset()), std::to_string(v.Size()), v.Description()});
  }
  // Numbers line up on the right, words on the left; the last column is not padded.
  const std::array<bool, kColumns> rightAligned = {false, true,  true,  false, false, false,
                                                   false, false, false, true,  true,  false};
  std::array<size_t, kColumns> widths{};
  for (const Row& row : rows)
    for (size_t c = 0; c < kColumns; ++c) widths[c] = std::max(widths[c], Width(row[c]));
  for (const Row& row : rows) {
    std::string line;
    for (size_t c = 0; c < kColumns; ++c) {
      const std::string padding(widths[c] - Width(row[c]), ' ');
      if (c > 0) line += "  ";
      if (c + 1 == kColumns) {
        line += row[c];
      } else {
        line += rightAligned[c] ? padding + row[c] : row[c] + padding;
      }
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out << line << "\n";
  }
}

}  // namespace cli
