// Builds small zip archives byte by byte, so that tests can bend any field of them.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "protocol/uQLink.h"

namespace ziptest {

inline std::string Deflate(const std::string& data) {
  z_stream strm{};
  if (deflateInit2(&strm, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) !=
      Z_OK)
    throw std::runtime_error("deflateInit2");
  std::string out(deflateBound(&strm, static_cast<uLong>(data.size())), '\0');
  strm.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  strm.avail_in = static_cast<uInt>(data.size());
  strm.next_out = reinterpret_cast<Bytef*>(out.data());
  strm.avail_out = static_cast<uInt>(out.size());
  if (deflate(&strm, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate");
  out.resize(strm.total_out);
  deflateEnd(&strm);
  return out;
}

inline uint32_t Crc(const std::string& data) {
  return static_cast<uint32_t>(
      crc32(0L, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

// One member as it will be written. By default the content is deflated and the header's
// CRC and sizes are the true ones; each can be overridden.
struct Member {
  std::string Name = "alc.alc";
  std::string Content;
  uint16_t Method = 8;
  uint16_t Flags = 0;
  std::string Extra;
  bool Store = false;  // write the content as it is instead of deflating it
  // Overrides, used when set.
  const uint32_t* Crc32 = nullptr;
  const uint32_t* CompressedSize = nullptr;
  const uint32_t* UncompressedSize = nullptr;
  const std::string* Data = nullptr;  // the bytes after the header instead of the content

  std::string Payload() const {
    if (Data) return *Data;
    return Store ? Content : Deflate(Content);
  }
};

inline void PutCommon(std::string& s, const Member& m, const std::string& payload) {
  AppendLE16(s, 20);
  AppendLE16(s, m.Flags);
  AppendLE16(s, m.Method);
  AppendLE32(s, 0x5A210000);  // a fixed time and date
  AppendLE32(s, m.Crc32 ? *m.Crc32 : Crc(m.Content));
  AppendLE32(s, m.CompressedSize ? *m.CompressedSize : static_cast<uint32_t>(payload.size()));
  AppendLE32(s, m.UncompressedSize ? *m.UncompressedSize : static_cast<uint32_t>(m.Content.size()));
  AppendLE16(s, static_cast<uint32_t>(m.Name.size()));
  AppendLE16(s, static_cast<uint32_t>(m.Extra.size()));
}

inline std::string LocalEntry(const Member& m) {
  const std::string payload = m.Payload();
  std::string s;
  AppendLE32(s, 0x04034B50);
  PutCommon(s, m, payload);
  return s + m.Name + m.Extra + payload;
}

inline std::string CentralEntry(const Member& m, uint32_t localOffset) {
  const std::string payload = m.Payload();
  std::string s;
  AppendLE32(s, 0x02014B50);
  AppendLE16(s, 20);
  PutCommon(s, m, payload);
  AppendLE16(s, 0);  // comment length
  AppendLE16(s, 0);
  AppendLE16(s, 0);
  AppendLE32(s, 0);
  AppendLE32(s, localOffset);
  return s + m.Name + m.Extra;
}

inline std::string EndRecord(uint16_t entries, uint32_t dirSize, uint32_t dirOffset,
                             const std::string& comment = "") {
  std::string s;
  AppendLE32(s, 0x06054B50);
  AppendLE16(s, 0);
  AppendLE16(s, 0);
  AppendLE16(s, entries);
  AppendLE16(s, entries);
  AppendLE32(s, dirSize);
  AppendLE32(s, dirOffset);
  AppendLE16(s, static_cast<uint32_t>(comment.size()));
  return s + comment;
}

// A whole archive: local entries, the central directory (with extraCentral further
// entries that have no local counterpart) and the end record.
inline std::string Archive(const std::vector<Member>& members, int extraCentral = 0,
                           const std::string& comment = "") {
  std::string locals;
  std::vector<uint32_t> offsets;
  for (const Member& m : members) {
    offsets.push_back(static_cast<uint32_t>(locals.size()));
    locals += LocalEntry(m);
  }
  std::string dir;
  for (size_t i = 0; i < members.size(); ++i) dir += CentralEntry(members[i], offsets[i]);
  for (int i = 0; i < extraCentral; ++i) {
    Member ghost;
    ghost.Name = "ghost" + std::to_string(i);
    dir += CentralEntry(ghost, 0);
  }
  const auto entries = static_cast<uint16_t>(members.size() + static_cast<size_t>(extraCentral));
  return locals + dir +
         EndRecord(entries, static_cast<uint32_t>(dir.size()), static_cast<uint32_t>(locals.size()),
                   comment);
}

inline std::vector<uint8_t> Bytes(const std::string& s) {
  return {s.begin(), s.end()};
}

}  // namespace ziptest
