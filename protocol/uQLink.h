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

// Size of the area a request frame is built in; command buffers have this size.
constexpr int kFrameBufferSize = 1040;
// Largest parameter block EncodeFrame takes: the frame (n + 19 bytes) must fit the
// 1040-byte area, so blocks of 1022 and 1023 bytes are refused like longer ones.
constexpr int kMaxParameterBytes = kFrameBufferSize - 19;
// The decoder accepts L from 2 to 1024.
constexpr int kMinFrameLength = 2;
constexpr int kMaxFrameLength = 1024;
// Header bytes (start mark to message type) plus checksum: a frame is L + 14 bytes.
constexpr int kFrameOverhead = 16;

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
