// A bare QLink client for the simulator tests: one UDP socket on 127.0.0.1, plain
// sendto/recvfrom and the frame codec, nothing of the communicator.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "protocol/uQLink.h"

namespace simtest {

struct TDatagram {
  std::vector<uint8_t> Bytes;
  std::string PeerIP;
  int PeerPort = 0;
};

struct TAnswer {
  uint32_t FromNAD = 0;
  uint32_t ToNAD = 0;
  uint8_t Direction = 0;
  uint8_t Type = 0;
  std::vector<uint8_t> Body;
  std::string PeerIP;
};

// Waits are bounds on how long a lost answer may take to show, never a measurement.
constexpr int kWaitMs = 3000;

// The little-endian numbers of a body, read by offset.
inline uint32_t Get16(const std::vector<uint8_t>& v, size_t at) {
  (void)v.at(at + 1);  // within the body
  return GetLE16(v.data() + at);
}
inline uint32_t Get32(const std::vector<uint8_t>& v, size_t at) {
  (void)v.at(at + 3);
  return GetLE32(v.data() + at);
}

// A request frame as the tool builds it.
inline std::vector<uint8_t> Request(uint32_t toNAD, uint8_t command,
                                    const std::vector<uint8_t>& params = {},
                                    uint16_t passwordHash = 0, uint32_t fromNAD = 1) {
  std::vector<uint8_t> frame(kFrameBufferSize);
  std::copy(params.begin(), params.end(), frame.begin());
  uint16_t length = static_cast<uint16_t>(params.size());
  if (!EncodeFrame(fromNAD, toNAD, command, md_REQ, mt_COMMAND, frame.data(), length, passwordHash))
    return {};
  frame.resize(length);
  return frame;
}

// Every frame in the bytes, in order; stops at the first thing that does not decode.
inline std::vector<TAnswer> DecodeAll(const std::vector<uint8_t>& bytes,
                                      std::string* rest = nullptr) {
  std::vector<TAnswer> frames;
  std::string buffer = BytesToHex(bytes);
  std::string frameText, body;
  TAnswer a;
  while (DecodeFrame(buffer, frameText, a.FromNAD, a.ToNAD, a.Direction, a.Type, body)) {
    a.Body.assign(body.size() / 2, 0);
    int count = 0;
    HexToBytes(body, a.Body.data(), static_cast<int>(a.Body.size()), count);
    frames.push_back(a);
  }
  if (rest) *rest = buffer;
  return frames;
}

class TClient {
 public:
  TClient() {
    fFd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int on = 1, buffer = 4 * 1024 * 1024;
    setsockopt(fFd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    setsockopt(fFd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fFd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    socklen_t len = sizeof sa;
    getsockname(fFd, reinterpret_cast<sockaddr*>(&sa), &len);
    fPort = ntohs(sa.sin_port);
  }
  ~TClient() { close(fFd); }
  TClient(const TClient&) = delete;
  TClient& operator=(const TClient&) = delete;

  int Port() const { return fPort; }

  // Only loopback destinations: 127.255.255.255 is the loopback broadcast.
  bool Send(const std::string& ip, int port, const std::vector<uint8_t>& bytes) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, ip.c_str(), &to.sin_addr) != 1) return false;
    if ((ntohl(to.sin_addr.s_addr) >> 24) != 127) return false;
    return sendto(fFd, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to),
                  sizeof to) == static_cast<ssize_t>(bytes.size());
  }

  std::optional<TDatagram> Receive(int waitMs = kWaitMs) {
    pollfd p{fFd, POLLIN, 0};
    if (poll(&p, 1, waitMs) != 1) return std::nullopt;
    TDatagram d;
    d.Bytes.resize(65536);
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n =
        recvfrom(fFd, d.Bytes.data(), d.Bytes.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) return std::nullopt;
    d.Bytes.resize(static_cast<size_t>(n));
    char ip[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &from.sin_addr, ip, sizeof ip);
    d.PeerIP = ip;
    d.PeerPort = ntohs(from.sin_port);
    return d;
  }

  // One request and the first frame of the next datagram.
  std::optional<TAnswer> Call(const std::string& ip, int port, uint32_t toNAD, uint8_t command,
                              const std::vector<uint8_t>& params = {}, uint16_t hash = 0) {
    if (!Send(ip, port, Request(toNAD, command, params, hash))) return std::nullopt;
    auto d = Receive();
    if (!d) return std::nullopt;
    auto frames = DecodeAll(d->Bytes);
    if (frames.empty()) return std::nullopt;
    frames[0].PeerIP = d->PeerIP;
    return frames[0];
  }

 private:
  int fFd = -1;
  int fPort = 0;
};

}  // namespace simtest
