// The communicator's transport: binding, the request/answer transaction with repeats,
// the receive side on the endpoint's listener thread, and the debug log.
#include "comm/uCommunication.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <system_error>
#include <thread>

#include "comm/uAdapterTable.h"
#include "comm/uLogFile.h"

namespace {

constexpr uint32_t kToolNAD = 1;
constexpr int kDirectConnectionPort = 65535;
constexpr const char* kLimitedBroadcast = "255.255.255.255";
// A whole frame is at most 2076 characters of text; collected text beyond this bound
// can hold no frame that is still to complete.
constexpr size_t kMaxCollectedText = 2080;
// How long a wait watches for the answer before it goes to sleep (see SpinForAnswer): half
// as long again as the last answer took, within these bounds. A spin much longer than the
// round trip only takes the processor from the threads that bring the answer in, which
// on a loaded machine makes every round trip slower.
constexpr std::chrono::microseconds kMinAnswerSpin{20};
constexpr std::chrono::microseconds kAnswerSpin{100};
// After this many waits in a row whose answer the spin did not see (a slow network, a
// lost answer, a broadcast's collection), the next waits sleep at once.
constexpr int kSpinMissesBeforeSleep = 3;
// The least time an attempt's answer is waited for after its own wait ran out.
constexpr int kMinLateAnswerBoundMs = 1000;
// Repeats a transaction may add to its own after waiting out copies of earlier answers: a
// repeat after such a wait is sure of its answer, so one is enough unless the answer is
// lost as well.
constexpr int kMaxRepeatsAfterCopies = 2;

// How many waits run in the process now.
std::atomic<int> gWaiting{0};

class TWaitCount {
 public:
  TWaitCount() : fOthers(gWaiting.fetch_add(1, std::memory_order_relaxed)) {}
  ~TWaitCount() { gWaiting.fetch_sub(1, std::memory_order_relaxed); }
  TWaitCount(const TWaitCount&) = delete;
  TWaitCount& operator=(const TWaitCount&) = delete;
  int Others() const { return fOthers; }

 private:
  int fOthers;
};

// The cores a spin may take: all but one, which the listeners and the rest need.
int SpinningCores() {
  static const int cores = std::max(1, static_cast<int>(std::thread::hardware_concurrency()) - 1);
  return cores;
}

std::mutex gHookMutex;
std::function<void()> gProcessEventsHook;
// Whether a hook is set, so that a wait without one need not copy it under the lock.
std::atomic<bool> gHookSet{false};

std::function<void()> ProcessEventsHook() {
  if (!gHookSet.load()) return {};
  std::lock_guard lock(gHookMutex);
  return gProcessEventsHook;
}

// Both threads of every communicator write to the one log; its lines are stamped and
// written under one lock, so that they stay in time order.
std::mutex gLogMutex;

// "yyyy-MM-dd hh:mm:ss.zzz " in local time.
std::string TimeStamp() {
  const auto now = std::chrono::system_clock::now();
  const auto sinceEpoch = now.time_since_epoch();
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch - seconds);
  const std::time_t t = static_cast<std::time_t>(seconds.count());
  std::tm local{};
  localtime_r(&t, &local);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d ", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(ms.count()));
  return text;
}

std::string Route(const char* direction, const std::string& fromIP, int fromPort,
                  const std::string& toIP, int toPort, const std::string& hex) {
  return std::string(direction) + " (" + fromIP + ":" + std::to_string(fromPort) + "->" + toIP +
         ":" + std::to_string(toPort) + "): " + hex;
}

// Position of the first start mark on a byte boundary of hexadecimal text. A match at an
// odd position would straddle two bytes and shift every later byte by half.
size_t FindStartMark(const std::string& text) {
  for (size_t i = 0; i + 4 <= text.size(); i += 2) {
    if (text.compare(i, 4, "AA55") == 0) return i;
  }
  return std::string::npos;
}

// A frame at the front of the collected text that is complete by its length field but
// fails the decoder (a wrong checksum, a length out of range) can never decode, and every
// answer collected behind it would be lost with it. The front is dropped up to the next
// start mark, on a byte boundary, so that those answers still count.
void DropUndecodableFront(std::string& text) {
  for (;;) {
    if (text.size() < 8 || text.compare(0, 4, "AA55") != 0) return;
    uint8_t lengthBytes[2] = {};
    int count = 0;
    if (!HexToBytes(std::string_view(text).substr(2 * kFrameLengthOffset, 4), lengthBytes, 2,
                    count)) {
      return;
    }
    const int L = GetLE16(lengthBytes);
    const bool lengthValid = L >= kMinFrameLength && L <= kMaxFrameLength;
    // A frame is L + 14 bytes, two characters each.
    if (lengthValid && text.size() < static_cast<size_t>(2 * (L + kFrameHeaderSize))) return;
    if (lengthValid && DecodeFailureReason(text).empty()) return;
    const size_t next = FindStartMark(text.substr(2));
    if (next == std::string::npos) {
      text.clear();
      return;
    }
    text.erase(0, next + 2);
  }
}

}  // namespace

void SetProcessEventsHook(std::function<void()> hook) {
  std::lock_guard lock(gHookMutex);
  gProcessEventsHook = std::move(hook);
  gHookSet.store(static_cast<bool>(gProcessEventsHook));
}

std::string TCommunicator::LogFilePath() {
  return ::LogFilePath();
}

void TCommunicator::SetLogFilePath(const std::string& path) {
  ::SetLogFilePath(path);
}

// --- Lifecycle ------------------------------------------------------------------------

TCommunicator::TCommunicator(std::unique_ptr<TUdpEndpoint> endpoint)
    : fUDPDriver(endpoint ? std::move(endpoint) : CreatePosixUdpEndpoint()),
      fEthAdapter(std::make_unique<TEthernetAdapterInfo>()),
      fEthAdapterList(std::make_unique<TEthernetAdapterInfoList>()) {
  // The host's adapters as last read: a controller object made per controller found must
  // not read the system's table each time. Opening the socket reads it afresh.
  std::vector<TAdapterRecord> table;
  LastAdapterTable(table);
  fEthAdapterList->Assign(table);
  fEthAdapter->GetDefault();
  fHostIp = fEthAdapter->IPAddress();
  fUDPDriver->SetHandler([this](const uint8_t* data, size_t size, const TDatagramInfo& info) {
    HandleDatagram(data, size, info);
  });
}

TCommunicator::~TCommunicator() {
  // The listener thread calls back into this object: stop it before any member goes.
  fUDPDriver->Deactivate();
  fUDPDriver.reset();
}

void TCommunicator::SetOnQLinkRead(TQLinkReadEvent e) {
  auto handler = e ? std::make_shared<const TQLinkReadEvent>(std::move(e)) : nullptr;
  std::lock_guard lock(fMutex);
  fOnQLinkRead = std::move(handler);
}

void TCommunicator::SetOnDiscovered(TDiscoveredEvent e) {
  auto handler = e ? std::make_shared<const TDiscoveredEvent>(std::move(e)) : nullptr;
  std::lock_guard lock(fMutex);
  fOnDiscovered = std::move(handler);
}

void TCommunicator::SetOnRecieve(TComEvent e) {
  auto handler = e ? std::make_shared<const TComEvent>(std::move(e)) : nullptr;
  std::lock_guard lock(fMutex);
  fOnRecieve = std::move(handler);
}

bool TCommunicator::Open(const std::string& EthAdapterID) {
  try {
    fUDPDriver->Deactivate();
    // The one read of the host's configuration that a socket needs: the adapter list and
    // the selection below both take it.
    std::vector<TAdapterRecord> table;
    QueryAdapterTable(table);
    fEthAdapterList->Assign(table);
    if (EthAdapterID.empty()) GetLocalIP();
    const bool selected =
        EthAdapterID.empty() ? fEthAdapter->GetDefault() : fEthAdapter->SetByID(EthAdapterID);
    if (!selected) return false;
    BindEthernetAdapter();
    fUDPDriver->Activate();
    return fUDPDriver->Active();
  } catch (const std::system_error& e) {
    // The system refused a resource (a thread for the listener, say): no socket.
    LogLine(std::string("The socket did not open: ") + e.what());
    return false;
  }
}

void TCommunicator::Close() {
  try {
    fUDPDriver->Deactivate();
  } catch (const std::system_error& e) {
    LogLine(std::string("The socket did not close cleanly: ") + e.what());
  }
}

bool TCommunicator::Connect() {
  if (!Ping()) return false;
  fTarvoIP = LastIP();
  return true;
}

bool TCommunicator::Disconnect() {
  try {
    fTarvoIP.clear();
    {
      std::lock_guard lock(fMutex);
      CloseWaitLocked(false);
      fLastAnswer.clear();
      fLastIP.clear();
      fLastData.clear();
      fLastPort = 0;
      fResult.IP.clear();
      fResult.Data.clear();
      fResult.Port = 0;
      fCommState.store(csREADY);
      // The socket goes; no answer to what it sent can reach the next one.
      fMatcher.Forget();
    }
    ++fCancelGeneration;
    fAnswerCv.notify_all();
    fUDPDriver->Deactivate();
    fUDPDriver->ClearBindings();
    fUDPDriver->SetDefaultPort(0);
    return true;
  } catch (const std::system_error& e) {
    LogLine(std::string("The socket did not close cleanly: ") + e.what());
    return false;
  }
}

void TCommunicator::BindEthernetAdapter() {
  try {
    const bool wasActive = fUDPDriver->Active();
    fUDPDriver->Deactivate();
    const int port = fDirectConnection ? kDirectConnectionPort : fPort;
    fUDPDriver->SetBinding(fEthAdapter->IPAddress(), port);
    fUDPDriver->SetDefaultPort(port);
    if (wasActive) fUDPDriver->Activate();
  } catch (const std::system_error& e) {
    // The next send activates the socket on demand, or fails and waits out its time.
    LogLine(std::string("The socket was not bound again: ") + e.what());
  }
}

void TCommunicator::SetDirectConnection(bool Value) {
  fDirectConnection = Value;
  BindEthernetAdapter();
}

void TCommunicator::SetAborted(bool Value) {
  fAborted.store(Value);
  if (Value) CancelAll();
}

void TCommunicator::CancelAll() {
  ++fCancelGeneration;
  {
    std::lock_guard lock(fMutex);
    CloseWaitLocked(false);
    fCommState.store(csREADY);
  }
  fAnswerCv.notify_all();
}

// --- Transactions ---------------------------------------------------------------------

namespace {

// What a command's answer body is, as far as the command fixes it.
TAnswerShape ShapeOfCommand(uint8_t command) {
  switch (command) {
    case cmdPing:
      return TAnswerShape::PingAnswer();
    case cmdReadStatus:
      return TAnswerShape::Exact(2);
    case cmdReadLoaderHeader:
      return TAnswerShape::Exact(static_cast<int>(sizeof(TLoaderHeader)));
    case cmdReadKernelHeader:
      return TAnswerShape::Exact(static_cast<int>(sizeof(TKernelHeader)));
    case cmdStartLoader:
    case cmdStartKernel:
    case cmdFlashInit:
    case cmdWriteCode:
    case cmdDataInit:
    case cmdWriteData:
    case cmdWriteRandom:
    case cmdStartPLC:
    case cmdStopPLC:
      return TAnswerShape::Exact(0);
    default:
      return TAnswerShape::AnyLength();
  }
}

// A request's address when it names one controller; empty for broadcasts and names.
bool IsUnicastAddress(const std::string& destination) {
  return IsValidIP(destination) && destination != "0.0.0.0" && destination != kLimitedBroadcast;
}

}  // namespace

bool TCommunicator::EncodeRequest(uint8_t command, const uint8_t* params, int paramLength,
                                  uint8_t* buffer, uint16_t& length) const {
  if (paramLength < 0 || paramLength > kMaxParameterBytes) return false;
  if (paramLength > 0 && params == nullptr) return false;
  std::fill(buffer, buffer + kFrameBufferSize, uint8_t{0});
  if (paramLength > 0) std::copy(params, params + paramLength, buffer);
  length = static_cast<uint16_t>(paramLength);
  return EncodeFrame(kToolNAD, static_cast<uint32_t>(fTarvoNAD), command, md_REQ, mt_COMMAND,
                     buffer, length, fPasswordCRC);
}

bool TCommunicator::Request(uint8_t command, const uint8_t* params, int paramLength,
                            TAnswerShape shape) {
  // NAD 0 is the discovery address: every controller answers it. Nothing but a ping may
  // go there, or any controller could take a read or a write.
  if (fTarvoNAD == 0 && command != cmdPing && !fListTarvosReq.load()) return false;
  uint8_t buffer[kFrameBufferSize];
  uint16_t length = 0;
  if (!EncodeRequest(command, params, paramLength, buffer, length)) return false;
  return Transact(buffer, length, shape, command);
}

bool TCommunicator::Request(uint8_t command, const uint8_t* params, int paramLength) {
  return Request(command, params, paramLength, ShapeOfCommand(command));
}

bool TCommunicator::SendCommand(uint8_t Command) {
  return Request(Command, nullptr, 0);
}

bool TCommunicator::Ping() {
  return SendCommand(cmdPing);
}

void TCommunicator::RotateAdapter() {
  const int count = fEthAdapterList->Count();
  // An adapter that is not in the list (IndexOf gives -1) moves on to the first one.
  const int next = (fEthAdapterList->IndexOf(fEthAdapter->ID()) + 1) % count;
  const TEthernetAdapterInfo* adapter = fEthAdapterList->Items(next);
  if (adapter == nullptr) return;
  const std::string id = adapter->ID();  // the entry may not outlive a refresh
  fEthAdapter->SetByID(id);
  BindEthernetAdapter();
}

std::string TCommunicator::Destination() const {
  if (fDirectConnection) return kLimitedBroadcast;
  if (!fTarvoIP.empty() && fTarvoIP != "0.0.0.0") return fTarvoIP;
  const std::string broadcast = fEthAdapter->BroadcastAddress();
  return IsValidIP(broadcast) && broadcast != "0.0.0.0" ? broadcast : kLimitedBroadcast;
}

void TCommunicator::LogSend(const std::string& destination, const uint8_t* frame, int length) {
  if (!fLogToFile.load()) return;
  LogLine(Route("Tx", fUDPDriver->LocalIP(), fUDPDriver->LocalPort(), destination, fTarvoPort,
                BytesToHex(frame, static_cast<size_t>(length))));
}

std::chrono::milliseconds TCommunicator::LateAnswerBound() const {
  // An answer that has not come after several time-outs is taken as lost. Answers on a
  // slow link come late, but not this late; the bound only delays the next request that
  // could be confused with such an answer.
  return std::chrono::milliseconds(std::max(4 * std::max(fWaitTime, 0), kMinLateAnswerBoundMs));
}

bool TCommunicator::SendAndWait(const uint8_t* frame, int length) {
  const uint8_t command =
      frame != nullptr && length > kRequestCommandOffset ? frame[kRequestCommandOffset] : 0;
  return Transact(frame, length, TAnswerShape::AnyLength(), command);
}

bool TCommunicator::Transact(const uint8_t* frame, int length, TAnswerShape shape,
                             uint8_t command) {
  if (frame == nullptr || length < 0 || fAborted.load()) return false;
  const bool discovery = fListTarvosReq.load();
  TRequestSpec request;
  request.Key.assign(reinterpret_cast<const char*>(frame), static_cast<size_t>(length));
  request.Command = command;
  request.Shape = shape;
  request.NAD = static_cast<uint32_t>(fTarvoNAD);
  request.AnyNAD = discovery || fTarvoNAD == 0;
  request.Collect = discovery;
  try {
    // Sent to the controller's own address, only that address can answer; by broadcast,
    // the NAD alone tells.
    const std::string destination = Destination();
    if (!fDirectConnection && destination == fTarvoIP && IsUnicastAddress(destination)) {
      request.IP = destination;
    }
  } catch (const std::exception& e) {
    LogLine(std::string("Where the request goes is unknown: ") + e.what());
  }
  {
    std::lock_guard lock(fMutex);
    fMatcher.SetLateBound(LateAnswerBound());
  }
  if (!discovery && !BringInStep(request)) return false;
  {
    std::lock_guard lock(fMutex);
    fMatcher.Begin(request);
  }

  bool success = false;
  int repeatsAfterCopies = 0;
  for (int attempt = 0; attempt <= fNoRetries && !success && !fAborted.load(); ++attempt) {
    std::string destination = fTarvoIP;
    bool logged = false;
    try {
      if (fAutoChangeEthAdapter && attempt > 0 && fEthAdapterList->Count() > 0) {
        RotateAdapter();
      }
      destination = Destination();
    } catch (const std::exception& e) {
      // Where the attempt goes stays as it was; its send may fail and the wait runs out.
      LogLine(std::string("Adapter change failed: ") + e.what());
    }
    {
      // The wait opens for this very attempt: an answer that comes in from now on is
      // judged against it. From here on the attempt is on its way, and its answer may come
      // at once.
      std::lock_guard lock(fMutex);
      PrepareWaitLocked();
      fMatcher.AttemptSent(std::chrono::steady_clock::now());
    }
    fWaitPrepared = true;
    // The entry is written before the frame leaves: on loopback the answer can be
    // received, and its Rx entry written, before the send returns. Activating first (as
    // the send would) gives the entry the socket's real local port.
    if (fLogToFile.load()) {
      if (!fUDPDriver->Active()) fUDPDriver->Activate();
      LogSend(destination, frame, length);
      logged = true;
    }
    bool sent = false;
    try {
      sent = fUDPDriver->Send(destination, fTarvoPort, frame, static_cast<size_t>(length));
    } catch (const std::system_error& e) {
      // Activating on demand needs a listener thread; without one nothing goes out.
      LogLine(std::string("The request was not sent: ") + e.what());
    }
    if (!sent) {
      // Nothing left, so nothing can come back for this attempt.
      std::lock_guard lock(fMutex);
      fMatcher.AttemptNotSent();
    }
    if (fOnSend) fOnSend();
    if (!logged) LogSend(destination, frame, length);
    success = WaitForAnswer(fWaitTime);
    if (!success && HoldForCopies() && repeatsAfterCopies < kMaxRepeatsAfterCopies) {
      ++repeatsAfterCopies;
      --attempt;
    }
  }
  return success;
}

bool TCommunicator::AnswerLengthIsTaken(int length, const std::string& frame,
                                        uint8_t command) const {
  std::lock_guard lock(fMutex);
  return fMatcher.LengthIsTaken(length, frame, command, std::chrono::steady_clock::now());
}

bool TCommunicator::PauseLocked(std::unique_lock<std::mutex>& lock,
                                std::chrono::steady_clock::time_point until, uint64_t generation) {
  if (const auto hook = ProcessEventsHook()) {
    lock.unlock();
    hook();
    lock.lock();
    until = std::min(until, std::chrono::steady_clock::now() + std::chrono::milliseconds(1));
  }
  fAnswerCv.wait_until(lock, until);
  return fCancelGeneration.load() == generation;
}

bool TCommunicator::BringInStep(const TRequestSpec& request) {
  const uint64_t generation = fCancelGeneration.load();
  std::unique_lock lock(fMutex);
  for (;;) {
    const auto now = std::chrono::steady_clock::now();
    const auto until = fMatcher.InStepAt(request, now);
    if (until <= now) return true;
    if (!PauseLocked(lock, until, generation)) return false;
  }
}

bool TCommunicator::HoldForCopies() {
  const uint64_t generation = fCancelGeneration.load();
  std::unique_lock lock(fMutex);
  const auto until = fMatcher.SuspectUntil();
  if (!until || *until <= std::chrono::steady_clock::now()) return false;
  while (std::chrono::steady_clock::now() < *until) {
    if (!PauseLocked(lock, *until, generation)) return false;
  }
  return true;
}

void TCommunicator::PrepareWaitLocked() {
  fCommState.store(csWAITING);
  RecMessage.clear();
  fLastAnswer.clear();
  fLastData.clear();
  fLastIP.clear();
  fWaitOpen = true;
  fWaitAnswered = false;
}

void TCommunicator::PrepareWait() {
  {
    std::lock_guard lock(fMutex);
    PrepareWaitLocked();
  }
  fWaitPrepared = true;
}

void TCommunicator::CloseWaitLocked(bool answered) {
  if (!fWaitOpen) return;
  fWaitOpen = false;
  fWaitAnswered = answered;
  fResult.IP = fLastIP;
  fResult.Data = fLastData;
  fResult.Port = fLastPort;
  fResult.SenderNAD = fSenderNAD;
  fResult.Code = fResponseErrorCode;
}

void TCommunicator::SpinForAnswer(std::unique_lock<std::mutex>& lock,
                                  std::chrono::steady_clock::time_point until) {
  // An answer on loopback or a LAN comes within tens of microseconds, and going to sleep
  // and being woken by the listener would cost about as much again. So the wait first
  // watches the state for a moment, yielding so that the listener (and, on loopback, the
  // controller) can run even on a single free core. The lock is taken only when it is
  // free: the listener still holds it for a moment after publishing.
  while (std::chrono::steady_clock::now() < until) {
    if (fCommState.load() == csREADY && lock.try_lock()) return;
    std::this_thread::yield();
  }
}

bool TCommunicator::WaitForAnswer(int timeout) {
  // A wait that SendAndWait prepared before sending keeps what has arrived since.
  if (!fWaitPrepared) PrepareWait();
  fWaitPrepared = false;

  using Clock = std::chrono::steady_clock;
  const auto hook = ProcessEventsHook();
  const auto start = Clock::now();
  const auto deadline =
      start + std::chrono::milliseconds(std::max(timeout, 0)) + std::chrono::milliseconds(1);
  bool cancel = false;
  bool timedOut = false;
  const auto ready = [this] { return fCommState.load() == csREADY; };

  std::unique_lock lock(fMutex, std::defer_lock);
  // The spin pays only where answers come within it; where they have not for a while,
  // it would only burn its whole time on every request. An answer that comes within the
  // spin's time again brings it back.
  const std::chrono::nanoseconds lastAnswer{fLastAnswerNs.load(std::memory_order_relaxed)};
  const auto spinFor = std::clamp<std::chrono::nanoseconds>(lastAnswer + lastAnswer / 2,
                                                            kMinAnswerSpin, kAnswerSpin);
  // A spin takes a core; while more waits run in the process than it has cores (many
  // controllers worked on at once), the cores are better left to the threads that bring
  // the answers in.
  const TWaitCount waiting;
  if (fSpinMisses.load(std::memory_order_relaxed) < kSpinMissesBeforeSleep &&
      waiting.Others() < SpinningCores()) {
    SpinForAnswer(lock, start + spinFor);
  }
  const bool spinSawIt = lock.owns_lock();
  if (!spinSawIt) lock.lock();
  while (!ready() && !cancel && !fAborted.load()) {
    if (hook) {
      lock.unlock();
      hook();
      lock.lock();
    }
    // With someone to serve every millisecond (the user interface, a progress handler)
    // the wait polls; otherwise it sleeps until the answer or the time-out. Either way
    // the listener's notification ends the sleep the moment an answer is published.
    if (hook || fOnProgress) {
      fAnswerCv.wait_for(lock, std::chrono::milliseconds(1), ready);
    } else {
      fAnswerCv.wait_until(lock, deadline, ready);
    }
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    // Compared as signed numbers, so that a negative time-out ends the wait at once
    // instead of never.
    timedOut = static_cast<int64_t>(elapsed) > static_cast<int64_t>(timeout);
    lock.unlock();
    DoProgress(static_cast<uint32_t>(elapsed), static_cast<uint32_t>(timeout),
               static_cast<uint32_t>(timeout), cancel);
    lock.lock();
    if (cancel || timedOut) {
      CloseWaitLocked(false);
      fCommState.store(csREADY);
    }
  }
  CloseWaitLocked(false);
  const auto took = Clock::now() - start;
  if (fWaitAnswered) {
    fLastAnswerNs.store(std::chrono::duration_cast<std::chrono::nanoseconds>(took).count(),
                        std::memory_order_relaxed);
  }
  const bool quick = spinSawIt || (fWaitAnswered && took <= kAnswerSpin);
  fSpinMisses.store(
      quick ? 0 : std::min(fSpinMisses.load(std::memory_order_relaxed) + 1, kSpinMissesBeforeSleep),
      std::memory_order_relaxed);
  // Only a decoded md_ACK succeeds: a wait ended by CancelAll or Disconnect reports
  // failure even when an earlier transaction left md_ACK behind.
  return fWaitAnswered && !timedOut && !cancel && fResult.Code == md_ACK;
}

TVerdict TCommunicator::RouteFrame(const TDecodedFrame& frame, const TDatagramInfo& info) {
  const auto arrived = info.ArrivedAt == std::chrono::steady_clock::time_point{}
                           ? std::chrono::steady_clock::now()
                           : info.ArrivedAt;
  const TVerdict verdict = fMatcher.Judge(frame, arrived, fWaitOpen);
  switch (verdict) {
    case TVerdict::vdTake:
      CloseWaitLocked(true);
      fCommState.store(csREADY);
      break;
    case TVerdict::vdCollect:
      // The receive side appends to the lists only while the collection's wait is open.
      fNADList.push_back(std::to_string(frame.FromNAD));
      fIPList.push_back(info.PeerIP);
      fCodeList.push_back(static_cast<TMessageDirection>(frame.Direction));
      fCommState.store(csWAITING);
      break;
    case TVerdict::vdPass:
      fCommState.store(fWaitOpen ? csWAITING : csREADY);
      break;
  }
  return verdict;
}

void TCommunicator::HandleDatagram(const uint8_t* data, size_t size, const TDatagramInfo& info) {
  size = std::min(size, kMaxDatagramSize);
  std::shared_ptr<const TComEvent> onRecieve;
  std::shared_ptr<const TQLinkReadEvent> onQLinkRead;
  std::shared_ptr<const TDiscoveredEvent> onDiscovered;
  {
    std::lock_guard lock(fMutex);
    fHostIp = info.LocalIP;
    fHostPort = info.LocalPort;
    onRecieve = fOnRecieve;
    onQLinkRead = fOnQLinkRead;
    onDiscovered = fOnDiscovered;
  }
  if (onRecieve) (*onRecieve)();
  const std::string text = BytesToHex(data, size);
  if (fLogToFile.load()) {
    LogLine(Route("Rx", info.PeerIP, info.PeerPort, info.LocalIP, info.LocalPort, text));
  }

  std::string frame, body;
  TVerdict verdict = TVerdict::vdPass;
  uint32_t fromNAD = 0, toNAD = 0;
  uint8_t direction = 0, msgType = 0;
  {
    std::lock_guard lock(fMutex);
    TCommState state = fCommState.load();
    const size_t mark = FindStartMark(text);
    if (state != csRECEIVING && mark != std::string::npos) {
      state = csRECEIVING;
      fCommState.store(state);
    }
    if (state != csRECEIVING) {
      RecMessage.clear();
      return;
    }
    if (RecMessage.empty()) {
      if (mark != std::string::npos) RecMessage.assign(text, mark, std::string::npos);
    } else {
      RecMessage += text;
      if (RecMessage.size() > kMaxCollectedText) {
        RecMessage.clear();
        fCommState.store(csWAITING);
      }
    }
    // Most datagrams hold one whole answer: decoded at once. Only a front that fails is
    // looked at more closely, and dropped when it can never decode.
    if (!DecodeFrame(RecMessage, frame, fromNAD, toNAD, direction, msgType, body)) {
      DropUndecodableFront(RecMessage);
      if (!DecodeFrame(RecMessage, frame, fromNAD, toNAD, direction, msgType, body)) {
        return;
      }
    }

    fResponseErrorCode = static_cast<TMessageDirection>(direction);
    fSenderNAD = static_cast<int32_t>(fromNAD);
    fReceiverNAD = static_cast<int32_t>(toNAD);
    fLastAnswer = frame;
    fLastData = body;
    fLastIP = info.PeerIP;
    fLastPort = info.PeerPort;
    verdict = RouteFrame(
        {frame, fromNAD, toNAD, direction, msgType, static_cast<int>(body.size() / 2), info.PeerIP},
        info);
  }
  fAnswerCv.notify_all();
  // Raised once the answer is published, outside the lock, so that the handler may use
  // the accessors.
  if (onQLinkRead && (toNAD == 1 || toNAD == 0)) {
    (*onQLinkRead)(info.PeerIP, info.PeerPort, static_cast<int32_t>(fromNAD),
                   static_cast<int32_t>(toNAD), static_cast<TMessageDirection>(direction),
                   static_cast<TMessageType>(msgType), frame, body);
  }
  if (onDiscovered && verdict == TVerdict::vdCollect) {
    (*onDiscovered)(fromNAD, info.PeerIP, static_cast<TMessageDirection>(direction));
  }
}

void TCommunicator::DoProgress(uint32_t Progress, uint32_t ProgressMax, uint32_t ScaleMax,
                               bool& Cancel) {
  if (!fOnProgress) return;
  uint32_t value = ScaleMax;
  if (ProgressMax != 0) {
    const double scaled = std::round(static_cast<double>(Progress) / ProgressMax * ScaleMax);
    value = scaled >= 4294967295.0 ? 0xFFFFFFFFu : static_cast<uint32_t>(scaled);
  }
  fOnProgress(value, ScaleMax, Cancel);
}

void TCommunicator::LogLine(const std::string& text) {
  if (!fLogToFile.load()) return;
  try {
    std::lock_guard lock(gLogMutex);
    // A failure is kept by the log file for the front-ends to report.
    AppendToLogFile(TimeStamp() + text + "\r\n");
  } catch (...) {
    // Everything, because the log is a witness and never a party: whatever goes wrong in
    // writing it (no memory for the line, a lock the system refuses) must not end the
    // transaction it records, and there is nowhere else to report it.
  }
}

// --- Results --------------------------------------------------------------------------

TMessageDirection TCommunicator::ResponseErrorCode() const {
  std::lock_guard lock(fMutex);
  return fResult.Code;
}

std::string TCommunicator::HostIP() const {
  std::lock_guard lock(fMutex);
  return fHostIp;
}

int TCommunicator::HostPort() const {
  std::lock_guard lock(fMutex);
  return fHostPort;
}

std::string TCommunicator::LastData() const {
  std::lock_guard lock(fMutex);
  return fResult.Data;
}

std::string TCommunicator::LastIP() const {
  std::lock_guard lock(fMutex);
  return fResult.IP;
}

int TCommunicator::LastPort() const {
  std::lock_guard lock(fMutex);
  return fResult.Port;
}

int32_t TCommunicator::SenderNAD() const {
  std::lock_guard lock(fMutex);
  return fResult.SenderNAD;
}
