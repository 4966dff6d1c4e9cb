#include "sim/uSimZip.h"

#include <zlib.h>

#include <stdexcept>

#include "protocol/uQLink.h"

namespace sim {

namespace {

// The 26 bytes a local header and a central directory entry share.
void PutCommonHeader(std::vector<uint8_t>& out, uint32_t dosDateTime, uint32_t crc,
                     uint32_t compressed, uint32_t uncompressed, size_t nameLength) {
  AppendLE16(out, 20);           // version needed: deflate
  AppendLE16(out, 0);            // no flags: sizes and CRC are known up front
  AppendLE16(out, 8);            // deflate
  AppendLE32(out, dosDateTime);  // time, then date
  AppendLE32(out, crc);
  AppendLE32(out, compressed);
  AppendLE32(out, uncompressed);
  AppendLE16(out, static_cast<uint16_t>(nameLength));
  AppendLE16(out, 0);  // no extra field
}

}  // namespace

std::vector<uint8_t> RawDeflate(const std::string& data) {
  z_stream zs{};
  if (deflateInit2(&zs, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::runtime_error("deflate cannot start");
  std::vector<uint8_t> out(deflateBound(&zs, data.size()));
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  zs.avail_in = static_cast<uInt>(data.size());
  zs.next_out = out.data();
  zs.avail_out = static_cast<uInt>(out.size());
  const int rc = deflate(&zs, Z_FINISH);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  if (rc != Z_STREAM_END) throw std::runtime_error("deflate failed");
  return out;
}

std::vector<uint8_t> MakeZip(const std::string& name, const std::string& data,
                             uint32_t dosDateTime) {
  const std::vector<uint8_t> packed = RawDeflate(data);
  const uint32_t crc = static_cast<uint32_t>(
      crc32(0L, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
  const auto csize = static_cast<uint32_t>(packed.size());
  const auto usize = static_cast<uint32_t>(data.size());

  std::vector<uint8_t> zip;
  AppendLE32(zip, 0x04034B50);
  PutCommonHeader(zip, dosDateTime, crc, csize, usize, name.size());
  zip.insert(zip.end(), name.begin(), name.end());
  zip.insert(zip.end(), packed.begin(), packed.end());

  const auto centralStart = static_cast<uint32_t>(zip.size());
  AppendLE32(zip, 0x02014B50);
  AppendLE16(zip, 20);  // made by: MS-DOS attributes, version 2.0
  PutCommonHeader(zip, dosDateTime, crc, csize, usize, name.size());
  AppendLE16(zip, 0);     // comment length
  AppendLE16(zip, 0);     // disk
  AppendLE16(zip, 1);     // internal attributes: text
  AppendLE32(zip, 0x20);  // external attributes: archive bit
  AppendLE32(zip, 0);     // the local header is at the start
  zip.insert(zip.end(), name.begin(), name.end());
  const auto centralSize = static_cast<uint32_t>(zip.size()) - centralStart;

  AppendLE32(zip, 0x06054B50);
  AppendLE16(zip, 0);
  AppendLE16(zip, 0);
  AppendLE16(zip, 1);
  AppendLE16(zip, 1);
  AppendLE32(zip, centralSize);
  AppendLE32(zip, centralStart);
  AppendLE16(zip, 0);
  return zip;
}

}  // namespace sim
