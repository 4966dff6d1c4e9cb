#include "sim/uSimAlc.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <sstream>

namespace sim {

namespace {

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(line);
      line.clear();
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool ParseHex(const std::string& token, long long& value) {
  if (token.empty() || token.size() > 8) return false;
  value = 0;
  for (char c : token) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    value = value * 16 + (std::isdigit(static_cast<unsigned char>(c))
                              ? c - '0'
                              : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10);
  }
  return true;
}

bool KnownScope(const std::string& s) {
  return s == "global" || s == "local" || s == "reg";
}

bool KnownType(const std::string& t) {
  static const char* const kTypes[] = {"bit",       "word",       "int",        "long", "real",
                                       "timer",     "counter",    "const",      "void", "timerbit",
                                       "timerlong", "counterbit", "counterlong"};
  for (const char* k : kTypes)
    if (t == k) return true;
  return false;
}

// One variable line after the marker; false for anything else.
bool ParseVarLine(const std::string& line, TSimVar& var) {
  std::vector<std::string> cols;
  size_t pos = 0;
  while (cols.size() < 8) {
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    if (pos >= line.size()) break;
    size_t end = pos;
    while (end < line.size() && !IsBlank(line[end])) ++end;
    cols.push_back(line.substr(pos, end - pos));
    pos = end;
  }
  if (cols.size() < 8) return false;
  long long address, flags, count, offset, size;
  if (!ParseHex(cols[0], address) || !ParseHex(cols[1], flags)) return false;
  if (!ParseAlcInt(cols[2], count) || !ParseAlcInt(cols[3], offset) || !ParseAlcInt(cols[4], size))
    return false;
  if (count < 0 || size < 0 || count > 0x10000 || size > 0x10000 || offset < -0x10000 ||
      offset > 0x10000)
    return false;
  var.Address = static_cast<uint32_t>(address);
  var.Flags = static_cast<uint32_t>(flags);
  var.Count = static_cast<int>(count);
  var.Offset = static_cast<int>(offset);
  var.Size = static_cast<int>(size);
  var.Scope = Lower(cols[5]);
  var.Type = Lower(cols[6]);
  var.Name = cols[7];
  var.Description = Trim(line.substr(pos));
  return KnownScope(var.Scope) && KnownType(var.Type);
}

}  // namespace

bool ParseAlcInt(const std::string& text, long long& value) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::string digits = text.substr(i);
  int base = 10;
  if (digits.rfind("0x", 0) == 0 || digits.rfind("0X", 0) == 0) {
    digits = digits.substr(2);
    base = 16;
  } else if (!digits.empty() && (digits[0] == '$' || digits[0] == 'x' || digits[0] == 'X')) {
    digits = digits.substr(1);
    base = 16;
  }
  if (digits.empty() || digits.size() > 10) return false;
  long long v = 0;
  for (char c : digits) {
    int d;
    if (std::isdigit(static_cast<unsigned char>(c)))
      d = c - '0';
    else if (base == 16 && std::isxdigit(static_cast<unsigned char>(c)))
      d = std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
    else
      return false;
    v = v * base + d;
  }
  value = negative ? -v : v;
  return true;
}

std::vector<TSimVar> ParseAlcText(const std::string& text) {
  std::vector<TSimVar> vars;
  bool active = false;
  for (const std::string& line : SplitLines(text)) {
    if (line.find(kAlcMarker) != std::string::npos) active = true;
    if (!active) continue;
    TSimVar var;
    if (ParseVarLine(line, var)) vars.push_back(var);
  }
  return vars;
}

bool TSimVar::InDataMemory() const {
  return Scope == "global" && Width() > 0;
}

int TSimVar::Width() const {
  if (Type == "bit") return 1;
  if (Type == "word" || Type == "int") return 2;
  if (Type == "long" || Type == "real") return 4;
  return 0;
}

std::string TSimController::MakeAlcText(const std::vector<TSimVar>& vars, uint32_t nad) {
  std::ostringstream out;
  out << "; Allocation list of PLC program \"demo\"\r\n"
      << "; Generated for controller NAD " << nad << "\r\n"
      << ";\r\n"
      << kAlcMarker << "V3.12\r\n"
      << ";Addr Flags Count Offset Size Scope Type Name Description\r\n";
  for (const TSimVar& v : vars) {
    char head[64];
    std::snprintf(head, sizeof head, "%04X %X %d %d %d ", v.Address, v.Flags, v.Count, v.Offset,
                  v.Size);
    out << head << v.Scope << ' ' << v.Type << ' ' << v.Name;
    if (!v.Description.empty()) out << ' ' << v.Description;
    out << "\r\n";
  }
  return out.str();
}

namespace {

uint32_t RealBits(float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  return bits;
}

TSimVar Var(uint32_t address, uint32_t flags, int count, int size, const char* scope,
            const char* type, const char* name, const char* description,
            std::vector<uint32_t> initial = {}, int offset = 0) {
  TSimVar v;
  v.Address = address;
  v.Flags = flags;
  v.Count = count;
  v.Offset = offset;
  v.Size = size;
  v.Scope = scope;
  v.Type = type;
  v.Name = name;
  v.Description = description;
  v.Initial = std::move(initial);
  return v;
}

}  // namespace

std::vector<TSimVar> TSimController::DefaultVars() {
  // Flags: bit 0 read only, bit 1 user variable.
  return {
      Var(0x0000, 1, 1, 2, "global", "word", "scan_frequency", "Scans per second"),
      Var(0x0002, 1, 1, 2, "global", "word", "scan_time", "Last scan time in us"),
      Var(0x0004, 1, 1, 2, "global", "word", "scan_time_max", "Longest scan time in us"),
      Var(0x0006, 1, 1, 2, "global", "word", "scan_overrun", "Scans that overran their cycle"),
      Var(0x0010, 0, 1, 2, "global", "word", "rtc_year", "Clock: year"),
      Var(0x0012, 0, 1, 2, "global", "word", "rtc_month", "Clock: month 1-12"),
      Var(0x0014, 0, 1, 2, "global", "word", "rtc_date", "Clock: day of the month"),
      Var(0x0016, 0, 1, 2, "global", "word", "rtc_hour", "Clock: hour 0-23"),
      Var(0x0018, 0, 1, 2, "global", "word", "rtc_min", "Clock: minute"),
      Var(0x001A, 0, 1, 2, "global", "word", "rtc_sec", "Clock: second"),
      Var(0x001C, 0, 1, 2, "global", "word", "rtc_weekday", "Clock: weekday, 0 is Sunday"),
      Var(0x001E, 0, 1, 1, "global", "bit", "rtc_write_req", "Set 1 to take the rtc_ values"),
      Var(0x0020, 0, 1, 1, "global", "bit", "ee_read_req", "Set 1 to load from EEPROM"),
      Var(0x0022, 0, 1, 2, "global", "word", "ee_write_magic", "Unlock value of EEPROM store"),
      Var(0x0024, 0, 1, 1, "global", "bit", "ee_write_req", "Set 1 to store into EEPROM"),
      Var(0x0100, 2, 1, 1, "global", "bit", "flag", "Pump enable", {1}),
      Var(0x0102, 2, 1, 2, "global", "word", "counter_w", "Batches done today", {1234}),
      Var(0x0104, 2, 1, 2, "global", "int", "temp", "Tank temperature in 0.1 degC",
          {static_cast<uint16_t>(-125)}),
      Var(0x0108, 2, 1, 4, "global", "long", "total", "Total flow in litres", {123456789}),
      Var(0x010C, 2, 1, 4, "global", "real", "setpoint", "Temperature setpoint in degC",
          {RealBits(21.5f)}),
      Var(0x0110, 2, 10, 2, "global", "int", "levels", "Tank level in mm",
          {100, 250, 400, static_cast<uint16_t>(-5), 0, 999, 1500, 30000, 7, 12}),
      Var(0x0130, 3, 1, 4, "global", "long", "serial_no", "Serial number of the machine",
          {20240117}),
      Var(0x0140, 2, 1, 4, "global", "timer", "t_fill", "Fill timer of the main tank"),
      // Lies at 0x0150 + 4: the offset column moves it.
      Var(0x0150, 2, 1, 2, "global", "word", "recipe_no", "Active recipe number", {3}, 4),
      Var(0x0200, 2, 1, 2, "local", "int", "tmp_local", "Scratch value of the main task"),
      Var(0x0300, 0, 1, 2, "global", "const", "MAX_LEVEL", "Highest permitted level"),
  };
}

}  // namespace sim
