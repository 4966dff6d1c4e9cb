// Tag variables: a controller variable named from outside any variable list, by NAD,
// name and element index, with an optional value to write given as text.
#pragma once

#include <cstdint>
#include <memory>
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

// Tags in an order, as a workflow hands them to a controller and the binding walks them:
// the owning list and the borrowing view below are both such a sequence. Items gives
// nothing outside 0 to Count() - 1.
class TTagVars {
 public:
  TTagVars() = default;
  virtual ~TTagVars() = default;
  TTagVars(const TTagVars&) = delete;
  TTagVars& operator=(const TTagVars&) = delete;

  int Count() const { return static_cast<int>(FItems.size()); }
  TTagVar* Items(int AIndex) const { return GetByIndex(AIndex); }
  int IndexOf(const TTagVar* AItem) const;
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

 protected:
  std::vector<TTagVar*> FItems;

 private:
  int32_t fNAD = 0;
};

// The tags a workflow makes: the list owns them. Clear and the destructor free them, the
// last first; Remove hands one back to the caller.
class TTagVarList : public TTagVars {
 public:
  TTagVarList() = default;
  ~TTagVarList() override { Clear(); }

  int Add(std::unique_ptr<TTagVar> AItem);
  std::unique_ptr<TTagVar> Remove(TTagVar* AItem);
  void Clear();
};

// Tags that belong to someone else, picked out of their list for a while: Clear only
// forgets them. The owner must not free a tag while a view holds it.
class TTagVarView : public TTagVars {
 public:
  int Add(TTagVar* AItem);
  // Forgets the first place the tag stands at; that index, or -1.
  int Remove(const TTagVar* AItem);
  void Clear() { FItems.clear(); }
};
