#include "apps/cli/cli_output.h"

#include <algorithm>
#include <iostream>

#include "data/uNumText.h"

namespace cli {

std::string Pad(const std::string& text, size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

Progress::Progress(int total) : fTotal(total), fShow(total > 1 && StderrIsTerminal()) {}

Progress::~Progress() {
  if (fShow) std::cerr << "\r\033[K" << std::flush;
}

void Progress::Step(int index, const std::string& text) {
  if (!fShow) return;
  std::cerr << "\r\033[K[" << index + 1 << "/" << fTotal << "] " << text << std::flush;
}

Json ProblemsJson(const std::vector<Problem>& problems) {
  Json list = Json::array();
  for (const Problem& p : problems) {
    list.push_back({{"nad", NADValue(p.nad)}, {"name", p.name}, {"message", p.message}});
  }
  return list;
}

namespace {

void PrintLines(const char* kind, const std::vector<Problem>& problems) {
  for (const Problem& p : problems) {
    std::cerr << kind << ": ";
    if (!p.noNad) {
      std::cerr << "NAD " << NADText(p.nad);
      if (!p.name.empty()) std::cerr << " " << p.name;
      std::cerr << ": ";
    }
    std::cerr << p.message << "\n";
  }
}

}  // namespace

void PrintProblems(const std::vector<Problem>& problems) {
  PrintLines("error", problems);
}

void PrintWarnings(const std::vector<Problem>& warnings) {
  PrintLines("warning", warnings);
}

void AddWarnings(Json& doc, const std::vector<Problem>& warnings) {
  if (!warnings.empty()) doc["warnings"] = ProblemsJson(warnings);
}

Json ValuesJson(const std::vector<ValueResult>& values, bool withVerified) {
  Json list = Json::array();
  for (const ValueResult& v : values) {
    Json item = {{"nad", NADValue(v.nad)},
                 {"name", v.name},
                 {"value", v.value},
                 {"description", v.description}};
    if (withVerified) {
      item["written"] = v.written;
      item["verified"] = v.verified;
    }
    list.push_back(std::move(item));
  }
  return list;
}

void PrintValues(const std::vector<ValueResult>& values, bool withVerified) {
  size_t nameWidth = 4, valueWidth = 5;
  for (const ValueResult& v : values) {
    nameWidth = std::max(nameWidth, v.name.size());
    valueWidth = std::max(valueWidth, v.value.size());
  }
  std::cout << Pad("NAD", 6) << Pad("NAME", nameWidth + 2) << Pad("VALUE", valueWidth + 2)
            << (withVerified ? "WRITTEN  VERIFIED  " : "") << "DESCRIPTION\n";
  for (const ValueResult& v : values) {
    std::cout << Pad(NADText(v.nad), 6) << Pad(v.name, nameWidth + 2)
              << Pad(v.value, valueWidth + 2)
              << (withVerified
                      ? Pad(v.written ? "yes" : "no", 9) + Pad(v.verified ? "yes" : "no", 10)
                      : "")
              << v.description << "\n";
  }
}

void CollectValueProblems(const std::vector<ValueResult>& values, std::vector<Problem>& problems) {
  for (const ValueResult& v : values) {
    if (!v.error.empty()) problems.push_back({v.nad, v.name, v.error});
  }
}

}  // namespace cli
