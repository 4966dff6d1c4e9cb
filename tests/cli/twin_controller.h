// One more simulated controller beside a TSimHost, at the host's port but an address of
// its own, so that a test can give it a NAD that the host already has: two controllers
// with one NAD, as a mistake on a real network gives. It takes broadcasts on a wildcard
// socket that shares the port with the host's, and it can answer a scan more than once.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "sim/uSimController.h"

namespace clitest {

class TTwinController {
 public:
  // `scanAnswers`: how many times the discovery ping (a broadcast to NAD 0) is answered.
  TTwinController(uint32_t nad, std::string ip, int port, int scanAnswers = 1)
      : fController(nad, std::move(ip)), fPort(port), fScanAnswers(scanAnswers) {}
  ~TTwinController() { Stop(); }
  TTwinController(const TTwinController&) = delete;
  TTwinController& operator=(const TTwinController&) = delete;

  bool Start() {
    fBroadcast = Open(INADDR_ANY);
    in_addr own{};
    if (inet_pton(AF_INET, fController.IP().c_str(), &own) != 1) return false;
    fOwn = Open(ntohl(own.s_addr));
    if (fBroadcast < 0 || fOwn < 0) return false;
    fThread = std::thread([this] { Serve(); });
    return true;
  }

  void Stop() {
    fStop = true;
    if (fThread.joinable()) fThread.join();
    for (int* fd : {&fBroadcast, &fOwn}) {
      if (*fd >= 0) close(*fd);
      *fd = -1;
    }
  }

  sim::TSimController& Controller() { return fController; }

 private:
  int Open(uint32_t address) const {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(fPort));
    sa.sin_addr.s_addr = htonl(address);
    if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
      close(fd);
      return -1;
    }
    return fd;
  }

  void Serve() {
    pollfd fds[2] = {{fBroadcast, POLLIN, 0}, {fOwn, POLLIN, 0}};
    uint8_t buffer[2048];
    while (!fStop) {
      if (poll(fds, 2, 20) <= 0) continue;
      for (int k = 0; k < 2; ++k) {
        if ((fds[k].revents & POLLIN) == 0) continue;
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        const ssize_t n =
            recvfrom(fds[k].fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&peer), &len);
        if (n <= 0) continue;
        char peerIP[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &peer.sin_addr, peerIP, sizeof peerIP);
        const size_t before = fController.Requests().size();
        const sim::TSimReply reply = fController.HandleDatagram(
            buffer, static_cast<size_t>(n), peerIP, ntohs(peer.sin_port), k == 0);
        const auto requests = fController.Requests();
        const bool scan = requests.size() > before && requests.back().ToNAD == 0;
        for (int copy = 0; copy < (scan ? fScanAnswers : 1); ++copy) {
          for (const auto& datagram : reply.Datagrams) {
            // Always from its own address, as a controller on a LAN answers.
            sendto(fOwn, datagram.data(), datagram.size(), 0,
                   reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
          }
        }
      }
    }
  }

  sim::TSimController fController;
  int fPort;
  int fScanAnswers;
  int fBroadcast = -1, fOwn = -1;
  std::atomic<bool> fStop{false};
  std::thread fThread;
};

}  // namespace clitest
