// The UDP endpoint on a POSIX socket.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>

#include "comm/uEthernetUtils.h"
#include "comm/uUdpEndpoint.h"

namespace {

constexpr int kReceiveBufferBytes = 4 * 1024 * 1024;

std::string InAddrText(in_addr addr) {
  char text[INET_ADDRSTRLEN] = {};
  if (!inet_ntop(AF_INET, &addr, text, sizeof text)) return {};
  return text;
}

// The socket and the stop signal of one activation. The listener thread keeps its own
// reference, so that a handler which deactivates the endpoint from the listener thread
// itself does not close the descriptors under the running loop.
struct TListenerState {
  int socket = -1;
  std::atomic<bool> stop{false};
  std::string boundIP;  // empty when bound to any address
  int boundPort = 0;

  ~TListenerState() {
    if (socket >= 0) close(socket);
  }
};

// The kernel stamps a datagram with the wall clock as it arrives; the communicator compares
// times on the steady clock. The datagram's age is taken on the wall clock (it is
// microseconds old, so a clock step in between is all but impossible) and subtracted from
// the steady clock's now. Both clocks must be read at one moment: a thread preempted
// between the two readings would date the datagram that much too early, before the request
// it answers went out on a loaded machine, and the answer would be thrown away. So the wall
// clock is read between two readings of the steady clock, again when they lie far apart.
std::chrono::steady_clock::time_point ArrivalOnSteadyClock(const timespec& stamp) {
  using namespace std::chrono;
  constexpr auto kCloseEnough = microseconds(5);
  steady_clock::time_point steadyNow;
  system_clock::time_point wallNow;
  for (int tries = 0;; ++tries) {
    const auto before = steady_clock::now();
    wallNow = system_clock::now();
    const auto after = steady_clock::now();
    steadyNow = before + (after - before) / 2;
    if (after - before <= kCloseEnough || tries == 3) break;
  }
  const auto wallStamp = system_clock::time_point(
      duration_cast<system_clock::duration>(seconds(stamp.tv_sec) + nanoseconds(stamp.tv_nsec)));
  auto age = wallNow - wallStamp;
  if (age < system_clock::duration::zero()) age = {};
  return steadyNow - duration_cast<steady_clock::duration>(age);
}

void Listen(const std::shared_ptr<TListenerState>& state, const TUdpEndpoint::THandler& handler) {
  uint8_t buffer[kMaxDatagramSize];
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo)) + CMSG_SPACE(sizeof(timespec))];
  // One blocking receive per datagram: the thread sleeps in the receive itself, so that an
  // answer costs it one system call. Deactivate wakes it by shutting the socket down.
  while (!state->stop.load()) {
    sockaddr_in peer{};
    iovec iov{buffer, sizeof buffer};
    msghdr msg{};
    msg.msg_name = &peer;
    msg.msg_namelen = sizeof peer;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t n = recvmsg(state->socket, &msg, 0);
    if (state->stop.load()) return;
    if (n < 0) {
      // An interruption, a pending ICMP error (reported once, then cleared) or a moment
      // without memory; anything else means the socket is of no more use.
      if (errno == EINTR || errno == EAGAIN || errno == ECONNREFUSED || errno == EHOSTUNREACH ||
          errno == ENETUNREACH || errno == ENOMEM || errno == ENOBUFS) {
        continue;
      }
      return;
    }
    TDatagramInfo info;
    info.PeerIP = InAddrText(peer.sin_addr);
    info.PeerPort = ntohs(peer.sin_port);
    info.LocalIP = state->boundIP;
    info.LocalPort = state->boundPort;
    std::string pktinfoIP = "0.0.0.0";
    info.ArrivedAt = std::chrono::steady_clock::now();
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c)) {
      if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
        in_pktinfo pkt{};
        std::memcpy(&pkt, CMSG_DATA(c), sizeof pkt);
        pktinfoIP = InAddrText(pkt.ipi_spec_dst);
      } else if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
        timespec stamp{};
        std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
        info.ArrivedAt = ArrivalOnSteadyClock(stamp);
      }
    }
    // Bound to any address: the packet information names the local address the
    // datagram arrived at.
    if (info.LocalIP.empty()) info.LocalIP = pktinfoIP;
    // A datagram longer than the buffer arrives cut to its first kMaxDatagramSize bytes.
    if (handler) handler(buffer, static_cast<size_t>(n), info);
  }
}

class TPosixUdpEndpoint final : public TUdpEndpoint {
 public:
  ~TPosixUdpEndpoint() override { Deactivate(); }

  void SetHandler(THandler handler) override {
    std::lock_guard lock(fMutex);
    fHandler = std::move(handler);
  }
  void SetBinding(const std::string& ip, int port) override {
    std::lock_guard lock(fMutex);
    fHasBinding = true;
    fBindIP = ip;
    fBindPort = port;
  }
  void ClearBindings() override {
    std::lock_guard lock(fMutex);
    fHasBinding = false;
    fBindIP.clear();
    fBindPort = 0;
  }
  void SetDefaultPort(int port) override {
    std::lock_guard lock(fMutex);
    fDefaultPort = port;
  }

  bool Activate() override {
    std::lock_guard lock(fMutex);
    return ActivateLocked();
  }

  void Deactivate() override {
    std::shared_ptr<TListenerState> state;
    std::thread listener;
    {
      std::lock_guard lock(fMutex);
      state = std::move(fState);
      listener = std::move(fListener);
    }
    if (!state) return;
    state->stop.store(true);
    // Ends a receive in progress (an unconnected socket reports ENOTCONN, and still wakes
    // every thread blocked on it).
    shutdown(state->socket, SHUT_RDWR);
    if (!listener.joinable()) return;
    if (listener.get_id() == std::this_thread::get_id()) {
      // Called from a handler: the loop ends by itself when the handler returns and
      // closes the socket with its last reference.
      listener.detach();
    } else {
      listener.join();
    }
  }

  bool Active() const override {
    std::lock_guard lock(fMutex);
    return fState != nullptr;
  }

  bool Send(const std::string& host, int port, const uint8_t* data, size_t size) override {
    // The activation's state, held for the send: a Deactivate meanwhile cannot close the
    // descriptor under it (and let another socket take its number).
    std::shared_ptr<TListenerState> state;
    {
      std::lock_guard lock(fMutex);
      if (!fState && !ActivateLocked()) return false;
      state = fState;
    }
    if (port <= 0 || port > 65535) return false;
    const std::string ip = IsValidIP(host) ? host : ResolveHostName(host);
    if (!IsValidIP(ip)) return false;
    const uint32_t address = IPToInt(ip);
    if (!UdpDestinationAllowed(address)) return false;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(address);
    const ssize_t sent =
        sendto(state->socket, data, size, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    return sent >= 0 && static_cast<size_t>(sent) == size;
  }

  std::string LocalIP() const override {
    std::lock_guard lock(fMutex);
    if (fState) return fLocalIP;
    return fHasBinding && !fBindIP.empty() ? fBindIP : "0.0.0.0";
  }
  int LocalPort() const override {
    std::lock_guard lock(fMutex);
    if (fState) return fLocalPort;
    return fHasBinding ? fBindPort : fDefaultPort;
  }

 private:
  bool ActivateLocked() {
    if (fState) return true;
    const int port = fHasBinding ? fBindPort : fDefaultPort;
    if (port < 0 || port > 65535) return false;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<uint16_t>(port));
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    const bool anyAddress = !fHasBinding || fBindIP.empty() || fBindIP == "0.0.0.0";
    if (!anyAddress) {
      if (!IsValidIP(fBindIP)) return false;
      local.sin_addr.s_addr = htonl(IPToInt(fBindIP));
    }

    auto state = std::make_shared<TListenerState>();
    state->socket = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (state->socket < 0) return false;
    const int on = 1;
    // A fixed port (direct connection's, a configured one) is taken again at once after a
    // re-bind. A port the system chooses must not be shared: with the option set, it may
    // hand out a port another socket of this kind holds, and answers meant for one reach
    // the other.
    if (port != 0) setsockopt(state->socket, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(state->socket, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    setsockopt(state->socket, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    setsockopt(state->socket, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    // Hundreds of controllers answer one broadcast at once; the default buffer would
    // drop most of them. FORCE needs privileges; without them the plain option is
    // capped by the system's limit, which is still better than the default.
    if (setsockopt(state->socket, SOL_SOCKET, SO_RCVBUFFORCE, &kReceiveBufferBytes,
                   sizeof kReceiveBufferBytes) != 0) {
      setsockopt(state->socket, SOL_SOCKET, SO_RCVBUF, &kReceiveBufferBytes,
                 sizeof kReceiveBufferBytes);
    }
    if (bind(state->socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
      return false;
    sockaddr_in bound{};
    socklen_t len = sizeof bound;
    if (getsockname(state->socket, reinterpret_cast<sockaddr*>(&bound), &len) != 0) return false;
    state->boundIP = anyAddress ? std::string() : InAddrText(bound.sin_addr);
    state->boundPort = ntohs(bound.sin_port);

    fLocalIP = InAddrText(bound.sin_addr);
    fLocalPort = state->boundPort;
    fState = state;
    fListener = std::thread([state, handler = fHandler] { Listen(state, handler); });
    return true;
  }

  mutable std::mutex fMutex;
  THandler fHandler;
  bool fHasBinding = false;
  std::string fBindIP;
  int fBindPort = 0;
  int fDefaultPort = 0;
  std::shared_ptr<TListenerState> fState;
  std::thread fListener;
  std::string fLocalIP;
  int fLocalPort = 0;
};

}  // namespace

std::unique_ptr<TUdpEndpoint> CreatePosixUdpEndpoint() {
  return std::make_unique<TPosixUdpEndpoint>();
}
