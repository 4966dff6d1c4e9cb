#include "comm/uMemoryUdpEndpoint.h"

#include <algorithm>

TMemoryUdpEndpoint::~TMemoryUdpEndpoint() {
  Deactivate();
}

void TMemoryUdpEndpoint::SetHandler(THandler handler) {
  std::lock_guard lock(fMutex);
  fHandler = std::move(handler);
}

void TMemoryUdpEndpoint::SetBinding(const std::string& ip, int port) {
  std::lock_guard lock(fMutex);
  fHasBinding = true;
  fBindIP = ip;
  fBindPort = port;
}

void TMemoryUdpEndpoint::ClearBindings() {
  std::lock_guard lock(fMutex);
  fHasBinding = false;
  fBindIP.clear();
  fBindPort = 0;
}

void TMemoryUdpEndpoint::SetDefaultPort(int port) {
  std::lock_guard lock(fMutex);
  fDefaultPort = port;
}

bool TMemoryUdpEndpoint::Activate() {
  std::lock_guard lock(fMutex);
  return ActivateLocked();
}

bool TMemoryUdpEndpoint::ActivateLocked() {
  if (fActive) return true;
  if (fActivateFails) return false;
  fActive = true;
  ++fActivations;
  const uint64_t generation = ++fGeneration;
  if (!fInline) fThread = std::thread([this, generation] { Run(generation); });
  return true;
}

void TMemoryUdpEndpoint::Deactivate() {
  std::unique_lock lock(fMutex);
  StopDelivery(lock);
}

void TMemoryUdpEndpoint::StopDelivery(std::unique_lock<std::mutex>& lock) {
  if (!fActive) return;
  fActive = false;
  ++fGeneration;
  // Datagrams still queued die with the socket.
  fDropped += fQueue.size();
  fQueue.clear();
  fQueueCv.notify_all();
  std::thread thread = std::move(fThread);
  lock.unlock();
  if (thread.joinable()) {
    if (thread.get_id() == std::this_thread::get_id()) {
      thread.detach();  // deactivated from the handler: the loop ends when it returns
    } else {
      thread.join();
    }
  }
  lock.lock();
  fIdleCv.notify_all();
}

bool TMemoryUdpEndpoint::Active() const {
  std::lock_guard lock(fMutex);
  return fActive;
}

bool TMemoryUdpEndpoint::Send(const std::string& host, int port, const uint8_t* data, size_t size) {
  TMemoryDatagram sent{host, port, std::vector<uint8_t>(data, data + size)};
  TResponder responder;
  {
    std::lock_guard lock(fMutex);
    if (!ActivateLocked()) return false;
    fSent.push_back(sent);
    if (fSendFails) return false;
    responder = fResponder;
  }
  if (responder) {
    for (auto& reply : responder(sent)) Deliver(std::move(reply));
  }
  return true;
}

std::string TMemoryUdpEndpoint::LocalIP() const {
  std::lock_guard lock(fMutex);
  return fHasBinding && !fBindIP.empty() ? fBindIP : "0.0.0.0";
}

int TMemoryUdpEndpoint::LocalPort() const {
  std::lock_guard lock(fMutex);
  const int port = fHasBinding ? fBindPort : fDefaultPort;
  return port == 0 ? kChosenPort : port;
}

void TMemoryUdpEndpoint::SetResponder(TResponder responder) {
  std::lock_guard lock(fMutex);
  fResponder = std::move(responder);
}

void TMemoryUdpEndpoint::Deliver(TMemoryReply reply) {
  std::unique_lock lock(fMutex);
  if (!fActive) {
    ++fDropped;
    return;
  }
  reply.ArrivedAt = std::chrono::steady_clock::now();
  if (fInline) {
    const THandler handler = fHandler;
    const TDatagramInfo info = InfoLocked(reply);
    lock.unlock();
    if (handler) handler(reply.Bytes.data(), std::min(reply.Bytes.size(), kMaxDatagramSize), info);
    return;
  }
  fQueue.push_back(std::move(reply));
  fQueueCv.notify_all();
}

void TMemoryUdpEndpoint::SetInlineDelivery(bool on) {
  std::lock_guard lock(fMutex);
  fInline = on;
}

TDatagramInfo TMemoryUdpEndpoint::InfoLocked(const TMemoryReply& reply) const {
  TDatagramInfo info;
  info.PeerIP = reply.FromIP;
  info.PeerPort = reply.FromPort;
  info.LocalIP = fHasBinding && !fBindIP.empty() ? fBindIP : "0.0.0.0";
  const int port = fHasBinding ? fBindPort : fDefaultPort;
  info.LocalPort = port == 0 ? kChosenPort : port;
  info.ArrivedAt = reply.ArrivedAt;
  return info;
}

void TMemoryUdpEndpoint::WaitUntilDelivered() {
  std::unique_lock lock(fMutex);
  fIdleCv.wait(lock, [this] { return fQueue.empty() && !fDelivering; });
}

void TMemoryUdpEndpoint::Run(uint64_t generation) {
  // Each activation has its own generation, so that a loop left running after a
  // deactivation from inside the handler ends instead of competing with the next one.
  std::unique_lock lock(fMutex);
  for (;;) {
    fQueueCv.wait(lock, [&] { return generation != fGeneration || !fQueue.empty(); });
    if (generation != fGeneration) break;
    TMemoryReply reply = std::move(fQueue.front());
    fQueue.pop_front();
    fDelivering = true;
    THandler handler = fHandler;
    const TDatagramInfo info = InfoLocked(reply);
    lock.unlock();
    // As a socket would: a longer datagram arrives cut to the receive buffer.
    const size_t size = std::min(reply.Bytes.size(), kMaxDatagramSize);
    if (handler) handler(reply.Bytes.data(), size, info);
    lock.lock();
    fDelivering = false;
    fIdleCv.notify_all();
  }
}

void TMemoryUdpEndpoint::SetSendFails(bool fails) {
  std::lock_guard lock(fMutex);
  fSendFails = fails;
}

void TMemoryUdpEndpoint::SetActivateFails(bool fails) {
  std::lock_guard lock(fMutex);
  fActivateFails = fails;
}

std::vector<TMemoryDatagram> TMemoryUdpEndpoint::Sent() const {
  std::lock_guard lock(fMutex);
  return fSent;
}

size_t TMemoryUdpEndpoint::SentCount() const {
  std::lock_guard lock(fMutex);
  return fSent.size();
}

void TMemoryUdpEndpoint::ClearSent() {
  std::lock_guard lock(fMutex);
  fSent.clear();
}

bool TMemoryUdpEndpoint::HasBinding() const {
  std::lock_guard lock(fMutex);
  return fHasBinding;
}

std::string TMemoryUdpEndpoint::BindIP() const {
  std::lock_guard lock(fMutex);
  return fBindIP;
}

int TMemoryUdpEndpoint::BindPort() const {
  std::lock_guard lock(fMutex);
  return fBindPort;
}

int TMemoryUdpEndpoint::DefaultPort() const {
  std::lock_guard lock(fMutex);
  return fDefaultPort;
}

int TMemoryUdpEndpoint::Activations() const {
  std::lock_guard lock(fMutex);
  return fActivations;
}

size_t TMemoryUdpEndpoint::Dropped() const {
  std::lock_guard lock(fMutex);
  return fDropped;
}
