// The template file: one variables tab per INI section, in file order.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct TTemplateTab {
  std::string Name;                   // the section name
  std::string Description;            // key "Description"
  std::vector<std::string> VarNames;  // keys Var0, Var1, ... up to the first gap
};

// The template that lies beside an executable: its path with the extension replaced by
// ".ini".
std::string TemplateFileName(const std::string& ExecutablePath);

// The tabs of a template file; none when the file does not exist or cannot be read.
// Section and key names match without regard to case, blanks around names and values do
// not count, and a section named exactly "General" gives no tab. A section that appears
// twice is one tab, at its first place. Lines longer than the reader takes are skipped
// whole, each named in warnings, rather than read in pieces.
std::vector<TTemplateTab> LoadTemplates(const std::string& FileName,
                                        std::vector<std::string>* warnings = nullptr);
std::vector<TTemplateTab> ParseTemplates(std::string_view Text,
                                         std::vector<std::string>* warnings = nullptr);

// The tab of that name, matched as section names are: without regard to case; nullptr
// when there is none.
const TTemplateTab* FindTemplateTab(const std::vector<TTemplateTab>& tabs, std::string_view Name);
