#include "sim/uSimController.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <ctime>

#include "protocol/uQLink.h"
#include "sim/uSimAlc.h"
#include "sim/uSimZip.h"

namespace sim {

namespace {

// An answer body may fill a whole frame: L counts the body and the checksum.
constexpr uint32_t kMaxBody = kMaxFrameLength - kFrameChecksumSize;
// The request log keeps the most recent requests only, so that a long run stays bounded.
constexpr size_t kMaxRecorded = 20000;
constexpr uint32_t kCodeMinSize = 0x40000;
constexpr uint32_t kDirAddress = 0x20100;
constexpr uint32_t kProgramAddress = 0x20400;
constexpr uint32_t kProgramSize = 1024;
constexpr uint32_t kPasswordHashField = kCodeHeaderAddress + kCodeHeaderPasswordHashOffset;
constexpr uint32_t kTransferDateField = kCodeHeaderAddress + kCodeHeaderTransferDateOffset;
// Header, directory, program and a small archive share one code page.
constexpr uint32_t kCodePageSize = 4096;
constexpr uint32_t kDataPageSize = 1024;

int32_t DosDateTime(time_t t) {
  tm lt{};
  localtime_r(&t, &lt);
  const uint32_t date =
      ((std::max(lt.tm_year + 1900, 1980) - 1980) << 9) | ((lt.tm_mon + 1) << 5) | lt.tm_mday;
  const uint32_t time = (lt.tm_hour << 11) | (lt.tm_min << 5) | (lt.tm_sec / 2);
  return static_cast<int32_t>((date << 16) | time);
}

bool HeaderValid(const TSimMemory& code) {
  uint8_t h[4];
  code.Read(kCodeHeaderAddress, 4, h);
  return GetLE16(h + kCodeHeaderEmptyOffset) == 0 &&
         GetLE16(h + kCodeHeaderMagicOffset) == kCodeHeaderMagic;
}

// Stand-in for compiled code: only its size and that it is not blank matter.
std::vector<uint8_t> ProgramImage() {
  std::vector<uint8_t> image(kProgramSize);
  uint32_t x = 0x2545F491;
  for (uint8_t& b : image) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
  }
  return image;
}

uint32_t AlignUp(uint32_t v, uint32_t to) {
  return (v + to - 1) / to * to;
}

// The size of the whole, intact frame that `p` begins with; 0 when none does. Checked as
// the codec's decoder checks frames, on the bytes themselves.
size_t FrameLengthAt(const uint8_t* p, size_t n) {
  if (n < static_cast<size_t>(kFrameHeaderSize) || p[0] != kStartMark0 || p[1] != kStartMark1)
    return 0;
  const size_t L = GetLE16(p + kFrameLengthOffset);
  if (L < static_cast<size_t>(kMinFrameLength) || L > static_cast<size_t>(kMaxFrameLength))
    return 0;
  const size_t total = L + kFrameHeaderSize;
  if (n < total) return 0;
  const int covered = static_cast<int>(total) - kFrameChecksumSize;
  return FrameChecksum(p, covered, 0) == GetLE16(p + covered) ? total : 0;
}

void PutDirEntry(uint8_t* p, const std::string& name, uint32_t address, uint32_t size) {
  const size_t length = std::min<size_t>(name.size(), kFileEntryNameSize);
  std::memset(p, 0, kFileEntrySize);
  std::memcpy(p, name.data(), length);
  PutLE16(p + kFileEntryNameLengthOffset, static_cast<uint16_t>(length));
  PutLE32(p + kFileEntryAddressOffset, address);
  PutLE32(p + kFileEntrySizeOffset, size);
}

}  // namespace

TSimController::TSimController(uint32_t nad, std::string ip, std::string password)
    : fNAD(nad),
      fIP(std::move(ip)),
      fPasswordCRC(PasswordHashUtf8(password)),
      fRandom(std::random_device{}() ^ nad),
      fCode(kCodeMinSize, 0xFF, kCodePageSize),
      fData(kDataMemorySize, 0, kDataPageSize),
      fEeprom(kDataMemorySize, 0, kDataPageSize),
      fStarted(std::chrono::steady_clock::now()) {
  const std::vector<TSimVar> vars = DefaultVars();
  InstallProgram(MakeAlcText(vars, fNAD), vars);
}

uint16_t TSimController::PasswordCRC() const {
  std::lock_guard lock(fMutex);
  return fPasswordCRC;
}

void TSimController::SetPassword(const std::string& password) {
  std::lock_guard lock(fMutex);
  fPasswordCRC = PasswordHashUtf8(password);
  if (HeaderValid(fCode)) {
    uint8_t field[2];
    PutLE16(field, fPasswordCRC);
    fCode.Write(kPasswordHashField, field, 2);
  }
}

TSimFaults TSimController::Faults() const {
  std::lock_guard lock(fMutex);
  return fFaults;
}

void TSimController::SetFaults(const TSimFaults& faults) {
  std::lock_guard lock(fMutex);
  fFaults = faults;
}

void TSimController::Seed(uint64_t seed) {
  std::lock_guard lock(fMutex);
  std::seed_seq sequence{static_cast<uint32_t>(seed), static_cast<uint32_t>(seed >> 32)};
  fRandom.seed(sequence);
}

// ---- program ------------------------------------------------------------------------

void TSimController::ReplaceProgram(const std::string& alcText) {
  std::lock_guard lock(fMutex);
  InstallProgram(alcText, ParseAlcText(alcText));
}

void TSimController::ReplaceProgram(const std::vector<TSimVar>& vars) {
  std::lock_guard lock(fMutex);
  InstallProgram(MakeAlcText(vars, fNAD), vars);
}

void TSimController::ClearProgram() {
  std::lock_guard lock(fMutex);
  fProgramInstalled = false;
  BuildCodeMemory();
}

void TSimController::SetWithoutAlc(bool withoutAlc) {
  std::lock_guard lock(fMutex);
  fWithoutAlc = withoutAlc;
  BuildCodeMemory();
}

void TSimController::SetRunning(bool running) {
  std::lock_guard lock(fMutex);
  fRunning = running;
}

bool TSimController::HasProgram() const {
  std::lock_guard lock(fMutex);
  return HeaderValid(fCode);
}

uint8_t TSimController::PlcStatus() const {
  std::lock_guard lock(fMutex);
  if (!HeaderValid(fCode)) return psNoValidProgram;
  return fSysStatus == ssKernel && fRunning ? psRun : psStop;
}

uint8_t TSimController::SysStatus() const {
  std::lock_guard lock(fMutex);
  return fSysStatus;
}

int32_t TSimController::TransferDate() const {
  std::lock_guard lock(fMutex);
  return HeaderValid(fCode) ? static_cast<int32_t>(CodeLong(kTransferDateField)) : 0;
}

std::string TSimController::AlcText() const {
  std::lock_guard lock(fMutex);
  return fAlcText;
}

std::vector<TSimVar> TSimController::Vars() const {
  std::lock_guard lock(fMutex);
  return fVars;
}

void TSimController::InstallProgram(const std::string& alcText, const std::vector<TSimVar>& vars) {
  fAlcText = alcText;
  fVars = vars;
  // A reader tells programs apart by their transfer date, whose clock ticks in two
  // seconds: a program replaced within that time still gets a later date.
  fProgramTime = std::max<int64_t>(std::time(nullptr), fProgramTime + 2);
  fProgramInstalled = true;

  fPlaced.clear();
  fPlacedByName.clear();
  for (const TSimVar& v : fVars) {
    if (!v.InDataMemory() || v.Count <= 0) continue;
    const int64_t first = static_cast<int64_t>(v.Address) + v.Offset;
    const int64_t end = first + static_cast<int64_t>(v.Count - 1) * v.Size + v.Width();
    if (first < 0 || end > kDataMemorySize || v.Size < 0) continue;
    fPlacedByName.emplace(v.Name, fPlaced.size());
    fPlaced.push_back(
        {v.Name, static_cast<uint32_t>(first), v.Size, v.Width(), v.Count, v.IsUser()});
  }
  fData.Clear();
  LoadInitialValues();
  fEeprom = fData;
  fEeLoadPending = false;
  fScanTimeMax = 0;
  BuildCodeMemory();
}

void TSimController::LoadInitialValues() {
  for (const TSimVar& v : fVars) {
    const TPlacedVar* p = Find(v.Name);
    // Only the first of two equally named variables is reachable by name.
    if (p == nullptr || p->Address != v.Address + v.Offset) continue;
    for (int i = 0; i < p->Count; ++i)
      SetRaw(p->Address + i * p->Size, p->Width,
             i < static_cast<int>(v.Initial.size()) ? v.Initial[i] : 0);
  }
}

void TSimController::BuildCodeMemory() {
  fCode.Clear();
  fCode.Resize(kCodeMinSize);
  uint8_t header[kCodeHeaderSize] = {};
  if (!fProgramInstalled) {
    fCode.Write(kCodeHeaderAddress, header, kCodeHeaderSize);
    return;
  }
  const int32_t date = DosDateTime(static_cast<time_t>(fProgramTime));
  const std::vector<uint8_t> program = ProgramImage();
  std::vector<uint8_t> zip;
  if (!fWithoutAlc) zip = MakeZip("program.alc", fAlcText, static_cast<uint32_t>(date));
  const uint32_t zipAddress = AlignUp(kProgramAddress + kProgramSize, 256);
  const uint32_t fileCount = fWithoutAlc ? 1 : 2;

  const uint32_t end = zipAddress + static_cast<uint32_t>(zip.size());
  if (end > fCode.Size()) fCode.Resize(AlignUp(end, 256));
  fCode.Write(kProgramAddress, program.data(), static_cast<uint32_t>(program.size()));
  fCode.Write(zipAddress, zip.data(), static_cast<uint32_t>(zip.size()));

  PutLE16(header + kCodeHeaderMagicOffset, kCodeHeaderMagic);
  PutLE16(header + kCodeHeaderCodeCrcOffset,
          FrameChecksum(program.data(), static_cast<int>(program.size()), 0));
  PutLE16(header + kCodeHeaderAllocCrcOffset,
          FrameChecksum(reinterpret_cast<const uint8_t*>(fAlcText.data()),
                        static_cast<int>(std::min<size_t>(fAlcText.size(), 1 << 30)), 0));
  PutLE32(header + kCodeHeaderTransferDateOffset, static_cast<uint32_t>(date));
  PutLE16(header + kCodeHeaderTotalSizeOffset,
          static_cast<uint16_t>((kProgramSize + zip.size()) & 0xFFFF));
  PutLE16(header + kCodeHeaderTasksOffset, 1);
  PutLE16(header + kCodeHeaderSocketsOffset, 2);
  PutLE16(header + kCodeHeaderEthSocketsOffset, 2);
  PutLE16(header + kCodeHeaderScanOverrunOffset, 10);  // ms
  PutLE32(header + kCodeHeaderFileAddressOffset, kDirAddress);
  PutLE16(header + kCodeHeaderFileCountOffset, static_cast<uint16_t>(fileCount));
  PutLE16(header + kCodeHeaderCom1BaudOffset, 9600);
  PutLE16(header + kCodeHeaderCom1DataOffset, 8);
  PutLE16(header + kCodeHeaderPasswordLevelOffset, fPasswordCRC != 0 ? 1 : 0);
  PutLE16(header + kCodeHeaderPasswordHashOffset, fPasswordCRC);
  // The header's own checksum covers what follows it.
  const int checked = kCodeHeaderCrcOffset + 2;
  PutLE16(header + kCodeHeaderCrcOffset,
          FrameChecksum(header + checked, kCodeHeaderSize - checked, 0));
  fCode.Write(kCodeHeaderAddress, header, kCodeHeaderSize);

  uint8_t dir[2 * kFileEntrySize];
  PutDirEntry(dir, "program.bin", kProgramAddress, kProgramSize);
  if (!fWithoutAlc)
    PutDirEntry(dir + kFileEntrySize, "alc.zip", zipAddress, static_cast<uint32_t>(zip.size()));
  fCode.Write(kDirAddress, dir, fileCount * kFileEntrySize);
}

uint32_t TSimController::CodeWord(uint32_t address) const {
  uint8_t b[2];
  fCode.Read(address, 2, b);
  return GetLE16(b);
}

uint32_t TSimController::CodeLong(uint32_t address) const {
  uint8_t b[4];
  fCode.Read(address, 4, b);
  return GetLE32(b);
}

// ---- variables ----------------------------------------------------------------------

const TSimController::TPlacedVar* TSimController::Find(const std::string& name) const {
  const auto it = fPlacedByName.find(name);
  return it == fPlacedByName.end() ? nullptr : &fPlaced[it->second];
}

uint32_t TSimController::GetRaw(uint32_t address, int width) const {
  uint32_t v = 0;
  for (int i = width - 1; i >= 0; --i) v = (v << 8) | fData.Get((address + i) & 0xFFFF);
  return v;
}

void TSimController::SetRaw(uint32_t address, int width, uint32_t raw) {
  for (int i = 0; i < width; ++i) fData.Set((address + i) & 0xFFFF, (raw >> (8 * i)) & 0xFF);
}

std::optional<uint32_t> TSimController::Get(const std::string& name, int index) const {
  const TPlacedVar* p = Find(name);
  if (p == nullptr || index < 0 || index >= p->Count) return std::nullopt;
  return GetRaw(p->Address + index * p->Size, p->Width);
}

void TSimController::Set(const std::string& name, uint32_t raw, int index) {
  const TPlacedVar* p = Find(name);
  if (p == nullptr || index < 0 || index >= p->Count) return;
  SetRaw(p->Address + index * p->Size, p->Width, raw);
}

bool TSimController::CopyEeprom(bool store) {
  for (const TPlacedVar& p : fPlaced) {
    if (!p.User) continue;
    for (int i = 0; i < p.Count; ++i) {
      const uint32_t a = p.Address + i * p.Size;
      for (uint32_t b = a; b < a + p.Width; ++b) {
        if (store)
          fEeprom.Set(b, fData.Get(b));
        else
          fData.Set(b, fEeprom.Get(b));
      }
    }
  }
  return true;
}

void TSimController::Refresh() {
  using namespace std::chrono;
  const auto now = steady_clock::now();
  if (fEeLoadPending && now >= fEeLoadDue) {
    CopyEeprom(false);
    Set("ee_read_req", 0);
    fEeLoadPending = false;
  }

  const time_t clock = system_clock::to_time_t(system_clock::now() + fClockOffset);
  tm lt{};
  localtime_r(&clock, &lt);
  Set("rtc_year", lt.tm_year + 1900);
  Set("rtc_month", lt.tm_mon + 1);
  Set("rtc_date", lt.tm_mday);
  Set("rtc_hour", lt.tm_hour);
  Set("rtc_min", lt.tm_min);
  Set("rtc_sec", lt.tm_sec);
  Set("rtc_weekday", lt.tm_wday);

  const bool running = HeaderValid(fCode) && fSysStatus == ssKernel && fRunning;
  if (!running) {
    Set("scan_frequency", 0);
    return;
  }
  // Figures that wander the way a loaded controller's do, without any timer.
  const auto ms = static_cast<uint64_t>(duration_cast<milliseconds>(now - fStarted).count());
  const uint32_t scanTime = 380 + static_cast<uint32_t>((ms / 7) % 140);
  fScanTimeMax = std::max(fScanTimeMax, scanTime + 95);
  Set("scan_frequency", 1000000 / (scanTime + 600));
  Set("scan_time", scanTime);
  Set("scan_time_max", fScanTimeMax);
  Set("scan_overrun", static_cast<uint32_t>(ms / 45000));
}

void TSimController::AfterWrite() {
  if (Get("rtc_write_req").value_or(0) != 0) {
    const auto y = Get("rtc_year"), mo = Get("rtc_month"), d = Get("rtc_date"), h = Get("rtc_hour"),
               mi = Get("rtc_min"), s = Get("rtc_sec");
    if (y && mo && d && h && mi && s && *y >= 1970 && *y <= 2099 && *mo >= 1 && *mo <= 12 &&
        *d >= 1 && *d <= 31 && *h <= 23 && *mi <= 59 && *s <= 59) {
      tm t{};
      t.tm_year = static_cast<int>(*y) - 1900;
      t.tm_mon = static_cast<int>(*mo) - 1;
      t.tm_mday = static_cast<int>(*d);
      t.tm_hour = static_cast<int>(*h);
      t.tm_min = static_cast<int>(*mi);
      t.tm_sec = static_cast<int>(*s);
      t.tm_isdst = -1;
      const time_t target = mktime(&t);
      // mktime rolls 31 April over into May; a clock refuses such a date.
      if (target != static_cast<time_t>(-1) && t.tm_mday == static_cast<int>(*d))
        fClockOffset = std::chrono::seconds(target - std::time(nullptr));
    }
    Set("rtc_write_req", 0);
  }
  if (Get("ee_write_req").value_or(0) != 0) {
    if (Get("ee_write_magic").value_or(0) == kEepromWriteMagic) CopyEeprom(true);
    Set("ee_write_req", 0);
    Set("ee_write_magic", 0);
  }
  if (Get("ee_read_req").value_or(0) != 0 && !fEeLoadPending) {
    if (fEepromLoadDelayMs <= 0) {
      CopyEeprom(false);
      Set("ee_read_req", 0);
    } else {
      fEeLoadPending = true;
      fEeLoadDue = std::chrono::steady_clock::now() + std::chrono::milliseconds(fEepromLoadDelayMs);
    }
  }
}

std::optional<uint32_t> TSimController::ReadVar(const std::string& name, int index) {
  std::lock_guard lock(fMutex);
  Refresh();
  return Get(name, index);
}

bool TSimController::WriteVar(const std::string& name, int index, uint32_t raw) {
  std::lock_guard lock(fMutex);
  const TPlacedVar* p = Find(name);
  if (p == nullptr || index < 0 || index >= p->Count) return false;
  Set(name, raw, index);
  AfterWrite();
  return true;
}

std::optional<uint16_t> TSimController::VarAddress(const std::string& name, int index) const {
  std::lock_guard lock(fMutex);
  const TPlacedVar* p = Find(name);
  if (p == nullptr || index < 0 || index >= p->Count) return std::nullopt;
  return static_cast<uint16_t>(p->Address + index * p->Size);
}

std::vector<uint8_t> TSimController::ReadDataMemory(uint32_t address, uint32_t count) {
  std::lock_guard lock(fMutex);
  Refresh();
  if (address >= kDataMemorySize) return {};
  count = std::min(count, kDataMemorySize - address);
  return fData.Read(address, count);
}

void TSimController::WriteDataMemory(uint32_t address, const std::vector<uint8_t>& bytes) {
  std::lock_guard lock(fMutex);
  if (address < kDataMemorySize) {
    fData.Write(address, bytes.data(),
                static_cast<uint32_t>(std::min<size_t>(bytes.size(), kDataMemorySize - address)));
  }
  AfterWrite();
}

std::vector<uint8_t> TSimController::ReadCodeMemory(uint32_t address, uint32_t count) const {
  std::lock_guard lock(fMutex);
  if (address >= fCode.Size()) return {};
  count = std::min(count, fCode.Size() - address);
  return fCode.Read(address, count);
}

std::chrono::seconds TSimController::ClockOffset() const {
  std::lock_guard lock(fMutex);
  return fClockOffset;
}

void TSimController::SetClockOffset(std::chrono::seconds offset) {
  std::lock_guard lock(fMutex);
  fClockOffset = offset;
}

void TSimController::SetEepromLoadDelay(int ms) {
  std::lock_guard lock(fMutex);
  fEepromLoadDelayMs = ms;
}

// ---- requests -----------------------------------------------------------------------

std::vector<TSimRequest> TSimController::Requests() const {
  std::lock_guard lock(fMutex);
  return fRequests;
}

void TSimController::ClearRequests() {
  std::lock_guard lock(fMutex);
  fRequests.clear();
}

void TSimController::SetRecordRequests(bool record) {
  std::lock_guard lock(fMutex);
  fRecordRequests = record;
  if (!record) fRequests = {};
}

size_t TSimController::MemoryBytes() const {
  std::lock_guard lock(fMutex);
  return fCode.OwnBytes() + fData.OwnBytes() + fEeprom.OwnBytes();
}

TSimReply TSimController::HandleDatagram(const uint8_t* data, size_t size,
                                         const std::string& peerIP, int peerPort, bool broadcast) {
  TSimReply reply;
  std::lock_guard lock(fMutex);
  // Frames sent back to back in one datagram are each answered; the first thing that is
  // no frame ends the datagram.
  for (size_t at = 0;;) {
    const size_t length = FrameLengthAt(data + at, size - at);
    if (length == 0) break;
    const uint8_t* frame = data + at;
    at += length;
    const uint32_t to = GetLE32(frame + kFrameToNADOffset);
    const uint8_t direction = frame[12], type = frame[13];
    if (to != fNAD && to != 0) continue;
    if (direction != md_REQ || type != mt_COMMAND) continue;
    // The body: command, parameters, password hash.
    const uint8_t* body = frame + kFrameBodyOffset;
    const size_t count = length - kFrameOverhead;
    if (count < 3) continue;
    TSimRequest req;
    req.FromNAD = GetLE32(frame + kFrameFromNADOffset);
    req.ToNAD = to;
    req.Direction = direction;
    req.Type = type;
    req.Command = body[0];
    req.Params.assign(body + 1, body + count - 2);
    req.PasswordHash = GetLE16(body + count - kPasswordHashSize);
    req.Broadcast = broadcast;
    req.PeerIP = peerIP;
    req.PeerPort = peerPort;
    if (fRecordRequests) {
      if (fRequests.size() >= kMaxRecorded)
        fRequests.erase(fRequests.begin(), fRequests.begin() + kMaxRecorded / 2);
      fRequests.push_back(req);
    }
    ApplyFaults(Answer(req), reply);
  }
  return reply;
}

std::vector<uint8_t> TSimController::Answer(const TSimRequest& req) {
  uint8_t direction = md_ACK;
  std::vector<uint8_t> body;
  if (fFaults.NegativeCode != 0) {
    direction = static_cast<uint8_t>(fFaults.NegativeCode);
  } else if (req.PasswordHash != fPasswordCRC) {
    direction = md_BADPASS;
  } else {
    Refresh();
    body = Execute(req, direction);
    if (direction != md_ACK) body.clear();
  }
  return BuildFrame(fNAD, req.FromNAD, direction, mt_COMMAND, body.data(), body.size());
}

bool TSimController::Chance(double probability) {
  // The ends are exact and draw nothing, so that a certain fault never depends on luck.
  if (probability <= 0) return false;
  if (probability >= 1) return true;
  return std::uniform_real_distribution<double>(0, 1)(fRandom) < probability;
}

int TSimController::AnswerDelay() {
  const int delay = std::max(fFaults.DelayMs, 0);
  const int jitter = std::max(fFaults.JitterMs, 0);
  if (jitter == 0) return delay;
  const int low = std::max(delay - jitter, 0);
  return std::uniform_int_distribution<int>(low, delay + jitter)(fRandom);
}

int TSimController::CopyDelay() {
  const int low = std::max(fFaults.DuplicateDelayMinMs, 0);
  const int high = std::max(fFaults.DuplicateDelayMaxMs, low);
  return high == low ? low : std::uniform_int_distribution<int>(low, high)(fRandom);
}

void TSimController::ApplyFaults(std::vector<uint8_t> frame, TSimReply& reply) {
  if (frame.empty()) return;
  if (Chance(fFaults.DropProbability)) return;
  if (fFaults.CorruptChecksum || Chance(fFaults.CorruptProbability)) frame.back() ^= 0xFF;
  std::vector<uint8_t> datagram = frame;
  if (fFaults.TwoFrames) datagram.insert(datagram.end(), frame.begin(), frame.end());
  std::vector<std::vector<uint8_t>> parts;
  if (fFaults.Split) {
    const size_t half = datagram.size() / 2;
    parts.emplace_back(datagram.begin(), datagram.begin() + half);
    parts.emplace_back(datagram.begin() + half, datagram.end());
  } else {
    parts.push_back(std::move(datagram));
  }
  // A copy made on the way (a switch, a second port, a bonded link) travels right behind
  // the original, or takes a longer road and comes later.
  const int copies = fFaults.Duplicate || Chance(fFaults.DuplicateProbability) ? 2 : 1;
  const int delay = AnswerDelay();
  for (int c = 0; c < copies; ++c) {
    reply.Datagrams.insert(reply.Datagrams.end(), parts.begin(), parts.end());
    reply.DelaysMs.insert(reply.DelaysMs.end(), parts.size(), c == 0 ? delay : delay + CopyDelay());
  }
}

std::vector<uint8_t> TSimController::Execute(const TSimRequest& req, uint8_t& direction) {
  const std::vector<uint8_t>& p = req.Params;
  std::vector<uint8_t> out;
  auto bad = [&](uint8_t code) {
    direction = code;
    return std::vector<uint8_t>{};
  };
  const bool inKernel = fSysStatus == ssKernel;

  switch (req.Command) {
    case cmdStartLoader:
      fSysStatus = ssLoader;
      fRunning = false;
      return out;
    case cmdStartKernel:
      fSysStatus = ssKernel;
      return out;
    case cmdPing:
      AppendLE16(out, fPasswordCRC);
      return out;
    case cmdReadStatus:
      out.push_back(fSysStatus);
      out.push_back(!HeaderValid(fCode) ? psNoValidProgram
                                        : (inKernel && fRunning ? psRun : psStop));
      return out;
    case cmdReadLoaderHeader:
      AppendLE16(out, 1);  // version
      AppendLE16(out, 4);
      AppendLE16(out, 2);  // model
      AppendLE16(out, 0);
      AppendLE32(out, 0x5A210000);  // build date, MS-DOS format
      AppendLE32(out, 100000 + fNAD);
      return out;
    case cmdReadKernelHeader: {
      if (!inKernel) return bad(md_NOKERN);
      AppendLE16(out, 3);  // version
      AppendLE16(out, 12);
      AppendLE16(out, kCodeHeaderMagic);
      AppendLE16(out, 0x4B1D);      // crc
      AppendLE32(out, 0x5A4C6000);  // build date, MS-DOS format
      AppendLE32(out, HeaderValid(fCode) ? CodeLong(kTransferDateField) : 0);
      AppendLE16(out, 2);       // model
      AppendLE16(out, 0x8000);  // kernel size
      AppendLE16(out, 7);       // release
      AppendLE16(out, 0);       // IEX speed
      AppendLE16(out, 0);
      AppendLE32(out, fNAD);  // NAD alias
      in_addr ip{}, mask{};
      inet_pton(AF_INET, fIP.c_str(), &ip);
      inet_pton(AF_INET, "255.0.0.0", &mask);
      // Addresses go out in their network byte order.
      out.insert(out.end(), reinterpret_cast<uint8_t*>(&ip), reinterpret_cast<uint8_t*>(&ip) + 4);
      out.insert(out.end(), reinterpret_cast<uint8_t*>(&mask),
                 reinterpret_cast<uint8_t*>(&mask) + 4);
      AppendLE32(out, 0);  // gateway
      AppendLE32(out, 0);  // DNS server
      return out;
    }
    case cmdFlashInit:
      if (p.size() != 2) return bad(md_BADPARA);
      fRunning = false;
      fProgramInstalled = false;
      fCode.Fill(kCodeHeaderAddress, fCode.Size(), 0);
      if (p[1] != 0) fData.Clear();
      return out;
    case cmdReadCode: {
      if (p.size() != 4) return bad(md_BADPARA);
      const uint32_t start = GetLE16(p.data()) * kCodeBlockSize, count = GetLE16(p.data() + 2);
      if (count > kMaxBody || start + count > fCode.Size()) return bad(md_BADPARA);
      return fCode.Read(start, count);
    }
    case cmdWriteCode: {
      if (p.size() < 4) return bad(md_BADPARA);
      const uint32_t start = GetLE16(p.data()) * kCodeBlockSize, count = GetLE16(p.data() + 2);
      if (count != p.size() - 4 || start + count > fCode.Size()) return bad(md_BADPARA);
      fCode.Write(start, p.data() + 4, count);
      return out;
    }
    case cmdDataInit:
      fData.Clear();
      LoadInitialValues();
      return out;
    case cmdReadData: {
      if (p.size() != 4) return bad(md_BADPARA);
      const uint32_t start = GetLE16(p.data()), count = GetLE16(p.data() + 2);
      if (count > kMaxBody || start + count > kDataMemorySize) return bad(md_BADPARA);
      return fData.Read(start, count);
    }
    case cmdWriteData: {
      if (p.size() < 4) return bad(md_BADPARA);
      const uint32_t start = GetLE16(p.data()), count = GetLE16(p.data() + 2);
      if (count != p.size() - 4 || start + count > kDataMemorySize) return bad(md_BADPARA);
      fData.Write(start, p.data() + 4, count);
      AfterWrite();
      return out;
    }
    case cmdReadRandom:
    case cmdWriteRandom: {
      if (!inKernel) return bad(md_NOKERN);
      if (p.size() < 6) return bad(md_BADPARA);
      const size_t c1 = GetLE16(p.data()), c2 = GetLE16(p.data() + 2), c4 = GetLE16(p.data() + 4);
      const size_t n = c1 + c2 + c4;
      const size_t valueBytes = c1 + 2 * c2 + 4 * c4;
      const bool write = req.Command == cmdWriteRandom;
      if (p.size() != 6 + 2 * n + (write ? valueBytes : 0)) return bad(md_BADPARA);
      if (!write && valueBytes > kMaxBody) return bad(md_BADPARA);
      auto width = [&](size_t i) { return i < c1 ? 1 : (i < c1 + c2 ? 2 : 4); };
      for (size_t i = 0; i < n; ++i)
        if (GetLE16(p.data() + 6 + 2 * i) + static_cast<uint32_t>(width(i)) > kDataMemorySize)
          return bad(md_BADPARA);
      const uint8_t* value = p.data() + 6 + 2 * n;
      for (size_t i = 0; i < n; ++i) {
        const uint32_t address = GetLE16(p.data() + 6 + 2 * i);
        const int w = width(i);
        if (write) {
          fData.Write(address, value, static_cast<uint32_t>(w));
          value += w;
        } else {
          uint8_t bytes[4];
          fData.Read(address, static_cast<uint32_t>(w), bytes);
          out.insert(out.end(), bytes, bytes + w);
        }
      }
      // Every value of the request is in place before the controller looks at request
      // variables, whatever order the addresses came in.
      if (write) AfterWrite();
      return out;
    }
    case cmdStartPLC:
      if (!inKernel) return bad(md_NOKERN);
      if (!HeaderValid(fCode)) return bad(md_NOPRG);
      fRunning = true;
      return out;
    case cmdStopPLC:
      if (!inKernel) return bad(md_NOKERN);
      fRunning = false;
      return out;
    case cmdIEXMessages:
      if (p.size() < 2 || GetLE16(p.data()) != p.size() - 2) return bad(md_BADPARA);
      return p;
    default:
      return bad(md_BADCMD);
  }
}

}  // namespace sim
