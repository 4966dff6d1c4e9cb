#include "data/uAlcFile.h"

#include "data/uZipFile.h"

namespace {

bool StartsWith(const std::vector<uint8_t>& bytes, const char (&prefix)[5]) {
  if (bytes.size() < 4) return false;
  for (size_t i = 0; i < 4; ++i)
    if (bytes[i] != static_cast<uint8_t>(prefix[i])) return false;
  return true;
}

bool EndsWithAlc(const std::string& name) {
  if (name.size() < 4) return false;
  std::string tail = name.substr(name.size() - 4);
  for (char& c : tail)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return tail == ".alc";
}

int ChooseMember(const TZipFile& zip) {
  for (int i = 0; zip.Count() > 1 && i < zip.Count(); ++i)
    if (EndsWithAlc(zip.FileName(i))) return i;
  return 0;
}

}  // namespace

bool IsZipArchive(const std::vector<uint8_t>& Bytes) {
  if (StartsWith(Bytes, "PK\x03\x04") || StartsWith(Bytes, "PK\x05\x06")) return true;
  TMemoryStream stream(Bytes);
  TZipFile zip;
  zip.LoadFromStream(stream);
  return zip.Count() > 0;
}

TAlcFileInfo LoadAlcBytes(const std::vector<uint8_t>& Bytes, TTarvoVarList& List,
                          bool ArraysAsSingleVar) {
  TAlcFileInfo info;
  std::vector<uint8_t> text = Bytes;
  if (IsZipArchive(Bytes)) {
    TMemoryStream stream(Bytes);
    TZipFile zip;
    zip.LoadFromStream(stream);
    if (zip.Count() == 0) throw EZipError("The archive holds no file");
    const int member = ChooseMember(zip);
    info.FromArchive = true;
    info.MemberName = zip.FileName(member);
    const std::string data = zip.GetFileData(member);
    text.assign(data.begin(), data.end());
  }
  const std::vector<std::string> lines = SplitLines(DecodeTextBytes(text));
  for (const std::string& line : lines) {
    if (line.find(kAlcMarker) != std::string::npos) {
      info.HasMarker = true;
      break;
    }
  }
  List.LoadFromStr(lines, 0, ArraysAsSingleVar);
  return info;
}
