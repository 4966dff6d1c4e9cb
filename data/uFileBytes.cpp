#include "data/uFileBytes.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "data/uErrors.h"

namespace {

[[noreturn]] void RaiseFileError(const std::string& FileName, const std::string& what) {
  throw EVarnelError("Cannot read file \"" + FileName + "\": " + what);
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

std::vector<uint8_t> ReadFileBytes(const std::string& FileName, size_t maxSize) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(FileName.c_str(), "rb"));
  if (!file) RaiseFileError(FileName, std::strerror(errno));
  struct stat info {};
  if (fstat(fileno(file.get()), &info) != 0) RaiseFileError(FileName, std::strerror(errno));
  if (S_ISDIR(info.st_mode)) RaiseFileError(FileName, "it is a directory");
  if (S_ISREG(info.st_mode) && static_cast<uint64_t>(info.st_size) > maxSize) {
    RaiseFileError(FileName, "larger than " + std::to_string(maxSize) + " bytes");
  }
  // Pipes and devices have no size up front: read in pieces and stop at the bound.
  std::vector<uint8_t> bytes;
  if (S_ISREG(info.st_mode)) bytes.reserve(static_cast<size_t>(info.st_size));
  uint8_t chunk[65536];
  for (;;) {
    const size_t n = std::fread(chunk, 1, sizeof chunk, file.get());
    if (n > maxSize - bytes.size()) {
      RaiseFileError(FileName, "larger than " + std::to_string(maxSize) + " bytes");
    }
    bytes.insert(bytes.end(), chunk, chunk + n);
    if (n < sizeof chunk) break;
  }
  if (std::ferror(file.get())) RaiseFileError(FileName, std::strerror(errno));
  return bytes;
}
