#include "workflows/uTemplateFile.h"

#include <ini.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>

namespace {

bool IsBlank(char c) {
  return std::isspace(static_cast<unsigned char>(c)) != 0;
}

std::string Trim(std::string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && IsBlank(text[b])) ++b;
  while (e > b && IsBlank(text[e - 1])) --e;
  return std::string(text.substr(b, e - b));
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// One section as read: its keys by lower-case name, the first occurrence of each.
struct TSection {
  std::string Name;
  std::map<std::string, std::string> Keys;
};

// Feeds the parser one line at a time and notes the sections itself: the parser reports
// nothing for a section without keys, and shortens long section names. Each line goes to
// the parser without the blanks it starts with: the parser would take such a line for the
// continuation of the value above it, and "  Var1=temperature" would be lost as a column.
struct TReader {
  std::string_view Text;
  size_t At = 0;
  int Line = 0;
  std::vector<TSection> Sections;
  std::optional<size_t> Current;
  std::vector<std::string>* Warnings = nullptr;

  void NoteSection(std::string_view line) {
    const std::string text = Trim(line);
    if (text.empty() || text[0] != '[') return;
    const size_t close = text.find(']');
    if (close == std::string::npos) return;
    const std::string name = Trim(std::string_view(text).substr(1, close - 1));
    const std::string key = Lower(name);
    for (size_t i = 0; i < Sections.size(); ++i) {
      if (Lower(Sections[i].Name) == key) {
        Current = i;
        return;
      }
    }
    Sections.push_back({name, {}});
    Current = Sections.size() - 1;
  }

  // fgets for the parser: one whole line, or the next line when this one does not fit.
  char* Next(char* buffer, int size) {
    while (At < Text.size()) {
      size_t end = Text.find('\n', At);
      end = end == std::string_view::npos ? Text.size() : end + 1;
      std::string_view line = Text.substr(At, end - At);
      At = end;
      ++Line;
      if (Line == 1 && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
      while (!line.empty() && line.front() != '\n' && IsBlank(line.front())) line.remove_prefix(1);
      if (static_cast<int>(line.size()) >= size) {
        if (Warnings) {
          Warnings->push_back("template line " + std::to_string(Line) +
                              " is too long and was ignored");
        }
        continue;
      }
      std::string_view content = line;
      while (!content.empty() && (content.back() == '\n' || content.back() == '\r')) {
        content.remove_suffix(1);
      }
      NoteSection(content);
      std::memcpy(buffer, line.data(), line.size());
      buffer[line.size()] = '\0';
      return buffer;
    }
    return nullptr;
  }
};

char* ReadLine(char* buffer, int size, void* stream) {
  return static_cast<TReader*>(stream)->Next(buffer, size);
}

int OnValue(void* user, const char* /*section*/, const char* name, const char* value) {
  auto* reader = static_cast<TReader*>(user);
  if (!reader->Current) return 1;  // keys before the first section belong to no tab
  reader->Sections[*reader->Current].Keys.emplace(Lower(Trim(name)), Trim(value));
  return 1;
}

}  // namespace

std::string TemplateFileName(const std::string& ExecutablePath) {
  const size_t slash = ExecutablePath.find_last_of('/');
  const size_t dot = ExecutablePath.find_last_of('.');
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return (hasExtension ? ExecutablePath.substr(0, dot) : ExecutablePath) + ".ini";
}

std::vector<TTemplateTab> ParseTemplates(std::string_view Text,
                                         std::vector<std::string>* warnings) {
  TReader reader;
  reader.Text = Text;
  reader.Warnings = warnings;
  ini_parse_stream(&ReadLine, &reader, &OnValue, &reader);

  std::vector<TTemplateTab> tabs;
  for (const TSection& section : reader.Sections) {
    if (section.Name == "General") continue;
    TTemplateTab tab;
    tab.Name = section.Name;
    if (auto it = section.Keys.find("description"); it != section.Keys.end()) {
      tab.Description = it->second;
    }
    for (int i = 0;; ++i) {
      const auto it = section.Keys.find("var" + std::to_string(i));
      if (it == section.Keys.end()) break;
      tab.VarNames.push_back(it->second);
    }
    tabs.push_back(std::move(tab));
  }
  return tabs;
}

std::vector<TTemplateTab> LoadTemplates(const std::string& FileName,
                                        std::vector<std::string>* warnings) {
  std::ifstream file(FileName, std::ios::binary);
  if (!file) return {};
  // A template is a few lines; a file past a megabyte is none.
  constexpr std::streamsize kMaxTemplateSize = 1 << 20;
  std::string text(static_cast<size_t>(kMaxTemplateSize) + 1, '\0');
  file.read(text.data(), kMaxTemplateSize + 1);
  text.resize(static_cast<size_t>(file.gcount()));
  if (static_cast<std::streamsize>(text.size()) > kMaxTemplateSize) {
    if (warnings) warnings->push_back("template file " + FileName + " is too large to be one");
    return {};
  }
  return ParseTemplates(text, warnings);
}

const TTemplateTab* FindTemplateTab(const std::vector<TTemplateTab>& tabs, std::string_view Name) {
  const std::string wanted = Lower(std::string(Name));
  for (const TTemplateTab& tab : tabs) {
    if (Lower(tab.Name) == wanted) return &tab;
  }
  return nullptr;
}
