// Tag variables: a controller variable named from outside any variable list, by NAD,
// name and element index, with an optional value to write given as text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "data/uTarvoVars.h"

// Reads a full name: "c" NAD "." name ["[" index "]"] ["=" value]. hasIndex is only ever
// set to true (the caller starts it at false); index is -1 when none was found. The NAD
// reads from 0 to 4294967295, or as the signed number of the same 32 bits.
bool ParseTagName(std::string_view AText, int32_t& NAD, std::string& Name, std::string& WriteValue,
                  bool& HasIndex, int32_t& Index);

class TTagVar {
 public:
  // Decides what a write text gives a variable: true with the value to write, false when
  // the text is refused. The data layer holds no rule of its own: which values a variable
  // may take is decided where the values are checked (the workflows' value check).
  using TWriteRule = bool (*)(const TTarvoVar& Var, const std::string& Text, TVarValue& Value);

  TTagVar(std::string AFullName, std::string AName, int32_t aNAD, int32_t AArrayIndex,
          std::string AWriteValue);
  explicit TTagVar(std::string_view AFullName);
  virtual ~TTagVar() = default;

  const std::string& Name() const { return fName; }
  const std::string& FullName() const { return fFullName; }
  int32_t NAD() const { return fNAD; }
  int32_t ArrayIndex() const { return fArrayIndex; }
  void SetArrayIndex(int32_t AIndex) { fArrayIndex = AIndex; }
  TTarvoVar* TarvoVar() const { return fTarvoVar; }
  // Binds the tag (never owning the variable) and applies a pending write value that its
  // write rule accepts.
  void SetTarvoVar(TTarvoVar* AVar);
  // Unbinds without applying anything.
  void ClearTarvoVarReference() { fTarvoVar = nullptr; }
  bool IsArray() const { return fArrayIndex >= 0; }
  bool ReadReq() const { return fReadReq; }
  void SetReadReq(bool AValue) { fReadReq = AValue; }
  bool WriteReq() const { return fWriteReq; }
  void SetWriteReq(bool AValue) { fWriteReq = AValue; }
  const std::string& WriteValue() const { return fWriteValue; }
  void SetWriteValue(std::string AValue) { fWriteValue = std::move(AValue); }

  void SetWriteRule(TWriteRule ARule) { fWriteRule = ARule; }
  // Set by the last binding that had a write request: whether the write value was refused,
  // by the rule or for want of one. A refused value leaves the variable untouched and must
  // not be written to the controller.
  bool WriteRefused() const { return fWriteRefused; }

 private:
  std::string fName;
  std::string fFullName;
  int32_t fArrayIndex = 0;
  TTarvoVar* fTarvoVar = nullptr;
  int32_t fNAD = 0;
  bool fReadReq = false;
  bool fWriteReq = false;
  std::string fWriteValue;
  TWriteRule fWriteRule = nullptr;
  bool fWriteRefused = false;
};

// An ordered list of tags. Clear and the destructor free the tags; ClearWithoutFreeing
// only empties the list, for lists that borrow their tags.
class TTagVarList {
 public:
  TTagVarList() = default;
  virtual ~TTagVarList() { Clear(); }
  TTagVarList(const TTagVarList&) = delete;
  TTagVarList& operator=(const TTagVarList&) = delete;

  int Add(TTagVar* AItem);
  int Count() const { return static_cast<int>(FItems.size()); }
  TTagVar* Items(int AIndex) const { return GetByIndex(AIndex); }
  int IndexOf(const TTagVar* AItem) const;
  int Remove(TTagVar* AItem);
  void Clear();
  void ClearWithoutFreeing() { FItems.clear(); }
  void ClearTarvoVarReferences();
  void ClearTarvoVarReferencesByNAD(int32_t ANad);
  TTagVar* GetByIndex(int AIndex) const;
  TTagVar* GetByFullName(std::string_view AName) const;
  bool AllTagsOk() const;
  bool ReadValueInt(int AIndex, int32_t& AValue) const;
  bool ReadValueFloat(int AIndex, double& AValue) const;
  bool ReadNumValue(int AIndex, double& AValue) const;
  bool ReadNumValue(std::string_view AVariable, double& AValue) const;
  void WriteNumValue(int AIndex, const TVarValue& AValue);
  void WriteNumValue(std::string_view AVariable, const TVarValue& AValue);
  int32_t NAD() const { return fNAD; }
  void SetNAD(int32_t ANad) { fNAD = ANad; }

 private:
  std::vector<TTagVar*> FItems;
  int32_t fNAD = 0;
};
