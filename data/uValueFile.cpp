#include "data/uValueFile.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <pugixml.hpp>

#include "data/uTagVars.h"

namespace {

// Decodes one UTF-8 sequence at text[i]; a byte that starts no valid sequence is taken
// as a Latin-1 character of its own, so that 8-bit text passes through unchanged.
uint32_t NextCodePoint(std::string_view text, size_t& i) {
  const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
  const uint8_t b0 = byte(i);
  int length = 0;
  uint32_t cp = 0;
  if (b0 < 0x80) {
    ++i;
    return b0;
  } else if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2;
    cp = b0 & 0x1Fu;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3;
    cp = b0 & 0x0Fu;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4;
    cp = b0 & 0x07u;
  }
  if (length == 0 || i + length > text.size()) {
    ++i;
    return b0;
  }
  for (int k = 1; k < length; ++k) {
    const uint8_t b = byte(i + k);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return b0;
    }
    cp = (cp << 6) | (b & 0x3Fu);
  }
  // Overlong forms, surrogates and values past U+10FFFF are no characters.
  const bool overlong = (length == 3 && cp < 0x800) || (length == 4 && cp < 0x10000);
  if (overlong || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) {
    ++i;
    return b0;
  }
  i += length;
  return cp;
}

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

// The plain text of an element; false when it holds other elements.
bool ElementText(const pugi::xml_node& element, std::string& text) {
  text.clear();
  for (const pugi::xml_node& child : element.children()) {
    switch (child.type()) {
      case pugi::node_pcdata:
      case pugi::node_cdata:
        text += child.value();
        break;
      case pugi::node_element:
        return false;
      default:
        break;  // comments and processing instructions carry no value
    }
  }
  return true;
}

}  // namespace

std::string ValueFileText(const std::vector<TValueFileVar>& Vars) {
  std::string out = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<data>\r\n";
  for (const TValueFileVar& v : Vars) {
    if (v.Value.empty() || v.Value == "?") continue;
    out += "<var><name>c" + std::to_string(v.NAD) + "." + EncodeText(v.Name) + "</name><value>" +
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
                    std::string& Error) {
  Entries.clear();
  pugi::xml_document doc;
  // The encoding follows the declaration (ISO-8859-1 for our own files); text arrives as
  // UTF-8 either way.
  const pugi::xml_parse_result parsed =
      doc.load_buffer(Bytes.data(), Bytes.size(), pugi::parse_default, pugi::encoding_auto);
  if (!parsed) {
    Error = kValueFileParseError;
    return false;
  }
  // The parser takes a second top-level element quietly; a well-formed document has one.
  int topLevelElements = 0;
  for (const pugi::xml_node& node : doc.children()) {
    if (node.type() == pugi::node_element) ++topLevelElements;
  }
  if (topLevelElements != 1) {
    Error = kValueFileParseError;
    return false;
  }
  const pugi::xml_node root = doc.document_element();
  if (std::strcmp(root.name(), "data") != 0) return true;
  for (const pugi::xml_node& var : root.children("var")) {
    std::string nameText, valueText;
    if (const pugi::xml_node name = var.child("name")) {
      if (!ElementText(name, nameText)) break;
    }
    if (const pugi::xml_node value = var.child("value")) {
      if (!ElementText(value, valueText)) break;
    }
    nameText = Trim(nameText);
    valueText = Trim(valueText);
    if (nameText.empty() || valueText.empty()) continue;
    TValueFileEntry entry;
    std::string ignoredWriteValue;
    if (!ParseTagName(nameText, entry.NAD, entry.Name, ignoredWriteValue, entry.HasIndex,
                      entry.Index)) {
      continue;
    }
    entry.Value = std::move(valueText);
    Entries.push_back(std::move(entry));
  }
  return true;
}

bool LoadValueFile(const std::string& FileName, std::vector<TValueFileEntry>& Entries,
                   std::string& Error) {
  Entries.clear();
  std::ifstream file(FileName, std::ios::binary);
  if (!file) {
    Error = kValueFileParseError;
    return false;
  }
  const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (file.bad()) {
    Error = kValueFileParseError;
    return false;
  }
  return ParseValueFile(bytes, Entries, Error);
}

std::string ValueFileKey(const TValueFileEntry& Entry) {
  if (!Entry.HasIndex) return Entry.Name;
  return Entry.Name + "[" + std::to_string(Entry.Index) + "]";
}
