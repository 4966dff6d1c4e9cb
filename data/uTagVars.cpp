#include "data/uTagVars.h"

#include <exception>

#include "data/uNumText.h"

namespace {

// The NAD of a full name: unsigned, as this tool writes it, or the signed form of the same
// bit pattern that files written while NADs were printed signed still carry
// ("c-1294967296" for NAD 3000000000).
bool ParseFullNameNAD(std::string_view text, int32_t& NAD) {
  return ParseNADText(text, NAD) || ParseIntegerText(text, NAD);
}

}  // namespace

bool ParseTagName(std::string_view AText, int32_t& NAD, std::string& Name, std::string& WriteValue,
                  bool& HasIndex, int32_t& Index) {
  const size_t dot = AText.find('.');
  if (AText.empty() || dot == std::string_view::npos) return false;
  if (AText[0] != 'c' && AText[0] != 'C') return false;
  int32_t nad = 0;
  if (!ParseFullNameNAD(AText.substr(1, dot - 1), nad)) return false;

  std::string_view text = AText;
  std::string value;
  const size_t equals = text.find('=');
  if (equals != std::string_view::npos) {
    value = std::string(text.substr(equals + 1));
    text = text.substr(0, equals);
    double ignored = 0;
    if (!ParseFloatText(value, ignored)) value.clear();
    // An exported name may escape its "=" as "\=".
    const size_t backslash = text.find('\\');
    if (backslash != std::string_view::npos && backslash + 1 == text.size()) text.remove_suffix(1);
  }

  std::string name(text.substr(dot + 1));
  int32_t index = -1;
  bool found = false;
  const size_t open = name.find('[');
  const size_t close = name.find(']');
  if (open != std::string::npos && close != std::string::npos && close >= open + 2) {
    int32_t i = 0;
    if (ParseIntegerText(std::string_view(name).substr(open + 1, close - open - 1), i) && i >= 0) {
      index = i;
      found = true;
      name.erase(open, close - open + 1);
    }
  }

  NAD = nad;
  Name = std::move(name);
  WriteValue = std::move(value);
  Index = index;
  if (found) HasIndex = true;
  return true;
}

// ---------------------------------------------------------------------------------------
// TTagVar

TTagVar::TTagVar(std::string AFullName, std::string AName, int32_t aNAD, int32_t AArrayIndex,
                 std::string AWriteValue)
    : fName(std::move(AName)),
      fFullName(std::move(AFullName)),
      fArrayIndex(AArrayIndex),
      fNAD(aNAD),
      fReadReq(true),
      fWriteReq(!AWriteValue.empty()),
      fWriteValue(std::move(AWriteValue)) {}

TTagVar::TTagVar(std::string_view AFullName) {
  int32_t nad = 0, index = -1;
  bool hasIndex = false;
  std::string name, value;
  if (!ParseTagName(AFullName, nad, name, value, hasIndex, index)) return;
  fFullName = std::string(AFullName);
  fName = std::move(name);
  fNAD = nad;
  fArrayIndex = index;
  fWriteValue = std::move(value);
  fReadReq = true;
  fWriteReq = !fWriteValue.empty();
}

void TTagVar::SetTarvoVar(TTarvoVar* AVar) {
  fTarvoVar = AVar;
  if (AVar == nullptr) return;
  if (IsArray()) AVar->SetArrayIndex(fArrayIndex);
  if (!fWriteReq) return;
  // A refused text leaves the variable as it is; writing that back unchanged would report
  // a write the user never asked for as done.
  TVarValue value;
  fWriteRefused = fWriteRule == nullptr || !fWriteRule(*AVar, fWriteValue, value);
  if (!fWriteRefused) AVar->SetValue(value);
}

// ---------------------------------------------------------------------------------------
// TTagVarList

int TTagVarList::Add(std::unique_ptr<TTagVar> AItem) {
  FItems.push_back(AItem.release());
  return Count() - 1;
}

int TTagVarView::Add(TTagVar* AItem) {
  FItems.push_back(AItem);
  return Count() - 1;
}

int TTagVarView::Remove(const TTagVar* AItem) {
  const int index = IndexOf(AItem);
  if (index >= 0) FItems.erase(FItems.begin() + index);
  return index;
}

int TTagVars::IndexOf(const TTagVar* AItem) const {
  for (int i = 0; i < Count(); ++i)
    if (FItems[static_cast<size_t>(i)] == AItem) return i;
  return -1;
}

std::unique_ptr<TTagVar> TTagVarList::Remove(TTagVar* AItem) {
  const int index = IndexOf(AItem);
  if (index < 0) return nullptr;
  FItems.erase(FItems.begin() + index);
  return std::unique_ptr<TTagVar>(AItem);
}

void TTagVarList::Clear() {
  while (!FItems.empty()) {
    delete FItems.back();
    FItems.pop_back();
  }
}

void TTagVars::ClearTarvoVarReferences() {
  for (TTagVar* tag : FItems) tag->ClearTarvoVarReference();
}

void TTagVars::ClearTarvoVarReferencesByNAD(int32_t ANad) {
  for (TTagVar* tag : FItems)
    if (tag->NAD() == ANad) tag->SetTarvoVar(nullptr);
}

TTagVar* TTagVars::GetByIndex(int AIndex) const {
  if (AIndex < 0 || AIndex >= Count()) return nullptr;
  return FItems[static_cast<size_t>(AIndex)];
}

TTagVar* TTagVars::GetByFullName(std::string_view AName) const {
  for (TTagVar* tag : FItems)
    if (tag->FullName() == AName) return tag;
  return nullptr;
}

bool TTagVars::AllTagsOk() const {
  for (const TTagVar* tag : FItems)
    if (tag->TarvoVar() == nullptr) return false;
  return true;
}

namespace {

TTarvoVar* BoundVar(const TTagVar* tag) {
  return tag ? tag->TarvoVar() : nullptr;
}

double NumValueOf(const TTarvoVar& var) {
  return var.Typ() == vtReal ? var.ValueFloat() : static_cast<double>(var.ValueInt());
}

}  // namespace

namespace {

// Reads one value of a tag's bound variable; false for a missing or unbound tag, and for
// a conversion that raises.
template <typename T, typename Read>
bool ReadBound(const TTagVar* tag, T& AValue, Read read) {
  const TTarvoVar* var = BoundVar(tag);
  if (!var) return false;
  try {
    AValue = read(*var);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace

bool TTagVars::ReadValueInt(int AIndex, int32_t& AValue) const {
  return ReadBound(GetByIndex(AIndex), AValue, [](const TTarvoVar& v) { return v.ValueInt(); });
}

bool TTagVars::ReadValueFloat(int AIndex, double& AValue) const {
  return ReadBound(GetByIndex(AIndex), AValue, [](const TTarvoVar& v) { return v.ValueFloat(); });
}

bool TTagVars::ReadNumValue(int AIndex, double& AValue) const {
  return ReadBound(GetByIndex(AIndex), AValue, NumValueOf);
}

bool TTagVars::ReadNumValue(std::string_view AVariable, double& AValue) const {
  return ReadBound(GetByFullName(AVariable), AValue, NumValueOf);
}

namespace {

void WriteNumValueTo(TTagVar* tag, const TVarValue& AValue) {
  TTarvoVar* var = BoundVar(tag);
  if (!var) return;
  var->ValueForPLC(AValue);
  tag->SetWriteValue(FormatValueText(AValue.ToDouble()));
  tag->SetWriteReq(true);
}

}  // namespace

void TTagVars::WriteNumValue(int AIndex, const TVarValue& AValue) {
  WriteNumValueTo(GetByIndex(AIndex), AValue);
}

void TTagVars::WriteNumValue(std::string_view AVariable, const TVarValue& AValue) {
  WriteNumValueTo(GetByFullName(AVariable), AValue);
}
