#include "data/uZipFile.h"

#include <zlib.h>

#include <algorithm>

#include "data/uFileBytes.h"

namespace {

constexpr uint32_t kLocalFileHeaderSignature = 0x04034B50;
constexpr uint32_t kCentralFileHeaderSignature = 0x02014B50;
constexpr uint32_t kEndOfCentralDirSignature = 0x06054B50;

// Little-endian reads from a memory stream that never go past its end. A read that
// finds fewer bytes than asked for gives zeros for the missing ones and marks the
// reader short, so that a cut-off record is known as such.
class TLittleEndianReader {
 public:
  explicit TLittleEndianReader(TMemoryStream& AStream) : fStream(AStream) {}

  bool Short() const { return fShort; }
  void ResetShort() { fShort = false; }
  bool AtEnd() const { return fStream.Position() >= fStream.Size(); }

  uint16_t U16() { return static_cast<uint16_t>(Number(2)); }
  uint32_t U32() { return static_cast<uint32_t>(Number(4)); }

  // Up to count bytes; the result is never larger than what the stream still holds.
  std::string Bytes(uint32_t count) {
    const size_t available = fStream.Size() - fStream.Position();
    std::string bytes(std::min<size_t>(count, available), '\0');
    fStream.Read(bytes.data(), bytes.size());
    if (bytes.size() < count) fShort = true;
    return bytes;
  }

 private:
  uint64_t Number(size_t width) {
    uint8_t raw[4] = {0, 0, 0, 0};
    const size_t n = fStream.Read(raw, width);
    if (n < width) {
      fShort = true;
      return 0;
    }
    uint64_t v = 0;
    for (size_t i = width; i-- > 0;) v = (v << 8) | raw[i];
    return v;
  }

  TMemoryStream& fStream;
  bool fShort = false;
};

// The header type is private to TZipFile; the template only reads its fields.
template <class THeader>
void ReadCommonFileHeader(TLittleEndianReader& reader, THeader& h) {
  h.VersionNeededToExtract = reader.U16();
  h.GeneralPurposeBitFlag = reader.U16();
  h.CompressionMethod = reader.U16();
  h.LastModFileTimeDate = reader.U32();
  h.Crc32 = reader.U32();
  h.CompressedSize = reader.U32();
  h.UncompressedSize = reader.U32();
  h.FilenameLength = reader.U16();
  h.ExtraFieldLength = reader.U16();
}

// A raw deflate decoder, ended however extraction ends.
struct TInflater {
  z_stream strm{};
  TInflater() {
    if (inflateInit2(&strm, -MAX_WBITS) != Z_OK) throw EZipError("Cannot start the decoder");
  }
  ~TInflater() { inflateEnd(&strm); }
  TInflater(const TInflater&) = delete;
  TInflater& operator=(const TInflater&) = delete;
};

std::string Quoted(const std::string& name) {
  return "\"" + name + "\"";
}

}  // namespace

void TZipFile::LoadFromStream(TMemoryStream& ZipFileStream) {
  Files.clear();
  CentralDirectory.clear();
  fCentralDirectoryRead = 0;
  EndOfCentralDirectory = {};
  fZipFileComment.clear();

  TLittleEndianReader reader(ZipFileStream);
  // The first local header is looked for only at steps of four bytes, which is where the
  // controller's file directory puts the archive.
  uint32_t signature = 0;
  for (;;) {
    signature = reader.U32();
    if (reader.AtEnd()) return;
    if (signature == kLocalFileHeaderSignature) break;
  }

  while (signature == kLocalFileHeaderSignature) {
    reader.ResetShort();
    TLocalFile& file = Files.emplace_back();
    file.LocalFileHeaderSignature = signature;
    ReadCommonFileHeader(reader, file.CommonFileHeader);
    file.filename = reader.Bytes(file.CommonFileHeader.FilenameLength);
    file.extrafield = reader.Bytes(file.CommonFileHeader.ExtraFieldLength);
    file.CompressedData = reader.Bytes(file.CommonFileHeader.CompressedSize);
    file.Truncated = reader.Short();
    signature = reader.U32();
  }

  while (signature == kCentralFileHeaderSignature) {
    TFileHeader header;
    header.CentralFileHeaderSignature = signature;
    header.VersionMadeBy = reader.U16();
    ReadCommonFileHeader(reader, header.CommonFileHeader);
    header.FileCommentLength = reader.U16();
    header.DiskNumberStart = reader.U16();
    header.InternalFileAttributes = reader.U16();
    header.ExternalFileAttributes = reader.U32();
    header.RelativeOffsetOfLocalHeader = reader.U32();
    header.filename = reader.Bytes(header.CommonFileHeader.FilenameLength);
    header.extrafield = reader.Bytes(header.CommonFileHeader.ExtraFieldLength);
    header.fileComment = reader.Bytes(header.FileCommentLength);
    // Extraction works from the local entries alone; a directory that lists more
    // members than there are has nothing to add.
    if (CentralDirectory.size() < Files.size()) CentralDirectory.push_back(std::move(header));
    ++fCentralDirectoryRead;
    signature = reader.U32();
  }

  if (signature == kEndOfCentralDirSignature) {
    TEndOfCentralDir& end = EndOfCentralDirectory;
    end.EndOfCentralDirSignature = signature;
    end.NumberOfThisDisk = reader.U16();
    end.NumberOfTheDiskWithTheStart = reader.U16();
    end.TotalNumberOfEntriesOnThisDisk = reader.U16();
    end.TotalNumberOfEntries = reader.U16();
    end.SizeOfTheCentralDirectory = reader.U32();
    end.OffsetOfStartOfCentralDirectory = reader.U32();
    end.ZipfileCommentLength = reader.U16();
    fZipFileComment = reader.Bytes(end.ZipfileCommentLength);
  }
}

void TZipFile::LoadFromFile(const std::string& filename) {
  TMemoryStream stream(ReadFileBytes(filename));
  LoadFromStream(stream);
}

int TZipFile::Count() const {
  return static_cast<int>(Files.size());
}

const TZipFile::TLocalFile& TZipFile::Member(int AIndex) const {
  if (AIndex < 0 || AIndex >= Count()) throw EZipError("Index out of range.");
  return Files[static_cast<size_t>(AIndex)];
}

std::string TZipFile::FileName(int AIndex) const {
  return Member(AIndex).filename;
}

std::string TZipFile::GetFileData(int AIndex) {
  const TLocalFile& file = Member(AIndex);
  const TCommonFileHeader& header = file.CommonFileHeader;
  const uint32_t declared = header.UncompressedSize;
  if (declared > kMaxZipMemberSize) {
    throw EZipError("Member " + Quoted(file.filename) +
                    " is too large: " + std::to_string(declared) + " bytes, at most " +
                    std::to_string(kMaxZipMemberSize));
  }
  if (file.Truncated) {
    throw EZipError("Member " + Quoted(file.filename) + " runs past the end of the archive");
  }

  // Every member is taken as raw deflate data, whatever its method says, and decoding
  // stops once the declared size is reached, so no checksum trailer is needed. The buffer
  // grows with what the data really yields, never straight to the declared size.
  std::string result;
  bool complete = declared == 0;
  if (!complete) {
    TInflater inflater;
    z_stream& strm = inflater.strm;
    strm.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(file.CompressedData.data()));
    strm.avail_in = static_cast<uInt>(file.CompressedData.size());
    result.resize(std::min<size_t>(declared, 64 * 1024));
    size_t produced = 0;
    for (;;) {
      if (produced == result.size()) {
        if (produced == declared) break;
        result.resize(std::min<size_t>(declared, result.size() * 2));
      }
      strm.next_out = reinterpret_cast<Bytef*>(result.data() + produced);
      strm.avail_out = static_cast<uInt>(result.size() - produced);
      const int ret = inflate(&strm, Z_NO_FLUSH);
      produced = result.size() - strm.avail_out;
      if (ret == Z_STREAM_END) break;
      if (ret == Z_BUF_ERROR && strm.avail_out > 0) break;  // the input ran out
      if (ret != Z_OK && ret != Z_BUF_ERROR) {
        throw EZipError("Corrupt data in " + Quoted(file.filename) + ": " +
                        (strm.msg ? strm.msg : "data error"));
      }
    }
    complete = produced == declared;
    result.resize(complete ? produced : 0);
  }

  // Data that ends before the declared size gives no result; that fails the check even
  // when the stored CRC happens to be the empty string's.
  const uint32_t crc = static_cast<uint32_t>(
      crc32(0L, reinterpret_cast<const Bytef*>(result.data()), static_cast<uInt>(result.size())));
  if (!complete || crc != header.Crc32) {
    throw EZipFileCRCError("CRC Error in " + Quoted(file.filename) + ".");
  }
  return result;
}
