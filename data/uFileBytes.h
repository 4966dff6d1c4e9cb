// Reading a whole file that a user names, with a bound on its size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Allocation files and archives are kilobytes; anything past this is no such file.
constexpr size_t kMaxInputFileSize = 64u * 1024 * 1024;

// The file's bytes. Raises EVarnelError naming the file when it cannot be opened or read,
// or is larger than maxSize, before reading any of it.
std::vector<uint8_t> ReadFileBytes(const std::string& FileName, size_t maxSize = kMaxInputFileSize);
