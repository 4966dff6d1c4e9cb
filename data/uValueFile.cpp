#include "data/uValueFile.h"

#include <expat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <new>
#include <type_traits>

#include "data/uErrors.h"
#include "data/uFileBytes.h"
#include "data/uNumText.h"
#include "data/uTagVars.h"
#include "data/uText.h"

namespace {

// The text as ISO-8859-1 character data of an XML element.
std::string EncodeText(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const uint32_t cp = NextCodePoint(text, i);
    switch (cp) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '\t':
      case '\n':
      case '\r':
        // As references they survive the parser's line-end and blank handling.
        out += "&#" + std::to_string(cp) + ";";
        break;
      default:
        if (cp < 0x20) {
          out += '?';  // no XML 1.0 document may hold these, not even as references
        } else if (cp < 0x100) {
          out += static_cast<char>(cp);
        } else {
          out += "&#" + std::to_string(cp) + ";";
        }
    }
  }
  return out;
}

bool IsTrimmed(char c) {
  return static_cast<uint8_t>(c) <= 0x20;
}

std::string Trim(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && IsTrimmed(text[b])) ++b;
  while (e > b && IsTrimmed(text[e - 1])) --e;
  return std::string(text.substr(b, e - b));
}

// Windows-1252 differs from ISO-8859-1 only in 0x80 to 0x9F. The five bytes it leaves
// undefined keep the C1 code point of their value, as browsers read them.
constexpr uint16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool SameWord(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(*a) != lower(*b)) return false;
  }
  return *a == *b;
}

// The parser knows UTF-8, UTF-16, ISO-8859-1 and US-ASCII itself; files saved by Windows
// programs often declare windows-1252. Any other declared encoding is refused.
int XMLCALL UnknownEncoding(void*, const XML_Char* name, XML_Encoding* info) {
  if (!SameWord(name, "windows-1252") && !SameWord(name, "cp1252")) return XML_STATUS_ERROR;
  for (int b = 0; b < 256; ++b) info->map[b] = b;
  for (int b = 0x80; b < 0xA0; ++b) info->map[b] = kWindows1252High[b - 0x80];
  info->data = nullptr;
  info->convert = nullptr;
  info->release = nullptr;
  return XML_STATUS_OK;
}

// Reads the entries of a value document as the parser walks it, so that no tree of the
// document is ever built. The elements that matter: the root (depth 1), its "var"
// children (depth 2), and their first "name" and first "value" children (depth 3).
class TValueFileReader {
 public:
  TValueFileReader(std::vector<TValueFileEntry>& entries, std::vector<TValueFileSkip>* skipped)
      : fEntries(entries), fSkipped(skipped), fParser(XML_ParserCreate(nullptr)) {
    if (!fParser) throw std::bad_alloc();
    XML_SetUserData(fParser.get(), this);
    XML_SetElementHandler(fParser.get(), StartElement, EndElement);
    XML_SetCharacterDataHandler(fParser.get(), CharacterData);
    XML_SetUnknownEncodingHandler(fParser.get(), UnknownEncoding, nullptr);
    // A value file has no use for entities of its own, and declaring them is how a small
    // file expands to gigabytes: a document that declares one is refused.
    XML_SetEntityDeclHandler(fParser.get(), EntityDecl);
  }

  // False once the text is known not to be a well-formed document.
  bool Feed(const char* data, size_t size) {
    return XML_Parse(fParser.get(), data, static_cast<int>(size), XML_FALSE) == XML_STATUS_OK;
  }
  bool Finish() { return XML_Parse(fParser.get(), nullptr, 0, XML_TRUE) == XML_STATUS_OK; }

 private:
  enum class TField { None, Name, Value };

  struct ParserFree {
    void operator()(XML_Parser p) const { XML_ParserFree(p); }
  };

  static TValueFileReader& Self(void* data) { return *static_cast<TValueFileReader*>(data); }

  static void XMLCALL StartElement(void* data, const XML_Char* name, const XML_Char**) {
    TValueFileReader& r = Self(data);
    ++r.fDepth;
    if (r.fDepth == 1) {
      r.fRootIsData = std::strcmp(name, "data") == 0;
    } else if (r.fDepth == 2) {
      r.fInVar = r.fRootIsData && std::strcmp(name, "var") == 0;
      if (r.fInVar) r.BeginVar(static_cast<int>(XML_GetCurrentLineNumber(r.fParser.get())));
    } else if (r.fDepth == 3 && r.fInVar) {
      if (!r.fNameSeen && std::strcmp(name, "name") == 0) {
        r.fNameSeen = true;
        r.fField = TField::Name;
      } else if (!r.fValueSeen && std::strcmp(name, "value") == 0) {
        r.fValueSeen = true;
        r.fField = TField::Value;
      }
    } else if (r.fDepth == 4 && r.fField != TField::None) {
      // The name or value is no plain text.
      r.fMarkup = true;
      if (r.fField == TField::Name) r.fMarkupInName = true;
    }
  }

  static void XMLCALL EndElement(void* data, const XML_Char*) {
    TValueFileReader& r = Self(data);
    if (r.fDepth == 3) {
      r.fField = TField::None;
    } else if (r.fDepth == 2 && r.fInVar) {
      r.EndVar();
      r.fInVar = false;
    }
    --r.fDepth;
  }

  static void XMLCALL CharacterData(void* data, const XML_Char* text, int length) {
    TValueFileReader& r = Self(data);
    if (r.fDepth != 3 || r.fField == TField::None) return;
    (r.fField == TField::Name ? r.fName : r.fValue).append(text, static_cast<size_t>(length));
  }

  static void XMLCALL EntityDecl(void* data, const XML_Char*, int, const XML_Char*, int,
                                 const XML_Char*, const XML_Char*, const XML_Char*,
                                 const XML_Char*) {
    XML_StopParser(Self(data).fParser.get(), XML_FALSE);
  }

  void BeginVar(int line) {
    fNameSeen = fValueSeen = fMarkup = fMarkupInName = false;
    fField = TField::None;
    fName.clear();
    fValue.clear();
    fLine = line;
  }

  void Skip(TValueFileSkipKind kind, std::string name) {
    if (fSkipped != nullptr) fSkipped->push_back({kind, fLine, std::move(name)});
  }

  void EndVar() {
    // An entry that cannot be read is left out and named; the entries after it are as
    // good as those before.
    if (fMarkup) {
      // A name broken by markup is no name to show; the line tells where it was.
      Skip(TValueFileSkipKind::vsMarkup, fMarkupInName ? std::string() : Trim(fName));
      return;
    }
    std::string nameText = Trim(fName), valueText = Trim(fValue);
    if (nameText.empty()) return Skip(TValueFileSkipKind::vsEmptyName, "");
    if (valueText.empty()) return Skip(TValueFileSkipKind::vsEmptyValue, std::move(nameText));
    TValueFileEntry entry;
    std::string ignoredWriteValue;
    if (!ParseTagName(nameText, entry.NAD, entry.Name, ignoredWriteValue, entry.HasIndex,
                      entry.Index)) {
      return Skip(TValueFileSkipKind::vsNoFullName, std::move(nameText));
    }
    entry.Value = std::move(valueText);
    entry.Line = fLine;
    fEntries.push_back(std::move(entry));
  }

  std::vector<TValueFileEntry>& fEntries;
  std::vector<TValueFileSkip>* fSkipped;
  std::unique_ptr<std::remove_pointer_t<XML_Parser>, ParserFree> fParser;
  int fDepth = 0;
  int fLine = 0;
  bool fRootIsData = false;
  bool fInVar = false;
  bool fNameSeen = false, fValueSeen = false, fMarkup = false, fMarkupInName = false;
  TField fField = TField::None;
  std::string fName, fValue;
};

}  // namespace

std::string ValueFileText(const std::vector<TValueFileVar>& Vars) {
  std::string out = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<data>\r\n";
  for (const TValueFileVar& v : Vars) {
    if (v.Value.empty() || v.Value == "?") continue;
    out += "<var><name>c" + NADText(v.NAD) + "." + EncodeText(v.Name) + "</name><value>" +
           EncodeText(v.Value) + "</value></var>\r\n";
  }
  out += "</data>\r\n";
  return out;
}

bool SaveValueFile(const std::string& FileName, const std::vector<TValueFileVar>& Vars,
                   std::string& Error) {
  const std::string text = ValueFileText(Vars);
  std::ofstream file(FileName, std::ios::binary | std::ios::trunc);
  if (!file) {
    Error = "Cannot create file \"" + FileName + "\": " + std::strerror(errno);
    return false;
  }
  file.write(text.data(), static_cast<std::streamsize>(text.size()));
  file.close();
  if (!file) {
    Error = "Cannot write file \"" + FileName + "\": " + std::strerror(errno);
    return false;
  }
  return true;
}

bool ParseValueFile(std::string_view Bytes, std::vector<TValueFileEntry>& Entries,
                    std::string& Error, std::vector<TValueFileSkip>* Skipped) {
  Entries.clear();
  if (Skipped != nullptr) Skipped->clear();
  TValueFileReader reader(Entries, Skipped);
  // Fed in pieces: the parser takes an int length, and a piece at a time is how files
  // arrive too.
  constexpr size_t kPiece = 1u << 20;
  bool ok = true;
  for (size_t at = 0; ok && at < Bytes.size(); at += kPiece) {
    ok = reader.Feed(Bytes.data() + at, std::min(kPiece, Bytes.size() - at));
  }
  if (ok) ok = reader.Finish();
  if (!ok) {
    Entries.clear();
    if (Skipped != nullptr) Skipped->clear();
    Error = kValueFileParseError;
  }
  return ok;
}

bool LoadValueFile(const std::string& FileName, std::vector<TValueFileEntry>& Entries,
                   std::string& Error, std::vector<TValueFileSkip>* Skipped) {
  Entries.clear();
  if (Skipped != nullptr) Skipped->clear();
  TValueFileReader reader(Entries, Skipped);
  bool ok = true;
  try {
    ReadFileChunks(FileName, kMaxInputFileSize, [&](const uint8_t* data, size_t size) {
      ok = reader.Feed(reinterpret_cast<const char*>(data), size);
      return ok;
    });
  } catch (const EFileTooLarge& e) {
    Entries.clear();
    if (Skipped != nullptr) Skipped->clear();
    Error = e.what();
    return false;
  } catch (const EVarnelError&) {
    ok = false;  // not there or not readable: as the desktop says of any file it cannot load
  }
  if (ok) ok = reader.Finish();
  if (!ok) {
    Entries.clear();
    if (Skipped != nullptr) Skipped->clear();
    Error = kValueFileParseError;
  }
  return ok;
}

std::string ValueFileKey(const TValueFileEntry& Entry) {
  if (!Entry.HasIndex) return Entry.Name;
  return Entry.Name + "[" + std::to_string(Entry.Index) + "]";
}
