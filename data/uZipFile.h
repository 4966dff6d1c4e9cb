// Reader of the plain zip archives a controller keeps its allocation file in.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "data/uErrors.h"
#include "data/uStreams.h"

// The largest member the reader extracts: a controller's whole code memory.
constexpr uint32_t kMaxZipMemberSize = 16u * 1024 * 1024;

class TZipFile {
 public:
  // Reads an archive from the stream's current position. Never reads or allocates beyond
  // what the stream holds.
  void LoadFromStream(TMemoryStream& ZipFileStream);
  void LoadFromFile(const std::string& filename);
  int Count() const;
  // The member's name as stored (8-bit characters).
  std::string FileName(int AIndex) const;
  // The uncompressed bytes of member AIndex, checked against its CRC-32. Raises EZipError
  // ("Index out of range.", corrupt data, a member larger than kMaxZipMemberSize, declared
  // lengths past the end of the stream) or EZipFileCRCError.
  std::string GetFileData(int AIndex);

 private:
  struct TLocalFile;
  std::vector<TLocalFile*> Files_;  // replaced by the implementation as it sees fit
};
