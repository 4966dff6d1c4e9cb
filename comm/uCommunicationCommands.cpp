// The controller commands without memory access (run control, status, headers,
// password hash, IEX messages, the controller's address) and discovery.
#include <array>
#include <cstring>
#include <mutex>
#include <utility>

#include "comm/uCommunication.h"
#include "comm/uEthernetUtils.h"
#include "protocol/uQLink.h"

namespace {

constexpr int kStartKernelWaitTime = 3000;
constexpr int kFlashInitWaitTime = 10000;

using TAnswerBuffer = std::array<uint8_t, kFrameBufferSize>;

// The last answer's body as bytes. A body that does not convert (it cannot come out of
// the decoder, but the buffer is the bound) counts as no answer.
bool AnswerBytes(const TCommunicator& comm, TAnswerBuffer& buffer, int& count) {
  buffer.fill(0);
  count = 0;
  return HexToBytes(comm.LastData(), buffer.data(), static_cast<int>(buffer.size()), count);
}

// Restores a field on every way out of a scope, exceptions included.
template <typename T>
class TRestore {
 public:
  explicit TRestore(T& field) : fField(field), fSaved(field) {}
  ~TRestore() { fField = fSaved; }
  TRestore(const TRestore&) = delete;
  TRestore& operator=(const TRestore&) = delete;

 private:
  T& fField;
  T fSaved;
};

// Runs an action once: explicitly, or when the scope is left.
template <typename F>
class TScopeExit {
 public:
  explicit TScopeExit(F action) : fAction(std::move(action)) {}
  ~TScopeExit() { Run(); }
  TScopeExit(const TScopeExit&) = delete;
  TScopeExit& operator=(const TScopeExit&) = delete;
  void Run() {
    if (fPending) {
      fPending = false;
      fAction();
    }
  }

 private:
  F fAction;
  bool fPending = true;
};

}  // namespace

bool TCommunicator::StartLoader() {
  return SendCommand(cmdStartLoader);
}

bool TCommunicator::StartKernel() {
  TRestore<int> keepWaitTime(fWaitTime);
  fWaitTime = kStartKernelWaitTime;
  return SendCommand(cmdStartKernel);
}

bool TCommunicator::StartPLC() {
  return SendCommand(cmdStartPLC);
}

bool TCommunicator::StopPLC() {
  return SendCommand(cmdStopPLC);
}

bool TCommunicator::DataInit() {
  return SendCommand(cmdDataInit);
}

bool TCommunicator::FlashInit(uint8_t sector_flags, uint8_t clear_plc_var) {
  TRestore<int> keepWaitTime(fWaitTime);
  fWaitTime = kFlashInitWaitTime;
  const uint8_t params[2] = {sector_flags, clear_plc_var};
  return Request(cmdFlashInit, params, sizeof params);
}

bool TCommunicator::ReadStatus(TSysStatus& sys_status, TPLCStatus& plc_status) {
  if (!Request(cmdReadStatus, nullptr, 0)) return false;
  TAnswerBuffer body;
  int count = 0;
  if (!AnswerBytes(*this, body, count) || count < 2) return false;
  // Each byte is judged on its own: a controller that reports an unknown PLC state
  // still tells what it runs.
  bool ok = true;
  if (body[0] <= ssNone) {
    sys_status = static_cast<TSysStatus>(body[0]);
  } else {
    ok = false;
  }
  if (body[1] <= psNone) {
    plc_status = static_cast<TPLCStatus>(body[1]);
  } else {
    ok = false;
  }
  return ok;
}

bool TCommunicator::CheckIfTarvoIsRunning() {
  TSysStatus sys = ssNone;
  TPLCStatus plc = psNone;
  const int calls = (fNoRetries > 0 ? fNoRetries : 0) + 1;
  for (int i = 0; i < calls; ++i) {
    if (ReadStatus(sys, plc)) return sys == ssKernel && plc == psRun;
  }
  return false;
}

namespace {

template <typename TRecord>
bool CopyRecordFromAnswer(const TCommunicator& comm, TRecord& record) {
  TAnswerBuffer body;
  int count = 0;
  if (!AnswerBytes(comm, body, count) || count < static_cast<int>(sizeof(TRecord))) return false;
  std::memcpy(&record, body.data(), sizeof(TRecord));
  return true;
}

}  // namespace

bool TCommunicator::ReadLoaderHeader(TLoaderHeader& loaderHeader) {
  return Request(cmdReadLoaderHeader, nullptr, 0) && CopyRecordFromAnswer(*this, loaderHeader);
}

bool TCommunicator::ReadKernelHeader(TKernelHeader& kernelHeader) {
  return Request(cmdReadKernelHeader, nullptr, 0) && CopyRecordFromAnswer(*this, kernelHeader);
}

bool TCommunicator::GetTarvoPasswordCRC(uint16_t& CRC) {
  if (!Ping()) return false;
  TAnswerBuffer body;
  int count = 0;
  if (!AnswerBytes(*this, body, count)) return false;
  // A controller without a password answers with an empty body, which is the hash of
  // the empty password.
  if (count == 0) {
    CRC = 0;
    return true;
  }
  if (count != 2) return false;
  CRC = GetLE16(body.data());
  return true;
}

bool TCommunicator::IEX_Messages(int& length, uint8_t* buffer, int bufferSize) {
  // The request carries the length field and the message; both must fit one frame and
  // the message must come from the caller's buffer.
  if (length < 0 || length > bufferSize || (length > 0 && buffer == nullptr) ||
      length + 2 > kMaxParameterBytes) {
    return false;
  }
  std::array<uint8_t, kFrameBufferSize> params{};
  PutLE16(params.data(), static_cast<uint16_t>(length));
  if (length > 0) std::memcpy(params.data() + 2, buffer, static_cast<size_t>(length));
  if (!Request(cmdIEXMessages, params.data(), length + 2)) return false;

  TAnswerBuffer body;
  int count = 0;
  if (!AnswerBytes(*this, body, count) || count <= 2) return false;
  const int m = GetLE16(body.data());
  length = m;
  // The message follows the two-byte length field, so the body must hold m + 2 bytes;
  // an answer longer than the caller's buffer is refused rather than cut.
  if (m > count - 2 || m > bufferSize || (m > 0 && buffer == nullptr)) return false;
  if (m > 0) std::memcpy(buffer, body.data() + 2, static_cast<size_t>(m));
  return true;
}

void TCommunicator::SetTarvoNAD(int32_t NAD) {
  if (NAD == fTarvoNAD) return;
  fTarvoNAD = NAD;
  {
    // Answers still due from the controller addressed before are no concern of the new one.
    std::lock_guard lock(fMutex);
    fMatcher.Forget();
  }
  // The new controller is reached by broadcast until Connect learns its address.
  fTarvoIP.clear();
}

void TCommunicator::SetTarvoStaticIP(const std::string& IP) {
  fTarvoStaticIP = IP;
  std::string host;
  int port = -1;
  if (!ParseHostAndPort(IP, host, port)) {
    host = IP;
    port = kDefaultTarvoPort;
  }
  if (port < 0) port = kDefaultTarvoPort;
  fTarvoIP = host;
  fTarvoPort = port;
}

bool TCommunicator::DetectTarvos(std::vector<std::string>* NADList,
                                 std::vector<std::string>* IPList, int Timeout,
                                 std::vector<TMessageDirection>* Codes) {
  if (NADList == nullptr || IPList == nullptr) return false;
  {
    // Whatever happens below, the caller gets its communicator back as it was.
    TRestore<int> keepWaitTime(fWaitTime);
    TRestore<int> keepRetries(fNoRetries);
    TRestore<int32_t> keepNAD(fTarvoNAD);
    TRestore<std::string> keepIP(fTarvoIP);

    // NAD 0 with no address: the one request goes out by broadcast, and without repeats
    // there is neither a second request nor an adapter rotation.
    fTarvoNAD = 0;
    fTarvoIP.clear();
    fWaitTime = Timeout;
    fNoRetries = 0;
    {
      std::lock_guard<std::mutex> lock(fMutex);
      fNADList.clear();
      fIPList.clear();
      fCodeList.clear();
      fListTarvosReq = true;
    }
    TScopeExit collectionOff([this] {
      std::lock_guard<std::mutex> lock(fMutex);
      fListTarvosReq = false;
    });
    Ping();
    collectionOff.Run();
    // The listener fills the lists; copying them under its lock after the wait has
    // ended hands them over whole.
    std::lock_guard<std::mutex> lock(fMutex);
    NADList->clear();
    IPList->clear();
    if (Codes != nullptr) Codes->clear();
    for (size_t i = 0; i < fNADList.size(); ++i) {
      // A caller that cannot tell a refusal from an acknowledgement gets only the latter.
      if (Codes == nullptr && fCodeList[i] != md_ACK) continue;
      NADList->push_back(fNADList[i]);
      IPList->push_back(fIPList[i]);
      if (Codes != nullptr) Codes->push_back(fCodeList[i]);
    }
  }
  return true;
}
