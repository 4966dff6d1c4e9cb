// A simulated Tarvo controller: the QLink command set on a code memory (program header,
// file directory, "alc.zip") and a 64 KiB data memory holding the program's variables,
// with a running clock, EEPROM requests and fault injection. Its memories hold only the
// pages that carry something (uSimMemory.h), so a controller costs what its program does. It knows
// nothing of sockets: the host (uSimHost.h) feeds it datagrams and sends what it answers.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "protocol/uQLink.h"
#include "sim/uSimMemory.h"

namespace sim {

// Ways a controller misbehaves on purpose. They apply to every answer it sends; each
// chance is drawn anew for every answer.
struct TSimFaults {
  double DropProbability = 0;       // 0..1: chance that an answer is not sent at all
  int DelayMs = 0;                  // answers leave this many milliseconds late ...
  int JitterMs = 0;                 // ... give or take up to this many, never below 0
  bool Duplicate = false;           // every answer datagram is sent twice
  double DuplicateProbability = 0;  // 0..1: chance that it is, the copy right behind ...
  int DuplicateDelayMinMs = 0;      // ... or, drawn for each copy, this many to
  int DuplicateDelayMaxMs = 0;      // this many milliseconds behind
  bool Split = false;               // the answer is cut into two datagrams
  bool TwoFrames = false;           // one datagram holds the answer followed by a copy of it
  bool CorruptChecksum = false;     // every answer's checksum is wrong
  double CorruptProbability = 0;    // 0..1: chance that it is
  int NegativeCode = 0;             // 0: none; else every request is answered with this
                                    // direction code and an empty body
};

// One request as a controller received it (only requests addressed to it: its own NAD
// or NAD 0).
struct TSimRequest {
  uint32_t FromNAD = 0;
  uint32_t ToNAD = 0;
  uint8_t Direction = 0;
  uint8_t Type = 0;
  uint8_t Command = 0;
  std::vector<uint8_t> Params;  // the bytes between command code and password hash
  uint16_t PasswordHash = 0;
  bool Broadcast = false;  // arrived through the host's broadcast socket
  std::string PeerIP;
  int PeerPort = 0;
};

// What a controller sends back for one datagram: zero or more datagrams, each to leave
// its delay after the request arrived (DelaysMs runs parallel to Datagrams).
struct TSimReply {
  std::vector<std::vector<uint8_t>> Datagrams;
  std::vector<int> DelaysMs;
};

// System and PLC status bytes of the ReadStatus answer, as the wire has them.
using ::psNoValidProgram;
using ::psRun;
using ::psStop;
using ::ssKernel;
using ::ssLoader;

// The unlock value that must accompany an EEPROM store request.
constexpr uint16_t kEepromWriteMagic = 52917;

// One variable of the controller's program, as its allocation file lists it.
struct TSimVar {
  uint32_t Address = 0;
  uint32_t Flags = 0;  // bit 0 read only, bit 1 user variable
  int Count = 1;
  int Offset = 0;
  int Size = 0;
  std::string Scope;  // "global", "local", "reg"
  std::string Type;   // "bit", "word", "int", "long", "real", "timer", "const", ...
  std::string Name;
  std::string Description;
  // Raw initial value of each element (IEEE single bit pattern for reals); elements
  // beyond the list start at 0.
  std::vector<uint32_t> Initial;

  // Global and of one of the five types that live in data memory.
  bool InDataMemory() const;
  // Byte width in data memory: 1, 2 or 4; 0 for the other types.
  int Width() const;
  bool IsUser() const { return (Flags & 2) != 0; }
};

class TSimController {
 public:
  // The controller starts with the default program (DefaultVars) and runs it.
  TSimController(uint32_t nad, std::string ip, std::string password = "");

  TSimController(const TSimController&) = delete;
  TSimController& operator=(const TSimController&) = delete;

  uint32_t NAD() const { return fNAD; }
  const std::string& IP() const { return fIP; }
  // The hash a request must carry (0 for an empty password).
  uint16_t PasswordCRC() const;
  void SetPassword(const std::string& password);

  TSimFaults Faults() const;
  void SetFaults(const TSimFaults& faults);
  // Fixes the chances of the faults for a reproducible run; otherwise they are seeded
  // from the system.
  void Seed(uint64_t seed);

  // ---- program and run state ---------------------------------------------------------
  // Installs a program whose allocation file is alcText (served verbatim as the member of
  // "alc.zip"); the variables found in it are placed in data memory with their initial
  // values. The transfer date always changes. The PLC keeps its run state. Lines the
  // controller cannot place are listed in the allocation file all the same.
  void ReplaceProgram(const std::string& alcText);
  // Installs a program with the given variables (the allocation file is generated).
  void ReplaceProgram(const std::vector<TSimVar>& vars);
  // Removes the program: the code header becomes invalid, status psNoValidProgram.
  void ClearProgram();
  // Keeps the program but drops "alc.zip" from its file directory (or brings it back).
  void SetWithoutAlc(bool withoutAlc);
  void SetRunning(bool running);
  bool HasProgram() const;
  uint8_t PlcStatus() const;
  uint8_t SysStatus() const;
  // MS-DOS date (high 16 bits) and time (low 16 bits) of the current program; 0 without.
  int32_t TransferDate() const;
  std::string AlcText() const;
  std::vector<TSimVar> Vars() const;

  // The default program's variables and the allocation file generated for them.
  static std::vector<TSimVar> DefaultVars();
  static std::string MakeAlcText(const std::vector<TSimVar>& vars, uint32_t nad);

  // ---- memories and variables (for tests) -------------------------------------------
  // Raw value of element `index` of a variable in data memory (zero-extended); nothing
  // when the program has no such variable there. Dynamic values (clock, scan figures,
  // pending EEPROM requests) are brought up to date first.
  std::optional<uint32_t> ReadVar(const std::string& name, int index = 0);
  bool WriteVar(const std::string& name, int index, uint32_t raw);
  // Address of element `index` in data memory; nothing when unknown.
  std::optional<uint16_t> VarAddress(const std::string& name, int index = 0) const;
  std::vector<uint8_t> ReadDataMemory(uint32_t address, uint32_t count);
  void WriteDataMemory(uint32_t address, const std::vector<uint8_t>& bytes);
  std::vector<uint8_t> ReadCodeMemory(uint32_t address, uint32_t count) const;
  // The controller's clock is the PC's local time plus this offset.
  std::chrono::seconds ClockOffset() const;
  void SetClockOffset(std::chrono::seconds offset);
  // Milliseconds an EEPROM load takes before ee_read_req falls back to 0.
  void SetEepromLoadDelay(int ms);

  // ---- requests ----------------------------------------------------------------------
  std::vector<TSimRequest> Requests() const;
  void ClearRequests();
  // Whether requests are kept for Requests() (the most recent 20000); on by default. A
  // host of thousands that nobody inspects keeps none.
  void SetRecordRequests(bool record);
  // Bytes of memory pages this controller holds alone (code, data and EEPROM image).
  size_t MemoryBytes() const;

  // Handles one received datagram (each frame in it that is addressed to this controller)
  // and returns what to send back, faults applied. `broadcast`: it came to the host's
  // broadcast socket.
  TSimReply HandleDatagram(const uint8_t* data, size_t size, const std::string& peerIP,
                           int peerPort, bool broadcast);

 private:
  struct TPlacedVar {
    std::string Name;
    uint32_t Address;  // of element 0, offset included
    int Size;          // stride
    int Width;
    int Count;
    bool User;
  };

  // Everything below is guarded by fMutex.
  std::vector<uint8_t> Answer(const TSimRequest& req);
  std::vector<uint8_t> Execute(const TSimRequest& req, uint8_t& direction);
  void ApplyFaults(std::vector<uint8_t> frame, TSimReply& reply);
  bool Chance(double probability);
  int AnswerDelay();
  // How much later than its original a network's copy of an answer leaves.
  int CopyDelay();
  void InstallProgram(const std::string& alcText, const std::vector<TSimVar>& vars);
  void BuildCodeMemory();
  void LoadInitialValues();
  void Refresh();     // brings clock, scan figures and pending requests up to date
  void AfterWrite();  // reacts to request variables written
  const TPlacedVar* Find(const std::string& name) const;
  std::optional<uint32_t> Get(const std::string& name, int index = 0) const;
  void Set(const std::string& name, uint32_t raw, int index = 0);
  uint32_t GetRaw(uint32_t address, int width) const;
  void SetRaw(uint32_t address, int width, uint32_t raw);
  uint32_t CodeWord(uint32_t address) const;
  uint32_t CodeLong(uint32_t address) const;
  bool CopyEeprom(bool store);

  const uint32_t fNAD;
  const std::string fIP;
  mutable std::mutex fMutex;
  uint16_t fPasswordCRC = 0;
  TSimFaults fFaults;
  std::mt19937 fRandom;

  std::string fAlcText;
  std::vector<TSimVar> fVars;
  std::vector<TPlacedVar> fPlaced;
  std::unordered_map<std::string, size_t> fPlacedByName;  // the first of each name
  bool fProgramInstalled = false;
  bool fWithoutAlc = false;
  bool fRunning = true;
  uint8_t fSysStatus = ssKernel;
  int64_t fProgramTime = 0;  // time_t of the last program transfer
  TSimMemory fCode;
  TSimMemory fData;
  TSimMemory fEeprom;  // image of data memory as last stored

  std::chrono::seconds fClockOffset{0};
  std::chrono::steady_clock::time_point fStarted;
  std::chrono::steady_clock::time_point fEeLoadDue;
  bool fEeLoadPending = false;
  int fEepromLoadDelayMs = 150;
  uint32_t fScanTimeMax = 0;

  std::vector<TSimRequest> fRequests;
  bool fRecordRequests = true;
};

}  // namespace sim
