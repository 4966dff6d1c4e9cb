// QLink frame codec: building request frames, recognising and checking frames in
// received hexadecimal text, the frame checksum and the password hash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

enum TMessageDirection : uint8_t {
  md_REQ = 0,
  md_ACK = 1,
  md_INTERNAL = 2,
  md_BADCMD = 3,
  md_BADPARA = 4,
  md_NOTREADY = 5,
  md_NOPRG = 6,
  md_NOKERN = 7,
  md_NOSOCKET = 8,
  md_NOMASTER = 9,
  md_BADRAM = 10,
  md_BADFLASH = 11,
  md_BADPASS = 12,
};

enum TMessageType : uint8_t {
  mt_COMMAND = 0,
  mt_SOCKET = 1,
};

// The controller's command codes: the first body byte of every request.
enum TQLinkCommand : uint8_t {
  cmdStartLoader = 0x00,
  cmdStartKernel = 0x01,
  cmdPing = 0x10,
  cmdReadStatus = 0x11,
  cmdReadLoaderHeader = 0x12,
  cmdReadKernelHeader = 0x13,
  cmdFlashInit = 0x20,
  cmdReadCode = 0x21,
  cmdWriteCode = 0x22,
  cmdDataInit = 0x30,
  cmdReadData = 0x31,
  cmdWriteData = 0x32,
  cmdReadRandom = 0x33,
  cmdWriteRandom = 0x34,
  cmdStartPLC = 0x40,
  cmdStopPLC = 0x41,
  cmdIEXMessages = 0x80,
};

// ---- the wire's layouts ---------------------------------------------------------------
// Everything that reads or writes bytes of the wire, or of a controller's memory, takes
// its offsets and numbers from here: the codec, the communicator, the simulated controller
// and the tests, so that none of them can agree with a mistake of its own.

// A frame: the start mark AA 55, its length L (2 bytes), the from and the to NAD (4 bytes
// each), direction and message type (1 byte each), L - 2 body bytes, and the checksum of
// everything before it (2 bytes). A request's body is its command code, its parameters
// and the password hash (2 bytes).
constexpr uint8_t kStartMark0 = 0xAA;
constexpr uint8_t kStartMark1 = 0x55;
constexpr int kFrameLengthOffset = 2;
constexpr int kFrameFromNADOffset = 4;
constexpr int kFrameToNADOffset = 8;
constexpr int kFrameDirectionOffset = 12;
constexpr int kFrameTypeOffset = 13;
constexpr int kFrameBodyOffset = 14;
constexpr int kFrameHeaderSize = 14;  // start mark to message type
constexpr int kFrameChecksumSize = 2;
constexpr int kRequestCommandOffset = kFrameBodyOffset;
constexpr int kRequestParamsOffset = kFrameBodyOffset + 1;
constexpr int kPasswordHashSize = 2;

// Numbers travel little-endian, on the wire and in the controllers' memory.
inline uint16_t GetLE16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t GetLE32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void PutLE16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutLE32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
// To any byte container: a vector of bytes, or a string used as one.
template <typename TBytes>
void AppendLE16(TBytes& out, uint16_t v) {
  out.push_back(static_cast<typename TBytes::value_type>(v & 0xFF));
  out.push_back(static_cast<typename TBytes::value_type>(v >> 8));
}
template <typename TBytes>
void AppendLE32(TBytes& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<typename TBytes::value_type>(v >> (8 * i)));
}

// Code memory is addressed in blocks; a code request names a block and reads from its
// start. Data memory is addressed by 16-bit byte addresses.
constexpr int kCodeBlockSize = 256;
constexpr uint32_t kDataMemorySize = 0x10000;
// The program's header, at a fixed place in code memory; valid when its first word is 0
// and the second the magic number. The short form is its first 16 bytes.
constexpr int32_t kCodeHeaderAddress = 0x20000;
constexpr uint16_t kCodeHeaderMagic = 0xCEB5;
constexpr int kCodeHeaderSize = 114;
constexpr int kCodeHeaderShortSize = 16;
constexpr int kCodeHeaderEmptyOffset = 0;
constexpr int kCodeHeaderMagicOffset = 2;
constexpr int kCodeHeaderCrcOffset = 4;
constexpr int kCodeHeaderCodeCrcOffset = 6;
constexpr int kCodeHeaderAllocCrcOffset = 8;
constexpr int kCodeHeaderTransferDateOffset = 12;
constexpr int kCodeHeaderTotalSizeOffset = 16;
constexpr int kCodeHeaderTasksOffset = 18;
constexpr int kCodeHeaderSocketsOffset = 22;
constexpr int kCodeHeaderEthSocketsOffset = 30;
constexpr int kCodeHeaderScanOverrunOffset = 56;
constexpr int kCodeHeaderFileAddressOffset = 64;
constexpr int kCodeHeaderFileCountOffset = 68;
constexpr int kCodeHeaderCom1BaudOffset = 72;
constexpr int kCodeHeaderCom1DataOffset = 74;
constexpr int kCodeHeaderPasswordLevelOffset = 110;
constexpr int kCodeHeaderPasswordHashOffset = 112;
// The file directory: file count entries from the header's file address on. Only the
// first name-length bytes of a name count.
constexpr int kFileEntrySize = 46;
constexpr int kFileEntryNameSize = 32;
constexpr int kFileEntryNameLengthOffset = 32;
constexpr int kFileEntryAddressOffset = 34;
constexpr int kFileEntrySizeOffset = 38;

// Header bytes (start mark to message type) plus checksum: a frame is L + 14 bytes.
constexpr int kFrameOverhead = kFrameHeaderSize + kFrameChecksumSize;
// A request adds its command code and the password hash to its parameters.
constexpr int kRequestOverhead = kFrameOverhead + 1 + kPasswordHashSize;
// The two bytes of the status answer: what the controller runs, and the PLC's state.
enum TSysStatus : uint8_t { ssLoader = 0, ssKernel = 1, ssNone = 2 };
enum TPLCStatus : uint8_t {
  psStop = 0,
  psPause = 1,
  psRun = 2,
  psNoValidProgram = 3,
  psCongestionError = 4,
  psNone = 5,
};

// Size of the area a request frame is built in; command buffers have this size.
constexpr int kFrameBufferSize = 1040;
// Largest parameter block EncodeFrame takes: the frame (n + 19 bytes) must fit the
// 1040-byte area, so blocks of 1022 and 1023 bytes are refused like longer ones.
constexpr int kMaxParameterBytes = kFrameBufferSize - kRequestOverhead;
// The decoder accepts L from 2 to 1024.
constexpr int kMinFrameLength = 2;
constexpr int kMaxFrameLength = 1024;

// Name of a direction code ("md_ACK"), or "md_<n>" for a value outside the table.
std::string MessageDirectionName(uint8_t direction);
// Name of a message type ("mt_COMMAND"), or "mt_<n>" for a value outside the table.
std::string MessageTypeName(uint8_t type);

void ChecksumStep(uint8_t value, uint16_t& sum, int position);
uint16_t FrameChecksum(const uint8_t* bytes, int count, uint16_t start);

// Hash of a password given as UTF-16 code units: each unit counts with its low byte.
uint16_t PasswordHash(std::u16string_view text, uint16_t start = 0);
// The same for UTF-8 text, decoded to UTF-16 code units first (invalid sequences count
// as U+FFFD).
uint16_t PasswordHashUtf8(std::string_view text, uint16_t start = 0);

// Converts hexadecimal text to bytes: spaces are dropped, digits of either case are
// accepted, the destination is zero-filled first. Returns false (with count holding the
// bytes converted so far) for an odd number of digits, a character that is no digit, or
// more bytes than the destination holds; it never writes past destSize.
bool HexToBytes(std::string_view text, uint8_t* dest, int destSize, int& count);
// Bytes as two upper-case hexadecimal digits each, no separators.
std::string BytesToHex(const uint8_t* bytes, size_t count);
inline std::string BytesToHex(const std::vector<uint8_t>& bytes) {
  return BytesToHex(bytes.data(), bytes.size());
}

// Builds a request frame in place: on entry buffer holds `length` parameter bytes, on
// success the whole frame, and length is the frame's length. The buffer must hold
// length + 19 bytes. Refuses blocks longer than kMaxParameterBytes, changing nothing.
bool EncodeFrame(uint32_t fromNAD, uint32_t toNAD, uint8_t command, uint8_t direction,
                 uint8_t msgType, uint8_t* buffer, uint16_t& length, uint16_t passwordHash);

// Builds any frame around a body as it is (answers carry neither command code nor
// password hash). Empty when the body is longer than kMaxFrameLength - 2 bytes.
std::vector<uint8_t> BuildFrame(uint32_t fromNAD, uint32_t toNAD, uint8_t direction,
                                uint8_t msgType, const uint8_t* body, size_t bodyLength);

// Recognises one frame at the front of the receive buffer (hexadecimal text). On success
// the frame's text is cut off the buffer's front; on failure the buffer is untouched.
bool DecodeFrame(std::string& recBuffer, std::string& frameText, uint32_t& fromNAD, uint32_t& toNAD,
                 uint8_t& direction, uint8_t& msgType, std::string& bodyText);

// Why DecodeFrame would refuse the text (for tools that explain a frame); empty when the
// text starts with a complete, valid frame.
std::string DecodeFailureReason(std::string_view text);
