#include "apps/cli/cli_tabs.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace cli {

namespace {

// The desktop program lies beside varnel-cli; its template is named after it.
std::string DesktopExecutable() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  const std::filesystem::path dir = error ? std::filesystem::path(".") : self.parent_path();
  return (dir / "varnel").string();
}

}  // namespace

void AddTabOptions(CLI::App* sub, TabOptions& t, const std::string& tabHelp) {
  sub->add_option("--template", t.templateFile,
                  "The template file of the tabs (default: varnel.ini beside the programs)");
  if (!tabHelp.empty()) sub->add_option("--tab", t.tab, tabHelp);
}

std::string TemplatePath(const TabOptions& t) {
  return t.templateFile.empty() ? TemplateFileName(DesktopExecutable()) : t.templateFile;
}

std::vector<TTemplateTab> LoadTabs(const TabOptions& t, std::vector<Problem>& warnings) {
  const std::string file = TemplatePath(t);
  std::error_code error;
  if (!std::filesystem::exists(file, error)) {
    warnings.push_back({0, "", "the template " + file + " does not exist: no tabs", true});
    return {};
  }
  std::vector<std::string> skipped;
  std::vector<TTemplateTab> tabs = LoadTemplates(file, &skipped);
  for (const std::string& text : skipped) warnings.push_back({0, "", file + ": " + text, true});
  return tabs;
}

TTemplateTab ChosenTab(const TabOptions& t, std::vector<Problem>& warnings) {
  std::vector<Problem> loading;
  const std::vector<TTemplateTab> tabs = LoadTabs(t, loading);
  const TTemplateTab* tab = FindTemplateTab(tabs, t.tab);
  if (tab == nullptr) {
    std::error_code error;
    if (!std::filesystem::exists(TemplatePath(t), error)) {
      throw UsageError("no tab '" + t.tab + "': the template " + TemplatePath(t) +
                       " does not exist");
    }
    throw UsageError("no tab '" + t.tab + "' in the template " + TemplatePath(t));
  }
  warnings.insert(warnings.end(), loading.begin(), loading.end());
  return *tab;
}

std::vector<std::string> TabAndNames(const TabOptions& t, const std::vector<std::string>& names,
                                     std::vector<Problem>& warnings) {
  if (t.tab.empty()) return names;
  std::vector<std::string> all = ChosenTab(t, warnings).VarNames;
  const size_t fromTab = all.size();
  for (const std::string& name : names) {
    if (std::find(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(fromTab), name) ==
        all.begin() + static_cast<std::ptrdiff_t>(fromTab)) {
      all.push_back(name);
    }
  }
  if (all.empty()) throw UsageError("the tab '" + t.tab + "' names no variables");
  return all;
}

void RequireNamesOrTab(CLI::App* sub, const std::vector<std::string>& names, const TabOptions& t) {
  sub->parse_complete_callback([&names, &t] {
    if (names.empty() && t.tab.empty()) throw CLI::RequiredError("NAME");
  });
}

}  // namespace cli
