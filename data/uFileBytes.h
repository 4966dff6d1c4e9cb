// Reading a whole file that a user names, with a bound on its size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Allocation files, archives and value files are kilobytes; anything past this is no
// such file.
constexpr size_t kMaxInputFileSize = 64u * 1024 * 1024;

// The file's bytes. Raises EVarnelError naming the file when it cannot be opened or read,
// and EFileTooLarge when it is larger than maxSize, before reading any of it.
std::vector<uint8_t> ReadFileBytes(const std::string& FileName, size_t maxSize = kMaxInputFileSize);

// The file's bytes handed on in pieces of at most 64 KiB, in order, so that a reader
// never holds the whole file; `consume` returns false to stop early. Raises as
// ReadFileBytes does; a pipe is cut off with EFileTooLarge once it passes maxSize.
void ReadFileChunks(const std::string& FileName, size_t maxSize,
                    const std::function<bool(const uint8_t* data, size_t size)>& consume);
