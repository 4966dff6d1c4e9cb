// TTarvo: the link to one controller. It walks socket, ping, program, transfer date,
// allocation file and run checks, binds tags to the controller's variables, and writes and
// reads their values in as few requests as the protocol allows. TTarvoList holds them all.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "comm/uCommunication.h"
#include "controller/uVarBinding.h"
#include "data/uTagVars.h"
#include "data/uTarvoVars.h"

// Scoped, because the status answer's TPLCStatus already claims psRun in this namespace.
enum class TProgramState : uint8_t {
  psInit = 0,
  psSocketInit = 1,
  psConnect = 2,
  psCheckCode = 3,
  psReadAlc = 4,
  psCheckPLCRun = 5,
  psSendParam = 6,  // declared; nothing enters it
  psRun = 7,
  psCheckDate = 8,
  psError = 9,
};

// How the write request of an exchange fared. A write whose answer was lost may have taken
// effect all the same: only the read-back tells.
enum class TWriteAnswer : uint8_t {
  waNone,          // nothing was to be written, or the exchange was not reached
  waAcknowledged,  // the controller acknowledged it
  waRefused,       // the controller answered it with a refusal (RefusalCode says which)
  waUnanswered,    // no answer came
};

// What the last Read did in its exchange of values, for a caller that reports on writes.
struct TExchangeReport {
  bool Reached = false;  // the link stood and the exchange began: the tags were bound
  TWriteAnswer Write = TWriteAnswer::waNone;
  bool ReadBack = false;  // the values were read (back) in it
};

class TTarvo {
 public:
  // A new communicator with its own defaults; NAD -1 until set.
  TTarvo();
  explicit TTarvo(int32_t aNAD);
  // Tests hand in a communicator built on an in-memory endpoint.
  explicit TTarvo(std::unique_ptr<TCommunicator> aComm);
  virtual ~TTarvo();
  TTarvo(const TTarvo&) = delete;
  TTarvo& operator=(const TTarvo&) = delete;

  // Keeps the tags of this NAD, writes those with a write request, reads those with a read
  // request, and leaves the values in the variables the tags are bound to. A tag whose
  // write text its rule refuses is not written (WriteRefused()). An allocation file that
  // does not parse raises EAlcParseError.
  void Read(TTagVars& TagVarList);
  // The last Read's exchange; all false when that Read had nothing of this NAD to do.
  const TExchangeReport& LastExchange() const { return fExchange; }
  // The response code with which the controller refused the request that failed last in
  // a Read or a check (md_BADPASS for a wrong password); md_REQ when that request went
  // unanswered, or none failed since the last Read began.
  TMessageDirection RefusalCode() const { return fRefusalCode; }

  bool CheckSocket();
  bool CheckTarvo();
  bool CheckProgram();
  bool CheckAllocation();
  bool CheckPLCRun();
  bool ReadALC();
  bool ReadVars();
  void AssignTarvoVarsToTagVars(TTagVars& TagVarList);
  void CopyValuesToTagVars(TTagVars& TagVarList);
  bool Disconnect();
  bool Reconnect();
  // For a caller that has just run the five checks itself, in their order, as a status
  // check does. When the endpoint, the ping, the program and the allocation file passed,
  // the link stands where a Read would have brought it, and the next Read goes straight to
  // its exchange instead of opening, pinging and reading the headers again. After any
  // other outcome the state is left as it is. The checks themselves never move the state.
  void ResumeAfterChecks();

  int32_t NAD() const { return fNAD; }
  void SetNAD(int32_t Value);
  const std::string& IP() const { return fIP; }
  void SetIP(const std::string& Value);
  int Port() const { return fComm->TarvoPort(); }
  void SetPort(int Value) { fComm->SetTarvoPort(Value); }
  bool DirectConnection() const { return fComm->DirectConnection(); }
  void SetDirectConnection(bool Value) { fComm->SetDirectConnection(Value); }
  TTarvoVarList* TarvoVarList() const { return fTarvoVarList.get(); }
  void SetTarvoVarList(std::unique_ptr<TTarvoVarList> Value);
  // The adapter the endpoint opens on. Selecting does not open anything; an ID the PC does
  // not have makes the next socket check fail instead of falling back to another adapter.
  const std::string& EthAdapterID() const { return fEthAdapterID; }
  void SetEthAdapterID(const std::string& Value);
  bool RunOK() const { return fRunOK; }
  bool AlcOK() const { return fAlcOK; }
  bool ProgramOK() const { return fProgramOK; }
  bool PingOK() const { return fPingOK; }
  bool SockOK() const { return fSockOK; }
  // The program's transfer date as "YYYY-MM-DD hh:mm:ss"; empty when none is known.
  std::string ProgramDate() const;
  bool StatusTested() const { return fStatusTested; }
  void SetStatusTested(bool Value) { fStatusTested = Value; }
  TCommunicator* Comm() const { return fComm; }
  // Borrows the communicator: it is closed, not freed, with this object.
  void SetComm(TCommunicator* Value);
  const std::string& Password() const { return fPassword; }
  void SetPassword(const std::string& Value);
  const std::string& RTCString() const { return fRTCString; }
  void SetRTCString(const std::string& Value) { fRTCString = Value; }
  TProgramState ProgramState() const { return fProgramState; }
  // The working copies of the variables bound by the last binding, in the order their
  // values travel.
  const TTarvoVarList& SelectedVarList() const { return fBinding->Copies(); }

  std::string ErrorS;

 private:
  void SetError(const std::string& Text);
  // A step of Read failed: its own text, unless the controller refused the password.
  void StepFailed(const std::string& Text);
  // Keeps what the communicator's last request was answered with, when it was refused.
  void NoteRefusal();
  void Exchange();

  int32_t fNAD = -1;
  std::string fIP;
  std::unique_ptr<TTarvoVarList> fTarvoVarList;
  // The tags bound to fTarvoVarList and the working copies that carry their values.
  std::unique_ptr<TVarBinding> fBinding;
  // The caller's tags of this NAD during a Read: borrowed, and forgotten when it returns.
  TTagVarView fWriteTagVarList;
  TTagVarView fReadTagVarList;
  TProgramState fProgramState = TProgramState::psInit;
  TExchangeReport fExchange;
  TMessageDirection fRefusalCode = md_REQ;
  bool fAlcOK = false;
  bool fRunOK = false;
  bool fProgramOK = false;
  bool fPingOK = false;
  bool fSockOK = false;
  TCommunicator* fComm = nullptr;
  std::unique_ptr<TCommunicator> fOwnedComm;
  bool fStatusTested = false;
  std::string fPassword;
  std::string fRTCString;
  bool fCommonComm = false;
  std::string fEthAdapterID;
};

// The controllers, in insertion order; the list owns them.
class TTarvoList {
 public:
  TTarvoList() = default;
  virtual ~TTarvoList() { Clear(); }
  TTarvoList(const TTarvoList&) = delete;
  TTarvoList& operator=(const TTarvoList&) = delete;

  int Add(std::unique_ptr<TTarvo> AItem);
  int AddNewTarvoByNAD(int32_t ANAD);
  int Count() const { return static_cast<int>(FItems.size()); }
  const std::vector<TTarvo*>& List() const { return FItems; }
  TTarvo* Items(int Index) const;
  // The last controller with that NAD, or nullptr.
  TTarvo* GetByNAD(int32_t NAD) const;
  int IndexOf(const TTarvo* AItem) const;
  // Unlinks the controller and hands it to the caller; nothing when it is not listed.
  std::unique_ptr<TTarvo> Remove(TTarvo* AItem);
  // Frees every controller, the last first.
  void Clear();

 private:
  std::vector<TTarvo*> FItems;
};
