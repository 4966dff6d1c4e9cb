// Options shared by every networked varnel-cli command, and how they reach a
// communicator (the same settings the desktop application hands to each controller).
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>
#include <vector>

#include "workflows/uFleet.h"

class TCommunicator;

namespace cli {

struct NetOptions {
  std::string adapter;        // adapter ID ("lo"); empty: the PC's default adapter
  int port = 8442;            // the controllers' UDP port
  bool direct = false;        // direct connection: every request to 255.255.255.255
  bool extraRetries = false;  // 10 repeats instead of 3
  bool extraTimeout = false;  // 1000 ms per attempt instead of 200, 4000 ms scan window
  std::string password;
  bool log = false;  // the debug log (see kLogOptionHelp)
  bool json = false;
  std::vector<int64_t> nads;        // --nad, repeatable: only these controllers
  std::string ip;                   // --ip HOST[:PORT]: reach the one --nad without a scan
  int parallel = kDefaultParallel;  // --parallel: controllers worked on at once

  int Retries() const { return extraRetries ? 10 : 3; }
  int WaitTime() const { return extraTimeout ? 1000 : 200; }
  int ScanWindow() const { return extraTimeout ? 4000 : 1000; }
};

// --log's help: where the debug log goes.
inline constexpr const char* kLogOptionHelp =
    "Append every frame to q-link.log next to the executable, or in "
    "$XDG_STATE_HOME/varnel/ (~/.local/state/varnel/) when that folder is not writable";

// Adds --adapter, --port, --direct, --extra-retries, --extra-timeout, --password, --log,
// --json, and with targets also --nad, --ip and --parallel.
void AddNetOptions(CLI::App* sub, NetOptions& o, bool withTargets);

// Hands the settings to a communicator: direct mode, password hash, repeats, time-out,
// controller port and debug log.
void ApplyNetOptions(TCommunicator& comm, const NetOptions& o);

}  // namespace cli
