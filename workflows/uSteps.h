// The steps every workflow is made of, for one controller at a time: handing it the
// settings, naming its variables as tags, the EEPROM load, its clock, and the controller
// list a scan's answers give (writes and the EEPROM store: uWrites.h). The session (uSession.h)
// walks tables with them; the command-line tool calls them directly.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "controller/uTarvo.h"
#include "data/uNumText.h"  // NADText, ParseNADText
#include "data/uValueFile.h"
#include "workflows/uFrontEnd.h"
#include "workflows/uVSTTab.h"

// What a controller gets from the settings before its first request of a workflow.
struct TCommSettings {
  std::string EthAdapterID;
  bool DirectConnection = false;
  std::string Password;
  int NoRetires = 3;
  int WaitTime = 200;
  bool LogToFile = false;
  int Port = kDefaultTarvoPort;  // the controllers' UDP port
};

// Releases the controller's socket (its link state stays) and gives it the settings.
void ApplySettings(TTarvo& T, const TCommSettings& S);

// NADs ordered as the unsigned numbers they are.
inline bool NADLess(int32_t a, int32_t b) {
  return static_cast<uint32_t>(a) < static_cast<uint32_t>(b);
}

// "levels[3]" gives ("levels", 3); a bracket that holds no index of 0 or more stays part
// of the name, with index -1.
void SplitIndexedName(const std::string& Text, std::string& Name, int32_t& Index);

// A tag for a variable name as a table or a user writes it ("levels[3]" included); an
// empty write value only reads. A write value reaches the variable only through the value
// check (uValueCheck.h).
std::unique_ptr<TTagVar> MakeTag(const TTarvo& T, const std::string& Text,
                                 const std::string& WriteValue = "");

// The five checks of a status check in their order: network endpoint, ping, program,
// allocation file, PLC running. Each runs whatever the earlier ones found, so that each
// light shows its own answer.
using TStatusCheck = bool (TTarvo::*)();
inline constexpr std::array<TStatusCheck, 5> kStatusChecks = {
    &TTarvo::CheckSocket, &TTarvo::CheckTarvo, &TTarvo::CheckProgram, &TTarvo::CheckAllocation,
    &TTarvo::CheckPLCRun};

// A variable's value as the tables show it (15 significant digits, "." as separator).
std::string ValueText(const TTarvoVar& V);

// The last Read of the controller reached its exchange of values.
bool Exchanged(const TTarvo& T);

inline constexpr int kEepromPollMs = 50;
inline constexpr int kEepromLoadLimitMs = 5000;

enum class TEepromLoad : uint8_t {
  elLoaded,     // ee_read_req went back to 0
  elUnbound,    // no such variable, or the controller did not get that far
  elTimedOut,   // still set after the time limit; the values are read anyway
  elCancelled,  // `cancelled` said so between polls
};
// Writes 1 to ee_read_req and waits, polling every 50 ms through frontEnd.Pause, until the
// controller sets it back to 0, for at most 5000 ms.
TEepromLoad EepromLoad(TTarvo& T, TWorkflowFrontEnd& frontEnd, const TWorkflowClock& clock,
                       const std::function<bool()>& cancelled = {});

// The eight texts a clock write sends: year, month, day, hour, minute, second (the
// milliseconds cut off), weekday (0 Sunday), and "1" for rtc_write_req.
std::array<std::string, 8> RTCWriteTexts(const TLocalTime& now);
// "2012-03-05  14:07:09".
std::string RTCText(int year, int month, int day, int hour, int minute, int second);
// Reads the controller's clock, or with `now` sets it to that time first, in one exchange,
// and leaves the clock text (empty when unknown) in T.RTCString().
void UpdateRTC(TTarvo& T, const TLocalTime* now);
// For a caller that has just run the five status checks on T itself: the named variables
// (element 0 of each, as the System table shows them) and the clock in one exchange that
// goes on from where the checks left the link. One text per name, "?" when unknown; the
// clock text (empty when unknown) is left in T.RTCString().
std::vector<std::string> ReadFiguresAndClock(TTarvo& T, const std::vector<std::string>& names);

// A controller a scan found.
struct TFoundController {
  int32_t NAD = 0;
  std::string IP;
};

// What was odd about a scan's answers, for each front-end to word as it shows it.
enum class TScanRemarkKind : uint8_t {
  srNoNAD,      // the answer's NAD text does not read as a NAD (Text holds it)
  srNADZero,    // the answer claims NAD 0, the discovery address
  srSharedNAD,  // a NAD answered again from another address (FirstIP: where it answered first)
};
struct TScanRemark {
  TScanRemarkKind Kind = TScanRemarkKind::srNoNAD;
  int32_t NAD = 0;
  std::string IP;
  std::string FirstIP;
  std::string Text;
};
// The discovery lists as answers, in answer order. A second answer of the same NAD from
// the same address is left out without a remark; an answer whose NAD does not read is left
// out with one. NAD 0 stays in the list (a listing may show it) with a remark: no workflow
// may address it. The same NAD from another address stays, with a remark for each further
// address. Remarks come in answer order.
std::vector<TFoundController> ScanAnswers(const std::vector<std::string>& NADList,
                                          const std::vector<std::string>& IPList,
                                          std::vector<TScanRemark>& remarks);
// Whether more than one of the answers has this NAD.
bool SharedNAD(const std::vector<TFoundController>& answers, int32_t NAD);

// The controllers the discovery lists name, in answer order: ScanAnswers without NAD 0,
// each remark as a warning that names the NAD and the addresses.
std::vector<TFoundController> FoundControllers(const std::vector<std::string>& NADList,
                                               const std::vector<std::string>& IPList,
                                               std::vector<std::string>& warnings);

// ---- value file import and the write that follows -----------------------------------

// The first variable name that matches Key without regard to case, or -1.
int FindVarName(const std::vector<std::string>& VarNames, const std::string& Key);

// Puts a value file's entries into the matching cells of a table whose columns are
// VarNames: each entry goes to the first row (in table order) whose controller has its NAD,
// to the column its name (with the index in decimal) matches without regard to case; the
// cell takes the value and awaits writing. Entries that match no row or column are left.
void ImportEntries(const std::vector<TValueFileEntry>& Entries,
                   const std::vector<std::string>& VarNames, TVSTTable& table);

// Whether a Write takes the cell: it awaits writing (or writeAll), and has a text. A
// cleared cell is never written.
inline bool CellToWrite(const TTreeVar& cell, bool writeAll) {
  return (writeAll || cell.AwaitWrite) && !cell.Caption().empty();
}
