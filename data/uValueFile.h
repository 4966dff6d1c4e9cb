// The XML value file: values of named controller variables, addressed by NAD and name,
// saved as a small ISO-8859-1 document and read back with a real XML parser.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One value to save: the variable name as the user wrote it (an element index such as
// "levels[3]" included) and the value text, both UTF-8.
struct TValueFileVar {
  int32_t NAD = 0;  // the unsigned NAD's bit pattern, written in unsigned decimal
  std::string Name;
  std::string Value;
};

// One value read from a file, its full name taken apart as tag names are.
struct TValueFileEntry {
  int32_t NAD = 0;
  std::string Name;  // without the element index
  bool HasIndex = false;
  int32_t Index = -1;
  std::string Value;  // UTF-8, trimmed
  int Line = 0;       // where its "var" element starts in the file (1 the first line)
};

// Why a "var" entry of a file gave no value.
enum class TValueFileSkipKind : uint8_t {
  vsEmptyName,   // no "name", or only blanks in it
  vsEmptyValue,  // no "value", or only blanks in it
  vsNoFullName,  // the name is no full name ("c" NAD "." name ["[" index "]"])
  vsMarkup,      // the name or the value holds elements instead of plain text
};
struct TValueFileSkip {
  TValueFileSkipKind Kind = TValueFileSkipKind::vsEmptyName;
  int Line = 0;      // where its "var" element starts
  std::string Name;  // its name text, trimmed (empty when it had none or held markup)
};

// The message for a file that cannot be read or is not well-formed XML.
inline constexpr const char* kValueFileParseError = "Error parsing XML file.";

// The exact bytes of a value file: the declaration, "<data>", one line per value and
// "</data>", every line ended by CR LF. Values that are empty or "?" (nothing known) are
// left out. Text is encoded as ISO-8859-1; characters beyond it become numeric character
// references, and the characters XML reserves are escaped, so that every file written here
// reads back with the same names and values.
std::string ValueFileText(const std::vector<TValueFileVar>& Vars);

// Writes ValueFileText to the file, replacing it. False with the system's error text when
// the file cannot be written.
bool SaveValueFile(const std::string& FileName, const std::vector<TValueFileVar>& Vars,
                   std::string& Error);

// Reads the "var" entries of a value document: the root must be "data"; each "var" child
// gives its first "name" and "value" child elements' text, trimmed of blanks and control
// characters; entries with an empty name or value, a name that is no full name ("c" NAD
// "." name ["[" index "]"]), or a name or value that holds markup instead of plain text
// are skipped, each listed in Skipped when given, and the walk goes on past them. A
// document with another root yields no entry.
// The declared encoding applies (UTF-8, UTF-16, ISO-8859-1, US-ASCII, windows-1252; UTF-8
// when none is declared); names and values come out as UTF-8. A document that declares
// entities of its own is refused, so nothing ever expands. False with no entries (and
// nothing skipped) and kValueFileParseError when the text is not such a well-formed
// document.
bool ParseValueFile(std::string_view Bytes, std::vector<TValueFileEntry>& Entries,
                    std::string& Error, std::vector<TValueFileSkip>* Skipped = nullptr);
// The same for a file, read in pieces and never held whole. A file that cannot be opened
// or read gives kValueFileParseError; one larger than kMaxInputFileSize is refused before
// it is read, with a message that says so.
bool LoadValueFile(const std::string& FileName, std::vector<TValueFileEntry>& Entries,
                   std::string& Error, std::vector<TValueFileSkip>* Skipped = nullptr);

// The variable name of an entry with its element index written back in decimal:
// "levels[3]" for c12.levels[03].
std::string ValueFileKey(const TValueFileEntry& Entry);
