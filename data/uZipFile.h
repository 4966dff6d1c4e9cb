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
  // Reads an archive from the stream's current position, replacing whatever the object
  // held. Never reads or allocates beyond what the stream holds.
  void LoadFromStream(TMemoryStream& ZipFileStream);
  // Raises EVarnelError when the file cannot be read or is larger than kMaxInputFileSize.
  void LoadFromFile(const std::string& filename);
  int Count() const;
  // The member's name as stored (8-bit characters).
  std::string FileName(int AIndex) const;
  // The uncompressed bytes of member AIndex, checked against its CRC-32. Raises EZipError
  // ("Index out of range.", corrupt data, a member larger than kMaxZipMemberSize, declared
  // lengths past the end of the stream) or EZipFileCRCError.
  std::string GetFileData(int AIndex);

  // What the archive's central directory and end record held; nothing relies on them.
  int CentralDirectoryCount() const { return fCentralDirectoryRead; }
  const std::string& ZipFileComment() const { return fZipFileComment; }

 private:
  // The 26 bytes that local and central headers share.
  struct TCommonFileHeader {
    uint16_t VersionNeededToExtract = 0;
    uint16_t GeneralPurposeBitFlag = 0;
    uint16_t CompressionMethod = 0;
    uint32_t LastModFileTimeDate = 0;
    uint32_t Crc32 = 0;
    uint32_t CompressedSize = 0;
    uint32_t UncompressedSize = 0;
    uint16_t FilenameLength = 0;
    uint16_t ExtraFieldLength = 0;
  };

  struct TLocalFile {
    uint32_t LocalFileHeaderSignature = 0;
    TCommonFileHeader CommonFileHeader;
    std::string filename;
    std::string extrafield;
    std::string CompressedData;
    // The stream ended inside this entry: its header or data is incomplete.
    bool Truncated = false;
  };

  struct TFileHeader {
    uint32_t CentralFileHeaderSignature = 0;
    uint16_t VersionMadeBy = 0;
    TCommonFileHeader CommonFileHeader;
    uint16_t FileCommentLength = 0;
    uint16_t DiskNumberStart = 0;
    uint16_t InternalFileAttributes = 0;
    uint32_t ExternalFileAttributes = 0;
    uint32_t RelativeOffsetOfLocalHeader = 0;
    std::string filename;
    std::string extrafield;
    std::string fileComment;
  };

  struct TEndOfCentralDir {
    uint32_t EndOfCentralDirSignature = 0;
    uint16_t NumberOfThisDisk = 0;
    uint16_t NumberOfTheDiskWithTheStart = 0;
    uint16_t TotalNumberOfEntriesOnThisDisk = 0;
    uint16_t TotalNumberOfEntries = 0;
    uint32_t SizeOfTheCentralDirectory = 0;
    uint32_t OffsetOfStartOfCentralDirectory = 0;
    uint16_t ZipfileCommentLength = 0;
  };

  const TLocalFile& Member(int AIndex) const;

  std::vector<TLocalFile> Files;
  // Always as long as Files; central entries beyond the local ones are dropped.
  std::vector<TFileHeader> CentralDirectory;
  int fCentralDirectoryRead = 0;
  TEndOfCentralDir EndOfCentralDirectory;
  std::string fZipFileComment;
};
