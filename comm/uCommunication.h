// TCommunicator: the QLink link endpoint (one UDP socket on a chosen adapter), the
// request/answer transaction, and the controller commands built on it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "comm/uAnswerMatcher.h"
#include "comm/uEthernetUtils.h"
#include "comm/uUdpEndpoint.h"
#include "data/uStreams.h"
#include "protocol/uQLink.h"

class TTarvoVar;
class TTarvoVarList;
struct TVarValue;

enum TCommState : uint8_t {
  csNONE = 0,
  csIDLE = 1,
  csREADY = 2,
  csSENDING = 3,
  csWAITING = 4,
  csRECEIVING = 5,
  csNEWMESSAGE = 6,
};

using TComEvent = std::function<void()>;
using TCommProgressEvent =
    std::function<void(uint32_t Progress, uint32_t ProgressMax, bool& Cancel)>;
// A controller a discovery collected: its NAD, address and answer code.
using TDiscoveredEvent =
    std::function<void(uint32_t NAD, const std::string& IP, TMessageDirection Code)>;
using TQLinkReadEvent = std::function<void(
    const std::string& IP, int Port, int32_t FromNAD, int32_t ToNAD, TMessageDirection MsgDir,
    TMessageType MsgType, const std::string& RecMessage, const std::string& Data)>;

// Called by every wait at least once a millisecond so that a user interface stays
// responsive; the desktop application sets it, the command-line tool and tests do not.
void SetProcessEventsHook(std::function<void()> hook);

#pragma pack(push, 1)
struct TLoaderHeader {
  uint16_t version_major;
  uint16_t version_minor;
  uint16_t vcp_model;
  uint16_t dummy1;
  int32_t build_date;
  int32_t serial;
};

struct TKernelHeader {
  uint16_t version_major;
  uint16_t version_minor;
  uint16_t magic;
  uint16_t crc;
  int32_t build_date;
  int32_t transfer_date;
  uint16_t model;
  uint16_t kernel_size;
  uint16_t release_num;
  int16_t IEX_speed;
  uint16_t dummy;
  uint32_t NAD_Alias;
  uint32_t ip_address;
  uint32_t subnet_mask;
  uint32_t gateway;
  uint32_t dns_server;
};

struct TCodeHeaderShort {
  uint16_t empty;
  uint16_t magic;
  uint16_t crc;
  uint16_t code_crc;
  uint16_t alloc_crc;
  uint16_t retentive_crc;
  int32_t transfer_date;
};

struct TCodeHeader {
  uint16_t empty;
  uint16_t magic;
  uint16_t crc;
  uint16_t code_crc;
  uint16_t alloc_crc;
  uint16_t retentive_crc;
  int32_t transfer_date;
  uint16_t total_size;
  int16_t tasks_count;
  int16_t slot_count;
  int16_t socket_count;
  int16_t dummy_0;
  int16_t dummy_1;
  int16_t eth_sock_start;
  int16_t eth_sock_count;
  uint8_t dummy_2[8];
  uint16_t preset_varlist;
  uint16_t preset_data;
  uint16_t retset_varlist;
  uint16_t retset_data;
  uint16_t perset_varlist;
  uint16_t perset_data;
  int16_t mask_addr;
  int16_t mask_count;
  int16_t scan_overrun;
  int16_t dac_refresh;
  int16_t com2_mode;
  int16_t hsc_mode;
  int32_t file_adr;
  uint16_t file_count;
  uint16_t com1_mode;
  uint16_t com1_baudrate;
  uint16_t com1_data;
  uint16_t com2_baudrate;
  uint16_t com2_data;
  uint16_t mb_device;
  uint16_t mb_delay;
  uint16_t mb_registers;
  uint16_t mb_model;
  uint16_t plc_coil_adr;
  uint16_t plc_reg_adr;
  uint16_t mb_coil_adr;
  uint16_t mb_reg_adr;
  uint16_t eth_modbus;
  uint16_t push_event;
  int32_t push_server_ip;
  uint16_t push_server_port;
  uint16_t push_domain_adr;
  uint16_t push_domain_size;
  uint16_t password_level;
  uint16_t password_hash;
};
#pragma pack(pop)

static_assert(sizeof(TLoaderHeader) == 16);
static_assert(sizeof(TKernelHeader) == 46);
static_assert(sizeof(TCodeHeaderShort) == 16);
static_assert(sizeof(TCodeHeader) == 114);

// The records lie in memory as the wire's layouts say.
static_assert(sizeof(TCodeHeader) == kCodeHeaderSize);
static_assert(sizeof(TCodeHeaderShort) == kCodeHeaderShortSize);
static_assert(offsetof(TCodeHeader, empty) == kCodeHeaderEmptyOffset);
static_assert(offsetof(TCodeHeader, magic) == kCodeHeaderMagicOffset);
static_assert(offsetof(TCodeHeader, transfer_date) == kCodeHeaderTransferDateOffset);
static_assert(offsetof(TCodeHeaderShort, transfer_date) == kCodeHeaderTransferDateOffset);
static_assert(offsetof(TCodeHeader, file_adr) == kCodeHeaderFileAddressOffset);
static_assert(offsetof(TCodeHeader, file_count) == kCodeHeaderFileCountOffset);
static_assert(offsetof(TCodeHeader, password_hash) == kCodeHeaderPasswordHashOffset);

constexpr int kDefaultTarvoPort = 8442;

inline bool IsValidCodeHeader(uint16_t empty, uint16_t magic) {
  return empty == 0 && magic == kCodeHeaderMagic;
}

class TCommunicator {
 public:
  // Builds the communicator with its defaults; the socket stays inactive. Without an
  // endpoint a POSIX UDP endpoint is made; tests pass an in-memory one.
  explicit TCommunicator(std::unique_ptr<TUdpEndpoint> endpoint = nullptr);
  virtual ~TCommunicator();
  TCommunicator(const TCommunicator&) = delete;
  TCommunicator& operator=(const TCommunicator&) = delete;

  // Transport and transactions.
  bool Open(const std::string& EthAdapterID);
  void Close();
  bool Connect();
  bool Disconnect();
  void BindEthernetAdapter();
  void SetDirectConnection(bool Value);
  void CancelAll();
  // From any thread: ends the wait under way and fails every request from now on, without
  // sending it, until SetAborted(false). How work on many controllers at once is stopped.
  void SetAborted(bool Value);
  bool Aborted() const { return fAborted.load(); }

  // Commands.
  bool SendCommand(uint8_t Command);
  bool Ping();
  bool StartLoader();
  bool StartKernel();
  bool StartPLC();
  bool StopPLC();
  bool DataInit();
  bool FlashInit(uint8_t sector_flags, uint8_t clear_plc_var);
  bool ReadStatus(TSysStatus& sys_status, TPLCStatus& plc_status);
  bool CheckIfTarvoIsRunning();
  bool ReadLoaderHeader(TLoaderHeader& loaderHeader);
  bool ReadKernelHeader(TKernelHeader& kernelHeader);
  bool GetTarvoPasswordCRC(uint16_t& CRC);
  // buffer holds `length` bytes to send and receives the answer (bufferSize bounds it).
  bool IEX_Messages(int& length, uint8_t* buffer, int bufferSize);
  void SetTarvoNAD(int32_t NAD);
  void SetTarvoStaticIP(const std::string& IP);

  // Discovery. With Codes, every controller that answers is listed, each with its answer's
  // direction code (md_ACK, or the refusal, md_BADPASS say) in Codes, parallel to the
  // other two lists; without, only the controllers that acknowledged. A refusal does not
  // end the collection: the window always runs out.
  bool DetectTarvos(std::vector<std::string>* NADList, std::vector<std::string>* IPList,
                    int Timeout, std::vector<TMessageDirection>* Codes = nullptr);

  // Memory.
  bool ReadCode(uint16_t block, uint16_t count, uint8_t* dest, int destSize);
  bool WriteCode(uint16_t block, uint16_t count, const uint8_t* source);
  bool ReadData(uint16_t address, uint16_t count, uint8_t* dest, int destSize);
  bool WriteData(uint16_t address, uint16_t count, const uint8_t* source);
  bool ReadCodeToStream(int32_t Address, int32_t size, TMemoryStream* DataStream);
  bool SendCodeStream(uint32_t Address, TMemoryStream* DataStream);
  bool ReadDataToStream(int32_t Address, int32_t size, TMemoryStream* DataStream);
  bool SendDataStream(uint32_t Address, TMemoryStream* DataStream);
  bool ReadCodeHeader(std::unique_ptr<TCodeHeader>& CodeHead);
  bool ReadCodeHeaderShort(std::unique_ptr<TCodeHeaderShort>& CodeHead);
  bool CheckCode();
  bool CheckDateNotChanged();
  // The file directory entries as read by ReadAlc (for diagnostics).
  bool ReadFileDirectory(std::vector<std::string>& names, std::vector<int32_t>& addresses,
                         std::vector<int32_t>& sizes);
  bool ReadAlc(std::unique_ptr<TMemoryStream>& AlcStream);
  std::unique_ptr<TTarvoVarList> GetAlcVarList();
  std::unique_ptr<TTarvoVarList> GetAlcVarListArraysAsSingleVar();

  // Variables.
  bool ReadRandom(uint16_t c1, uint16_t c2, uint16_t c4, const std::vector<uint16_t>& addresses,
                  uint8_t* dest, int destSize);
  bool WriteRandom(uint16_t c1, uint16_t c2, uint16_t c4, const std::vector<uint16_t>& addresses,
                   const std::vector<uint8_t>& values);
  bool ReadVars(TTarvoVarList* VarList);
  bool WriteVars(TTarvoVarList* VarList);
  bool WriteVar(TTarvoVar* AVar, const TVarValue& Value);

  // Properties.
  int32_t TarvoNAD() const { return fTarvoNAD; }
  const std::string& TarvoIP() const { return fTarvoIP; }
  void SetTarvoIP(const std::string& IP) { fTarvoIP = IP; }
  int TarvoPort() const { return fTarvoPort; }
  void SetTarvoPort(int Port) { fTarvoPort = Port; }
  const std::string& TarvoStaticIP() const { return fTarvoStaticIP; }
  int Port() const { return fPort; }
  void SetPort(int Port) { fPort = Port; }
  bool DirectConnection() const { return fDirectConnection; }
  bool AutoChangeEthAdapter() const { return fAutoChangeEthAdapter; }
  void SetAutoChangeEthAdapter(bool Value) { fAutoChangeEthAdapter = Value; }
  int WaitTime() const { return fWaitTime; }
  void SetWaitTime(int Value) { fWaitTime = Value; }
  int NoRetires() const { return fNoRetries; }
  void SetNoRetires(int Value) { fNoRetries = Value; }
  uint16_t PasswordCRC() const { return fPasswordCRC; }
  void SetPasswordCRC(uint16_t Value) { fPasswordCRC = Value; }
  bool LogToFile() const { return fLogToFile.load(); }
  void SetLogToFile(bool Value) { fLogToFile.store(Value); }
  TEthernetAdapterInfo& EthAdapter() { return *fEthAdapter; }
  const TEthernetAdapterInfo& EthAdapter() const { return *fEthAdapter; }
  TEthernetAdapterInfoList& EthAdapterList() { return *fEthAdapterList; }
  TCommState CommState() const { return fCommState.load(); }
  TMessageDirection ResponseErrorCode() const;
  int32_t TransferDate() const { return fTransferDate; }
  std::string HostIP() const;
  int HostPort() const;
  // The last answer (valid after a transaction has ended).
  std::string LastData() const;
  std::string LastIP() const;
  int LastPort() const;
  int32_t SenderNAD() const;

  void SetOnProgress(TCommProgressEvent e) { fOnProgress = std::move(e); }
  // Raised on the listener thread; they may be set at any time.
  void SetOnQLinkRead(TQLinkReadEvent e);
  void SetOnRecieve(TComEvent e);
  // Raised on the listener thread for each answer a discovery lists, as it comes: work on
  // a controller may begin before the window ends.
  void SetOnDiscovered(TDiscoveredEvent e);
  void SetOnSend(TComEvent e) { fOnSend = std::move(e); }

  // The file the debug log is appended to: "q-link.log" in the executable's directory, or
  // in the user's state folder where that directory cannot be written (see uLogFile).
  static std::string LogFilePath();
  static void SetLogFilePath(const std::string& path);  // tests only

 private:
  // The implementation owns everything below; see uCommunication.cpp.
  friend class TCommunicatorTestAccess;  // tests reach the private transaction engine

  bool SendAndWait(const uint8_t* frame, int length);
  // The transaction of SendAndWait for a request of `command` whose answer has the given
  // shape.
  bool Transact(const uint8_t* frame, int length, TAnswerShape shape, uint8_t command);
  bool WaitForAnswer(int timeout);
  void HandleDatagram(const uint8_t* data, size_t size, const TDatagramInfo& info);
  void DoProgress(uint32_t Progress, uint32_t ProgressMax, uint32_t ScaleMax, bool& Cancel);
  void LogLine(const std::string& text);
  // A command's request and transaction; the answer's shape is the command's own, or the
  // one given (memory and random reads fix it by their counts).
  bool Request(uint8_t command, const uint8_t* params, int paramLength);
  bool Request(uint8_t command, const uint8_t* params, int paramLength, TAnswerShape shape);
  // Builds the request frame of a command in buffer (kFrameBufferSize bytes).
  bool EncodeRequest(uint8_t command, const uint8_t* params, int paramLength, uint8_t* buffer,
                     uint16_t& length) const;
  // Whether an answer of exactly this length to the read request `frame` could be confused
  // with an answer still on its way to another request or with a copy of a recent answer.
  // A request that can choose its answer's length (a random read) picks one for which
  // this is false.
  bool AnswerLengthIsTaken(int length, const std::string& frame, uint8_t command) const;

  // Starts a wait before its request goes out, so that an answer that arrives at once
  // (on loopback it can beat the caller to the wait) is kept, not wiped.
  void PrepareWait();
  void PrepareWaitLocked();
  // Sleeps until `until` or the receive side's next notification, the lock released and
  // the front-end's events served meanwhile; false when a cancel came since `generation`.
  bool PauseLocked(std::unique_lock<std::mutex>& lock, std::chrono::steady_clock::time_point until,
                   uint64_t generation);
  // Before a request whose answer could be confused with an answer still on its way to
  // an earlier request: waits until those answers have come or cannot come any more.
  // False when cancelled.
  bool BringInStep(const TRequestSpec& request);
  // After an attempt that was given only answers that could be copies of answers to other
  // requests: waits until no such copy can come any more. True when it waited.
  bool HoldForCopies();
  // The receive side's judgement of one decoded frame (fMutex held).
  TVerdict RouteFrame(const TDecodedFrame& frame, const TDatagramInfo& info);
  std::chrono::milliseconds LateAnswerBound() const;
  // Ends the open wait (fMutex held): fResult takes the receive side's fields as they
  // stand, answered tells whether a decoded frame ended it.
  void CloseWaitLocked(bool answered);
  void RotateAdapter();
  // Watches for the answer until `until`; returns with the lock held when it came.
  void SpinForAnswer(std::unique_lock<std::mutex>& lock,
                     std::chrono::steady_clock::time_point until);
  // Where a request goes in the current mode.
  std::string Destination() const;
  void LogSend(const std::string& destination, const uint8_t* frame, int length);

  std::unique_ptr<TUdpEndpoint> fUDPDriver;
  std::unique_ptr<TEthernetAdapterInfo> fEthAdapter;
  int fPort = 0;
  std::atomic<TCommState> fCommState{csREADY};
  mutable std::mutex fMutex;  // guards the receive side's results below
  std::condition_variable fAnswerCv;
  std::string RecMessage;
  std::string fLastAnswer;
  std::string fLastIP;
  int fLastPort = 0;
  std::string fLastData;
  int32_t fSenderNAD = 0;
  int32_t fReceiverNAD = 0;
  std::string fTarvoIP;
  int fTarvoPort = kDefaultTarvoPort;
  int32_t fTarvoNAD = -1;
  int32_t fTransferDate = 0;
  uint16_t fPasswordCRC = 0;
  TMessageDirection fResponseErrorCode = md_REQ;
  std::string fTarvoStaticIP;
  std::string fHostIp;
  int fHostPort = 0;
  TCommProgressEvent fOnProgress;
  // Set on the caller's thread and read on the listener thread: replaced and taken under
  // fMutex, called outside it.
  std::shared_ptr<const TQLinkReadEvent> fOnQLinkRead;
  std::shared_ptr<const TComEvent> fOnRecieve;
  std::shared_ptr<const TDiscoveredEvent> fOnDiscovered;
  TComEvent fOnSend;
  std::unique_ptr<TEthernetAdapterInfoList> fEthAdapterList;
  int fWaitTime = 500;
  int fNoRetries = 3;
  // Discovery collection: the receive side appends to the lists only while a wait is
  // open, so the caller may fill and read them without the lock before and after it.
  std::atomic<bool> fListTarvosReq{false};
  std::vector<std::string> fNADList;
  std::vector<std::string> fIPList;
  std::vector<TMessageDirection> fCodeList;
  bool fDirectConnection = false;
  bool fAutoChangeEthAdapter = false;
  std::atomic<bool> fLogToFile{false};

  // The result of the last wait, taken when it ended (guarded by fMutex). The accessors
  // read it, so a duplicate or late frame that arrives after the wait cannot change the
  // answer a command is still reading.
  struct TAnswerSnapshot {
    std::string IP;
    std::string Data;
    int Port = 0;
    int32_t SenderNAD = 0;
    TMessageDirection Code = md_REQ;
  };
  TAnswerSnapshot fResult;
  bool fWaitOpen = false;      // guarded by fMutex
  bool fWaitAnswered = false;  // guarded by fMutex
  // How many waits in a row ended without the spin seeing their answer (see WaitForAnswer).
  std::atomic<int> fSpinMisses{0};
  // How long the last answered wait took, in steady clock nanoseconds.
  std::atomic<int64_t> fLastAnswerNs{0};
  bool fWaitPrepared = false;  // caller's thread only

  // Which request each decoded frame answers (guarded by fMutex).
  TAnswerMatcher fMatcher;
  std::atomic<uint64_t> fCancelGeneration{0};
  std::atomic<bool> fAborted{false};
};
