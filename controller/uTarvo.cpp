#include "controller/uTarvo.h"

#include <cstdio>
#include <exception>
#include <utility>

#include "data/uZipFile.h"
#include "protocol/uQLink.h"

namespace {

// Empties the borrowed tag lists when Read leaves, also by an exception: between calls
// the caller may free its tags, and nothing here may point at them then.
class TBorrowedTags {
 public:
  TBorrowedTags(TTagVarView& a, TTagVarView& b) : fA(a), fB(b) {}
  ~TBorrowedTags() {
    fA.Clear();
    fB.Clear();
  }
  TBorrowedTags(const TBorrowedTags&) = delete;
  TBorrowedTags& operator=(const TBorrowedTags&) = delete;

 private:
  TTagVarView& fA;
  TTagVarView& fB;
};

}  // namespace

// ---- TTarvo --------------------------------------------------------------------------

TTarvo::TTarvo() : TTarvo(std::make_unique<TCommunicator>()) {}

TTarvo::TTarvo(int32_t aNAD) : TTarvo() {
  SetNAD(aNAD);
}

TTarvo::TTarvo(std::unique_ptr<TCommunicator> aComm)
    : fTarvoVarList(std::make_unique<TTarvoVarList>()),
      fBinding(std::make_unique<TVarBinding>()),
      fComm(aComm.get()),
      fOwnedComm(std::move(aComm)) {
  fEthAdapterID = fComm->EthAdapter().ID();
}

TTarvo::~TTarvo() {
  // A borrowed communicator stays alive but must not keep listening for this object.
  fComm->Close();
  fWriteTagVarList.Clear();
  fReadTagVarList.Clear();
}

void TTarvo::SetError(const std::string& Text) {
  fProgramState = TProgramState::psError;
  ErrorS = Text;
}

void TTarvo::StepFailed(const std::string& Text) {
  // A controller that refuses the password answers every request, so none of the other
  // texts would be true of it.
  SetError(fRefusalCode == md_BADPASS ? "PLC refuses the password!" : Text);
}

void TTarvo::NoteRefusal() {
  // The communicator keeps the code of the last answer it decoded: a request that went
  // unanswered leaves the acknowledgement of an earlier one there.
  const TMessageDirection code = fComm->ResponseErrorCode();
  fRefusalCode = code == md_ACK || code == md_REQ ? md_REQ : code;
}

void TTarvo::Read(TTagVars& TagVarList) {
  TBorrowedTags borrowed(fReadTagVarList, fWriteTagVarList);
  fReadTagVarList.Clear();
  fWriteTagVarList.Clear();
  for (int i = 0; i < TagVarList.Count(); ++i) {
    TTagVar* tag = TagVarList.Items(i);
    if (tag->NAD() != fNAD) continue;
    if (tag->ReadReq()) fReadTagVarList.Add(tag);
    if (tag->WriteReq()) fWriteTagVarList.Add(tag);
  }
  fExchange = TExchangeReport();
  fRefusalCode = md_REQ;
  if (fReadTagVarList.Count() == 0 && fWriteTagVarList.Count() == 0) return;
  // A binding left from an earlier call may point into a variable list that this call
  // replaces; a tag is bound only by the exchange of the call that reports on it.
  fReadTagVarList.ClearTarvoVarReferences();
  fWriteTagVarList.ClearTarvoVarReferences();

  using enum TProgramState;
  if (fProgramState == psInit) fProgramState = psSocketInit;
  if (fProgramState == psSocketInit) {
    if (CheckSocket()) {
      fProgramState = psConnect;
    } else {
      SetError("Cannot open socket!");
    }
  }
  if (fProgramState == psConnect) {
    if (CheckTarvo()) {
      fProgramState = psCheckCode;
    } else {
      StepFailed("PLC not responding!");
    }
  }
  if (fProgramState == psCheckCode) {
    if (CheckProgram()) {
      fProgramState = psCheckDate;
    } else {
      StepFailed("PLC has no program!");
    }
  }
  if (fProgramState == psCheckDate) {
    // An unchanged program keeps its variable list only when that list was read: after a
    // failed reading (a lost answer, say) the date alone would skip it for good.
    const bool unchanged = fComm->CheckDateNotChanged();
    fProgramState = unchanged && fAlcOK ? psCheckPLCRun : psReadAlc;
  }
  if (fProgramState == psReadAlc) {
    // A parse error leaves from here with the state kept, so the next call reads again.
    if (CheckAllocation()) {
      fProgramState = psCheckPLCRun;
    } else {
      StepFailed("ALC data not found!");
    }
  }
  if (fProgramState == psCheckPLCRun) {
    CheckPLCRun();
    fProgramState = psRun;
  }
  if (fProgramState == psRun) Exchange();
  if (fProgramState == psError) fProgramState = psSocketInit;
}

void TTarvo::Exchange() {
  fProgramState = TProgramState::psCheckCode;
  fExchange.Reached = true;

  AssignTarvoVarsToTagVars(fWriteTagVarList);
  // A refused text left its variable at the last known value; writing that would put a
  // value on the controller that nobody gave.
  fBinding->DropCopies([](const TTagVar& T) { return T.WriteRefused(); });
  if (fBinding->Copies().Count() > 0) {
    // A lost write shows in the read-back; the answer tells the caller what became of it
    // when the read-back is lost too.
    if (fComm->WriteVars(&fBinding->Copies())) {
      fExchange.Write = TWriteAnswer::waAcknowledged;
    } else {
      NoteRefusal();
      fExchange.Write =
          fRefusalCode != md_REQ ? TWriteAnswer::waRefused : TWriteAnswer::waUnanswered;
    }
  }
  for (int i = 0; i < fWriteTagVarList.Count(); ++i) fWriteTagVarList.Items(i)->SetWriteReq(false);

  AssignTarvoVarsToTagVars(fReadTagVarList);
  if (ReadVars()) {
    fExchange.ReadBack = true;
    CopyValuesToTagVars(fReadTagVarList);
  } else {
    NoteRefusal();
    StepFailed("Error reading vars");
  }
  // The caller may free its tags once Read returns.
  fBinding->ReleaseTags();
}

bool TTarvo::CheckSocket() {
  fSockOK = fComm->Open(fEthAdapterID);
  return fSockOK;
}

bool TTarvo::CheckTarvo() {
  fPingOK = fComm->Connect();
  if (fPingOK) {
    fIP = fComm->TarvoIP();
  } else {
    NoteRefusal();
  }
  return fPingOK;
}

bool TTarvo::CheckProgram() {
  fProgramOK = fComm->CheckCode();
  if (!fProgramOK) NoteRefusal();
  return fProgramOK;
}

bool TTarvo::CheckAllocation() {
  const bool ok = ReadALC();
  fAlcOK = ok;
  if (!ok) NoteRefusal();
  return ok;
}

bool TTarvo::CheckPLCRun() {
  fRunOK = fComm->CheckIfTarvoIsRunning();
  return fRunOK;
}

bool TTarvo::ReadALC() {
  fBinding->Forget();
  fTarvoVarList->Clear();

  std::unique_ptr<TMemoryStream> stream;
  if (!fComm->ReadAlc(stream) || !stream) return false;
  std::string text;
  try {
    TZipFile zip;
    stream->SetPosition(0);
    zip.LoadFromStream(*stream);
    if (zip.Count() == 0) return false;
    text = zip.GetFileData(0);
  } catch (const std::exception&) {
    // A damaged archive or member counts as no allocation file.
    return false;
  }
  if (text.empty()) return false;
  const std::vector<uint8_t> bytes(text.begin(), text.end());
  fTarvoVarList->LoadFromStr(SplitLines(DecodeTextBytes(bytes)),
                             TTarvoVarList::ControllerParseNAD(fNAD), false);
  return true;
}

bool TTarvo::ReadVars() {
  return fComm->ReadVars(&fBinding->Copies());
}

void TTarvo::AssignTarvoVarsToTagVars(TTagVars& TagVarList) {
  fBinding->Bind(*fTarvoVarList, fNAD, TagVarList);
}

void TTarvo::CopyValuesToTagVars(TTagVars& TagVarList) {
  fBinding->CopyBack(TagVarList, fNAD);
}

bool TTarvo::Disconnect() {
  return fComm->Disconnect();
}

void TTarvo::ResumeAfterChecks() {
  // The allocation file read by the check stored the program's transfer date, so the date
  // comparison of a Read would find it unchanged; the run check has been made too.
  if (fSockOK && fPingOK && fProgramOK && fAlcOK) fProgramState = TProgramState::psRun;
}

bool TTarvo::Reconnect() {
  fComm->SetTarvoNAD(fNAD);
  fComm->SetTarvoIP(fIP);
  const bool ok = fComm->Connect();
  if (ok) fIP = fComm->TarvoIP();
  return ok;
}

void TTarvo::SetNAD(int32_t Value) {
  if (Value == fNAD) return;
  fNAD = Value;
  fComm->SetTarvoNAD(Value);
}

void TTarvo::SetIP(const std::string& Value) {
  fIP = Value;
  fComm->SetTarvoStaticIP(Value);
}

void TTarvo::SetTarvoVarList(std::unique_ptr<TTarvoVarList> Value) {
  fBinding->Forget();
  fTarvoVarList = Value ? std::move(Value) : std::make_unique<TTarvoVarList>();
}

void TTarvo::SetEthAdapterID(const std::string& Value) {
  fEthAdapterID = Value;
  if (Value.empty()) {
    fComm->EthAdapter().GetDefault();
  } else {
    fComm->EthAdapter().SetByID(Value);
  }
}

std::string TTarvo::ProgramDate() const {
  const int32_t packed = fComm->TransferDate();
  if (packed <= 0) return {};
  const auto date = static_cast<uint32_t>(packed) >> 16;
  const auto time = static_cast<uint32_t>(packed) & 0xFFFFu;
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", 1980 + (date >> 9),
                (date >> 5) & 0x0Fu, date & 0x1Fu, time >> 11, (time >> 5) & 0x3Fu,
                (time & 0x1Fu) * 2);
  return text;
}

void TTarvo::SetComm(TCommunicator* Value) {
  if (Value == nullptr || Value == fComm) return;
  fOwnedComm.reset();  // frees the current one unless it was borrowed
  fComm = Value;
  fCommonComm = true;
}

void TTarvo::SetPassword(const std::string& Value) {
  fPassword = Value;
  fComm->SetPasswordCRC(PasswordHashUtf8(Value, 0));
}

// ---- TTarvoList ----------------------------------------------------------------------

int TTarvoList::Add(std::unique_ptr<TTarvo> AItem) {
  FItems.push_back(AItem.release());
  return Count() - 1;
}

int TTarvoList::AddNewTarvoByNAD(int32_t ANAD) {
  return Add(std::make_unique<TTarvo>(ANAD));
}

TTarvo* TTarvoList::Items(int Index) const {
  if (Index < 0 || Index >= Count()) return nullptr;
  return FItems[static_cast<size_t>(Index)];
}

TTarvo* TTarvoList::GetByNAD(int32_t NAD) const {
  for (auto it = FItems.rbegin(); it != FItems.rend(); ++it) {
    if ((*it)->NAD() == NAD) return *it;
  }
  return nullptr;
}

int TTarvoList::IndexOf(const TTarvo* AItem) const {
  for (int i = 0; i < Count(); ++i) {
    if (FItems[static_cast<size_t>(i)] == AItem) return i;
  }
  return -1;
}

std::unique_ptr<TTarvo> TTarvoList::Remove(TTarvo* AItem) {
  const int index = IndexOf(AItem);
  if (index < 0) return nullptr;
  FItems.erase(FItems.begin() + index);
  return std::unique_ptr<TTarvo>(AItem);
}

void TTarvoList::Clear() {
  while (!FItems.empty()) {
    delete FItems.back();
    FItems.pop_back();
  }
}
