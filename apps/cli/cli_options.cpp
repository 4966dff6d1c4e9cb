#include "apps/cli/cli_options.h"

#include <string>

#include "data/uNumText.h"

namespace cli {

namespace {

const char* const kIntegerForms = "decimal, or hexadecimal after $, x or 0x";

std::string RangeText(int64_t min, int64_t max) {
  return std::to_string(min) + " to " + std::to_string(max);
}

// Empty when the text reads as an integer in the range, else why not.
std::string CheckInteger(const std::string& text, int64_t min, int64_t max, int64_t& value) {
  if (!ParseIntegerText64(text, value)) {
    return "'" + text + "' is not an integer (" + kIntegerForms + ")";
  }
  if (value < min || value > max) {
    return "'" + text + "' is out of range: " + RangeText(min, max);
  }
  return {};
}

}  // namespace

CLI::Validator IntegerText(int64_t min, int64_t max) {
  return CLI::Validator(
      [min, max](std::string& text) {
        int64_t value = 0;
        std::string refusal = CheckInteger(text, min, max, value);
        if (refusal.empty()) text = std::to_string(value);
        return refusal;
      },
      "INT in " + RangeText(min, max));
}

CLI::Validator NadText() {
  return CLI::Validator(
      [](std::string& text) {
        int64_t value = 0;
        if (ParseIntegerText64(text, value) && value == 0) {
          return std::string(
              "0 is the discovery address, which every controller answers, not "
              "the NAD of a controller");
        }
        std::string refusal = CheckInteger(text, 1, 0xFFFFFFFFll, value);
        if (refusal.empty()) text = std::to_string(value);
        return refusal;
      },
      "NAD 1 to 4294967295");
}

CLI::Validator HostAndPortText() {
  return CLI::Validator(
      [](std::string& text) {
        const size_t colon = text.find(':');
        if (colon == std::string::npos) return std::string();
        int64_t port = 0;
        const std::string refusal = CheckInteger(text.substr(colon + 1), 1, 65535, port);
        return refusal.empty() ? refusal : "the port of '" + text + "': " + refusal;
      },
      "HOST[:PORT]");
}

}  // namespace cli
