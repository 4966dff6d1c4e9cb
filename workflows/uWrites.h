// Writing values to one controller and what became of each: the step that the window's
// Write, varnel-cli's write and import --write and the EEPROM store share. Its outcomes
// are kinds and data (NAD, variable, value, range, response code); each front-end words
// them in one place of its own.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "controller/uTarvo.h"
#include "workflows/uValueCheck.h"

enum class TWriteKind : uint8_t {
  wkVerified,    // written, and read back holding the value sent
  wkNotHeld,     // written, but read back holding another value (Held)
  wkUnverified,  // the controller acknowledged the write, but its read-back was lost
  wkUnanswered,  // the write got no answer and nothing was read back: its fate is unknown
  wkRejected,    // the controller refused the write request (ResponseCode)
  wkRefused,     // the value check refused the value (Check): nothing of it was sent
  wkNoVariable,  // the controller's program has no such variable
  wkNotReached,  // the link failed before anything was written (Reason, ResponseCode)
};

struct TWriteOutcome {
  TWriteKind Kind = TWriteKind::wkNotReached;
  int32_t NAD = 0;
  std::string Name;  // as given ("levels[3]")
  std::string Text;  // the value as given
  // The variable's verdict on Text, once the variable is known: the range of a refusal,
  // the value of a write.
  TValueCheck Check;
  std::string Sent;  // the value written, as the tables show values
  // The value read back in the exchange (wkVerified, wkNotHeld, and a wkRefused value's
  // variable); empty when nothing was read back.
  std::string Held;
  std::string Description;
  // The refusal that ended the exchange or refused the write; md_REQ when there was none.
  TMessageDirection ResponseCode = md_REQ;
  // The controller's own account of the step that failed (TTarvo::ErrorS), when one did.
  std::string Reason;

  // The write reached the controller and was taken or acknowledged.
  bool Written() const {
    return Kind == TWriteKind::wkVerified || Kind == TWriteKind::wkNotHeld ||
           Kind == TWriteKind::wkUnverified;
  }
};

// Writes each (name, text) to T in one exchange and reads them back in the same one. Each
// text passes the value check for its variable first; what it refuses is not written.
// One outcome per pair, in their order.
std::vector<TWriteOutcome> WriteValues(
    TTarvo& T, const std::vector<std::pair<std::string, std::string>>& values);

enum class TEepromStoreKind : uint8_t {
  esStored,        // the store request was acknowledged and read back
  esUnconfirmed,   // acknowledged, but its read-back was lost
  esRejected,      // the controller refused the request (ResponseCode)
  esUnanswered,    // no answer came and nothing was read back
  esNotReached,    // the link failed before the request (Reason, ResponseCode)
  esNotRequested,  // the program lacks ee_write_magic or ee_write_req, or refused their
                   // values: Faults holds the outcome of each of them that was not written
};

struct TEepromStoreOutcome {
  TEepromStoreKind Kind = TEepromStoreKind::esNotReached;
  int32_t NAD = 0;
  TMessageDirection ResponseCode = md_REQ;
  std::string Reason;
  std::vector<TWriteOutcome> Faults;
};

inline constexpr const char* kEepromWriteMagic = "52917";

// ee_write_magic 52917 and ee_write_req 1 in one write; nothing waits for the store.
TEepromStoreOutcome EepromStore(TTarvo& T);
