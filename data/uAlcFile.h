// An allocation file as a user hands it over: the text itself, or a zip archive holding
// it as a controller keeps it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "data/uTarvoVars.h"

struct TAlcFileInfo {
  bool FromArchive = false;
  std::string MemberName;  // the member read, when FromArchive
  bool HasMarker = false;  // the text has the marker line that starts the variables
};

// True when the bytes are a zip archive (by their content, not by any name): a local
// header where the reader looks for one, or an archive of no member.
bool IsZipArchive(const std::vector<uint8_t>& Bytes);

// Parses the allocation file in Bytes into List (appending, arrays one variable per
// element unless ArraysAsSingleVar). An archive's only member is read; of several, the
// first whose name ends in ".alc", else the first. Raises EZipError (no member, damaged
// member), EZipFileCRCError or EAlcParseError.
TAlcFileInfo LoadAlcBytes(const std::vector<uint8_t>& Bytes, TTarvoVarList& List,
                          bool ArraysAsSingleVar);
