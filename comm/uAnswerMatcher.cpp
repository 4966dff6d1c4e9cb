#include "comm/uAnswerMatcher.h"

#include <algorithm>

#include "protocol/uQLink.h"

namespace {

constexpr uint32_t kToolNAD = 1;
// Bounds on what is remembered, so that a controller that never answers, or a flood of
// answers, cannot make the tables grow without end. Either way the oldest entry is the
// first to run out anyway.
constexpr size_t kMaxOwed = 1024;
constexpr size_t kMaxRemembered = 65536;

}  // namespace

bool TAnswerShape::Fits(int bodyLength) const {
  switch (Kind) {
    case akExact:
      return bodyLength == Length;
    case akPing:
      return bodyLength == 0 || bodyLength == 2;
    case akAny:
      return true;
  }
  return true;
}

bool TAnswerShape::Overlaps(const TAnswerShape& other) const {
  if (Kind == akAny || other.Kind == akAny) return true;
  if (Kind == akExact) return other.Fits(Length);
  if (other.Kind == akExact) return Fits(other.Length);
  return true;  // two ping shapes
}

TAnswerMatcher::TTopic TAnswerMatcher::TopicOf(uint8_t command) {
  switch (command) {
    case cmdReadData:
    case cmdReadRandom:
    case cmdWriteData:
    case cmdWriteRandom:
    case cmdDataInit:
      return tpData;
    case cmdReadCode:
    case cmdWriteCode:
    case cmdFlashInit:
      return tpCode;
    default:
      return tpControl;
  }
}

uint8_t TAnswerMatcher::ChangesOf(uint8_t command) {
  constexpr uint8_t data = 1u << tpData, code = 1u << tpCode, control = 1u << tpControl;
  switch (command) {
    case cmdWriteData:
    case cmdWriteRandom:
    case cmdDataInit:
      return data;
    case cmdWriteCode:
    case cmdFlashInit:
      return code | control;
    case cmdStartLoader:
    case cmdStartKernel:
    case cmdStartPLC:
    case cmdStopPLC:
      return data | control;
    case cmdIEXMessages:
      return data | code | control;
    default:
      return 0;
  }
}

uint64_t TAnswerMatcher::Fingerprint(const std::string& text) {
  return static_cast<uint64_t>(std::hash<std::string>{}(text));
}

TAnswerMatcher::TOrigin TAnswerMatcher::OriginOf(const std::string& key, uint8_t command) const {
  TOrigin origin;
  origin.Key = std::make_shared<const std::string>(key);
  origin.KeyHash = std::hash<std::string_view>{}(key);
  origin.Topic = TopicOf(command);
  origin.Epoch = fEpoch[origin.Topic];
  return origin;
}

TAnswerMatcher::TProbe TAnswerMatcher::ProbeOf(const std::string& key, uint8_t command) const {
  TProbe probe;
  probe.Key = key;
  probe.KeyHash = std::hash<std::string_view>{}(key);
  probe.Topic = TopicOf(command);
  probe.Epoch = fEpoch[probe.Topic];
  return probe;
}

TAnswerMatcher::TimePoint TAnswerMatcher::InStepAt(const TRequestSpec& request,
                                                   TimePoint now) const {
  const TProbe origin = ProbeOf(request.Key, request.Command);
  TimePoint until = now;
  for (const TOwed& e : fOwed) {
    if (e.Expires <= now || SameAnswer(e.Origin, origin)) continue;
    if (!e.Shape.Overlaps(request.Shape)) continue;
    until = until == now ? e.Expires : std::min(until, e.Expires);
  }
  return until;
}

bool TAnswerMatcher::LengthIsTaken(int length, const std::string& key, uint8_t command,
                                   TimePoint now) const {
  const TProbe origin = ProbeOf(key, command);
  for (const TOwed& e : fOwed) {
    if (e.Expires > now && e.Shape.Fits(length) && !SameAnswer(e.Origin, origin)) return true;
  }
  for (const auto& [text, frame] : fRecent) {
    if (frame.BodyLength != length) continue;
    for (const TRemembered& r : frame.Answers) {
      if (r.At + fBound > now && !SameAnswer(r.Origin, origin)) return true;
    }
  }
  return false;
}

void TAnswerMatcher::Begin(const TRequestSpec& request) {
  // A write changes what earlier reads of its topics answered: an answer to such a read
  // no longer stands for the same request made after it.
  const uint8_t changes = ChangesOf(request.Command);
  for (int t = 0; t < tpCount; ++t) {
    if (changes & (1u << t)) ++fEpoch[t];
  }
  fOpen = request;
  fOpenOrigin = OriginOf(request.Key, request.Command);
  fOpenOrigin.Serial = fNextSerial++;
  fHaveOpen = true;
  fFirstSent = TimePoint::max();
  fSuspectUntil.reset();
}

void TAnswerMatcher::AttemptSent(TimePoint now) {
  if (!fHaveOpen) return;
  fSuspectUntil.reset();
  if (fFirstSent == TimePoint::max()) fFirstSent = now;
  if (fOpen.Collect) return;  // every controller answers a discovery; none is owed
  if (fOwed.size() >= kMaxOwed) fOwed.pop_front();
  fOwed.push_back({fOpenOrigin, fOpen.Shape, fOpen.NAD, fOpen.IP, now, now + fBound});
}

void TAnswerMatcher::AttemptNotSent() {
  if (!fOwed.empty() && fOwed.back().Origin.Serial == fOpenOrigin.Serial) fOwed.pop_back();
}

void TAnswerMatcher::Forget() {
  fOwed.clear();
  fRecent.clear();
  fRecentOrder.clear();
  fHaveOpen = false;
  fSuspectUntil.reset();
}

void TAnswerMatcher::Expire(TimePoint now) {
  std::erase_if(fOwed, [&](const TOwed& e) { return e.Expires <= now; });
  while (!fRecentOrder.empty() && fRecentOrder.front().first + fBound <= now) {
    const uint64_t fingerprint = fRecentOrder.front().second;
    fRecentOrder.pop_front();
    const auto it = fRecent.find(fingerprint);
    if (it == fRecent.end()) continue;
    // A later sighting of the same frame keeps its own answer alive.
    std::erase_if(it->second.Answers, [&](const TRemembered& r) { return r.At + fBound <= now; });
    if (it->second.Answers.empty()) fRecent.erase(it);
  }
}

std::optional<TAnswerMatcher::TOrigin> TAnswerMatcher::ConsumeOwed(uint64_t serial, bool anyShape,
                                                                   const TDecodedFrame& frame,
                                                                   TimePoint arrived) {
  // The oldest attempt this frame can answer: sent to that controller before the frame
  // arrived, with an answer of that shape (a refusal fits every request).
  for (auto it = fOwed.begin(); it != fOwed.end(); ++it) {
    if (serial != 0 && it->Origin.Serial != serial) continue;
    if (it->NAD != frame.FromNAD || (!it->IP.empty() && it->IP != frame.PeerIP)) continue;
    if (it->Sent > arrived || it->Expires <= arrived) continue;
    if (!anyShape && !it->Shape.Fits(frame.BodyLength)) continue;
    TOrigin origin = std::move(it->Origin);
    fOwed.erase(it);
    return origin;
  }
  return std::nullopt;
}

void TAnswerMatcher::Remember(uint64_t fingerprint, int bodyLength, const TOrigin& origin,
                              TimePoint arrived) {
  TRecentFrame& entry = fRecent[fingerprint];
  entry.BodyLength = bodyLength;
  const auto same =
      std::find_if(entry.Answers.begin(), entry.Answers.end(),
                   [&](const TRemembered& r) { return SameAnswer(r.Origin, origin); });
  if (same != entry.Answers.end()) {
    same->At = std::max(same->At, arrived);
  } else {
    entry.Answers.push_back({origin, arrived});
  }
  fRecentOrder.emplace_back(arrived, fingerprint);
  while (fRecentOrder.size() > kMaxRemembered) {
    fRecent.erase(fRecentOrder.front().second);
    fRecentOrder.pop_front();
  }
}

TVerdict TAnswerMatcher::Judge(const TDecodedFrame& frame, TimePoint arrived, bool waitOpen) {
  const bool answerToTool =
      frame.ToNAD == kToolNAD && frame.Type == mt_COMMAND && frame.Direction != md_REQ;
  if (fHaveOpen && fOpen.Collect && waitOpen) {
    // Discovery: every answer to the tool is a controller, those that refuse the request
    // (a wrong password) included; anything else cannot be an answer to the ping.
    return answerToTool ? TVerdict::vdCollect : TVerdict::vdPass;
  }
  // Addressed to someone else, or no answer at all: it cannot end a wait.
  if (!answerToTool) return TVerdict::vdPass;

  Expire(arrived);
  const bool positive = frame.Direction == md_ACK;
  const uint64_t fingerprint = Fingerprint(frame.Text);
  const auto seen = fRecent.find(fingerprint);

  if (waitOpen && fHaveOpen) {
    const bool fromTarget = (fOpen.AnyNAD || frame.FromNAD == fOpen.NAD) &&
                            (fOpen.IP.empty() || frame.PeerIP == fOpen.IP) && arrived >= fFirstSent;
    if (fromTarget && positive && fOpen.Shape.Fits(frame.BodyLength)) {
      // The same bytes as an answer to another request: a network's copy of that answer,
      // or by chance this request's own. Either way they cannot be trusted until no copy
      // can come any more. Answers without a body (acknowledged writes) are all alike and
      // tell nothing by their bytes; only their count matters, and a write's effect is
      // checked by reading back.
      bool suspect = false;
      if (frame.BodyLength > 0 && seen != fRecent.end()) {
        for (const TRemembered& r : seen->second.Answers) {
          if (SameAnswer(r.Origin, fOpenOrigin)) continue;
          suspect = true;
          const TimePoint until = r.At + fBound;
          if (!fSuspectUntil || *fSuspectUntil < until) fSuspectUntil = until;
        }
      }
      if (!suspect) {
        ConsumeOwed(fOpenOrigin.Serial, false, frame, arrived);
        Remember(fingerprint, frame.BodyLength, fOpenOrigin, arrived);
        return TVerdict::vdTake;
      }
      return TVerdict::vdPass;
    }
    if (fromTarget && !positive) {
      // A refusal names no request. It ends this wait only when no other request can
      // still be answered; otherwise it is counted against the oldest one.
      const bool othersOwed = std::any_of(fOwed.begin(), fOwed.end(), [&](const TOwed& e) {
        return e.Origin.Serial != fOpenOrigin.Serial;
      });
      if (!othersOwed) {
        ConsumeOwed(fOpenOrigin.Serial, true, frame, arrived);
        Remember(fingerprint, frame.BodyLength, fOpenOrigin, arrived);
        return TVerdict::vdTake;
      }
    }
  }

  // A late answer, a copy, or something from elsewhere; the wait, if any, goes on.
  if (seen != fRecent.end()) {
    // The bytes of an answer counted before: the late answer to another attempt of that
    // same transaction, which is counted, or a copy, which is not.
    for (TRemembered& r : seen->second.Answers) {
      if (r.Origin.Serial == 0) continue;
      if (ConsumeOwed(r.Origin.Serial, !positive, frame, arrived)) {
        r.At = std::max(r.At, arrived);
        fRecentOrder.emplace_back(arrived, fingerprint);
        break;
      }
    }
    return TVerdict::vdPass;
  }
  // Remembered also when nothing of ours owed it, so that copies of it are known as such.
  const std::optional<TOrigin> owner = ConsumeOwed(0, !positive, frame, arrived);
  Remember(fingerprint, frame.BodyLength, owner ? *owner : TOrigin{}, arrived);
  return TVerdict::vdPass;
}
