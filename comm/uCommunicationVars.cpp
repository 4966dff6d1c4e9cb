// Random access to variables: values of many variables, named by their data memory
// addresses and grouped by width, moved in one frame.
#include <algorithm>
#include <array>
#include <cstring>

#include "comm/uCommunication.h"
#include "data/uTarvoVars.h"
#include "protocol/uQLink.h"

namespace {

constexpr int kReadBatch = 200;
constexpr int kWriteBatch = 100;
// Each answer still owed, and each length answered in the last moments, rules out one
// length; a frame bounds the rest.
constexpr int kMaxReadPad = 255;

using TAnswerBuffer = std::array<uint8_t, kFrameBufferSize>;

constexpr int kGroups[3] = {1, 2, 4};

// Counts and address list first, as both random-access requests begin.
std::vector<uint8_t> CountsAndAddresses(uint16_t c1, uint16_t c2, uint16_t c4,
                                        const std::vector<uint16_t>& addresses) {
  std::vector<uint8_t> params;
  params.reserve(6 + 2 * addresses.size());
  AppendLE16(params, c1);
  AppendLE16(params, c2);
  AppendLE16(params, c4);
  for (uint16_t a : addresses) AppendLE16(params, a);
  return params;
}

int ValueBytes(uint16_t c1, uint16_t c2, uint16_t c4) {
  return c1 + 2 * c2 + 4 * c4;
}

// One batch of a variable list: its transferable variables in group order (bits, then
// words and ints, then longs and reals, each group in list order) with the counts.
struct TBatch {
  std::vector<TTarvoVar*> Ordered;
  uint16_t Counts[3] = {0, 0, 0};
  std::vector<uint16_t> Addresses;
};

TBatch CollectBatch(const TTarvoVarList& list, int from, int to) {
  TBatch batch;
  for (int g = 0; g < 3; ++g) {
    for (int i = from; i < to; ++i) {
      TTarvoVar* v = list.Items(i);
      if (v == nullptr || TypWidth(v->Typ()) != kGroups[g]) continue;
      batch.Ordered.push_back(v);
      batch.Addresses.push_back(static_cast<uint16_t>(v->RealAddress() & 0xFFFF));
      ++batch.Counts[g];
    }
  }
  return batch;
}

}  // namespace

bool TCommunicator::ReadRandom(uint16_t c1, uint16_t c2, uint16_t c4,
                               const std::vector<uint16_t>& addresses, uint8_t* dest,
                               int destSize) {
  const int need = ValueBytes(c1, c2, c4);
  const size_t names = static_cast<size_t>(c1) + c2 + c4;
  // The counts must describe the address list, and the request and the answer must fit
  // a frame and the caller's destination.
  if (addresses.size() != names || 6 + 2 * static_cast<int64_t>(names) > kMaxParameterBytes ||
      (need > 0 && (dest == nullptr || need > destSize))) {
    return false;
  }
  // When an answer of this length could still be on its way for another request, or could
  // be a copy of a recent answer, the request reads a few bytes more: one-byte reads of its
  // first address, at the end of the one-byte group. Its own answer then has a length
  // nothing else can have, and the extra bytes are dropped from it. Should every length
  // within reach be taken (many reads within moments), the plain request goes out, and
  // the receive side refuses whatever could be a copy.
  const uint16_t padAddress = addresses.empty() ? 0 : addresses[0];
  const auto encode = [&](int pad, uint8_t* frame, uint16_t& frameLength) {
    std::vector<uint16_t> padded = addresses;
    padded.insert(padded.begin() + c1, static_cast<size_t>(pad), padAddress);
    const std::vector<uint8_t> params =
        CountsAndAddresses(static_cast<uint16_t>(c1 + pad), c2, c4, padded);
    return need + pad <= kMaxFrameLength - 2 &&
           EncodeRequest(cmdReadRandom, params.data(), static_cast<int>(params.size()), frame,
                         frameLength);
  };
  uint8_t frame[kFrameBufferSize];
  uint16_t frameLength = 0;
  int pad = 0;
  for (;; ++pad) {
    if (pad > kMaxReadPad || !encode(pad, frame, frameLength)) {
      pad = 0;
      if (!encode(pad, frame, frameLength)) return false;
      break;
    }
    const std::string key(reinterpret_cast<const char*>(frame), frameLength);
    if (!AnswerLengthIsTaken(need + pad, key, cmdReadRandom)) break;
  }
  if (fTarvoNAD == 0) return false;  // the discovery address: any controller would answer
  if (!Transact(frame, frameLength, TAnswerShape::Exact(need + pad), cmdReadRandom)) return false;

  TAnswerBuffer body{};
  int count = 0;
  if (!HexToBytes(LastData(), body.data(), static_cast<int>(body.size()), count)) return false;
  if (count != need + pad) return false;
  std::copy(body.begin() + c1 + pad, body.begin() + count, body.begin() + c1);
  count -= pad;
  if (dest != nullptr && destSize > 0) {
    std::memset(dest, 0, static_cast<size_t>(destSize));
    std::memcpy(dest, body.data(), static_cast<size_t>(std::min(count, destSize)));
  }
  return true;
}

bool TCommunicator::WriteRandom(uint16_t c1, uint16_t c2, uint16_t c4,
                                const std::vector<uint16_t>& addresses,
                                const std::vector<uint8_t>& values) {
  const size_t names = static_cast<size_t>(c1) + c2 + c4;
  if (addresses.size() != names || values.size() != static_cast<size_t>(ValueBytes(c1, c2, c4))) {
    return false;
  }
  std::vector<uint8_t> params = CountsAndAddresses(c1, c2, c4, addresses);
  params.insert(params.end(), values.begin(), values.end());
  if (params.size() > static_cast<size_t>(kMaxParameterBytes)) return false;
  return Request(cmdWriteRandom, params.data(), static_cast<int>(params.size()));
}

bool TCommunicator::ReadVars(TTarvoVarList* VarList) {
  if (VarList == nullptr) return false;
  const int total = VarList->Count();
  for (int from = 0; from < total; from += kReadBatch) {
    const TBatch batch = CollectBatch(*VarList, from, std::min(total, from + kReadBatch));
    TAnswerBuffer values{};
    if (!ReadRandom(batch.Counts[0], batch.Counts[1], batch.Counts[2], batch.Addresses,
                    values.data(), static_cast<int>(values.size()))) {
      return false;
    }
    // Only now, with the whole answer in hand, do the variables change.
    const uint8_t* p = values.data();
    for (TTarvoVar* v : batch.Ordered) {
      switch (TypWidth(v->Typ())) {
        case 1:
          v->SetTarvoValue(p[0]);
          p += 1;
          break;
        case 2:
          v->SetTarvoValue(GetLE16(p));
          p += 2;
          break;
        case 4:
          v->SetTarvoValue(static_cast<int32_t>(GetLE32(p)));
          p += 4;
          break;
        default:
          break;
      }
    }
  }
  return true;
}

bool TCommunicator::WriteVars(TTarvoVarList* VarList) {
  if (VarList == nullptr || VarList->Count() == 0) return false;
  const int total = VarList->Count();
  for (int from = 0; from < total; from += kWriteBatch) {
    const int to = std::min(total, from + kWriteBatch);
    const TBatch batch = CollectBatch(*VarList, from, to);
    std::vector<uint8_t> values;
    values.reserve(4 * batch.Ordered.size());
    for (TTarvoVar* v : batch.Ordered) {
      const uint32_t raw = static_cast<uint32_t>(v->TarvoValue());
      for (int b = 0; b < TypWidth(v->Typ()); ++b) {
        values.push_back(static_cast<uint8_t>((raw >> (8 * b)) & 0xFF));
      }
    }
    const bool ok =
        WriteRandom(batch.Counts[0], batch.Counts[1], batch.Counts[2], batch.Addresses, values);
    // The whole batch has had its turn, written or not; a later write request has to
    // be staged anew.
    for (int i = from; i < to; ++i) {
      if (TTarvoVar* v = VarList->Items(i)) v->SetWriteReq(false);
    }
    if (!ok) return false;
  }
  return true;
}

bool TCommunicator::WriteVar(TTarvoVar* AVar, const TVarValue& Value) {
  if (AVar == nullptr) return false;
  const uint32_t raw = static_cast<uint32_t>(RawValueOf(Value, AVar->Typ()).ToInteger());
  const int width = TypWidth(AVar->Typ());
  uint8_t bytes[4] = {0, 0, 0, 0};
  for (int b = 0; b < width; ++b) bytes[b] = static_cast<uint8_t>((raw >> (8 * b)) & 0xFF);
  const bool ok = WriteData(static_cast<uint16_t>(AVar->RealAddress() & 0xFFFF),
                            static_cast<uint16_t>(width), bytes);
  AVar->SetWriteReq(false);
  return ok;
}
