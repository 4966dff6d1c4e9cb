// The communicator's transport: binding, the request/answer transaction with repeats,
// the receive side on the endpoint's listener thread, and the debug log.
#include "comm/uCommunication.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
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
constexpr size_t kMaxInFlight = 1024;

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
    if (!HexToBytes(std::string_view(text).substr(4, 4), lengthBytes, 2, count)) return;
    const int L = lengthBytes[0] | (lengthBytes[1] << 8);
    const bool lengthValid = L >= kMinFrameLength && L <= kMaxFrameLength;
    if (lengthValid && text.size() < static_cast<size_t>(2 * L + 28)) return;  // incomplete
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
  } catch (...) {
    return false;
  }
}

void TCommunicator::Close() {
  try {
    fUDPDriver->Deactivate();
  } catch (...) {
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
      fInFlight.clear();
      fLastFrame = TLastFrame{};
    }
    ++fCancelGeneration;
    fAnswerCv.notify_all();
    fUDPDriver->Deactivate();
    fUDPDriver->ClearBindings();
    fUDPDriver->SetDefaultPort(0);
    return true;
  } catch (...) {
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
  } catch (...) {
  }
}

void TCommunicator::SetDirectConnection(bool Value) {
  fDirectConnection = Value;
  BindEthernetAdapter();
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

bool TAnswerShape::Fits(int bodyLength) const {
  switch (Kind) {
    case akExact:
      return bodyLength == Length;
    case akPing:
      return bodyLength == 0 || bodyLength == 2;
    case akAny:
      return true;
  }
  return true;
}

bool TAnswerShape::Overlaps(const TAnswerShape& other) const {
  if (Kind == akAny || other.Kind == akAny) return true;
  if (Kind == akExact) return other.Fits(Length);
  if (other.Kind == akExact) return Fits(other.Length);
  return true;  // two ping shapes
}

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
  return Transact(buffer, length, shape);
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
  return Transact(frame, length, TAnswerShape::AnyLength());
}

bool TCommunicator::Transact(const uint8_t* frame, int length, TAnswerShape shape) {
  if (frame == nullptr || length < 0) return false;
  const std::string key(reinterpret_cast<const char*>(frame), static_cast<size_t>(length));
  const bool discovery = fListTarvosReq.load();
  fLateBoundMs.store(LateAnswerBound().count());
  if (!discovery && !BringInStep(key, shape)) return false;
  bool success = false;
  try {
    for (int attempt = 0; attempt <= fNoRetries && !success; ++attempt) {
      std::string destination = fTarvoIP;
      bool logged = false;
      try {
        if (fAutoChangeEthAdapter && attempt > 0 && fEthAdapterList->Count() > 0) {
          RotateAdapter();
        }
        destination = Destination();
      } catch (...) {
        // Where the attempt goes stays as it was; its send may fail and the wait runs out.
      }
      {
        // The wait opens for this very request, in one step with its description: an
        // answer to the previous request that comes in now must be judged against this
        // one. From here on the attempt is on its way, and its answer may come at once.
        std::lock_guard lock(fMutex);
        const auto now = std::chrono::steady_clock::now();
        PrepareWaitLocked();
        fOpen.Attempt = attempt;
        if (attempt == 0) {
          fOpen = TOpenRequest{};
          fOpen.Key = key;
          fOpen.Shape = shape;
          fOpen.NAD = static_cast<uint32_t>(fTarvoNAD);
          fOpen.AnyNAD = discovery || fTarvoNAD == 0;
          // Sent to the controller's own address, only that address can answer; by
          // broadcast, the NAD alone tells.
          const bool toController = !fDirectConnection && destination == fTarvoIP;
          fOpen.IP = toController && IsUnicastAddress(destination) ? destination : std::string();
          fOpen.FirstSent = now;
        }
        if (!discovery) {
          // Bounded, so that a controller that never answers cannot make the list grow
          // without end; the oldest entry is the first to run out anyway.
          if (fInFlight.size() >= kMaxInFlight) fInFlight.pop_front();
          fInFlight.push_back({key, shape, fOpen.NAD, fOpen.IP, now, now + LateAnswerBound()});
        }
      }
      fWaitPrepared = true;
      try {
        // The entry is written before the frame leaves: on loopback the answer can be
        // received, and its Rx entry written, before the send returns. Activating first
        // (as the send would) gives the entry the socket's real local port.
        if (fLogToFile.load()) {
          if (!fUDPDriver->Active()) fUDPDriver->Activate();
          LogSend(destination, frame, length);
          logged = true;
        }
        const bool sent =
            fUDPDriver->Send(destination, fTarvoPort, frame, static_cast<size_t>(length));
        if (!sent && !discovery) {
          // Nothing left, so nothing can come back for this attempt.
          std::lock_guard lock(fMutex);
          if (!fInFlight.empty() && fInFlight.back().Key == key) fInFlight.pop_back();
        }
        if (fOnSend) fOnSend();
      } catch (...) {
        // A failed send only means that no answer will come; the wait runs out and the
        // next attempt follows.
      }
      if (!logged) LogSend(destination, frame, length);
      success = WaitForAnswer(fWaitTime);
    }
  } catch (...) {
    return false;
  }
  return success;
}

void TCommunicator::DropExpiredInFlight(std::chrono::steady_clock::time_point now) {
  std::erase_if(fInFlight, [&](const TInFlight& e) { return e.Expires <= now; });
}

bool TCommunicator::AnswerLengthIsAmbiguous(int length, const std::string& frame) const {
  std::lock_guard lock(fMutex);
  const auto now = std::chrono::steady_clock::now();
  for (const TInFlight& e : fInFlight) {
    if (e.Expires > now && e.Key != frame && e.Shape.Fits(length)) return true;
  }
  // A network's copy of the last answer comes right behind it.
  return fLastFrame.BodyLength == length && fLastFrame.Key != frame &&
         now - fLastFrame.At <= LateAnswerBound();
}

bool TCommunicator::BringInStep(const std::string& key, const TAnswerShape& shape) {
  using Clock = std::chrono::steady_clock;
  const auto hook = ProcessEventsHook();
  const uint64_t generation = fCancelGeneration.load();
  std::unique_lock lock(fMutex);
  for (;;) {
    const auto now = Clock::now();
    DropExpiredInFlight(now);
    Clock::time_point until = Clock::time_point::max();
    for (const TInFlight& e : fInFlight) {
      if (e.Key != key && e.Shape.Overlaps(shape)) until = std::min(until, e.Expires);
    }
    if (until == Clock::time_point::max()) return true;
    if (hook) {
      lock.unlock();
      hook();
      lock.lock();
      until = std::min(until, Clock::now() + std::chrono::milliseconds(1));
    }
    fAnswerCv.wait_until(lock, until);
    if (fCancelGeneration.load() != generation) return false;
  }
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
  if (fSpinMisses.load(std::memory_order_relaxed) < kSpinMissesBeforeSleep) {
    SpinForAnswer(lock, start + spinFor);
  }
  const bool spinSawIt = lock.owns_lock();
  if (!spinSawIt) lock.lock();
  while (!ready() && !cancel) {
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

void TCommunicator::RememberFrame(const std::string& frame, const std::string& key, int bodyLength,
                                  std::chrono::steady_clock::time_point arrived) {
  fLastFrame.Text = frame;
  fLastFrame.Key = key;
  fLastFrame.BodyLength = bodyLength;
  fLastFrame.At = arrived;
}

bool TCommunicator::ConsumeInFlight(const std::string& key, bool anyShape, int bodyLength,
                                    uint32_t fromNAD, const std::string& fromIP,
                                    std::chrono::steady_clock::time_point arrived) {
  // The oldest attempt this frame can answer: sent to that controller before the frame
  // arrived, with an answer of that shape (a refusal fits every request), of the given
  // request when one is named.
  for (auto it = fInFlight.begin(); it != fInFlight.end(); ++it) {
    if (!key.empty() && it->Key != key) continue;
    if (it->NAD != fromNAD || (!it->IP.empty() && it->IP != fromIP)) continue;
    if (it->Sent > arrived || it->Expires <= arrived) continue;
    if (!anyShape && !it->Shape.Fits(bodyLength)) continue;
    fInFlight.erase(it);
    return true;
  }
  return false;
}

void TCommunicator::RouteFrame(const std::string& frame, uint32_t fromNAD, uint32_t toNAD,
                               uint8_t direction, uint8_t msgType, const std::string& body,
                               const TDatagramInfo& info) {
  const auto arrived = info.ArrivedAt == std::chrono::steady_clock::time_point{}
                           ? std::chrono::steady_clock::now()
                           : info.ArrivedAt;
  const int bodyLength = static_cast<int>(body.size() / 2);
  const bool answerToTool = toNAD == kToolNAD && msgType == mt_COMMAND && direction != md_REQ;
  const bool positive = direction == md_ACK;
  // Ends the open wait with this frame as its answer.
  const auto take = [&] {
    CloseWaitLocked(true);
    fCommState.store(csREADY);
  };
  const auto keepWaiting = [&] { fCommState.store(fWaitOpen ? csWAITING : csREADY); };

  if (fListTarvosReq.load() && fWaitOpen) {
    // Discovery: every acknowledgement to the tool is a controller; a refusal (a wrong
    // password) ends the collection; anything else cannot be an answer to the ping.
    if (answerToTool && positive) {
      fNADList.push_back(std::to_string(fromNAD));
      fIPList.push_back(info.PeerIP);
      fCommState.store(csWAITING);
    } else if (answerToTool) {
      take();
    } else {
      keepWaiting();
    }
    return;
  }
  if (!answerToTool) {
    // Addressed to someone else, or no answer at all: it cannot end a wait.
    keepWaiting();
    return;
  }

  DropExpiredInFlight(arrived);
  // A network can deliver a datagram twice. A copy is the very frame counted last; it
  // must neither count as a further answer nor be taken for another request's answer.
  // Answers without a body (acknowledged writes) are all alike, and tell nothing by their
  // bytes; only their count matters, and a write's effect is checked by reading back.
  const bool copyOfLast = bodyLength > 0 && frame == fLastFrame.Text &&
                          arrived - fLastFrame.At <= std::chrono::milliseconds(fLateBoundMs.load());

  if (fWaitOpen) {
    const bool fromTarget = (fOpen.AnyNAD || fromNAD == fOpen.NAD) &&
                            (fOpen.IP.empty() || info.PeerIP == fOpen.IP) &&
                            arrived >= fOpen.FirstSent;
    if (fromTarget && positive && fOpen.Shape.Fits(bodyLength)) {
      if (copyOfLast && fLastFrame.Key != fOpen.Key && fOpen.Attempt == 0) {
        // The same bytes as the last answer to a different request: a copy of that
        // answer (a network may deliver one several times, right behind each other).
        // Were it this request's own answer by chance, the repeat brings it again, and a
        // repeat takes it.
        keepWaiting();
        return;
      }
      // The same bytes as the last answer to this very request are as good an answer.
      // Should they have been a copy, the request's own answer is still to come; it has
      // the same bytes again and is known as the copy then.
      ConsumeInFlight(fOpen.Key, false, bodyLength, fromNAD, info.PeerIP, arrived);
      RememberFrame(frame, fOpen.Key, bodyLength, arrived);
      take();
      return;
    }
    if (fromTarget && !positive) {
      // A refusal names no request. It ends this wait only when no other request can
      // still be answered; otherwise it is counted against the oldest one.
      const bool othersOpen = std::any_of(fInFlight.begin(), fInFlight.end(),
                                          [&](const TInFlight& e) { return e.Key != fOpen.Key; });
      if (!othersOpen) {
        ConsumeInFlight(fOpen.Key, true, bodyLength, fromNAD, info.PeerIP, arrived);
        RememberFrame(frame, fOpen.Key, bodyLength, arrived);
        take();
        return;
      }
    }
  }
  // A late answer, a copy, or something from elsewhere: counted against the attempt it
  // can answer, if any, and the wait goes on.
  if (!copyOfLast && ConsumeInFlight({}, !positive, bodyLength, fromNAD, info.PeerIP, arrived)) {
    RememberFrame(frame, {}, bodyLength, arrived);
  }
  keepWaiting();
}

void TCommunicator::HandleDatagram(const uint8_t* data, size_t size, const TDatagramInfo& info) {
  size = std::min(size, kMaxDatagramSize);
  {
    std::lock_guard lock(fMutex);
    fHostIp = info.LocalIP;
    fHostPort = info.LocalPort;
  }
  if (fOnRecieve) fOnRecieve();
  const std::string text = BytesToHex(data, size);
  if (fLogToFile.load()) {
    LogLine(Route("Rx", info.PeerIP, info.PeerPort, info.LocalIP, info.LocalPort, text));
  }

  std::string frame, body;
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
      if (!DecodeFrame(RecMessage, frame, fromNAD, toNAD, direction, msgType, body)) return;
    }

    fResponseErrorCode = static_cast<TMessageDirection>(direction);
    fSenderNAD = static_cast<int32_t>(fromNAD);
    fReceiverNAD = static_cast<int32_t>(toNAD);
    fLastAnswer = frame;
    fLastData = body;
    fLastIP = info.PeerIP;
    fLastPort = info.PeerPort;
    RouteFrame(frame, fromNAD, toNAD, direction, msgType, body, info);
  }
  fAnswerCv.notify_all();
  // Raised once the answer is published, outside the lock, so that the handler may use
  // the accessors.
  if (fOnQLinkRead && (toNAD == 1 || toNAD == 0)) {
    fOnQLinkRead(info.PeerIP, info.PeerPort, static_cast<int32_t>(fromNAD),
                 static_cast<int32_t>(toNAD), static_cast<TMessageDirection>(direction),
                 static_cast<TMessageType>(msgType), frame, body);
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
    // The log must never disturb a transaction.
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
