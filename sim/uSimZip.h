// The controller's zip writer: one member, deflated, sizes and CRC in the local header
// (no data descriptor), then the central directory and the end record.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// An archive holding `data` as the member `name`, stamped with an MS-DOS date (high 16
// bits) and time (low 16 bits).
std::vector<uint8_t> MakeZip(const std::string& name, const std::string& data,
                             uint32_t dosDateTime);

// Raw deflate (no zlib header or trailer) of the bytes.
std::vector<uint8_t> RawDeflate(const std::string& data);

}  // namespace sim
