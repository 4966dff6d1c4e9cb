#include "bench/modbus_peer.h"

#include <arpa/inet.h>
#include <modbus.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

namespace {

constexpr int kRegisters = 1000;

}  // namespace

struct TModbusPeer::TState {
  std::string Error;
  int Port = 0;
  int Listener = -1;
  modbus_mapping_t* Map = nullptr;
  modbus_t* Server = nullptr;
  modbus_t* Client = nullptr;
  std::thread Serving;
  std::vector<uint16_t> Values = std::vector<uint16_t>(kRegisters);
};

TModbusPeer::TModbusPeer() : fState(std::make_unique<TState>()) {
  TState& s = *fState;
  // The listening socket is ours, bound to port 0, so that the port is free for certain.
  s.Listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (s.Listener < 0 || bind(s.Listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      listen(s.Listener, 1) != 0 ||
      getsockname(s.Listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    s.Error = std::string("listening socket: ") + std::strerror(errno);
    return;
  }
  s.Port = ntohs(address.sin_port);
  s.Map = modbus_mapping_new(0, 0, kRegisters, 0);
  s.Server = modbus_new_tcp("127.0.0.1", s.Port);
  s.Client = modbus_new_tcp("127.0.0.1", s.Port);
  if (s.Map == nullptr || s.Server == nullptr || s.Client == nullptr) {
    s.Error = "libmodbus could not make its contexts";
    return;
  }
  for (int i = 0; i < kRegisters; ++i) s.Map->tab_registers[i] = static_cast<uint16_t>(i * 7);
  // The connection completes in the listener's backlog, so it can be accepted on this
  // thread before the server's own thread starts.
  if (modbus_connect(s.Client) != 0) {
    s.Error = std::string("connect: ") + modbus_strerror(errno);
    return;
  }
  if (modbus_tcp_accept(s.Server, &s.Listener) < 0) {
    s.Error = std::string("accept: ") + modbus_strerror(errno);
    return;
  }
  s.Serving = std::thread([&s] {
    uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
    for (;;) {
      const int n = modbus_receive(s.Server, query);
      if (n > 0) {
        modbus_reply(s.Server, query, n, s.Map);
      } else if (n < 0) {
        break;  // the client went away
      }
    }
  });
}

TModbusPeer::~TModbusPeer() {
  TState& s = *fState;
  // The server's thread ends when the client hangs up.
  if (s.Client != nullptr) {
    modbus_close(s.Client);
    modbus_free(s.Client);
  }
  if (s.Serving.joinable()) s.Serving.join();
  if (s.Server != nullptr) {
    modbus_close(s.Server);
    modbus_free(s.Server);
  }
  if (s.Listener >= 0) close(s.Listener);
  if (s.Map != nullptr) modbus_mapping_free(s.Map);
}

bool TModbusPeer::Ready() const {
  return fState->Error.empty() && fState->Serving.joinable();
}

const std::string& TModbusPeer::Error() const {
  return fState->Error;
}

int TModbusPeer::Port() const {
  return fState->Port;
}

bool TModbusPeer::ReadRegisters(int count, int* requests) {
  TState& s = *fState;
  count = std::clamp(count, 0, kRegisters);
  int sent = 0;
  for (int from = 0; from < count; from += MODBUS_MAX_READ_REGISTERS) {
    const int n = std::min(MODBUS_MAX_READ_REGISTERS, count - from);
    ++sent;
    if (modbus_read_registers(s.Client, from, n, s.Values.data() + from) != n) return false;
  }
  if (requests != nullptr) *requests = sent;
  return true;
}
