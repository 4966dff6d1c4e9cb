// Runs any number of simulated controllers in-process: each one binds its own loopback
// address at one shared port, and one wildcard socket takes the broadcasts, which every
// controller answers from its own address, as controllers on a LAN would. One thread
// serves all sockets; delayed answers wait in a timer queue.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "sim/uSimController.h"

namespace sim {

struct TSimHostOptions {
  int Controllers = 1;
  uint32_t BaseNAD = 10;  // controller i has NAD BaseNAD + i
  int Port = 0;           // 0: pick a free port (read it with Port() after Start)
  std::string Password;
  // Address of the first controller; the next ones count up, skipping host parts .0 and
  // .255. Must lie in 127.0.0.0/8.
  std::string FirstIP = "127.0.0.10";
  TSimFaults Faults;
  // Fixes the faults' chances (each controller gets its own sequence from it); without
  // one they are seeded from the system.
  std::optional<uint64_t> Seed;
  bool Stopped = false;    // PLCs stopped (psStop)
  bool NoProgram = false;  // no valid program header
  bool NoAlc = false;      // program without "alc.zip"
  std::string AlcText;     // served instead of the generated allocation file when set
  // Whether the controllers keep the requests they receive (TSimController::Requests).
  bool RecordRequests = true;
};

// Raises this process's limit of open descriptors to its hard limit: a host needs one
// socket per controller. Returns the limit in force afterwards.
long RaiseDescriptorLimit();

// The controllers exist from construction on (when the options are sound), so that a test
// can set them up before Start, and they keep their state over Stop and Start.
class TSimHost {
 public:
  explicit TSimHost(TSimHostOptions options);
  ~TSimHost();  // stops the host

  TSimHost(const TSimHost&) = delete;
  TSimHost& operator=(const TSimHost&) = delete;

  // Binds every socket and starts the serving thread. False with a message in *error
  // (when given) when an address is outside 127.0.0.0/8, the port is taken, or a socket
  // cannot be made; nothing stays bound then.
  bool Start(std::string* error = nullptr);
  // Stops the thread and closes the sockets; safe to call twice.
  void Stop();
  bool Running() const { return fThread.joinable(); }

  int Port() const { return fPort; }
  // 0 when the options were refused (Start then says why).
  int Count() const { return static_cast<int>(fControllers.size()); }
  TSimController& Controller(int i) { return *fControllers.at(i); }
  // The controller with that NAD, or nullptr.
  TSimController* FindByNAD(uint32_t nad);

  // The address of controller i counted from `first`, skipping host parts .0 and .255;
  // empty when it would leave 127.0.0.0/8 or `first` is no loopback address.
  static std::string NthAddress(const std::string& first, int i);

 private:
  struct TSocket;
  struct TPending;
  std::string Setup();  // makes the controllers; the reason when the options are refused
  void Serve();
  void Receive(int index);
  void Dispatch(int socketIndex, const TSimReply& reply, const std::string& peerIP, int peerPort);
  void SendNow(int fd, const std::vector<uint8_t>& datagram, const std::string& peerIP,
               int peerPort);
  void CloseAll();

  TSimHostOptions fOptions;
  std::string fSetupError;
  std::vector<uint8_t> fBuffer;  // one received datagram
  std::vector<std::unique_ptr<TSimController>> fControllers;
  std::vector<TSocket> fSockets;   // one per controller, then the wildcard socket
  std::vector<TPending> fPending;  // delayed datagrams, a heap ordered by due time
  uint64_t fSequence = 0;
  int fPort = 0;
  int fEpoll = -1;
  int fWake = -1;  // eventfd that ends the serving thread
  std::atomic<bool> fStop{false};
  std::thread fThread;
};

}  // namespace sim
