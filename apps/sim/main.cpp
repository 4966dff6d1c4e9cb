// varnel-sim: simulated controllers on loopback addresses, for trying the tool without
// hardware. Runs until SIGINT or SIGTERM.
#include <CLI/CLI.hpp>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string_view>

#include "sim/uSimHost.h"

namespace {

// Allocation files are a few kilobytes; anything near this is no allocation file.
constexpr std::streamoff kMaxAlcFileBytes = 8 * 1024 * 1024;

bool ReadFile(const std::string& path, std::string& text, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open " + path;
    return false;
  }
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size < 0 || size > kMaxAlcFileBytes) {
    error = path + " is no allocation file (too large)";
    return false;
  }
  in.seekg(0);
  std::ostringstream s;
  s << in.rdbuf();
  text = s.str();
  return true;
}

bool ParseChance(const std::string& text, double& value) {
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  return error == std::errc() && stop == end && value >= 0 && value <= 1;
}

// "MS" (0 to MS) or "MIN-MAX", in milliseconds up to ten minutes.
bool ParseDelayRange(const std::string& text, int& low, int& high) {
  const auto number = [](std::string_view part, int& value) {
    const char* end = part.data() + part.size();
    const auto [stop, error] = std::from_chars(part.data(), end, value);
    return !part.empty() && error == std::errc() && stop == end && value >= 0 && value <= 600000;
  };
  const size_t dash = text.find('-');
  int a = 0, b = 0;
  if (dash == std::string::npos) {
    if (!number(text, b)) return false;
  } else if (!number(std::string_view(text).substr(0, dash), a) ||
             !number(std::string_view(text).substr(dash + 1), b) || a > b) {
    return false;
  }
  low = a;
  high = b;
  return true;
}

bool ParseSeed(const std::string& text, uint64_t& value) {
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  return error == std::errc() && stop == end && !text.empty();
}

// A chance in 0..1; the option given bare stands for 1, which is what these options meant
// while they were plain flags.
void AddChance(CLI::App& app, const std::string& name, double& chance,
               const std::string& description) {
  const CLI::Validator probability(
      [](std::string& text) -> std::string {
        double value = 0;
        return text.empty() || ParseChance(text, value)
                   ? ""
                   : "Value " + text + " is no probability from 0 to 1";
      },
      "0 to 1");
  app.add_option_function<std::string>(
         name,
         [&chance](const std::string& text) {
           chance = 1;
           if (!text.empty()) ParseChance(text, chance);
         },
         description)
      ->expected(0, 1)
      ->type_name("[P]")
      ->check(probability);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Simulated Tarvo controllers on loopback addresses", "varnel-sim"};
  app.set_version_flag("--version", std::string("varnel-sim ") + VARNEL_VERSION);
  sim::TSimHostOptions o;
  o.Port = 8442;
  int64_t baseNad = o.BaseNAD;
  std::string alcFile;
  std::optional<uint64_t> seed;
  app.add_option("--controllers", o.Controllers, "Number of controllers")
      ->check(CLI::Range(1, 100000));
  app.add_option("--base-nad", baseNad, "NAD of the first controller; the next count up")
      ->check(CLI::Range(int64_t{1}, int64_t{0xFFFFFFFF}));
  app.add_option("--port", o.Port, "UDP port of every controller (0: pick a free one)")
      ->check(CLI::Range(0, 65535));
  app.add_option("--password", o.Password, "Password the controllers require");
  app.add_option("--first-ip", o.FirstIP, "Address of the first controller (127.0.0.0/8)");
  app.add_flag("--stopped", o.Stopped, "PLCs stopped");
  app.add_flag("--no-program", o.NoProgram, "No PLC program");
  app.add_flag("--no-alc", o.NoAlc, "Program without allocation file");
  app.add_option("--alc", alcFile, "Serve this allocation file instead of the built-in one")
      ->check(CLI::ExistingFile);
  app.add_option("--drop", o.Faults.DropProbability, "Probability (0-1) that an answer is lost")
      ->check(CLI::Range(0.0, 1.0));
  app.add_option("--delay", o.Faults.DelayMs, "Delay every answer by MS milliseconds")
      ->check(CLI::Range(0, 600000));
  app.add_option("--jitter", o.Faults.JitterMs,
                 "Vary each answer's delay at random by up to MS milliseconds either way")
      ->check(CLI::Range(0, 600000));
  AddChance(app, "--duplicate", o.Faults.DuplicateProbability,
            "Probability that an answer is sent twice, the copy right behind it; bare: every "
            "answer");
  app.add_option_function<std::string>(
         "--dup-delay",
         [&o](const std::string& text) {
           ParseDelayRange(text, o.Faults.DuplicateDelayMinMs, o.Faults.DuplicateDelayMaxMs);
         },
         "Send each copy that long behind its original: MS for 0 to MS milliseconds, MIN-MAX "
         "for that range, drawn for each copy")
      ->type_name("MS|MIN-MAX")
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            int low = 0, high = 0;
            return ParseDelayRange(text, low, high) ? "" : "Value " + text + " is no delay range";
          },
          "0-600000"));
  app.add_flag("--split", o.Faults.Split, "Split every answer over two datagrams");
  app.add_flag("--two-frames", o.Faults.TwoFrames, "Two copies of the answer in one datagram");
  AddChance(app, "--corrupt", o.Faults.CorruptProbability,
            "Probability that an answer's checksum is wrong; bare: every answer");
  app.add_option_function<std::string>(
         "--seed",
         [&seed](const std::string& text) {
           uint64_t value = 0;
           if (ParseSeed(text, value)) seed = value;
         },
         "Fix the faults' chances for a reproducible run")
      ->type_name("N")
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            uint64_t value = 0;
            return ParseSeed(text, value)
                       ? ""
                       : "Value " + text + " is no number from 0 to " + std::to_string(UINT64_MAX);
          },
          "0 to 2^64-1"));
  app.add_option("--negative", o.Faults.NegativeCode,
                 "Answer every request with this response code (2-255)")
      ->check(CLI::Range(0, 255));
  CLI11_PARSE(app, argc, argv);
  o.BaseNAD = static_cast<uint32_t>(baseNad);
  o.Seed = seed;

  if (!alcFile.empty()) {
    std::string error;
    if (!ReadFile(alcFile, o.AlcText, error)) {
      std::cerr << "varnel-sim: " << error << "\n";
      return 1;
    }
  }

  // The serving thread inherits the mask, so the signals reach sigwait below only.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  // Nobody reads the requests back here; thousands of controllers would only pile them up.
  o.RecordRequests = false;
  sim::RaiseDescriptorLimit();
  sim::TSimHost host(o);
  std::string error;
  if (!host.Start(&error)) {
    std::cerr << "varnel-sim: " << error << "\n";
    return 1;
  }
  for (int i = 0; i < host.Count(); ++i)
    std::printf("NAD %u at %s:%d\n", host.Controller(i).NAD(), host.Controller(i).IP().c_str(),
                host.Port());
  std::fflush(stdout);

  int signal = 0;
  sigwait(&signals, &signal);
  host.Stop();
  return 0;
}
