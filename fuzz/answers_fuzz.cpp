// The command layer on arbitrary answers: a scripted controller answers every request with
// bytes from the fuzz input (mostly of the length the request asks for, so that the
// answer is taken and its body parsed), and the commands that interpret bodies run over
// them: status, headers, password hash, IEX messages, the file directory, the allocation
// archive with its parser, and random reads and writes of variables.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "comm/uCommunication.h"
#include "comm/uMemoryUdpEndpoint.h"
#include "data/uTarvoVars.h"
#include "protocol/uQLink.h"

namespace {

struct TInput {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  bool Done() const { return at >= size; }
  uint8_t Byte() { return at < size ? data[at++] : 0; }
  std::vector<uint8_t> Bytes(size_t n) {
    n = std::min(n, size - at);
    std::vector<uint8_t> out(data + at, data + at + n);
    at += n;
    return out;
  }
};

// The body length a well-behaved controller gives, -1 when the request fixes none.
int ExpectedLength(uint8_t command, const uint8_t* params, size_t n) {
  switch (command) {
    case cmdPing:
    case cmdReadStatus:
      return 2;
    case cmdReadLoaderHeader:
      return 16;
    case cmdReadKernelHeader:
      return 46;
    case cmdReadCode:
    case cmdReadData:
      return n >= 4 ? GetLE16(params + 2) : -1;
    case cmdReadRandom:
      return n >= 6 ? GetLE16(params) + 2 * GetLE16(params + 2) + 4 * GetLE16(params + 4) : -1;
    case cmdIEXMessages:
      return -1;
    default:
      return 0;
  }
}

std::vector<TMemoryReply> Answer(TInput& in, const TMemoryDatagram& request) {
  std::string text = BytesToHex(request.Bytes), frame, bodyText;
  uint32_t from = 0, to = 0;
  uint8_t direction = 0, type = 0;
  uint8_t body[kFrameBufferSize];
  int n = 0;
  if (!DecodeFrame(text, frame, from, to, direction, type, bodyText) ||
      !HexToBytes(bodyText, body, sizeof body, n) || n < 3) {
    return {};
  }
  // Once the input is used up, every request is refused: that ends it at once.
  if (in.Done()) {
    return {{BuildFrame(to, 1, md_NOTREADY, mt_COMMAND, nullptr, 0), "127.0.0.10", 8442}};
  }
  const uint8_t control = in.Byte();
  const int expected = ExpectedLength(body[0], body + 1, static_cast<size_t>(n - 3));
  size_t length = (control & 0x01) || expected < 0 ? in.Byte() : static_cast<size_t>(expected);
  length = std::min<size_t>(length, kMaxFrameLength - 2);
  std::vector<uint8_t> answer = in.Bytes(length);
  answer.resize(length, 0);
  const uint8_t code = (control & 0x02) ? static_cast<uint8_t>(control >> 4) : md_ACK;
  // A refusal right behind every answer: when the answer is not taken, it ends the wait at
  // once instead of a time-out.
  return {{BuildFrame(to, 1, code, mt_COMMAND, answer.data(), answer.size()), "127.0.0.10", 8442},
          {BuildFrame(to, 1, md_NOTREADY, mt_COMMAND, nullptr, 0), "127.0.0.10", 8442}};
}

std::unique_ptr<TTarvoVar> Var(const std::string& name, int32_t address, TTarvoVarTyp typ) {
  return std::make_unique<TTarvoVar>(name, address, std::max(TypWidth(typ), 1), 1, 0, 0, vsGlobal,
                                     typ, vvUser, vaReadWrite, "", TVarValue{});
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TInput in{data, size};
  // One communicator for every input (making one reads the host's adapters); each input
  // starts on a fresh socket, with nothing owed from the last one.
  static TMemoryUdpEndpoint* endpoint = nullptr;
  static TCommunicator& comm = *[] {
    auto e = std::make_unique<TMemoryUdpEndpoint>();
    e->SetInlineDelivery(true);
    endpoint = e.get();
    auto* c = new TCommunicator(std::move(e));
    c->SetTarvoNAD(10);
    c->SetWaitTime(0);
    c->SetNoRetires(0);
    return c;
  }();
  endpoint->SetResponder([&in](const TMemoryDatagram& d) { return Answer(in, d); });
  endpoint->ClearSent();
  comm.Disconnect();
  comm.SetTarvoIP("127.0.0.10");

  // Each operation on a fresh socket: an answer that did not fit would make the next
  // request wait for it.
  const auto fresh = [&] {
    comm.Disconnect();
    comm.SetTarvoIP("127.0.0.10");
  };
  TSysStatus sys = ssNone;
  TPLCStatus plc = psNone;
  comm.ReadStatus(sys, plc);
  if (sys > ssNone || plc > psNone) __builtin_trap();
  fresh();
  TLoaderHeader loader{};
  comm.ReadLoaderHeader(loader);
  fresh();
  TKernelHeader kernel{};
  comm.ReadKernelHeader(kernel);
  fresh();
  uint16_t crc = 0;
  comm.GetTarvoPasswordCRC(crc);
  fresh();
  uint8_t iex[16] = {1, 2, 3};
  int iexLength = 3;
  if (comm.IEX_Messages(iexLength, iex, sizeof iex) && (iexLength < 0 || iexLength > 16)) {
    __builtin_trap();
  }
  fresh();
  std::vector<std::string> names;
  std::vector<int32_t> addresses, sizes;
  if (comm.ReadFileDirectory(names, addresses, sizes) &&
      (names.size() != addresses.size() || names.size() != sizes.size())) {
    __builtin_trap();
  }
  fresh();
  try {
    (void)comm.GetAlcVarList();
  } catch (const std::exception&) {
    // The allocation file parser and the zip reader raise on what they cannot read.
  }
  fresh();
  TTarvoVarList list;
  const TTarvoVarTyp types[] = {vtBit, vtWord, vtInt, vtLong, vtReal, vtTimer};
  for (int i = 0; i < 12; ++i) {
    list.Add(Var("v" + std::to_string(i), 0x100 + 4 * i, types[i % 6]));
  }
  comm.ReadVars(&list);
  for (int i = 0; i < list.Count(); ++i) list.Items(i)->SetWriteReq(true);
  comm.WriteVars(&list);
  return 0;
}
