#include "protocol/uQLink.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> list) {
  std::vector<uint8_t> v;
  for (int b : list) v.push_back(static_cast<uint8_t>(b));
  return v;
}

const std::vector<uint8_t> kAnswer = Bytes({0xAA, 0x55, 0x04, 0x00, 0xE8, 0x03, 0x00, 0x00, 0x01,
                                            0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x02, 0x71, 0x31});

struct Decoded {
  bool ok;
  std::string frame, body;
  uint32_t from = 0, to = 0;
  uint8_t dir = 0, type = 0;
};

Decoded Decode(std::string& buffer) {
  Decoded d;
  d.ok = DecodeFrame(buffer, d.frame, d.from, d.to, d.dir, d.type, d.body);
  return d;
}

}  // namespace

TEST(QLinkChecksum, PasswordHash) {
  EXPECT_EQ(PasswordHash(u""), 0);
  EXPECT_EQ(PasswordHash(u"abc"), 0x7F00);
  EXPECT_EQ(PasswordHashUtf8("abc"), 0x7F00);
  // Only the low byte of a UTF-16 code unit counts: U+0141 weighs like 'A' (0x41).
  EXPECT_EQ(PasswordHash(u"\u0141bc"), PasswordHash(u"Abc"));
  EXPECT_EQ(PasswordHashUtf8("\xC5\x81"
                             "bc"),
            PasswordHash(u"Abc"));
}

TEST(QLinkChecksum, WeightsRepeatEverySixteenBytes) {
  uint16_t a = 0, b = 0;
  ChecksumStep(0x37, a, 0);
  ChecksumStep(0x37, b, 16);
  EXPECT_EQ(a, b);
  ChecksumStep(0x37, a, 1);
  ChecksumStep(0x37, b, 17);
  EXPECT_EQ(a, b);
}

TEST(QLinkEncode, PingFrameByteForByte) {
  uint8_t buffer[kFrameBufferSize] = {};
  uint16_t length = 0;
  ASSERT_TRUE(EncodeFrame(1, 0, 0x10, md_REQ, mt_COMMAND, buffer, length, 0));
  EXPECT_EQ(length, 19);
  EXPECT_EQ(BytesToHex(buffer, length),
            "AA5505000100000000000000000010"
            "0000CB0C");
}

TEST(QLinkEncode, ParameterBlockLimit) {
  // 1021 parameter bytes make a frame of exactly 1040 bytes; 1022 and above are refused.
  for (int n : {0, 606, 1021, 1022, 1023, 1024}) {
    std::vector<uint8_t> buffer(2048, 0x11);
    uint16_t length = static_cast<uint16_t>(n);
    const bool ok = EncodeFrame(1, 7, 0x33, md_REQ, mt_COMMAND, buffer.data(), length, 0xBEEF);
    SCOPED_TRACE(n);
    if (n <= 1021) {
      ASSERT_TRUE(ok);
      EXPECT_EQ(length, n + 19);
      EXPECT_EQ(buffer[15 + n], 0xEF);
      EXPECT_EQ(buffer[16 + n], 0xBE);
    } else {
      EXPECT_FALSE(ok);
      EXPECT_EQ(length, n);
      EXPECT_EQ(buffer[0], 0x11);
    }
  }
}

TEST(QLinkDecode, AnswerExample) {
  std::string buffer = BytesToHex(kAnswer);
  const Decoded d = Decode(buffer);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.from, 1000u);
  EXPECT_EQ(d.to, 1u);
  EXPECT_EQ(d.dir, md_ACK);
  EXPECT_EQ(d.type, mt_COMMAND);
  EXPECT_EQ(d.body, "0102");
  EXPECT_EQ(d.frame, BytesToHex(kAnswer));
  EXPECT_TRUE(buffer.empty());
}

TEST(QLinkDecode, BuildFrameMatchesExample) {
  const uint8_t body[] = {0x01, 0x02};
  EXPECT_EQ(BuildFrame(1000, 1, md_ACK, mt_COMMAND, body, 2), kAnswer);
}

TEST(QLinkDecode, RefusedTextsStayInBuffer) {
  const std::string good = BytesToHex(kAnswer);
  std::string badSum = good;
  badSum[good.size() - 1] = badSum.back() == '0' ? '1' : '0';
  auto withLength = [](int L) {
    std::vector<uint8_t> f(static_cast<size_t>(std::max(L, 2)) + 14, 0);
    f[0] = 0xAA;
    f[1] = 0x55;
    f[2] = static_cast<uint8_t>(L);
    f[3] = static_cast<uint8_t>(L >> 8);
    return BytesToHex(f);
  };
  struct Case {
    const char* name;
    std::string text;
    const char* reason;
  } cases[] = {
      {"empty", "", "too short"},
      {"27 characters", good.substr(0, 27), "too short"},
      {"lower-case start mark", "aa55" + good.substr(4), "no start mark"},
      {"L = 1", withLength(1), "bad length"},
      {"L = 1025", withLength(1025), "bad length"},
      {"one character short", good.substr(0, good.size() - 1), "incomplete"},
      {"wrong checksum", badSum, "checksum mismatch"},
      {"not hexadecimal", "AA5504ZZ" + good.substr(8), "not hexadecimal"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string buffer = c.text;
    EXPECT_FALSE(Decode(buffer).ok);
    EXPECT_EQ(buffer, c.text);
    EXPECT_EQ(DecodeFailureReason(c.text), c.reason);
  }
}

TEST(QLinkDecode, CompletesWhenMissingCharacterArrives) {
  const std::string good = BytesToHex(kAnswer);
  std::string buffer = good.substr(0, good.size() - 1);
  EXPECT_FALSE(Decode(buffer).ok);
  buffer += good.back();
  EXPECT_TRUE(Decode(buffer).ok);
  EXPECT_TRUE(buffer.empty());
}

TEST(QLinkDecode, EmptyBodyAndTwoFramesBackToBack) {
  const std::vector<uint8_t> empty = BuildFrame(12, 1, md_BADPASS, mt_COMMAND, nullptr, 0);
  ASSERT_EQ(empty.size(), 16u);
  std::string buffer = BytesToHex(empty) + BytesToHex(kAnswer);
  Decoded d = Decode(buffer);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.dir, md_BADPASS);
  EXPECT_EQ(d.body, "");
  EXPECT_EQ(buffer, BytesToHex(kAnswer));
  d = Decode(buffer);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.from, 1000u);
  EXPECT_TRUE(buffer.empty());
}

TEST(QLinkDecode, LargestFrameAndHighNads) {
  std::vector<uint8_t> body(1022, 0xA5);
  const auto frame = BuildFrame(0x80000001u, 0xFFFFFFFFu, md_ACK, mt_SOCKET, body.data(), 1022);
  ASSERT_EQ(frame.size(), 1038u);
  EXPECT_TRUE(BuildFrame(1, 1, md_ACK, mt_COMMAND, body.data(), 1023).empty());
  std::string buffer = BytesToHex(frame);
  const Decoded d = Decode(buffer);
  ASSERT_TRUE(d.ok);
  EXPECT_EQ(d.from, 0x80000001u);
  EXPECT_EQ(d.to, 0xFFFFFFFFu);
  EXPECT_EQ(d.type, mt_SOCKET);
  EXPECT_EQ(d.body.size(), 2044u);
}

TEST(QLinkHex, HexToBytes) {
  uint8_t dest[4];
  int count = -1;
  EXPECT_TRUE(HexToBytes("aa 55 0f", dest, 4, count));
  EXPECT_EQ(count, 3);
  EXPECT_EQ(dest[0], 0xAA);
  EXPECT_EQ(dest[1], 0x55);
  EXPECT_EQ(dest[2], 0x0F);
  EXPECT_EQ(dest[3], 0);
  // Text the tool never produces is refused without writing past the destination.
  EXPECT_FALSE(HexToBytes("ABC", dest, 4, count));
  EXPECT_FALSE(HexToBytes("GG", dest, 4, count));
  EXPECT_FALSE(HexToBytes("0102030405", dest, 4, count));
  EXPECT_EQ(count, 4);
}

TEST(QLinkNames, DirectionAndTypeNames) {
  EXPECT_EQ(MessageDirectionName(md_ACK), "md_ACK");
  EXPECT_EQ(MessageDirectionName(md_BADPASS), "md_BADPASS");
  EXPECT_EQ(MessageDirectionName(13), "md_13");
  EXPECT_EQ(MessageTypeName(mt_COMMAND), "mt_COMMAND");
  EXPECT_EQ(MessageTypeName(mt_SOCKET), "mt_SOCKET");
}
