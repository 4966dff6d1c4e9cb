// The UDP endpoint seam of the communicator.
#pragma once

// Loopback-only mode: every send to a destination outside 127.0.0.0/8 is refused as a
// failed send. Test executables switch it on before any test runs; the shipped programs
// never do.
void SetUdpLoopbackOnly(bool on);
bool UdpLoopbackOnly();

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// Where a datagram came from and which local binding received it.
struct TDatagramInfo {
  std::string PeerIP;
  int PeerPort = 0;
  std::string LocalIP;
  int LocalPort = 0;
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

std::unique_ptr<TUdpEndpoint> CreatePosixUdpEndpoint();
