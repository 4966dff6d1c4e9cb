#include "data/uTarvoVars.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <new>

#include "data/uFileBytes.h"
#include "data/uNumText.h"
#include "data/uText.h"

// ---------------------------------------------------------------------------------------
// Words and widths

namespace {

struct TTypWord {
  const char* Word;
  TTarvoVarTyp Typ;
};

// The allocation file's words. The counter-int type is written "counterlong" there.
constexpr TTypWord kTypWords[] = {
    {"bit", vtBit},
    {"word", vtWord},
    {"int", vtInt},
    {"long", vtLong},
    {"real", vtReal},
    {"timer", vtTimer},
    {"counter", vtCounter},
    {"const", vtConst},
    {"void", vtVoid},
    {"timerbit", vtTimerBit},
    {"timerlong", vtTimerLong},
    {"counterbit", vtCounterBit},
    {"counterlong", vtCounterInt},
};

std::string AsciiLower(std::string_view word) {
  std::string lower(word);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower;
}

TTarvoVarTyp TypFromWord(std::string_view word) {
  const std::string lower = AsciiLower(word);
  for (const TTypWord& t : kTypWords)
    if (lower == t.Word) return t.Typ;
  return vtNone;
}

TTarvoVarScope ScopeFromWord(std::string_view word) {
  const std::string lower = AsciiLower(word);
  if (lower == "global") return vsGlobal;
  if (lower == "local") return vsLocal;
  if (lower == "reg") return vsReg;
  return vsNone;
}

}  // namespace

const char* TypWord(TTarvoVarTyp typ) {
  for (const TTypWord& t : kTypWords)
    if (t.Typ == typ) return t.Word;
  return "none";
}

const char* ScopeWord(TTarvoVarScope scope) {
  switch (scope) {
    case vsGlobal:
      return "global";
    case vsLocal:
      return "local";
    case vsReg:
      return "reg";
    default:
      return "none";
  }
}

int TypWidth(TTarvoVarTyp typ) {
  switch (typ) {
    case vtBit:
      return 1;
    case vtWord:
    case vtInt:
      return 2;
    case vtLong:
    case vtReal:
      return 4;
    default:
      return 0;
  }
}

// ---------------------------------------------------------------------------------------
// Display value conversions

int32_t TVarValue::ToInteger() const {
  if (Kind != vkDouble) {
    if (Int < std::numeric_limits<int32_t>::min() || Int > std::numeric_limits<int32_t>::max())
      throw ERangeError();
    return static_cast<int32_t>(Int);
  }
  if (std::isnan(Dbl)) throw ERangeError();
  // Halfway cases go to the even neighbour, independent of the FPU's rounding mode.
  double r = std::round(Dbl);
  if (std::fabs(Dbl - std::trunc(Dbl)) == 0.5) r = 2.0 * std::round(Dbl / 2.0);
  if (r < -2147483648.0 || r > 2147483647.0) throw ERangeError();
  return static_cast<int32_t>(r);
}

namespace {

float SingleOf(int32_t raw) {
  return std::bit_cast<float>(raw);
}
int32_t PatternOf(float single) {
  return std::bit_cast<int32_t>(single);
}

// Halfway between the largest single and the next power of two: from here on a double
// rounds to infinity.
constexpr double kSingleOverflow = 0x1.ffffffp127;

// A double rounded to single precision, infinities kept. Out-of-range conversions are
// spelled out rather than left to the cast.
float NarrowToSingle(double value) {
  if (std::isnan(value)) return std::numeric_limits<float>::quiet_NaN();
  if (std::fabs(value) >= kSingleOverflow)
    return value > 0 ? std::numeric_limits<float>::infinity()
                     : -std::numeric_limits<float>::infinity();
  if (std::fabs(value) > static_cast<double>(std::numeric_limits<float>::max()))
    return value > 0 ? std::numeric_limits<float>::max() : -std::numeric_limits<float>::max();
  return static_cast<float>(value);
}

// As NarrowToSingle, but a value a real variable cannot hold raises: beyond single range
// (infinities included) an overflow, a NaN a range error.
float ToSingle(double value) {
  if (std::isnan(value)) throw ERangeError();
  const float single = NarrowToSingle(value);
  if (std::isinf(single)) throw EOverflowError();
  return single;
}

// The display value a raw value stands for, by type. Types that carry no value read
// their raw value but hold 0 as their display field.
TVarValue DisplayOf(int32_t raw, TTarvoVarTyp typ, bool otherTypesKeepRaw) {
  switch (typ) {
    case vtBit:
      return TVarValue::U8(static_cast<uint8_t>(raw & 0xFF));
    case vtWord:
      return TVarValue::U16(static_cast<uint16_t>(raw & 0xFFFF));
    case vtInt:
      return TVarValue::I16(static_cast<int16_t>(static_cast<uint16_t>(raw & 0xFFFF)));
    case vtLong:
      return TVarValue::I32(raw);
    case vtReal:
      // A NaN or infinity from the controller is shown as what it is.
      return TVarValue::Double(static_cast<double>(SingleOf(raw)));
    default:
      return otherTypesKeepRaw ? TVarValue::I32(raw) : TVarValue::U8(0);
  }
}

}  // namespace

TVarValue RawValueOf(const TVarValue& AValue, TTarvoVarTyp ATyp) {
  switch (ATyp) {
    case vtBit:
      return TVarValue::U8(static_cast<uint8_t>(AValue.ToInteger() & 0xFF));
    case vtWord:
      return TVarValue::U16(static_cast<uint16_t>(AValue.ToInteger() & 0xFFFF));
    case vtInt:
      return TVarValue::I16(
          static_cast<int16_t>(static_cast<uint16_t>(AValue.ToInteger() & 0xFFFF)));
    case vtLong:
      return TVarValue::I32(AValue.ToInteger());
    case vtReal:
      return TVarValue::I32(PatternOf(ToSingle(AValue.ToDouble())));
    default:
      return AValue;
  }
}

// ---------------------------------------------------------------------------------------
// TTarvoVar

TTarvoVar::TTarvoVar() = default;

TTarvoVar::TTarvoVar(std::string AName, int32_t AAddr, int32_t ASize, int32_t AArray,
                     int32_t AArrayIndex, int32_t AOffset, TTarvoVarScope AScope, TTarvoVarTyp ATyp,
                     TTarvoVarVisibility AVisibility, TTarvoVarAccessType AAccessType,
                     std::string ADescription, TVarValue AValue)
    : fAddress(AAddr),
      fSize(ASize),
      fArrayCount(AArray),
      fOffset(AOffset),
      fScope(AScope),
      fTyp(ATyp),
      fVisibility(AVisibility),
      fAccessType(AAccessType),
      fName(std::move(AName)),
      fDescription(std::move(ADescription)),
      fValue(AValue),
      fArrayIndex(AArrayIndex) {}

void TTarvoVar::Assign(const TTarvoVar* AVar) {
  if (AVar == nullptr || AVar == this) return;
  fTyp = AVar->fTyp;
  fVisibility = AVar->fVisibility;
  fAccessType = AVar->fAccessType;
  fName = AVar->fName;
  fDescription = AVar->fDescription;
  fAddress = AVar->fAddress;
  fSize = AVar->fSize;
  fScope = AVar->fScope;
  fOffset = AVar->fOffset;
  fArrayCount = AVar->fArrayCount;
  fArrayIndex = AVar->fArrayIndex;
  fWriteReq = AVar->fWriteReq;
  fDiscardNextRead = AVar->fDiscardNextRead;
  // The raw value comes along so that the copy's Value reads what the source's does.
  fValue = AVar->Value();
  fTarvoValue = AVar->fTarvoValue;
}

void TTarvoVar::ValueForPLC(const TVarValue& AValue) {
  SetValue(AValue);
  fWriteReq = true;
  fDiscardNextRead = true;
}

int32_t TTarvoVar::RealAddress() const {
  // Addresses wrap at 32 bits; only the low 16 reach the controller.
  uint32_t address = static_cast<uint32_t>(fAddress) + static_cast<uint32_t>(fOffset);
  if (IsArray()) address += static_cast<uint32_t>(fArrayIndex) * static_cast<uint32_t>(fSize);
  return static_cast<int32_t>(address);
}

TVarValue TTarvoVar::Value() const {
  return DisplayOf(fTarvoValue, fTyp, true);
}

void TTarvoVar::SetValue(const TVarValue& AValue) {
  if (fTyp == vtReal) {
    const float single = ToSingle(AValue.ToDouble());
    fValue = TVarValue::Double(static_cast<double>(single));
    SetTarvoValue(PatternOf(single));
    return;
  }
  const int32_t i = AValue.ToInteger();
  fValue = TVarValue::I32(i);
  SetTarvoValue(i);
}

double TTarvoVar::ValueFloat() const {
  return Value().ToDouble();
}

int32_t TTarvoVar::ValueInt() const {
  return TarvoValue();
}

int32_t TTarvoVar::TarvoValue() const {
  switch (fTyp) {
    case vtBit:
      return fValue.ToInteger() & 0xFF;
    case vtWord:
      return fValue.ToInteger() & 0xFFFF;
    case vtInt:
      return static_cast<int16_t>(static_cast<uint16_t>(fValue.ToInteger() & 0xFFFF));
    case vtLong:
      return fValue.ToInteger();
    case vtReal:
      return PatternOf(NarrowToSingle(fValue.ToDouble()));
    default:
      return 0;
  }
}

void TTarvoVar::SetTarvoValue(int32_t ARaw) {
  fTarvoValue = ARaw;
  fValue = DisplayOf(ARaw, fTyp, false);
}

// ---------------------------------------------------------------------------------------
// TTarvoVarList

int TTarvoVarList::Add(std::unique_ptr<TTarvoVar> AItem) {
  FItems.push_back(std::move(AItem));
  return Count() - 1;
}

TTarvoVar* TTarvoVarList::Items(int AIndex) const {
  if (AIndex < 0 || AIndex >= Count()) return nullptr;
  return FItems[static_cast<size_t>(AIndex)].get();
}

int TTarvoVarList::IndexOf(const TTarvoVar* AItem) const {
  for (int i = 0; i < Count(); ++i)
    if (FItems[static_cast<size_t>(i)].get() == AItem) return i;
  return -1;
}

std::unique_ptr<TTarvoVar> TTarvoVarList::Remove(TTarvoVar* AItem, int* AFormerIndex) {
  const int index = AItem ? IndexOf(AItem) : -1;
  if (AFormerIndex) *AFormerIndex = index;
  if (index < 0) return nullptr;
  std::unique_ptr<TTarvoVar> item = std::move(FItems[static_cast<size_t>(index)]);
  FItems.erase(FItems.begin() + index);
  return item;
}

void TTarvoVarList::Clear() {
  while (!FItems.empty()) FItems.pop_back();
}

TTarvoVar* TTarvoVarList::FindByName(std::string_view AName) const {
  for (const auto& item : FItems)
    if (item->Name() == AName) return item.get();
  return nullptr;
}

std::unique_ptr<std::vector<std::string>> TTarvoVarList::GetVarNames(
    TTarvoVarVisibilitySet AVisibility, TTarvoVarAccessTypeSet AAccessType) const {
  std::unique_ptr<std::vector<std::string>> names;
  for (const auto& item : FItems) {
    if ((AVisibility & SetOf(item->Visibility())) == 0) continue;
    if ((AAccessType & SetOf(item->AccessType())) == 0) continue;
    if (!names) names = std::make_unique<std::vector<std::string>>();
    names->push_back(item->Name());
  }
  return names;
}

std::unique_ptr<std::vector<std::string>> TTarvoVarList::Strings() const {
  if (FItems.empty()) return nullptr;
  auto names = std::make_unique<std::vector<std::string>>();
  names->reserve(FItems.size());
  for (const auto& item : FItems) names->push_back(item->Name());
  return names;
}

// ---------------------------------------------------------------------------------------
// Text lines

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines.emplace_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.emplace_back(text.substr(start));
  return lines;
}

namespace {

constexpr uint32_t kReplacement = 0xFFFD;

// Well-formed UTF-8 passes unchanged; each byte of a malformed sequence becomes U+FFFD.
std::string ValidUtf8(const uint8_t* p, size_t n) {
  std::string out;
  out.reserve(n);
  size_t i = 0;
  while (i < n) {
    const uint8_t b = p[i];
    size_t len = 0;
    uint32_t cp = 0, min = 0;
    if (b < 0x80) {
      out += static_cast<char>(b);
      ++i;
      continue;
    } else if ((b & 0xE0) == 0xC0) {
      len = 2, cp = b & 0x1F, min = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      len = 3, cp = b & 0x0F, min = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      len = 4, cp = b & 0x07, min = 0x10000;
    }
    bool ok = len > 0 && i + len <= n;
    for (size_t k = 1; ok && k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) ok = false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    ok = ok && cp >= min && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
    if (!ok) {
      AppendUtf8(out, kReplacement);
      ++i;
      continue;
    }
    out.append(reinterpret_cast<const char*>(p + i), len);
    i += len;
  }
  return out;
}

std::string Utf16ToUtf8(const uint8_t* p, size_t n, bool bigEndian) {
  std::string out;
  out.reserve(n);
  auto unit = [&](size_t i) -> uint32_t {
    return bigEndian ? (p[i] << 8) | p[i + 1] : p[i] | (p[i + 1] << 8);
  };
  size_t i = 0;
  for (; i + 1 < n; i += 2) {
    const uint32_t u = unit(i);
    if (u >= 0xD800 && u <= 0xDBFF && i + 3 < n) {
      const uint32_t low = unit(i + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    AppendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? kReplacement : u);
  }
  if (i < n) AppendUtf8(out, kReplacement);  // an odd byte at the end
  return out;
}

}  // namespace

std::string DecodeTextBytes(const std::vector<uint8_t>& bytes) {
  const uint8_t* p = bytes.data();
  const size_t n = bytes.size();
  if (n >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) return ValidUtf8(p + 3, n - 3);
  if (n >= 2 && p[0] == 0xFF && p[1] == 0xFE) return Utf16ToUtf8(p + 2, n - 2, false);
  if (n >= 2 && p[0] == 0xFE && p[1] == 0xFF) return Utf16ToUtf8(p + 2, n - 2, true);
  std::string out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) AppendUtf8(out, p[i]);
  return out;
}

// ---------------------------------------------------------------------------------------
// Allocation file parser

namespace {

// A 16-bit data memory holds no array longer than this; a larger count is no real
// allocation and would only make the parser allocate without end.
constexpr int32_t kMaxArrayCount = 65536;
// Four times what a 16-bit data memory can hold in one-byte variables.
constexpr int kMaxAlcVariables = 4 * 65536;

bool IsBlankOrControl(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

std::string_view TrimLeft(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && IsBlankOrControl(s[i])) ++i;
  return s.substr(i);
}

std::string_view Trim(std::string_view s) {
  s = TrimLeft(s);
  size_t n = s.size();
  while (n > 0 && IsBlankOrControl(s[n - 1])) --n;
  return s.substr(0, n);
}

int32_t HexColumn(std::string_view token) {
  int32_t v = -1;
  if (!ParseIntegerText("$" + std::string(token), v)) return -1;
  return v;
}

int32_t IntegerColumn(std::string_view token) {
  int32_t v = -1;
  if (!ParseIntegerText(token, v)) return -1;
  return v;
}

}  // namespace

bool TTarvoVarList::ParseAlcLine(const std::string& Line, bool ArraysAsSingleVar) {
  enum { cAddress, cFlags, cCount, cOffset, cSize, cScope, cTyp, cName, cDescription };
  int32_t address = 0, flags = 0, count = 0, offset = 0, size = 0;
  TTarvoVarScope scope = vsNone;
  TTarvoVarTyp typ = vtNone;
  std::string_view name, description;

  std::string_view rest = Line;
  for (int c = cAddress; c <= cDescription; ++c) {
    rest = TrimLeft(rest);
    std::string_view token;
    const size_t blank = rest.find(' ');
    if (c == cDescription) {
      token = Trim(rest);
    } else if (blank != std::string_view::npos) {
      token = Trim(rest.substr(0, blank));
    } else if (c == cName) {
      token = Trim(rest);
    }
    // Tokens are taken from the front of rest, which starts with no blank or control.
    rest.remove_prefix(token.size());

    switch (c) {
      case cAddress:
        if (token.empty() || token == ";CPU" || token == ";Addr") return true;
        address = HexColumn(token);
        if (address == -1) return false;
        break;
      case cFlags:
        flags = HexColumn(token);
        if (flags == -1) return false;
        break;
      case cCount:
        count = IntegerColumn(token);
        if (count == -1) return false;
        break;
      case cOffset:
        offset = IntegerColumn(token);
        if (offset == -1) return false;
        break;
      case cSize:
        size = IntegerColumn(token);
        if (size == -1) return false;
        break;
      case cScope:
        scope = ScopeFromWord(token);
        if (scope == vsNone) return false;
        break;
      case cTyp:
        typ = TypFromWord(token);
        if (typ == vtNone) return false;
        break;
      case cName:
        name = token;
        if (name.empty()) return false;
        break;
      case cDescription:
        description = token;
        break;
    }
  }

  const TTarvoVarVisibility visibility = (flags & 2) ? vvUser : vvSystem;
  const TTarvoVarAccessType access = (flags & 1) ? vaReadOnly : vaReadWrite;
  if (scope != vsGlobal || typ == vtConst) return true;

  if (!ArraysAsSingleVar && count > kMaxArrayCount) return false;
  const int added = ArraysAsSingleVar ? 1 : std::max(count, 0);
  if (added > kMaxAlcVariables - Count()) return false;
  auto make = [&](int32_t index) {
    return std::make_unique<TTarvoVar>(std::string(name), address, size, count, index, offset,
                                       scope, typ, visibility, access, std::string(description),
                                       TVarValue::U8(0));
  };
  if (ArraysAsSingleVar) {
    Add(make(0));
  } else {
    for (int32_t i = 0; i < count; ++i) Add(make(i));
  }
  return true;
}

void TTarvoVarList::LoadFromStr(const std::vector<std::string>& AlcStr, int32_t TarvoNAD,
                                bool ArraysAsSingleVar) {
  const size_t lines = AlcStr.size();
  bool active = false;
  for (size_t i = 0; i < lines; ++i) {
    const std::string& line = AlcStr[i];
    if (line.find(kAlcMarker) != std::string::npos) active = true;
    if (TarvoNAD == -1) active = true;
    if (!active) continue;
    bool ok = false;
    try {
      ok = ParseAlcLine(line, ArraysAsSingleVar);
    } catch (const std::bad_alloc&) {
      throw;
    } catch (const std::exception&) {
      ok = false;
    }
    if (!ok) {
      throw EAlcParseError(static_cast<int>(i));
    }
  }
}

void TTarvoVarList::LoadFromFile(const std::string& FName, int32_t TarvoNAD) {
  LoadFromStr(SplitLines(DecodeTextBytes(ReadFileBytes(FName))), TarvoNAD, false);
}

void TTarvoVarList::LoadFromStream(TMemoryStream& AlcStream, int32_t TarvoNAD) {
  std::vector<uint8_t> bytes(AlcStream.Size() - AlcStream.Position());
  AlcStream.Read(bytes.data(), bytes.size());
  LoadFromStr(SplitLines(DecodeTextBytes(bytes)), TarvoNAD, false);
}
