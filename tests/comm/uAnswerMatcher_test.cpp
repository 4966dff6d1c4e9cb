// Which request a frame answers, with time passed in: owed answers, copies of earlier
// answers at any delay, late answers, refusals and discovery, each case a script of
// exchanges and one frame to judge.
#include "comm/uAnswerMatcher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/uQLink.h"

namespace {

using namespace std::chrono_literals;
using TimePoint = TAnswerMatcher::TimePoint;

const TimePoint kStart = TimePoint{} + 1h;
constexpr auto kBound = 1000ms;
constexpr uint32_t kNAD = 10;
const char* const kIP = "127.0.0.10";

TimePoint At(int ms) {
  return kStart + std::chrono::milliseconds(ms);
}

TRequestSpec Request(const std::string& key, uint8_t command, TAnswerShape shape) {
  TRequestSpec r;
  r.Key = key;
  r.Command = command;
  r.Shape = shape;
  r.NAD = kNAD;
  r.IP = kIP;
  return r;
}

// A frame whose bytes stand for themselves: the same body from the same controller with
// the same code is the same frame.
TDecodedFrame Frame(const std::string& body, uint8_t direction = md_ACK, uint32_t from = kNAD,
                    const std::string& ip = kIP, uint32_t to = 1, uint8_t type = mt_COMMAND) {
  TDecodedFrame f;
  f.Text = std::to_string(from) + "/" + std::to_string(direction) + "/" + body;
  f.FromNAD = from;
  f.ToNAD = to;
  f.Direction = direction;
  f.Type = type;
  f.BodyLength = static_cast<int>(body.size() / 2);
  f.PeerIP = ip;
  return f;
}

// Requests the tool makes, with the shapes of their answers.
const TRequestSpec kStatus = Request("status", cmdReadStatus, TAnswerShape::Exact(2));
const TRequestSpec kPing = Request("ping", cmdPing, TAnswerShape::PingAnswer());
const TRequestSpec kReadA = Request("read a", cmdReadRandom, TAnswerShape::Exact(2));
const TRequestSpec kReadB = Request("read b", cmdReadRandom, TAnswerShape::Exact(2));
const TRequestSpec kBlock1 = Request("block 1", cmdReadCode, TAnswerShape::Exact(2));
const TRequestSpec kWrite = Request("write", cmdWriteRandom, TAnswerShape::Exact(0));
const TRequestSpec kWrite2 = Request("write 2", cmdWriteRandom, TAnswerShape::Exact(0));

// One exchange of the history: the request goes out at `sent`, and its answer, if any,
// arrives at `answered` while it waits.
struct TExchange {
  TRequestSpec Request;
  int Sent;
  std::string Answer;  // body; empty with Answered -1: no answer
  int Answered;
  uint8_t Direction = md_ACK;
};

struct JudgeCase {
  const char* Name;
  std::vector<TExchange> History;
  TRequestSpec Open;  // goes out at OpenSent
  int OpenSent;
  TDecodedFrame Frame;
  int Arrives;
  TVerdict Expected;
  int SuspectUntil = -1;  // ms, when the frame is known as a possible copy
};

class Judge : public ::testing::TestWithParam<JudgeCase> {};

TEST_P(Judge, GivesEachRequestOnlyWhatCanBeItsOwnAnswer) {
  const JudgeCase& c = GetParam();
  TAnswerMatcher m;
  m.SetLateBound(kBound);
  for (const TExchange& e : c.History) {
    m.Begin(e.Request);
    m.AttemptSent(At(e.Sent));
    if (e.Answered >= 0) {
      ASSERT_EQ(m.Judge(Frame(e.Answer, e.Direction), At(e.Answered), true), TVerdict::vdTake)
          << "history: " << e.Request.Key;
    }
  }
  m.Begin(c.Open);
  m.AttemptSent(At(c.OpenSent));
  EXPECT_EQ(m.Judge(c.Frame, At(c.Arrives), true), c.Expected);
  if (c.SuspectUntil >= 0) {
    ASSERT_TRUE(m.SuspectUntil().has_value());
    EXPECT_EQ(*m.SuspectUntil(), At(c.SuspectUntil));
  } else {
    EXPECT_FALSE(m.SuspectUntil().has_value());
  }
}

const TVerdict kTake = TVerdict::vdTake;
const TVerdict kPass = TVerdict::vdPass;

INSTANTIATE_TEST_SUITE_P(
    Cases, Judge,
    ::testing::Values(
        JudgeCase{"OwnAnswer", {}, kStatus, 0, Frame("0102"), 1, kTake},
        // The run state's copy, late, while a read of two bytes waits.
        JudgeCase{"CopyOfAnotherRequestsAnswer",
                  {{kStatus, 0, "0102", 1}, {kWrite, 2, "", 3}},
                  kReadA,
                  4,
                  Frame("0102"),
                  140,
                  kPass,
                  1001},
        // Even a copy that comes much later, as long as the bound has not passed.
        JudgeCase{"CopyJustWithinTheBound",
                  {{kBlock1, 0, "1122", 1}},
                  Request("block 2", cmdReadCode, TAnswerShape::Exact(2)),
                  5,
                  Frame("1122"),
                  1000,
                  kPass,
                  1001},
        JudgeCase{"TheSameBytesOnceNoCopyCanCome",
                  {{kBlock1, 0, "1122", 1}},
                  Request("block 2", cmdReadCode, TAnswerShape::Exact(2)),
                  1001,
                  Frame("1122"),
                  1002,
                  kTake},
        JudgeCase{"DifferentBytesOfTheSameLength",
                  {{kStatus, 0, "0102", 1}},
                  kReadA,
                  2,
                  Frame("0500"),
                  3,
                  kTake},
        // The same request again, nothing written between: the same answer.
        JudgeCase{
            "TheSameRequestAgain", {{kStatus, 0, "0102", 1}}, kStatus, 2, Frame("0102"), 3, kTake},
        JudgeCase{"TheSameReadAgain", {{kReadA, 0, "0500", 1}}, kReadA, 2, Frame("0500"), 3, kTake},
        // A write between: the earlier answer no longer stands for the read after it.
        JudgeCase{"TheSameReadAfterAWrite",
                  {{kReadA, 0, "0500", 1}, {kWrite, 2, "", 3}},
                  kReadA,
                  4,
                  Frame("0500"),
                  5,
                  kPass,
                  1001},
        // Writing a variable does not change the run state.
        JudgeCase{"TheSameStatusAfterAWrite",
                  {{kStatus, 0, "0102", 1}, {kWrite, 2, "", 3}},
                  kStatus,
                  4,
                  Frame("0102"),
                  5,
                  kTake},
        // Acknowledgements are all alike: only their count matters.
        JudgeCase{"AnAcknowledgementIsAnAcknowledgement",
                  {{kWrite, 0, "", 1}},
                  kWrite2,
                  2,
                  Frame(""),
                  3,
                  kTake},
        JudgeCase{"TooShort", {}, kReadA, 0, Frame("05"), 1, kPass},
        JudgeCase{"FromAnotherNAD", {}, kReadA, 0, Frame("0500", md_ACK, 11), 1, kPass},
        JudgeCase{"FromAnotherAddress",
                  {},
                  kReadA,
                  0,
                  Frame("0500", md_ACK, kNAD, "127.0.0.11"),
                  1,
                  kPass},
        JudgeCase{"ToAnotherNAD", {}, kReadA, 0, Frame("0500", md_ACK, kNAD, kIP, 5), 1, kPass},
        JudgeCase{"OfAnotherType",
                  {},
                  kReadA,
                  0,
                  Frame("0500", md_ACK, kNAD, kIP, 1, mt_SOCKET),
                  1,
                  kPass},
        JudgeCase{"BeforeTheRequestWentOut", {}, kReadA, 10, Frame("0500"), 9, kPass},
        JudgeCase{"ARefusalEndsAWaitWhenNothingElseIsOwed",
                  {},
                  kReadA,
                  0,
                  Frame("", md_BADPASS),
                  1,
                  kTake},
        // The read of `a` had no answer: the refusal may be its, so the wait goes on.
        JudgeCase{"ARefusalWithAnEarlierRequestOwed",
                  {{kStatus, 0, "", -1}},
                  kReadB,
                  300,
                  Frame("", md_NOTREADY),
                  301,
                  kPass},
        // A late answer to an earlier request that the read's own length rules out.
        JudgeCase{"ALateAnswerOfAnotherLength",
                  {{kPing, 0, "", -1}},
                  kReadA,
                  300,
                  Frame(""),
                  310,
                  kPass}),
    [](const auto& info) { return std::string(info.param.Name); });

// ---- choosing a length, and waiting for owed answers ---------------------------------

TEST(AnswerMatcher, ARequestChoosesALengthNoOwedOrRecentAnswerHas) {
  TAnswerMatcher m;
  m.SetLateBound(kBound);
  m.Begin(kStatus);
  m.AttemptSent(At(0));
  ASSERT_EQ(m.Judge(Frame("0102"), At(1), true), kTake);
  m.Begin(kPing);
  m.AttemptSent(At(2));  // goes unanswered
  // Two bytes: the status answer's copy; three: nothing; none or two: the ping's answer.
  EXPECT_TRUE(m.LengthIsTaken(2, "read a", cmdReadRandom, At(3)));
  EXPECT_FALSE(m.LengthIsTaken(3, "read a", cmdReadRandom, At(3)));
  EXPECT_TRUE(m.LengthIsTaken(0, "read a", cmdReadRandom, At(3)));
  // Once the bound has passed, neither can come any more.
  EXPECT_FALSE(m.LengthIsTaken(2, "read a", cmdReadRandom, At(1002)));
  EXPECT_FALSE(m.LengthIsTaken(0, "read a", cmdReadRandom, At(1002)));
}

TEST(AnswerMatcher, TheSameReadKeepsItsLengthUntilAWrite) {
  TAnswerMatcher m;
  m.SetLateBound(kBound);
  m.Begin(kReadA);
  m.AttemptSent(At(0));
  ASSERT_EQ(m.Judge(Frame("0500"), At(1), true), kTake);
  EXPECT_FALSE(m.LengthIsTaken(2, kReadA.Key, cmdReadRandom, At(2)));
  EXPECT_TRUE(m.LengthIsTaken(2, kReadB.Key, cmdReadRandom, At(2)));
  m.Begin(kWrite);
  m.AttemptSent(At(3));
  ASSERT_EQ(m.Judge(Frame(""), At(4), true), kTake);
  EXPECT_TRUE(m.LengthIsTaken(2, kReadA.Key, cmdReadRandom, At(5)));
}

TEST(AnswerMatcher, ARequestWaitsOnlyForOwedAnswersItCouldBeGiven) {
  TAnswerMatcher m;
  m.SetLateBound(kBound);
  m.Begin(kStatus);
  m.AttemptSent(At(0));  // unanswered
  EXPECT_EQ(m.InStepAt(kBlock1, At(200)), At(1000)) << "two bytes, like the status answer";
  EXPECT_EQ(m.InStepAt(Request("header", cmdReadCode, TAnswerShape::Exact(16)), At(200)), At(200));
  EXPECT_EQ(m.InStepAt(kStatus, At(200)), At(200)) << "its late answer is as good";
  // The late answer comes and is counted: nothing is owed any more.
  EXPECT_EQ(m.Judge(Frame("0102"), At(300), false), kPass);
  EXPECT_EQ(m.InStepAt(kBlock1, At(301)), At(301));
  EXPECT_EQ(m.OwedCount(), 0u);
}

TEST(AnswerMatcher, ALateAnswerToAnEarlierAttemptIsCountedAndItsCopyIsNot) {
  TAnswerMatcher m;
  m.SetLateBound(kBound);
  m.Begin(kReadA);
  m.AttemptSent(At(0));    // its answer is late
  m.AttemptSent(At(200));  // the repeat
  ASSERT_EQ(m.Judge(Frame("0500"), At(210), true), kTake);
  EXPECT_EQ(m.OwedCount(), 1u);
  // The first attempt's answer, the same bytes: counted against it.
  EXPECT_EQ(m.Judge(Frame("0500"), At(220), false), kPass);
  EXPECT_EQ(m.OwedCount(), 0u);
  // A copy of either counts against nothing, and the read of `b` does not take it.
  m.Begin(kReadB);
  m.AttemptSent(At(230));
  EXPECT_EQ(m.Judge(Frame("0500"), At(240), true), kPass);
  EXPECT_EQ(m.OwedCount(), 1u);
  // Copies of the late answer can come for the bound after it, not after the first.
  ASSERT_TRUE(m.SuspectUntil().has_value());
  EXPECT_EQ(*m.SuspectUntil(), At(1220));
}

TEST(AnswerMatcher, ANewAttemptForgetsWhatTheLastOneSuspected) {
  TAnswerMatcher m;
  m.SetLateBound(kBound);
  m.Begin(kStatus);
  m.AttemptSent(At(0));
  ASSERT_EQ(m.Judge(Frame("0102"), At(1), true), kTake);
  m.Begin(kBlock1);
  m.AttemptSent(At(2));
  EXPECT_EQ(m.Judge(Frame("0102"), At(3), true), kPass);
  EXPECT_TRUE(m.SuspectUntil().has_value());
  m.AttemptSent(At(1002));
  EXPECT_FALSE(m.SuspectUntil().has_value());
  EXPECT_EQ(m.Judge(Frame("0102"), At(1003), true), kTake);
}

TEST(AnswerMatcher, DiscoveryListsEveryAnswerToTheToolRefusalsIncluded) {
  TAnswerMatcher m;
  TRequestSpec discovery = Request("ping 0", cmdPing, TAnswerShape::AnyLength());
  discovery.NAD = 0;
  discovery.IP.clear();
  discovery.AnyNAD = discovery.Collect = true;
  m.Begin(discovery);
  m.AttemptSent(At(0));
  EXPECT_EQ(m.Judge(Frame("", md_ACK, 10), At(1), true), TVerdict::vdCollect);
  EXPECT_EQ(m.Judge(Frame("", md_BADPASS, 11), At(2), true), TVerdict::vdCollect);
  EXPECT_EQ(m.Judge(Frame("", md_ACK, 12, "127.0.0.12", 5), At(3), true), kPass);
  EXPECT_EQ(m.Judge(Frame("", md_ACK, 13, "127.0.0.13", 1, mt_SOCKET), At(4), true), kPass);
  EXPECT_EQ(m.Judge(Frame("", md_REQ, 14), At(5), true), kPass);
  EXPECT_EQ(m.OwedCount(), 0u) << "every controller answers; no attempt is owed one";
}

TEST(AnswerMatcher, WhatItRemembersIsBounded) {
  TAnswerMatcher m;
  m.SetLateBound(kBound);
  for (int i = 0; i < 3000; ++i) {
    m.Begin(Request("r" + std::to_string(i), cmdReadCode, TAnswerShape::Exact(2)));
    m.AttemptSent(At(i));
  }
  EXPECT_LE(m.OwedCount(), 1024u);
  for (int i = 0; i < 100000; ++i) m.Judge(Frame(std::to_string(100000 + i)), At(10), false);
  EXPECT_LE(m.RememberedCount(), 65536u);
  // Past the bound everything is gone.
  m.Judge(Frame("00"), At(5000), false);
  EXPECT_EQ(m.OwedCount(), 0u);
  EXPECT_EQ(m.RememberedCount(), 1u);
}

}  // namespace
