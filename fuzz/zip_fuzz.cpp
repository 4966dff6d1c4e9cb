// The zip reader on arbitrary bytes: load, then extract every member. Loading never
// fails; extraction either gives exactly the declared size or raises one of the reader's
// errors.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "data/uZipFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TMemoryStream stream(std::vector<uint8_t>(data, data + size));
  TZipFile zip;
  zip.LoadFromStream(stream);
  // Every member takes at least its 30-byte header, but a cut-off one may take just its
  // signature.
  if (static_cast<size_t>(zip.Count()) > size / 4) __builtin_trap();
  for (int i = 0; i < zip.Count(); ++i) {
    try {
      const std::string bytes = zip.GetFileData(i);
      if (bytes.size() > kMaxZipMemberSize) __builtin_trap();
      (void)zip.FileName(i);
    } catch (const EZipError&) {
    }
  }
  try {
    zip.GetFileData(zip.Count());
    __builtin_trap();
  } catch (const EZipError&) {
  }
  return 0;
}
