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
  // How it answered the scan: md_ACK, or the code it refused with (md_BADPASS: the
  // password is not the controller's). A refusing controller is listed all the same, so
  // that the user sees it is there and why it cannot be used.
  TMessageDirection Code = md_ACK;

  bool Refused() const { return Code != md_ACK; }
};

// What was odd about a scan's answers, for each front-end to word as it shows it.
enum class TScanRemarkKind : uint8_t {
  srNoNAD,      // the answer's NAD text does not read as a NAD (Text holds it)
  srNADZero,    // the answer claims NAD 0, the discovery address
  srSharedNAD,  // a NAD answered again from another address (FirstIP: where it answered first)
  srRefused,    // the controller answered with a negative code (Code holds it)
};
struct TScanRemark {
  TScanRemarkKind Kind = TScanRemarkKind::srNoNAD;
  int32_t NAD = 0;
  std::string IP;
  std::string FirstIP;
  std::string Text;
  TMessageDirection Code = md_ACK;
};
// The discovery lists as answers, in answer order. Codes runs parallel to the other two
// lists (an entry it lacks counts as md_ACK). A second answer of the same NAD from the
// same address is left out without a remark (an acknowledgement among them wins over a
// refusal); an answer whose NAD does not read is left out with one. NAD 0 stays in the
// list (a listing may show it) with a remark: no workflow may address it. The same NAD from
// another address stays, with a remark for each further address. A controller that
// refused stays, with a remark. Remarks come in answer order.
std::vector<TFoundController> ScanAnswers(const std::vector<std::string>& NADList,
                                          const std::vector<std::string>& IPList,
                                          std::vector<TScanRemark>& remarks,
                                          const std::vector<TMessageDirection>& Codes = {});
// Whether more than one of the answers has this NAD.
bool SharedNAD(const std::vector<TFoundController>& answers, int32_t NAD);

// The controllers the discovery lists name, in answer order: ScanAnswers without NAD 0
// (its remark stays).
std::vector<TFoundController> FoundControllers(const std::vector<std::string>& NADList,
                                               const std::vector<std::string>& IPList,
                                               const std::vector<TMessageDirection>& Codes,
                                               std::vector<TScanRemark>& remarks);

// ---- value file import and the write that follows -----------------------------------

// The first variable name that matches Key without regard to case, or -1.
int FindVarName(const std::vector<std::string>& VarNames, const std::string& Key);

// Why an import left an entry of its file out.
enum class TImportSkipKind : uint8_t {
  isNoRow,       // no row of the table is of the entry's NAD
  isNoColumn,    // the tab has no column of the entry's name
  isEmptyName,   // the entry has no name
  isEmptyValue,  // the entry has no value
  isNoFullName,  // the name is no full name ("c" NAD "." name)
  isMarkup,      // the name or value is not plain text
};
struct TImportSkip {
  TImportSkipKind Kind = TImportSkipKind::isNoRow;
  int Line = 0;      // of its "var" element in the file
  int32_t NAD = 0;   // isNoRow, isNoColumn: the entry's NAD
  std::string Name;  // isNoRow, isNoColumn: the variable name with its index in decimal;
                     // else the name text as the file has it (empty when there is none)
};
// What an import took from its file and what it left out, in file order.
struct TImportReport {
  int Taken = 0;
  std::vector<TImportSkip> Skipped;
};

// Puts a value file's entries into the matching cells of a table whose columns are
// VarNames: each entry goes to the first row (in table order) whose controller has its NAD,
// to the column its name (with the index in decimal) matches without regard to case; the
// cell takes the value and awaits writing. The report counts what was taken and names
// what was not: entries that match no row or column, and those the file reader skipped
// (FileSkips).
TImportReport ImportEntries(const std::vector<TValueFileEntry>& Entries,
                            const std::vector<std::string>& VarNames, TVSTTable& table,
                            const std::vector<TValueFileSkip>& FileSkips = {});

// Whether a Write takes the cell: it awaits writing (or writeAll), and has a text. A
// cleared cell is never written.
inline bool CellToWrite(const TTreeVar& cell, bool writeAll) {
  return (writeAll || cell.AwaitWrite) && !cell.Caption().empty();
}
