// Controller variables: the model of one variable of a PLC program with its raw and
// display values, the owning list of them, and the allocation file parser.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "data/uErrors.h"
#include "data/uStreams.h"

enum TTarvoVarTyp : uint8_t {
  vtNone = 0,
  vtBit = 1,
  vtWord = 2,
  vtInt = 3,
  vtLong = 4,
  vtReal = 5,
  vtTimer = 6,
  vtCounter = 7,
  vtConst = 8,
  vtVoid = 9,
  vtTimerBit = 10,
  vtTimerLong = 11,
  vtCounterBit = 12,
  vtCounterInt = 13,
};

enum TTarvoVarScope : uint8_t { vsNone = 0, vsGlobal = 1, vsLocal = 2, vsReg = 3 };
enum TTarvoVarVisibility : uint8_t { vvSystem = 0, vvUser = 1, vvHidden = 2 };
enum TTarvoVarAccessType : uint8_t { vaReadWrite = 0, vaReadOnly = 1 };

// Sets of the two enumerations above: member n is bit n.
using TTarvoVarVisibilitySet = uint8_t;
using TTarvoVarAccessTypeSet = uint8_t;
constexpr uint8_t SetOf(uint8_t member) {
  return static_cast<uint8_t>(1u << member);
}

// The lower-case word of the allocation file for a type or scope ("int", "global");
// "none" for vtNone / vsNone.
const char* TypWord(TTarvoVarTyp typ);
const char* ScopeWord(TTarvoVarScope scope);
// Bytes one value of the type takes on the wire: 1, 2 or 4; 0 for types that carry no value.
int TypWidth(TTarvoVarTyp typ);

// The display value: a tagged number of one of five kinds.
struct TVarValue {
  enum TKind : uint8_t { vkU8, vkU16, vkI16, vkI32, vkDouble };

  TKind Kind = vkU8;
  int64_t Int = 0;  // the integer kinds
  double Dbl = 0;   // vkDouble

  static TVarValue U8(uint8_t v) { return {vkU8, v, 0}; }
  static TVarValue U16(uint16_t v) { return {vkU16, v, 0}; }
  static TVarValue I16(int16_t v) { return {vkI16, v, 0}; }
  static TVarValue I32(int32_t v) { return {vkI32, v, 0}; }
  static TVarValue Double(double v) { return {vkDouble, 0, v}; }

  bool IsDouble() const { return Kind == vkDouble; }
  // Exact for the integer kinds; a double is rounded half to even. Raises ERangeError
  // outside the signed 32-bit range (and for a NaN).
  int32_t ToInteger() const;
  double ToDouble() const { return Kind == vkDouble ? Dbl : static_cast<double>(Int); }
};

class TTarvoVar {
 public:
  TTarvoVar();
  TTarvoVar(std::string AName, int32_t AAddr, int32_t ASize, int32_t AArray, int32_t AArrayIndex,
            int32_t AOffset, TTarvoVarScope AScope, TTarvoVarTyp ATyp,
            TTarvoVarVisibility AVisibility, TTarvoVarAccessType AAccessType,
            std::string ADescription, TVarValue AValue);
  virtual ~TTarvoVar() = default;

  void Assign(const TTarvoVar* AVar);
  // Writes Value, then marks the variable for writing (WriteReq and DiscardNextRead).
  void ValueForPLC(const TVarValue& AValue);

  int32_t Address() const { return fAddress; }
  int32_t RealAddress() const;
  int32_t Size() const { return fSize; }
  TTarvoVarScope Scope() const { return fScope; }
  TTarvoVarTyp Typ() const { return fTyp; }
  TTarvoVarVisibility Visibility() const { return fVisibility; }
  TTarvoVarAccessType AccessType() const { return fAccessType; }
  const std::string& Name() const { return fName; }
  const std::string& Description() const { return fDescription; }
  int32_t ArrayCount() const { return fArrayCount; }
  int32_t Offset() const { return fOffset; }

  // Derived from the raw value by type.
  TVarValue Value() const;
  // Raises ERangeError (integer types) or EOverflowError (real: beyond single-precision
  // range, an infinity included; a NaN raises ERangeError); unchanged then.
  void SetValue(const TVarValue& AValue);
  double ValueFloat() const;
  int32_t ValueInt() const;
  bool IsArray() const { return fArrayCount > 1; }
  int32_t ArrayIndex() const { return fArrayIndex; }
  void SetArrayIndex(int32_t AIndex) { fArrayIndex = AIndex; }
  // Derived from the display value by type.
  int32_t TarvoValue() const;
  void SetTarvoValue(int32_t ARaw);
  bool WriteReq() const { return fWriteReq; }
  void SetWriteReq(bool AValue) { fWriteReq = AValue; }
  bool DiscardNextRead() const { return fDiscardNextRead; }
  void SetDiscardNextRead(bool AValue) { fDiscardNextRead = AValue; }

 private:
  int32_t fAddress = 0;
  int32_t fSize = 0;
  int32_t fArrayCount = 0;
  int32_t fOffset = 0;
  TTarvoVarScope fScope = vsNone;
  TTarvoVarTyp fTyp = vtNone;
  TTarvoVarVisibility fVisibility = vvSystem;
  TTarvoVarAccessType fAccessType = vaReadWrite;
  std::string fName;
  std::string fDescription;
  TVarValue fValue;
  int32_t fArrayIndex = 0;
  int32_t fTarvoValue = 0;
  bool fWriteReq = false;
  bool fDiscardNextRead = false;
};

// The raw form of a value for a type (bit: low 8 bits unsigned, word: low 16 unsigned,
// int: low 16 signed, long: the integer, real: the single's bit pattern as I32); any other
// type gives the value unchanged. Raises like SetValue.
TVarValue RawValueOf(const TVarValue& AValue, TTarvoVarTyp ATyp);

// Splits text into lines at CR LF, LF or CR; a break at the very end adds no empty line.
std::vector<std::string> SplitLines(std::string_view text);
// Decodes file bytes to UTF-8 text: UTF-8 or UTF-16 (LE/BE) with a byte-order mark,
// otherwise 8-bit text taken as Latin-1.
std::string DecodeTextBytes(const std::vector<uint8_t>& bytes);

// The marker line of an allocation file contains this text (its blank included); the
// variables follow it.
inline constexpr const char* kAlcMarker = ";CPU Tarvo-2 ";

class TTarvoVarList {
 public:
  TTarvoVarList() = default;
  virtual ~TTarvoVarList() { Clear(); }
  TTarvoVarList(const TTarvoVarList&) = delete;
  TTarvoVarList& operator=(const TTarvoVarList&) = delete;

  int Add(std::unique_ptr<TTarvoVar> AItem);
  int Count() const { return static_cast<int>(FItems.size()); }
  TTarvoVar* Items(int AIndex) const;
  int IndexOf(const TTarvoVar* AItem) const;
  // Unlinks the item without freeing it: ownership passes to the caller.
  std::unique_ptr<TTarvoVar> Remove(TTarvoVar* AItem, int* AFormerIndex = nullptr);
  void Clear();
  TTarvoVar* FindByName(std::string_view AName) const;
  // Names of the items whose visibility and access are in the sets; nullptr when none.
  std::unique_ptr<std::vector<std::string>> GetVarNames(TTarvoVarVisibilitySet AVisibility,
                                                        TTarvoVarAccessTypeSet AAccessType) const;
  // Names of all items; nullptr when the list is empty.
  std::unique_ptr<std::vector<std::string>> Strings() const;

  // The allocation file parser. Raises EAlcParseError for a malformed variable line. A
  // line that would add more than 65536 elements of one array, or take the list past
  // 262144 variables, counts as malformed: no controller's data memory holds that many.
  void LoadFromStr(const std::vector<std::string>& AlcStr, int32_t TarvoNAD,
                   bool ArraysAsSingleVar);
  void LoadFromFile(const std::string& FName, int32_t TarvoNAD);
  void LoadFromStream(TMemoryStream& AlcStream, int32_t TarvoNAD);
  // The NAD to hand the parser for the allocation file a controller sent. The parser takes
  // -1 as a request to read the lines before the marker too; NAD 4294967295 has that bit
  // pattern, yet its file starts at the marker like any other.
  static int32_t ControllerParseNAD(int32_t NAD) { return NAD == -1 ? 0 : NAD; }

 private:
  bool ParseAlcLine(const std::string& Line, bool ArraysAsSingleVar);

  std::vector<std::unique_ptr<TTarvoVar>> FItems;
};
