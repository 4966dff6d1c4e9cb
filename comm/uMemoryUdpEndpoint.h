// An in-memory UDP endpoint for unit tests: it records every datagram sent and delivers
// datagrams that a test (or a scripted controller) hands it on a delivery thread of its
// own, as a socket's listener thread would. Nothing ever reaches a network, so it can
// try the sends that must never leave a test on a real one (255.255.255.255).
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "comm/uUdpEndpoint.h"

// One datagram the endpoint was asked to send.
struct TMemoryDatagram {
  std::string Host;  // the destination exactly as given (address or name)
  int Port = 0;
  std::vector<uint8_t> Bytes;
};

// One datagram to deliver to the handler, with the sender's address.
struct TMemoryReply {
  std::vector<uint8_t> Bytes;
  std::string FromIP = "127.0.0.10";
  int FromPort = 8442;
  // Set when the datagram is queued: that is when it "reaches the host".
  std::chrono::steady_clock::time_point ArrivedAt{};
};

class TMemoryUdpEndpoint final : public TUdpEndpoint {
 public:
  // Called on the sending thread with each datagram sent; the datagrams it returns are
  // queued for delivery after it (a scripted controller's answers).
  using TResponder = std::function<std::vector<TMemoryReply>(const TMemoryDatagram& sent)>;

  // The local port reported while the binding asks for port 0 ("the system chooses").
  static constexpr int kChosenPort = 49152;

  TMemoryUdpEndpoint() = default;
  ~TMemoryUdpEndpoint() override;

  void SetHandler(THandler handler) override;
  void SetBinding(const std::string& ip, int port) override;
  void ClearBindings() override;
  void SetDefaultPort(int port) override;
  bool Activate() override;
  void Deactivate() override;
  bool Active() const override;
  bool Send(const std::string& host, int port, const uint8_t* data, size_t size) override;
  std::string LocalIP() const override;
  int LocalPort() const override;

  void SetResponder(TResponder responder);
  // Queues a datagram for the delivery thread. While the endpoint is inactive nothing is
  // listening, and the datagram is dropped as a closed socket would drop it.
  void Deliver(TMemoryReply reply);
  void Deliver(const std::vector<uint8_t>& bytes, const std::string& fromIP = "127.0.0.10",
               int fromPort = 8442) {
    Deliver(TMemoryReply{bytes, fromIP, fromPort});
  }
  // Blocks until every queued datagram has been handed to the handler and it returned.
  // Must not be called from the handler.
  void WaitUntilDelivered();

  // Hands every datagram to the handler at once, on the thread that delivers it (for a
  // scripted controller: inside the send), with no delivery thread. For fuzzing, where
  // a thread hand-off per answer would cost more than everything else.
  void SetInlineDelivery(bool on);

  // Sends that fail as a socket error would (they are still recorded).
  void SetSendFails(bool fails);
  // Activation that fails as an unbindable address would.
  void SetActivateFails(bool fails);

  std::vector<TMemoryDatagram> Sent() const;
  size_t SentCount() const;
  void ClearSent();
  bool HasBinding() const;
  std::string BindIP() const;
  int BindPort() const;
  int DefaultPort() const;
  int Activations() const;
  size_t Dropped() const;

 private:
  bool ActivateLocked();
  TDatagramInfo InfoLocked(const TMemoryReply& reply) const;
  void Run(uint64_t generation);
  void StopDelivery(std::unique_lock<std::mutex>& lock);

  mutable std::mutex fMutex;
  std::condition_variable fQueueCv;  // the delivery thread waits for work or stop
  std::condition_variable fIdleCv;   // WaitUntilDelivered waits for an empty queue
  THandler fHandler;
  TResponder fResponder;
  bool fHasBinding = false;
  std::string fBindIP;
  int fBindPort = 0;
  int fDefaultPort = 0;
  bool fActive = false;
  uint64_t fGeneration = 0;
  bool fDelivering = false;
  bool fSendFails = false;
  bool fActivateFails = false;
  bool fInline = false;
  int fActivations = 0;
  size_t fDropped = 0;
  std::deque<TMemoryReply> fQueue;
  std::vector<TMemoryDatagram> fSent;
  std::thread fThread;
};
