// Code and data memory: the four memory commands, the chunked stream transfers, the
// code header with its checks, the file directory and the allocation archive.
#include <algorithm>
#include <array>
#include <cstring>
#include <exception>

#include "comm/uCommunication.h"
#include "data/uTarvoVars.h"
#include "data/uZipFile.h"
#include "protocol/uQLink.h"

namespace {

constexpr int kReadDataChunk = 100;
constexpr int kWriteChunk = 256;
constexpr int kHeaderReadAttempts = 5;

constexpr const char* kAlcArchiveName = "alc.zip";
// Code memory is 65536 blocks of 256 bytes; no file of it can be larger, and a directory
// entry claiming more is not read.
constexpr int32_t kMaxArchiveSize = 16 * 1024 * 1024;

using TAnswerBuffer = std::array<uint8_t, kFrameBufferSize>;

// Block or address, then count: the first four parameter bytes of every memory command.
void PutLocation(uint8_t* params, uint16_t location, uint16_t count) {
  PutLE16(params, location);
  PutLE16(params + 2, count);
}

// A read's destination must hold what was asked for.
bool CanHold(uint16_t count, const uint8_t* dest, int destSize) {
  return count == 0 || (dest != nullptr && count <= destSize);
}

// Converts the last answer's body into the zeroed destination; true when it holds at
// least count bytes.
bool TakeReadAnswer(const TCommunicator& comm, uint16_t count, uint8_t* dest, int destSize) {
  TAnswerBuffer body{};
  int bodyCount = 0;
  if (!HexToBytes(comm.LastData(), body.data(), static_cast<int>(body.size()), bodyCount)) {
    return false;
  }
  if (dest != nullptr && destSize > 0) {
    std::memset(dest, 0, static_cast<size_t>(destSize));
    std::memcpy(dest, body.data(), static_cast<size_t>(std::min(bodyCount, destSize)));
  }
  return bodyCount >= count;
}

uint16_t Low16(int64_t value) {
  return static_cast<uint16_t>(value & 0xFFFF);
}

struct TDirEntry {
  std::string Name;
  int NameLength = 0;
  int32_t Address = 0;
  int32_t Size = 0;
};

bool ReadDirectory(TCommunicator& comm, const TCodeHeader& head, std::vector<TDirEntry>& entries) {
  // file_count is 16 bits wide, so the directory is at most 65535 entries of 46 bytes.
  const int32_t dirSize = static_cast<int32_t>(head.file_count) * kFileEntrySize;
  TMemoryStream dir;
  if (!comm.ReadCodeToStream(head.file_adr, dirSize, &dir)) return false;
  if (dir.Size() < static_cast<size_t>(dirSize)) return false;
  entries.clear();
  entries.reserve(head.file_count);
  const uint8_t* p = dir.Bytes().data();
  for (int k = 0; k < head.file_count; ++k, p += kFileEntrySize) {
    TDirEntry e;
    e.NameLength = GetLE16(p + kFileEntryNameLengthOffset);
    const int kept = std::min(e.NameLength, kFileEntryNameSize);
    e.Name.assign(reinterpret_cast<const char*>(p), static_cast<size_t>(kept));
    e.Address = static_cast<int32_t>(GetLE32(p + kFileEntryAddressOffset));
    e.Size = static_cast<int32_t>(GetLE32(p + kFileEntrySizeOffset));
    entries.push_back(std::move(e));
  }
  return true;
}

bool IsAlcArchiveEntry(const TDirEntry& e) {
  return e.NameLength >= 1 && e.NameLength <= kFileEntryNameSize && e.Size > 0 &&
         e.Size <= kMaxArchiveSize && e.Name == kAlcArchiveName;
}

template <typename TRecord>
bool ReadHeaderRecord(TCommunicator& comm, std::unique_ptr<TRecord>& head) {
  TMemoryStream stream;
  if (!comm.ReadCodeToStream(kCodeHeaderAddress, sizeof(TRecord), &stream)) return false;
  if (stream.Size() < sizeof(TRecord)) return false;
  auto record = std::make_unique<TRecord>();
  std::memcpy(record.get(), stream.Bytes().data(), sizeof(TRecord));
  head = std::move(record);
  return true;
}

std::unique_ptr<TTarvoVarList> AlcVarList(TCommunicator& comm, bool ArraysAsSingleVar) {
  auto list = std::make_unique<TTarvoVarList>();
  std::unique_ptr<TMemoryStream> alc;
  if (comm.ReadAlc(alc) && alc) {
    alc->SetPosition(0);
    TZipFile zip;
    zip.LoadFromStream(*alc);  // a broken archive is the caller's to see
    if (zip.Count() == 1) {
      std::string data;
      bool extracted = true;
      try {
        data = zip.GetFileData(0);
      } catch (const std::exception&) {
        // A member that does not extract is as good as no allocation file.
        extracted = false;
      }
      if (extracted) {
        const std::vector<uint8_t> bytes(data.begin(), data.end());
        list->LoadFromStr(SplitLines(DecodeTextBytes(bytes)),
                          TTarvoVarList::ControllerParseNAD(comm.TarvoNAD()), ArraysAsSingleVar);
      }
    }
  }
  if (list->Count() == 0) return nullptr;
  return list;
}

}  // namespace

bool TCommunicator::ReadCode(uint16_t block, uint16_t count, uint8_t* dest, int destSize) {
  if (!CanHold(count, dest, destSize)) return false;
  uint8_t params[4];
  PutLocation(params, block, count);
  return Request(cmdReadCode, params, sizeof params, TAnswerShape::Exact(count)) &&
         TakeReadAnswer(*this, count, dest, destSize);
}

bool TCommunicator::ReadData(uint16_t address, uint16_t count, uint8_t* dest, int destSize) {
  if (!CanHold(count, dest, destSize)) return false;
  uint8_t params[4];
  PutLocation(params, address, count);
  return Request(cmdReadData, params, sizeof params, TAnswerShape::Exact(count)) &&
         TakeReadAnswer(*this, count, dest, destSize);
}

namespace {

// Parameters of a memory write; false when they do not fit one frame.
bool BuildWrite(uint16_t location, uint16_t count, const uint8_t* source,
                std::array<uint8_t, kFrameBufferSize>& params, int& length) {
  if (count > 0 && source == nullptr) return false;
  length = 4 + count;
  if (length > kMaxParameterBytes) return false;
  params.fill(0);
  PutLocation(params.data(), location, count);
  if (count > 0) std::memcpy(params.data() + 4, source, count);
  return true;
}

}  // namespace

bool TCommunicator::WriteCode(uint16_t block, uint16_t count, const uint8_t* source) {
  std::array<uint8_t, kFrameBufferSize> params;
  int length = 0;
  return BuildWrite(block, count, source, params, length) &&
         Request(cmdWriteCode, params.data(), length);
}

bool TCommunicator::WriteData(uint16_t address, uint16_t count, const uint8_t* source) {
  std::array<uint8_t, kFrameBufferSize> params;
  int length = 0;
  return BuildWrite(address, count, source, params, length) &&
         Request(cmdWriteData, params.data(), length);
}

bool TCommunicator::ReadCodeToStream(int32_t Address, int32_t size, TMemoryStream* DataStream) {
  if (DataStream == nullptr) return false;
  DataStream->Clear();
  if (Address < 0 || size < 0) return false;

  // Code is read in whole blocks from their start; the first block is cut at the
  // start address, and a range ending on a block boundary leaves an empty last chunk.
  const int64_t first = Address / kCodeBlockSize;
  const int64_t end = static_cast<int64_t>(Address) + size;
  const int64_t n = end / kCodeBlockSize - first + 1;
  const int64_t skip = Address % kCodeBlockSize;

  bool ok = true;
  bool cancel = false;
  TAnswerBuffer chunk;
  for (int64_t i = 0; i < n && ok && !cancel; ++i) {
    const int64_t length =
        i < n - 1 ? kCodeBlockSize : end - kCodeBlockSize * first - kCodeBlockSize * (n - 1);
    chunk.fill(0);
    if (length > 0) {
      ok = ReadCode(Low16(first + i), static_cast<uint16_t>(length), chunk.data(),
                    static_cast<int>(chunk.size()));
      if (!ok) break;
    }
    const int64_t from = i == 0 ? std::min(skip, length) : 0;
    DataStream->Write(chunk.data() + from, static_cast<size_t>(length - from));
    DoProgress(static_cast<uint32_t>(i + 1), static_cast<uint32_t>(n), static_cast<uint32_t>(size),
               cancel);
  }
  if (ok) DataStream->SetPosition(0);
  return ok && !cancel;
}

bool TCommunicator::ReadDataToStream(int32_t Address, int32_t size, TMemoryStream* DataStream) {
  if (DataStream == nullptr) return false;
  DataStream->Clear();
  if (size < 0) return false;

  const int64_t n = (static_cast<int64_t>(size) + kReadDataChunk - 1) / kReadDataChunk;
  bool ok = true;
  bool cancel = false;
  TAnswerBuffer chunk;
  for (int64_t i = 0; i < n && ok && !cancel; ++i) {
    const int64_t length = std::min<int64_t>(kReadDataChunk, size - kReadDataChunk * i);
    chunk.fill(0);
    ok = ReadData(Low16(Address + kReadDataChunk * i), static_cast<uint16_t>(length), chunk.data(),
                  static_cast<int>(chunk.size()));
    if (!ok) break;
    DataStream->Write(chunk.data(), static_cast<size_t>(length));
    DoProgress(static_cast<uint32_t>(i + 1), static_cast<uint32_t>(n), static_cast<uint32_t>(size),
               cancel);
  }
  if (ok) DataStream->SetPosition(0);
  return ok && !cancel;
}

bool TCommunicator::SendCodeStream(uint32_t Address, TMemoryStream* DataStream) {
  if (DataStream == nullptr) return false;
  // The whole content goes, from the first byte, whatever the stream's position.
  const std::vector<uint8_t>& bytes = DataStream->Bytes();
  const size_t total = bytes.size();
  const size_t n = (total + kWriteChunk - 1) / kWriteChunk;
  const uint32_t first = Address / kCodeBlockSize;
  bool ok = true;
  bool cancel = false;
  for (size_t i = 0; i < n && !cancel; ++i) {
    const size_t length = std::min<size_t>(kWriteChunk, total - kWriteChunk * i);
    ok = WriteCode(Low16(first + i), static_cast<uint16_t>(length), bytes.data() + kWriteChunk * i);
    DoProgress(static_cast<uint32_t>(ok ? i + 1 : i), static_cast<uint32_t>(n),
               static_cast<uint32_t>(total), cancel);
    if (!ok) break;
  }
  return ok && !cancel;
}

bool TCommunicator::SendDataStream(uint32_t Address, TMemoryStream* DataStream) {
  if (DataStream == nullptr) return false;
  const std::vector<uint8_t>& bytes = DataStream->Bytes();
  const size_t total = bytes.size();
  const size_t n = (total + kWriteChunk - 1) / kWriteChunk;
  bool ok = true;
  bool cancel = false;
  for (size_t i = 0; i < n && !cancel; ++i) {
    const size_t length = std::min<size_t>(kWriteChunk, total - kWriteChunk * i);
    ok = WriteData(Low16(Address + kWriteChunk * i), static_cast<uint16_t>(length),
                   bytes.data() + kWriteChunk * i);
    DoProgress(static_cast<uint32_t>(ok ? i + 1 : i), static_cast<uint32_t>(n),
               static_cast<uint32_t>(total), cancel);
    if (!ok) break;
  }
  return ok && !cancel;
}

bool TCommunicator::ReadCodeHeader(std::unique_ptr<TCodeHeader>& CodeHead) {
  return ReadHeaderRecord(*this, CodeHead);
}

bool TCommunicator::ReadCodeHeaderShort(std::unique_ptr<TCodeHeaderShort>& CodeHead) {
  return ReadHeaderRecord(*this, CodeHead);
}

bool TCommunicator::CheckCode() {
  for (int i = 0; i < kHeaderReadAttempts; ++i) {
    std::unique_ptr<TCodeHeaderShort> head;
    if (ReadCodeHeaderShort(head)) return IsValidCodeHeader(head->empty, head->magic);
  }
  return false;
}

bool TCommunicator::CheckDateNotChanged() {
  for (int i = 0; i < kHeaderReadAttempts; ++i) {
    std::unique_ptr<TCodeHeaderShort> head;
    if (!ReadCodeHeaderShort(head)) continue;
    if (!IsValidCodeHeader(head->empty, head->magic)) return false;
    const bool unchanged = head->transfer_date == fTransferDate;
    fTransferDate = head->transfer_date;
    return unchanged;
  }
  return false;
}

bool TCommunicator::ReadFileDirectory(std::vector<std::string>& names,
                                      std::vector<int32_t>& addresses,
                                      std::vector<int32_t>& sizes) {
  names.clear();
  addresses.clear();
  sizes.clear();
  std::unique_ptr<TCodeHeader> head;
  if (!ReadCodeHeader(head) || !IsValidCodeHeader(head->empty, head->magic)) return false;
  if (head->file_count == 0) return true;
  std::vector<TDirEntry> entries;
  if (!ReadDirectory(*this, *head, entries)) return false;
  for (const TDirEntry& e : entries) {
    names.push_back(e.Name);
    addresses.push_back(e.Address);
    sizes.push_back(e.Size);
  }
  return true;
}

bool TCommunicator::ReadAlc(std::unique_ptr<TMemoryStream>& AlcStream) {
  AlcStream.reset();
  std::unique_ptr<TCodeHeader> head;
  if (!ReadCodeHeader(head)) return false;
  if (!IsValidCodeHeader(head->empty, head->magic) || head->file_count == 0) return false;
  fTransferDate = head->transfer_date;

  std::vector<TDirEntry> entries;
  if (!ReadDirectory(*this, *head, entries)) return false;
  const auto archive = std::find_if(entries.begin(), entries.end(), IsAlcArchiveEntry);
  if (archive == entries.end()) return false;
  AlcStream = std::make_unique<TMemoryStream>();
  return ReadCodeToStream(archive->Address, archive->Size, AlcStream.get());
}

std::unique_ptr<TTarvoVarList> TCommunicator::GetAlcVarList() {
  return AlcVarList(*this, false);
}

std::unique_ptr<TTarvoVarList> TCommunicator::GetAlcVarListArraysAsSingleVar() {
  return AlcVarList(*this, true);
}
