// Small helpers the benchmarks share.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace bench {

// The middle value of the samples (the upper one of an even count); 0 when there are none.
inline double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The varnel-cli built beside this benchmark.
inline std::string CliBesideThis(const char* argv0) {
  std::error_code ec;
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) self = argv0;
  return (self.parent_path() / "varnel-cli").string();
}

}  // namespace bench
