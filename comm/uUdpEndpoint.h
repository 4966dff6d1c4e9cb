// The UDP endpoint seam of the communicator.
#pragma once

// Loopback-only mode: every send to a destination outside 127.0.0.0/8 is refused as a
// failed send. Test executables switch it on before any test runs; the shipped programs
// never do.
void SetUdpLoopbackOnly(bool on);
bool UdpLoopbackOnly();

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// Whether a send to this IPv4 address (top byte first) may go out: always, unless
// loopback-only mode is on and the address lies outside 127.0.0.0/8.
bool UdpDestinationAllowed(uint32_t address);

// The receive side looks at no more than this many bytes of one datagram. A QLink frame
// is at most 1038 bytes, so a longer datagram is never a single frame; the endpoint
// hands on its first kMaxDatagramSize bytes and drops the rest.
constexpr size_t kMaxDatagramSize = 2048;

// Where a datagram came from and which local binding received it.
struct TDatagramInfo {
  std::string PeerIP;
  int PeerPort = 0;
  std::string LocalIP;
  int LocalPort = 0;
  // When the datagram reached the host (the kernel's receive time where the socket gives
  // it), on the steady clock; the epoch when unknown. An answer that arrived before its
  // request went out cannot be that request's answer.
  std::chrono::steady_clock::time_point ArrivedAt{};
};

// One UDP socket with one binding, broadcast enabled, and a listener thread that hands
// every datagram to the handler.
class TUdpEndpoint {
 public:
  using THandler = std::function<void(const uint8_t* data, size_t size, const TDatagramInfo&)>;

  virtual ~TUdpEndpoint() = default;
  // The handler runs on the listener thread; set it before activating.
  virtual void SetHandler(THandler handler) = 0;
  // Replaces the bindings by one; takes effect at the next activation.
  virtual void SetBinding(const std::string& ip, int port) = 0;
  virtual void ClearBindings() = 0;
  virtual void SetDefaultPort(int port) = 0;
  // Binds (the binding, or any address and the default port without one) and starts the
  // listener thread. False when the socket cannot be bound.
  virtual bool Activate() = 0;
  // Stops the listener thread and closes the socket.
  virtual void Deactivate() = 0;
  virtual bool Active() const = 0;
  // Sends one datagram, activating the socket on demand; the host is an address or a
  // name. False when it could not be sent (or is refused in loopback-only mode).
  virtual bool Send(const std::string& host, int port, const uint8_t* data, size_t size) = 0;
  virtual std::string LocalIP() const = 0;
  virtual int LocalPort() const = 0;
};

// The endpoint on a POSIX UDP socket: SO_BROADCAST, SO_REUSEADDR, a 4 MiB receive buffer
// (so that a burst of answers to one broadcast is not lost), and a listener thread that
// sleeps in the receive until a datagram arrives or the socket is shut down.
std::unique_ptr<TUdpEndpoint> CreatePosixUdpEndpoint();
