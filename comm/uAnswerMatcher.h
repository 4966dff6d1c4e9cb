// The answer matcher: which request, if any, a decoded frame answers. A QLink frame names
// neither the request it answers nor the attempt, and a network may deliver a datagram
// late, twice, or both. So every attempt that goes out is owed an answer until one is
// counted against it or it can no longer come, and every answer counted is remembered,
// because copies of it may still follow. A request is never given an answer that could be
// such a copy or an answer still owed to another request.
//
// It keeps no threads and reads no clock: the communicator passes the time in, under its
// own lock, so that every case can be tried as a table without waiting.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The body an answer to a request can have. The length the request fixes is what tells a
// request's own answer from an answer to another one.
struct TAnswerShape {
  enum TKind : uint8_t {
    akExact,  // exactly Length bytes
    akPing,   // nothing, or the two bytes of the controller's password hash
    akAny,    // any length: the request fixes none
  };
  TKind Kind = akAny;
  int Length = 0;

  static TAnswerShape Exact(int length) { return {akExact, length}; }
  static TAnswerShape PingAnswer() { return {akPing, 0}; }
  static TAnswerShape AnyLength() { return {akAny, 0}; }
  bool Fits(int bodyLength) const;
  // Whether some body fits both.
  bool Overlaps(const TAnswerShape& other) const;
};

// One request as the matcher needs to know it.
struct TRequestSpec {
  std::string Key;  // the request frame's bytes
  uint8_t Command = 0;
  TAnswerShape Shape;
  uint32_t NAD = 0;
  // The controller's own address when the request went there; empty when it went by
  // broadcast, where the NAD alone tells who answers.
  std::string IP;
  bool AnyNAD = false;   // NAD 0: every controller answers
  bool Collect = false;  // discovery: every answer is a controller to list
};

// A frame the receive side decoded.
struct TDecodedFrame {
  std::string Text;  // the whole frame as hexadecimal text
  uint32_t FromNAD = 0;
  uint32_t ToNAD = 0;
  uint8_t Direction = 0;
  uint8_t Type = 0;
  int BodyLength = 0;  // bytes
  std::string PeerIP;
};

enum class TVerdict : uint8_t {
  vdTake,     // the open request's answer: the wait ends with it
  vdCollect,  // discovery: a controller to list; the collection goes on
  vdPass,     // anything else; the wait, if one is open, goes on
};

class TAnswerMatcher {
 public:
  using Clock = std::chrono::steady_clock;
  using TimePoint = Clock::time_point;

  // How long after its attempt an answer can still come, and after an answer its copies.
  void SetLateBound(std::chrono::milliseconds bound) { fBound = bound; }
  std::chrono::milliseconds LateBound() const { return fBound; }

  // The earliest time at which `request` can go out without its answer being confused with
  // one still owed to an earlier request; `now` when at once.
  TimePoint InStepAt(const TRequestSpec& request, TimePoint now) const;
  // Whether an answer of `length` bytes to the read request `key` (of `command`) could be
  // taken for an answer still owed to another request or for a copy of a recent answer. A
  // request that can choose the length of its answer picks one for which this is false.
  bool LengthIsTaken(int length, const std::string& key, uint8_t command, TimePoint now) const;

  // A transaction begins: its attempts follow with AttemptSent.
  void Begin(const TRequestSpec& request);
  // An attempt of the open transaction goes out at `now`.
  void AttemptSent(TimePoint now);
  // The attempt just counted did not leave: nothing will answer it.
  void AttemptNotSent();
  // Judges one decoded frame that arrived at `arrived`; `waitOpen` tells whether the open
  // transaction still waits for its answer.
  TVerdict Judge(const TDecodedFrame& frame, TimePoint arrived, bool waitOpen);
  // When the attempt under way was given only frames that could be copies of answers to
  // other requests: the time after which no such copy can come any more. A repeat after
  // it is sure of its answer.
  std::optional<TimePoint> SuspectUntil() const { return fSuspectUntil; }
  // The socket went: nothing sent on it can be answered on the next one.
  void Forget();

  // For tests.
  size_t OwedCount() const { return fOwed.size(); }
  size_t RememberedCount() const { return fRecent.size(); }

 private:
  // What a read's answer reports on, so that a write of ours can tell which earlier answers
  // it may have made untrue.
  enum TTopic : uint8_t { tpData, tpCode, tpControl, tpCount };
  static TTopic TopicOf(uint8_t command);
  // The topics a request changes on the controller (a bit per topic).
  static uint8_t ChangesOf(uint8_t command);

  // An answer counted, as far as telling its copies apart goes.
  struct TOrigin {
    uint64_t Serial = 0;  // the transaction; 0 when no request of ours owned it
    // The request's bytes, shared by every attempt and answer of the transaction, and
    // their hash, which tells most requests apart without comparing them.
    std::shared_ptr<const std::string> Key;
    size_t KeyHash = 0;
    TTopic Topic = tpControl;
    uint64_t Epoch = 0;  // of its topic when its request began
  };
  struct TOwed {
    TOrigin Origin;
    TAnswerShape Shape;
    uint32_t NAD = 0;
    std::string IP;
    TimePoint Sent;
    TimePoint Expires;
  };
  struct TRemembered {
    TOrigin Origin;
    TimePoint At;
  };
  struct TRecentFrame {
    int BodyLength = 0;
    std::vector<TRemembered> Answers;
  };

  // Two answers say the same thing when they answer the same transaction, or the same
  // request with no write of ours to its topic in between.
  static bool SameAnswer(const TOrigin& a, const TOrigin& b) {
    if (a.Serial == b.Serial) return true;
    if (a.KeyHash != b.KeyHash || a.Topic != b.Topic || a.Epoch != b.Epoch) return false;
    return a.Key == b.Key || (a.Key && b.Key && *a.Key == *b.Key);
  }
  // A request not yet begun, as the queries compare it with what is owed or remembered.
  struct TProbe {
    std::string_view Key;
    size_t KeyHash = 0;
    TTopic Topic = tpControl;
    uint64_t Epoch = 0;
  };
  TProbe ProbeOf(const std::string& key, uint8_t command) const;
  // The answer to `origin` says the same as one to the probed request would.
  static bool SameAnswer(const TOrigin& origin, const TProbe& probe) {
    return origin.KeyHash == probe.KeyHash && origin.Topic == probe.Topic &&
           origin.Epoch == probe.Epoch && origin.Key && *origin.Key == probe.Key;
  }
  // A frame is known by its fingerprint, a 64-bit hash of its text. Two different frames
  // that shared one would only make the later look like a copy of the earlier (a repeat
  // then asks again) or, of the same request, be taken as what it is.
  static uint64_t Fingerprint(const std::string& text);
  TOrigin OriginOf(const std::string& key, uint8_t command) const;
  void Remember(uint64_t fingerprint, int bodyLength, const TOrigin& origin, TimePoint arrived);
  void Expire(TimePoint now);
  // Counts the frame against the oldest owed attempt it can answer (of `serial` when not
  // 0); the owed entry's origin, or nothing.
  std::optional<TOrigin> ConsumeOwed(uint64_t serial, bool anyShape, const TDecodedFrame& frame,
                                     TimePoint arrived);

  std::chrono::milliseconds fBound{1000};
  uint64_t fNextSerial = 1;
  uint64_t fEpoch[tpCount] = {0, 0, 0};

  // The open transaction.
  TRequestSpec fOpen;
  TOrigin fOpenOrigin;
  bool fHaveOpen = false;
  TimePoint fFirstSent;
  std::optional<TimePoint> fSuspectUntil;

  std::deque<TOwed> fOwed;
  // Answers within the bound, by their frame's fingerprint; fRecentOrder dates each
  // sighting so that the table is emptied in time order.
  std::unordered_map<uint64_t, TRecentFrame> fRecent;
  std::deque<std::pair<TimePoint, uint64_t>> fRecentOrder;
};
