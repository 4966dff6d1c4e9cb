// A peer to measure a Read against: a libmodbus TCP server in this process on
// 127.0.0.1 and a client that reads holding registers from it, the way a Modbus tool
// reads a block of values from one device.
#pragma once

#include <memory>
#include <string>

class TModbusPeer {
 public:
  // Starts the server on a free port of 127.0.0.1 and connects the client. Check Ready().
  TModbusPeer();
  ~TModbusPeer();  // disconnects and stops the server
  TModbusPeer(const TModbusPeer&) = delete;
  TModbusPeer& operator=(const TModbusPeer&) = delete;

  bool Ready() const;
  const std::string& Error() const;
  int Port() const;
  // Reads `count` registers from address 0 in requests of at most 125 (the most one
  // request may carry); false when any request fails. Sets *requests when given.
  bool ReadRegisters(int count, int* requests = nullptr);

 private:
  struct TState;
  std::unique_ptr<TState> fState;
};
