#include "protocol/uQLink.h"

#include <array>
#include <cstring>

namespace {

constexpr std::array<uint16_t, 16> kWeights = {0x049D, 0x0C07, 0x1591, 0x1ACF, 0x1D4B, 0x202D,
                                               0x2507, 0x2B4B, 0x34A5, 0x38C5, 0x3D3F, 0x4445,
                                               0x4D0F, 0x538F, 0x5FB3, 0x6BBF};

constexpr const char* kDirectionNames[] = {
    "md_REQ",      "md_ACK",      "md_INTERNAL", "md_BADCMD",   "md_BADPARA",
    "md_NOTREADY", "md_NOPRG",    "md_NOKERN",   "md_NOSOCKET", "md_NOMASTER",
    "md_BADRAM",   "md_BADFLASH", "md_BADPASS"};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Byte k of hexadecimal text, or -1 when its two characters are not digits.
int TextByte(std::string_view text, size_t k) {
  const int hi = HexDigit(text[2 * k]);
  const int lo = HexDigit(text[2 * k + 1]);
  return (hi < 0 || lo < 0) ? -1 : hi * 16 + lo;
}

uint32_t TextLong(std::string_view text, size_t k) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint32_t>(TextByte(text, k + i));
  return v;
}

// The frame's header as hexadecimal text: two characters a byte.
constexpr size_t kHeaderText = 2 * kFrameHeaderSize;

// Checks the text the way DecodeFrame does; returns the frame's text length on success,
// 0 with a reason otherwise.
size_t CheckFrame(std::string_view text, std::string* reason) {
  auto fail = [&](const char* why) {
    if (reason) *reason = why;
    return size_t{0};
  };
  if (text.size() < kHeaderText) return fail("too short");
  if (text.substr(0, 4) != "AA55") return fail("no start mark");
  for (size_t i = 0; i < kHeaderText; ++i)
    if (HexDigit(text[i]) < 0) return fail("not hexadecimal");
  const size_t L = static_cast<size_t>(TextByte(text, kFrameLengthOffset)) +
                   256 * TextByte(text, kFrameLengthOffset + 1);
  if (L < kMinFrameLength || L > kMaxFrameLength) return fail("bad length");
  const size_t total = 2 * L + kHeaderText;
  if (text.size() < total) return fail("incomplete");
  uint8_t bytes[kMaxFrameLength + kFrameHeaderSize];
  int count = 0;
  if (!HexToBytes(text.substr(0, total), bytes, sizeof bytes, count))
    return fail("not hexadecimal");
  // L counts the body and the checksum; the checksum covers everything before it.
  const size_t covered = L + kFrameHeaderSize - kFrameChecksumSize;
  if (FrameChecksum(bytes, static_cast<int>(covered), 0) != GetLE16(bytes + covered))
    return fail("checksum mismatch");
  return total;
}

}  // namespace

std::string MessageDirectionName(uint8_t direction) {
  if (direction <= md_BADPASS) return kDirectionNames[direction];
  return "md_" + std::to_string(direction);
}

std::string MessageTypeName(uint8_t type) {
  if (type == mt_COMMAND) return "mt_COMMAND";
  if (type == mt_SOCKET) return "mt_SOCKET";
  return "mt_" + std::to_string(type);
}

void ChecksumStep(uint8_t value, uint16_t& sum, int position) {
  const uint16_t product = static_cast<uint16_t>((value ^ 0x5A) * kWeights[position & 15]);
  sum = static_cast<uint16_t>(sum + product);
}

uint16_t FrameChecksum(const uint8_t* bytes, int count, uint16_t start) {
  uint16_t sum = start;
  for (int i = 0; i < count; ++i) ChecksumStep(bytes[i], sum, i);
  return sum;
}

uint16_t PasswordHash(std::u16string_view text, uint16_t start) {
  uint16_t sum = start;
  int i = 0;
  for (char16_t c : text) ChecksumStep(static_cast<uint8_t>(c & 0xFF), sum, i++);
  return sum;
}

uint16_t PasswordHashUtf8(std::string_view text, uint16_t start) {
  std::u16string units;
  size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    uint32_t cp = 0xFFFD;
    size_t len = 1;
    if (b < 0x80) {
      cp = b;
    } else if ((b & 0xE0) == 0xC0) {
      len = 2;
    } else if ((b & 0xF0) == 0xE0) {
      len = 3;
    } else if ((b & 0xF8) == 0xF0) {
      len = 4;
    }
    if (len > 1) {
      if (i + len > text.size()) {
        len = 1;
      } else {
        cp = b & (0x7F >> len);
        bool ok = true;
        for (size_t k = 1; k < len; ++k) {
          const auto cb = static_cast<unsigned char>(text[i + k]);
          if ((cb & 0xC0) != 0x80) ok = false;
          cp = (cp << 6) | (cb & 0x3F);
        }
        if (!ok) {
          cp = 0xFFFD;
          len = 1;
        }
      }
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      units.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      units.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      units.push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
  return PasswordHash(units, start);
}

bool HexToBytes(std::string_view text, uint8_t* dest, int destSize, int& count) {
  count = 0;
  if (destSize > 0) std::memset(dest, 0, static_cast<size_t>(destSize));
  int pending = -1;
  for (char c : text) {
    if (c == ' ') continue;
    const int d = HexDigit(c);
    if (d < 0) return false;
    if (pending < 0) {
      pending = d;
      continue;
    }
    if (count >= destSize) return false;
    dest[count++] = static_cast<uint8_t>(pending * 16 + d);
    pending = -1;
  }
  return pending < 0;
}

std::string BytesToHex(const uint8_t* bytes, size_t count) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out(2 * count, '0');
  for (size_t i = 0; i < count; ++i) {
    out[2 * i] = kDigits[bytes[i] >> 4];
    out[2 * i + 1] = kDigits[bytes[i] & 15];
  }
  return out;
}

bool EncodeFrame(uint32_t fromNAD, uint32_t toNAD, uint8_t command, uint8_t direction,
                 uint8_t msgType, uint8_t* buffer, uint16_t& length, uint16_t passwordHash) {
  const int n = length;
  if (n > kMaxParameterBytes) return false;
  uint8_t work[kFrameBufferSize] = {};
  // The body: command code, parameters, password hash.
  const int body = 1 + n + kPasswordHashSize;
  work[0] = kStartMark0;
  work[1] = kStartMark1;
  PutLE16(work + kFrameLengthOffset, static_cast<uint16_t>(body + kFrameChecksumSize));
  PutLE32(work + kFrameFromNADOffset, fromNAD);
  PutLE32(work + kFrameToNADOffset, toNAD);
  work[kFrameDirectionOffset] = direction;
  work[kFrameTypeOffset] = msgType;
  work[kRequestCommandOffset] = command;
  if (n > 0) std::memcpy(work + kRequestParamsOffset, buffer, static_cast<size_t>(n));
  PutLE16(work + kRequestParamsOffset + n, passwordHash);
  const int covered = kFrameHeaderSize + body;
  PutLE16(work + covered, FrameChecksum(work, covered, 0));
  const int total = covered + kFrameChecksumSize;
  std::memcpy(buffer, work, static_cast<size_t>(total));
  length = static_cast<uint16_t>(total);
  return true;
}

std::vector<uint8_t> BuildFrame(uint32_t fromNAD, uint32_t toNAD, uint8_t direction,
                                uint8_t msgType, const uint8_t* body, size_t bodyLength) {
  if (bodyLength > kMaxFrameLength - 2) return {};
  std::vector<uint8_t> frame(bodyLength + kFrameOverhead);
  frame[0] = kStartMark0;
  frame[1] = kStartMark1;
  PutLE16(frame.data() + kFrameLengthOffset,
          static_cast<uint16_t>(bodyLength + kFrameChecksumSize));
  PutLE32(frame.data() + kFrameFromNADOffset, fromNAD);
  PutLE32(frame.data() + kFrameToNADOffset, toNAD);
  frame[kFrameDirectionOffset] = direction;
  frame[kFrameTypeOffset] = msgType;
  if (bodyLength > 0) std::memcpy(frame.data() + kFrameBodyOffset, body, bodyLength);
  const int covered = static_cast<int>(bodyLength + kFrameHeaderSize);
  PutLE16(frame.data() + covered, FrameChecksum(frame.data(), covered, 0));
  return frame;
}

bool DecodeFrame(std::string& recBuffer, std::string& frameText, uint32_t& fromNAD, uint32_t& toNAD,
                 uint8_t& direction, uint8_t& msgType, std::string& bodyText) {
  const size_t total = CheckFrame(recBuffer, nullptr);
  if (total == 0) return false;
  const std::string_view text(recBuffer);
  const size_t L = (total - kHeaderText) / 2;
  fromNAD = TextLong(text, kFrameFromNADOffset);
  toNAD = TextLong(text, kFrameToNADOffset);
  direction = static_cast<uint8_t>(TextByte(text, kFrameDirectionOffset));
  msgType = static_cast<uint8_t>(TextByte(text, kFrameTypeOffset));
  bodyText.assign(recBuffer, kHeaderText, 2 * (L - kFrameChecksumSize));
  frameText.assign(recBuffer, 0, total);
  recBuffer.erase(0, total);
  return true;
}

std::string DecodeFailureReason(std::string_view text) {
  std::string reason;
  CheckFrame(text, &reason);
  return reason;
}
