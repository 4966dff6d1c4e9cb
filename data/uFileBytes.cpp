#include "data/uFileBytes.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "data/uErrors.h"

namespace {

std::string FileErrorText(const std::string& FileName, const std::string& what) {
  return "Cannot read file \"" + FileName + "\": " + what;
}

[[noreturn]] void RaiseFileError(const std::string& FileName, const std::string& what) {
  throw EVarnelError(FileErrorText(FileName, what));
}

[[noreturn]] void RaiseTooLarge(const std::string& FileName, size_t maxSize) {
  throw EFileTooLarge(FileErrorText(FileName, "larger than " + std::to_string(maxSize) + " bytes"));
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

using TFile = std::unique_ptr<std::FILE, FileCloser>;

// Opens the file and checks its size; the size of a regular file, 0 for pipes and
// devices, which have none up front.
TFile OpenBounded(const std::string& FileName, size_t maxSize, size_t& size) {
  TFile file(std::fopen(FileName.c_str(), "rb"));
  if (!file) RaiseFileError(FileName, std::strerror(errno));
  struct stat info {};
  if (fstat(fileno(file.get()), &info) != 0) RaiseFileError(FileName, std::strerror(errno));
  if (S_ISDIR(info.st_mode)) RaiseFileError(FileName, "it is a directory");
  size = 0;
  if (S_ISREG(info.st_mode)) {
    if (static_cast<uint64_t>(info.st_size) > maxSize) RaiseTooLarge(FileName, maxSize);
    size = static_cast<size_t>(info.st_size);
  }
  return file;
}

// Hands the file on in pieces; a file that grows while it is read (or a pipe) is
// bounded all the same.
void ReadChunks(std::FILE* file, const std::string& FileName, size_t maxSize,
                const std::function<bool(const uint8_t* data, size_t size)>& consume) {
  size_t total = 0;
  uint8_t chunk[65536];
  for (;;) {
    const size_t n = std::fread(chunk, 1, sizeof chunk, file);
    if (n > maxSize - total) RaiseTooLarge(FileName, maxSize);
    total += n;
    if (n > 0 && !consume(chunk, n)) return;
    if (n < sizeof chunk) break;
  }
  if (std::ferror(file)) RaiseFileError(FileName, std::strerror(errno));
}

}  // namespace

void ReadFileChunks(const std::string& FileName, size_t maxSize,
                    const std::function<bool(const uint8_t* data, size_t size)>& consume) {
  size_t size = 0;
  const TFile file = OpenBounded(FileName, maxSize, size);
  ReadChunks(file.get(), FileName, maxSize, consume);
}

std::vector<uint8_t> ReadFileBytes(const std::string& FileName, size_t maxSize) {
  size_t size = 0;
  const TFile file = OpenBounded(FileName, maxSize, size);
  std::vector<uint8_t> bytes;
  bytes.reserve(size);
  ReadChunks(file.get(), FileName, maxSize, [&bytes](const uint8_t* data, size_t n) {
    bytes.insert(bytes.end(), data, data + n);
    return true;
  });
  return bytes;
}
