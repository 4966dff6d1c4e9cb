// varnel-cli decode HEX: explains one frame given as hexadecimal text.
#include <iostream>

#include "apps/cli/cli.h"
#include "protocol/uQLink.h"

namespace {

struct DecodeOptions {
  std::string hex;
  bool json = false;
};

int RunDecode(const DecodeOptions& o) {
  // Accept the text as people paste it: spaces anywhere, digits of either case.
  std::string text;
  for (char c : o.hex) {
    if (c == ' ' || c == ':' || c == '\t') continue;
    text += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  std::string buffer = text, frame, body;
  uint32_t from = 0, to = 0;
  uint8_t dir = 0, type = 0;
  if (!DecodeFrame(buffer, frame, from, to, dir, type, body)) {
    const std::string reason = DecodeFailureReason(text);
    if (o.json) {
      cli::PrintJson({{"ok", false}, {"error", reason}});
    } else {
      std::cerr << "error: frame does not decode: " << reason << "\n";
    }
    return cli::kExitFailed;
  }
  if (o.json) {
    cli::PrintJson({{"from_nad", from},
                    {"to_nad", to},
                    {"direction", dir},
                    {"direction_name", MessageDirectionName(dir)},
                    {"type", type},
                    {"type_name", MessageTypeName(type)},
                    {"body", body},
                    {"checksum_ok", true}});
  } else {
    std::cout << "from NAD:   " << from << "\n"
              << "to NAD:     " << to << "\n"
              << "direction:  " << int(dir) << " (" << MessageDirectionName(dir) << ")\n"
              << "type:       " << int(type) << " (" << MessageTypeName(type) << ")\n"
              << "body:       " << (body.empty() ? "(empty)" : body) << "\n"
              << "checksum:   ok\n";
    if (!buffer.empty()) std::cout << "trailing:   " << buffer << "\n";
  }
  return cli::kExitOk;
}

void Setup(CLI::App& root) {
  auto opts = std::make_shared<DecodeOptions>();
  auto* sub = root.add_subcommand("decode", "Decode one QLink frame given as hexadecimal text");
  sub->add_option("HEX", opts->hex, "The frame's bytes as hexadecimal digits")->required();
  sub->add_flag("--json", opts->json, "Print one JSON document");
  cli::AddCommand(root, sub, [opts] { return RunDecode(*opts); });
}

}  // namespace

VARNEL_CLI_COMMAND(Setup);
