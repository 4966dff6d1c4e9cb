#include "sim/uSimHost.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

namespace sim {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kControllerBufferBytes = 256 * 1024;
// The broadcast socket takes every discovery of every client at once.
constexpr int kBroadcastBufferBytes = 4 * 1024 * 1024;
constexpr size_t kMaxDatagram = 65536;
// Datagrams read from one socket before the others get their turn.
constexpr int kReadsPerTurn = 64;

bool ParseIPv4(const std::string& text, uint32_t& hostOrder) {
  in_addr a{};
  if (inet_pton(AF_INET, text.c_str(), &a) != 1) return false;
  hostOrder = ntohl(a.s_addr);
  return true;
}

std::string FormatIPv4(uint32_t hostOrder) {
  in_addr a{};
  a.s_addr = htonl(hostOrder);
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
}

bool IsLoopback(uint32_t hostOrder) {
  return (hostOrder >> 24) == 127;
}

std::string Errno(const std::string& what) {
  return what + ": " + std::strerror(errno);
}

sockaddr_in Endpoint(uint32_t hostOrder, int port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(hostOrder);
  sa.sin_port = htons(static_cast<uint16_t>(port));
  return sa;
}

void SetBuffers(int fd, int bytes) {
  setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
  setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
}

// Descriptors a host needs beyond one per controller: the broadcast socket, epoll, the
// wake-up, and a few for whatever else the process has open.
constexpr long kSpareDescriptors = 16;

long DescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return -1;
  return limit.rlim_cur == RLIM_INFINITY ? LONG_MAX : static_cast<long>(limit.rlim_cur);
}

}  // namespace

long RaiseDescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
  return DescriptorLimit();
}

struct TSimHost::TSocket {
  int Fd = -1;
  int Controller = -1;  // -1: the broadcast socket
};

struct TSimHost::TPending {
  Clock::time_point Due;
  uint64_t Sequence;  // keeps datagrams due at the same moment in their order
  int Fd;
  std::vector<uint8_t> Datagram;
  std::string PeerIP;
  int PeerPort;
  // std heap functions build a max-heap: the earliest entry must compare greatest.
  bool operator<(const TPending& o) const {
    return Due != o.Due ? Due > o.Due : Sequence > o.Sequence;
  }
};

TSimHost::TSimHost(TSimHostOptions options) : fOptions(std::move(options)) {
  fSetupError = Setup();
  if (!fSetupError.empty()) fControllers.clear();
}

TSimHost::~TSimHost() {
  Stop();
}

std::string TSimHost::NthAddress(const std::string& first, int i) {
  uint32_t a = 0;
  if (i < 0 || !ParseIPv4(first, a) || !IsLoopback(a)) return {};
  auto usable = [](uint32_t x) { return (x & 0xFF) != 0 && (x & 0xFF) != 0xFF; };
  while (!usable(a)) ++a;
  for (int n = 0; n < i; ++n) {
    do ++a;
    while (!usable(a));
  }
  // 127.255.255.254 is the last usable one; past it the count left 127.0.0.0/8.
  if (!IsLoopback(a)) return {};
  return FormatIPv4(a);
}

TSimController* TSimHost::FindByNAD(uint32_t nad) {
  for (auto& c : fControllers)
    if (c->NAD() == nad) return c.get();
  return nullptr;
}

std::string TSimHost::Setup() {
  if (fOptions.Controllers < 1 || fOptions.Controllers > 100000)
    return "the number of controllers must be 1 to 100000";
  if (fOptions.Port < 0 || fOptions.Port > 65535) return "the port must be 0 to 65535";
  if (fOptions.BaseNAD == 0 ||
      fOptions.BaseNAD - 1 > UINT32_MAX - static_cast<uint32_t>(fOptions.Controllers))
    return "the controllers' NADs must lie from 1 to 4294967295";
  uint32_t first = 0;
  if (!ParseIPv4(fOptions.FirstIP, first)) return "\"" + fOptions.FirstIP + "\" is no IPv4 address";
  if (!IsLoopback(first))
    return "controller address " + fOptions.FirstIP +
           " lies outside 127.0.0.0/8; simulated controllers live on loopback only";
  for (int i = 0; i < fOptions.Controllers; ++i) {
    const std::string address = NthAddress(fOptions.FirstIP, i);
    if (address.empty()) return "too many controllers: the addresses run out of 127.0.0.0/8";
    auto c = std::make_unique<TSimController>(fOptions.BaseNAD + static_cast<uint32_t>(i), address,
                                              fOptions.Password);
    c->SetFaults(fOptions.Faults);
    c->SetRecordRequests(fOptions.RecordRequests);
    if (fOptions.Seed) c->Seed(*fOptions.Seed * 1000003u + static_cast<uint64_t>(i));
    if (!fOptions.AlcText.empty()) c->ReplaceProgram(fOptions.AlcText);
    if (fOptions.NoAlc) c->SetWithoutAlc(true);
    if (fOptions.NoProgram) c->ClearProgram();
    if (fOptions.Stopped) c->SetRunning(false);
    fControllers.push_back(std::move(c));
  }
  return {};
}

bool TSimHost::Start(std::string* error) {
  auto fail = [&](const std::string& message) {
    if (error) *error = message;
    CloseAll();
    return false;
  };
  if (Running()) return fail("the simulator is already running");
  if (!fSetupError.empty()) return fail(fSetupError);
  const long limit = DescriptorLimit();
  if (limit >= 0 && Count() + kSpareDescriptors > limit) {
    return fail(std::to_string(Count()) + " controllers need " +
                std::to_string(Count() + kSpareDescriptors) +
                " descriptors, but this process may open only " + std::to_string(limit) +
                " (ulimit -n)");
  }

  // Every socket shares the port with SO_REUSEADDR, which would also let us share it
  // unnoticed with another program. A probe without it fails when anyone holds the port.
  {
    const int probe = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0) return fail(Errno("socket"));
    sockaddr_in sa = Endpoint(INADDR_ANY, fOptions.Port);
    if (bind(probe, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
      const std::string message = Errno("port " + std::to_string(fOptions.Port));
      close(probe);
      return fail(message);
    }
    socklen_t len = sizeof sa;
    getsockname(probe, reinterpret_cast<sockaddr*>(&sa), &len);
    fPort = ntohs(sa.sin_port);
    close(probe);
  }

  auto openSocket = [&](uint32_t address, int bufferBytes, bool broadcast) -> int {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (broadcast) {
      setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
      // Tells a broadcast from a stray unicast to some other local address.
      setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    }
    SetBuffers(fd, bufferBytes);
    sockaddr_in sa = Endpoint(address, fPort);
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
      const int saved = errno;
      close(fd);
      errno = saved;
      return -1;
    }
    return fd;
  };

  fSockets.clear();
  for (int i = 0; i < Count(); ++i) {
    const std::string& ip = fControllers[i]->IP();
    uint32_t a = 0;
    ParseIPv4(ip, a);
    const int fd = openSocket(a, kControllerBufferBytes, false);
    if (fd < 0) return fail(Errno("bind " + ip + ":" + std::to_string(fPort)));
    fSockets.push_back({fd, i});
  }
  const int wildcard = openSocket(INADDR_ANY, kBroadcastBufferBytes, true);
  if (wildcard < 0) return fail(Errno("bind 0.0.0.0:" + std::to_string(fPort)));
  fSockets.push_back({wildcard, -1});

  fEpoll = epoll_create1(EPOLL_CLOEXEC);
  fWake = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (fEpoll < 0 || fWake < 0) return fail(Errno("epoll"));
  for (size_t i = 0; i < fSockets.size(); ++i) {
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.u64 = i;
    if (epoll_ctl(fEpoll, EPOLL_CTL_ADD, fSockets[i].Fd, &ev) != 0) return fail(Errno("epoll_ctl"));
  }
  epoll_event ev{};
  ev.events = EPOLLIN;
  ev.data.u64 = UINT64_MAX;
  if (epoll_ctl(fEpoll, EPOLL_CTL_ADD, fWake, &ev) != 0) return fail(Errno("epoll_ctl"));

  fStop = false;
  fThread = std::thread([this] { Serve(); });
  return true;
}

void TSimHost::Stop() {
  if (fThread.joinable()) {
    fStop = true;
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(fWake, &one, sizeof one);
    fThread.join();
  }
  CloseAll();
}

void TSimHost::CloseAll() {
  for (TSocket& s : fSockets)
    if (s.Fd >= 0) close(s.Fd);
  fSockets.clear();
  if (fEpoll >= 0) close(fEpoll);
  if (fWake >= 0) close(fWake);
  fEpoll = fWake = -1;
  fPending.clear();
}

void TSimHost::Serve() {
  epoll_event events[64];
  while (!fStop) {
    int timeout = -1;
    if (!fPending.empty()) {
      const auto wait =
          std::chrono::ceil<std::chrono::milliseconds>(fPending.front().Due - Clock::now());
      timeout = static_cast<int>(std::max<int64_t>(wait.count(), 0));
    }
    const int n = epoll_wait(fEpoll, events, 64, timeout);
    if (n < 0 && errno != EINTR) break;
    for (int i = 0; i < n && !fStop; ++i)
      if (events[i].data.u64 != UINT64_MAX) Receive(static_cast<int>(events[i].data.u64));
    const auto now = Clock::now();
    while (!fPending.empty() && fPending.front().Due <= now) {
      std::pop_heap(fPending.begin(), fPending.end());
      TPending p = std::move(fPending.back());
      fPending.pop_back();
      SendNow(p.Fd, p.Datagram, p.PeerIP, p.PeerPort);
    }
  }
}

void TSimHost::Receive(int index) {
  const TSocket& socket = fSockets[index];
  std::vector<uint8_t>& buffer = fBuffer;
  buffer.resize(kMaxDatagram);
  for (int turn = 0; turn < kReadsPerTurn; ++turn) {
    sockaddr_in peer{};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
    iovec iov{buffer.data(), buffer.size()};
    msghdr msg{};
    msg.msg_name = &peer;
    msg.msg_namelen = sizeof peer;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    const ssize_t size = recvmsg(socket.Fd, &msg, 0);
    if (size < 0) return;  // drained (EAGAIN) or a transient error

    const uint32_t peerAddress = ntohl(peer.sin_addr.s_addr);
    // Answers go only where a request came from, and only on loopback.
    if (!IsLoopback(peerAddress)) continue;
    const std::string peerIP = FormatIPv4(peerAddress);
    const int peerPort = ntohs(peer.sin_port);

    if (socket.Controller >= 0) {
      const TSimReply reply = fControllers[socket.Controller]->HandleDatagram(
          buffer.data(), static_cast<size_t>(size), peerIP, peerPort, false);
      Dispatch(index, reply, peerIP, peerPort);
      continue;
    }
    uint32_t destination = 0;
    for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c != nullptr; c = CMSG_NXTHDR(&msg, c))
      if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO)
        destination = ntohl(reinterpret_cast<in_pktinfo*>(CMSG_DATA(c))->ipi_addr.s_addr);
    // The wildcard socket also sees unicasts to local addresses no controller holds;
    // no controller lives there.
    if (destination != 0x7FFFFFFF && destination != INADDR_BROADCAST) continue;
    for (int c = 0; c < Count(); ++c) {
      const TSimReply reply = fControllers[c]->HandleDatagram(
          buffer.data(), static_cast<size_t>(size), peerIP, peerPort, true);
      Dispatch(c, reply, peerIP, peerPort);
    }
  }
}

void TSimHost::Dispatch(int socketIndex, const TSimReply& reply, const std::string& peerIP,
                        int peerPort) {
  const int fd = fSockets[socketIndex].Fd;
  const auto now = Clock::now();
  for (size_t i = 0; i < reply.Datagrams.size(); ++i) {
    const int delay = i < reply.DelaysMs.size() ? reply.DelaysMs[i] : 0;
    if (delay <= 0) {
      SendNow(fd, reply.Datagrams[i], peerIP, peerPort);
      continue;
    }
    fPending.push_back({now + std::chrono::milliseconds(delay), fSequence++, fd, reply.Datagrams[i],
                        peerIP, peerPort});
    std::push_heap(fPending.begin(), fPending.end());
  }
}

void TSimHost::SendNow(int fd, const std::vector<uint8_t>& datagram, const std::string& peerIP,
                       int peerPort) {
  uint32_t address = 0;
  if (!ParseIPv4(peerIP, address) || !IsLoopback(address)) return;
  sockaddr_in to = Endpoint(address, peerPort);
  // A full send buffer loses the datagram, as a busy network would.
  sendto(fd, datagram.data(), datagram.size(), MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&to),
         sizeof to);
}

}  // namespace sim
