// Soak: does varnel-cli ever show a value the controller did not hold, on a link that
// loses, repeats, spoils or delays answers? Runs the real varnel-cli binary, over and over,
// against simulated controllers hosted in this process, whose memory is the ground truth.
//
// A run writes fresh values to one variable of each type (bit, word, int, long, real) and
// reads them back with a second command; every few runs take one variable alone, and some
// find their controller by a scan instead of its address. For every variable the soak keeps the
// values it may hold: after a verified write just that value, after a failed or unverified one the
// earlier ones plus the value written; a read showing one of them narrows the set to it.
// A value shown outside that set, a read (or a write's read-back) that shows anything but
// what the controller's memory held, and a write reported verified that the memory does
// not hold are WRONG. A run is RIGHT when both commands succeed, every write is verified and
// the read shows the values written; anything else is a clean failure ("?", a non-zero
// exit). The column "unverified" counts writes reported as not holding the value although
// the memory held it: each is a read-back that took another answer.
//
//   soak [--runs N] [--conditions clean,lossy,...] [--workers W] [--seed S]
//        [--cli PATH] [--scan-every K] [--single-every K] [--verbose]
//
// Exit code 1 when any wrong value was seen, 2 when the soak could not run.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "sim/uSimHost.h"

namespace {

using Clock = std::chrono::steady_clock;

// Far beyond the slowest condition's worst case (every request of a run answered at the
// last moment); a command still running then has hung.
constexpr int kCommandLimitMs = 180000;
constexpr size_t kExamplesShown = 8;
constexpr uint32_t kBaseNAD = 10;
// Apart from the addresses the tests use, so that a capture of lo tells them apart.
const char* const kFirstIP = "127.0.50.10";

struct TCondition {
  std::string Name;
  sim::TSimFaults Faults;
  bool ExtraTimeout = false;
  double GoalRightPercent = -1;  // -1: only the wrong values count
  // No write may be reported as not held when it was.
  bool GoalAllVerified = false;
};

std::vector<TCondition> Conditions() {
  auto faults = [](double drop, double dup, double corrupt, int delay, int jitter) {
    sim::TSimFaults f;
    f.DropProbability = drop;
    f.DuplicateProbability = dup;
    f.CorruptProbability = corrupt;
    f.DelayMs = delay;
    f.JitterMs = jitter;
    return f;
  };
  // Every answer sent twice, the copy `low` to `high` ms behind it; the answers themselves
  // `delay` ms late, give or take `jitter`.
  auto copies = [](int low, int high, int delay = 0, int jitter = 0) {
    sim::TSimFaults f;
    f.Duplicate = true;
    f.DuplicateDelayMinMs = low;
    f.DuplicateDelayMaxMs = high;
    f.DelayMs = delay;
    f.JitterMs = jitter;
    return f;
  };
  return {
      {"clean", {}, false, 100},
      {"lossy", faults(0.10, 0.05, 0.01, 0, 0), false, 97},
      {"dup30", faults(0, 0.30, 0, 0, 0), false, 99},
      // Copies that come a little late: after the next request has gone out, or several
      // requests later.
      {"dup1ms", copies(1, 1), false, 99, true},
      {"dup-late", copies(0, 150), false, 99, true},
      {"dup-jitter", copies(0, 150, 2, 2), false, 99, true},
      // Answers around the 200 ms wait of one attempt.
      {"late", faults(0, 0, 0, 200, 50), false, 80},
      {"late+extra", faults(0, 0, 0, 200, 50), true, -1},
      {"slow", faults(0, 0, 0, 550, 250), false, -1},
      {"slow+extra", faults(0, 0, 0, 550, 250), true, 95},
  };
}

// ---- the variables -----------------------------------------------------------------

enum class TKind { Bit, Word, Int, Long, Real };

struct TSoakVar {
  std::string Name;
  TKind Kind;
};

// One user scalar of each type of the controller's default program.
std::vector<TSoakVar> SoakVars(std::string& error) {
  const std::pair<const char*, TKind> kinds[] = {{"bit", TKind::Bit},
                                                 {"word", TKind::Word},
                                                 {"int", TKind::Int},
                                                 {"long", TKind::Long},
                                                 {"real", TKind::Real}};
  const std::vector<sim::TSimVar> program = sim::TSimController::DefaultVars();
  std::vector<TSoakVar> vars;
  for (const auto& [type, kind] : kinds) {
    auto v = std::find_if(program.begin(), program.end(), [&](const sim::TSimVar& v) {
      return v.Type == type && v.IsUser() && v.Count == 1 && v.InDataMemory() && (v.Flags & 1) == 0;
    });
    if (v == program.end()) {
      error = std::string("the default program has no writable ") + type + " variable";
      return {};
    }
    vars.push_back({v->Name, kind});
  }
  return vars;
}

// The value a raw memory content stands for, as the tool displays it.
double FromRaw(TKind kind, uint32_t raw) {
  switch (kind) {
    case TKind::Bit:
      return raw & 0xFF;
    case TKind::Word:
      return raw & 0xFFFF;
    case TKind::Int:
      return static_cast<int16_t>(raw & 0xFFFF);
    case TKind::Long:
      return static_cast<int32_t>(raw);
    case TKind::Real: {
      float f;
      std::memcpy(&f, &raw, sizeof f);
      return f;
    }
  }
  return NAN;
}

std::string Text(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.15g", value);
  return buffer;
}

std::string SetText(const std::set<double>& values) {
  std::string text = "{";
  for (double v : values) text += (text.size() > 1 ? ", " : "") + Text(v);
  return text + "}";
}

// A value for this run that the variable has never been given in this condition, so that
// a value shown from another run or another answer cannot pass for it. Reals are eighths
// below 2^20, which a single-precision real and the value text both hold exactly.
double FreshValue(TKind kind, std::mt19937_64& random, std::set<double>& used, double bitNow) {
  if (kind == TKind::Bit) return bitNow == 0 ? 1 : 0;
  for (;;) {
    double v = 0;
    switch (kind) {
      case TKind::Word:
        v = std::uniform_int_distribution<int>(0, 65535)(random);
        break;
      case TKind::Int:
        v = std::uniform_int_distribution<int>(-32768, 32767)(random);
        break;
      case TKind::Long:
        v = std::uniform_int_distribution<int64_t>(INT32_MIN, INT32_MAX)(random);
        break;
      case TKind::Real:
        v = std::uniform_int_distribution<int32_t>(-(1 << 23) + 1, (1 << 23) - 1)(random) / 8.0;
        break;
      case TKind::Bit:
        break;
    }
    if (used.insert(v).second) return v;
  }
}

// ---- running varnel-cli ---------------------------------------------------------------

// What a command showed for one variable.
struct TShown {
  std::optional<double> Value;  // nothing for "?" or when the command gave no entry
  bool Verified = false;
};

// The entries of the JSON document's "values" for the given NAD, by name; false when the
// output is no such document.
bool ParseValues(const std::string& out, uint32_t nad, const std::vector<TSoakVar>& vars,
                 std::vector<TShown>& shown) {
  shown.assign(vars.size(), {});
  const auto doc = nlohmann::json::parse(out, nullptr, false);
  if (doc.is_discarded() || !doc.is_object() || !doc.contains("values") ||
      !doc["values"].is_array())
    return false;
  for (const auto& item : doc["values"]) {
    if (!item.is_object() || !item.contains("name") || !item["name"].is_string()) continue;
    if (!item.contains("nad") || item["nad"] != nad) continue;
    const std::string name = item["name"];
    for (size_t i = 0; i < vars.size(); ++i) {
      if (vars[i].Name != name) continue;
      if (item.contains("verified") && item["verified"].is_boolean())
        shown[i].Verified = item["verified"];
      if (!item.contains("value") || !item["value"].is_string()) continue;
      const std::string text = item["value"];
      char* end = nullptr;
      const double v = std::strtod(text.c_str(), &end);
      if (text != "?" && !text.empty() && end == text.c_str() + text.size()) shown[i].Value = v;
    }
  }
  return true;
}

// ---- judging ----------------------------------------------------------------------------

struct TWrong {
  std::string Condition;
  int Run = 0;
  uint32_t NAD = 0;
  std::string Where;  // "write", "read", "controller"
  std::string Name;
  std::string Shown;
  std::string Expected;
  std::string Errors;  // what the command said about it
};

struct TTally {
  int Runs = 0;
  int Right = 0;
  int FailedCleanly = 0;
  int WrongRuns = 0;
  int WrongValues = 0;
  int Abnormal = 0;  // a command that crashed, hung or printed no JSON document
  int Writes = 0;    // values written
  int Reads = 0;     // values read back by the second command
  // Writes reported as not held although the controller's memory held the value.
  int FalseUnverified = 0;
  std::vector<TWrong> Wrong;
};

struct TOptions {
  int Runs = 1000;
  int Workers = 32;
  std::optional<uint64_t> Seed;
  std::string Cli;
  int ScanEvery = 4;
  int SingleEvery = 2;
  bool Verbose = false;
};

std::string ErrorsOf(const std::string& out) {
  const auto doc = nlohmann::json::parse(out, nullptr, false);
  if (doc.is_discarded() || !doc.is_object() || !doc.contains("errors")) return {};
  std::string text;
  for (const auto& e : doc["errors"])
    if (e.is_object() && e.contains("message") && e["message"].is_string())
      text += (text.empty() ? "" : "; ") + e["message"].get<std::string>();
  return text;
}

// One worker: one controller, its runs one after another.
class TWorker {
 public:
  TWorker(const TOptions& options, const TCondition& condition, const std::vector<TSoakVar>& vars,
          sim::TSimController& controller, int port, uint64_t seed)
      : fOptions(options),
        fCondition(condition),
        fVars(vars),
        fController(controller),
        fPort(port),
        fPossible(vars.size()),
        fUsed(vars.size()) {
    std::seed_seq sequence{static_cast<uint32_t>(seed), static_cast<uint32_t>(seed >> 32)};
    fRandom.seed(sequence);
    for (size_t i = 0; i < vars.size(); ++i) {
      fPossible[i] = {Truth(i)};
      fUsed[i] = fPossible[i];
    }
  }

  void Run(int run, TTally& tally, std::mutex& tallyLock) {
    // Mostly every variable at once; now and then one alone, whose short answer any
    // stray answer of another request can fill.
    std::vector<size_t> chosen;
    const bool single =
        fOptions.SingleEvery > 0 && run % fOptions.SingleEvery == fOptions.SingleEvery - 1;
    if (single) {
      chosen.push_back(static_cast<size_t>(run / fOptions.SingleEvery) % fVars.size());
    } else {
      for (size_t i = 0; i < fVars.size(); ++i) chosen.push_back(i);
    }
    const bool scan = fOptions.ScanEvery > 0 && run % fOptions.ScanEvery == fOptions.ScanEvery - 1;
    std::vector<double> values(fVars.size());
    for (size_t i : chosen) values[i] = FreshValue(fVars[i].Kind, fRandom, fUsed[i], Truth(i));

    std::vector<std::string> writeArgs{"write"};
    for (size_t i : chosen) writeArgs.push_back(fVars[i].Name + "=" + Text(values[i]));
    AddTarget(writeArgs, scan);
    const bench::TCommand write = bench::RunCommand(fOptions.Cli, writeArgs, kCommandLimitMs);

    std::vector<TWrong> wrong;
    bool right = write.ExitCode == 0;
    bool abnormal = write.ExitCode < 0;
    std::vector<TShown> shown;
    if (!ParseValues(write.Out, fController.NAD(), fVars, shown)) abnormal = true;
    const std::string writeErrors = ErrorsOf(write.Out);
    int falseUnverified = 0;
    for (size_t i : chosen) {
      std::set<double> allowed = fPossible[i];
      allowed.insert(values[i]);
      // The read-back followed the write in the same exchange, and nothing wrote since:
      // it can only have shown what memory holds now.
      const double after = Truth(i);
      if (shown[i].Value && !allowed.count(*shown[i].Value)) {
        wrong.push_back(
            Wrong(run, "write", i, Text(*shown[i].Value), SetText(allowed), writeErrors));
      } else if (shown[i].Value && *shown[i].Value != after) {
        wrong.push_back(Wrong(run, "write", i, Text(*shown[i].Value), "memory holds " + Text(after),
                              writeErrors));
      }
      // "Wrote V but the controller holds X" while it held V. A read-back that was lost
      // (written, not verified, no value) says nothing false.
      if (!shown[i].Verified && shown[i].Value && after == values[i]) ++falseUnverified;
      if (shown[i].Verified) {
        const double truth = Truth(i);
        if (truth != values[i])
          wrong.push_back(Wrong(run, "controller", i, "verified " + Text(values[i]),
                                "memory holds " + Text(truth), writeErrors));
        fPossible[i] = {values[i]};
      } else {
        fPossible[i] = allowed;
        right = false;
      }
    }

    std::vector<double> before(fVars.size());
    for (size_t i : chosen) before[i] = Truth(i);
    std::vector<std::string> readArgs{"read"};
    for (size_t i : chosen) readArgs.push_back(fVars[i].Name);
    AddTarget(readArgs, scan);
    const bench::TCommand read = bench::RunCommand(fOptions.Cli, readArgs, kCommandLimitMs);
    right = right && read.ExitCode == 0;
    abnormal = abnormal || read.ExitCode < 0;
    if (!ParseValues(read.Out, fController.NAD(), fVars, shown)) abnormal = true;
    const std::string readErrors = ErrorsOf(read.Out);
    for (size_t i : chosen) {
      const double truth = Truth(i);
      if (!shown[i].Value) {
        right = false;
        continue;
      }
      const double v = *shown[i].Value;
      if (!fPossible[i].count(v)) {
        wrong.push_back(Wrong(run, "read", i, Text(v), SetText(fPossible[i]), readErrors));
      } else if (truth == before[i] && v != truth) {
        // Nothing wrote while the read ran: it can only have shown what memory held.
        wrong.push_back(Wrong(run, "read", i, Text(v), "memory holds " + Text(truth), readErrors));
      }
      if (fPossible[i].count(v)) fPossible[i] = {v};
      right = right && v == values[i];
    }

    std::lock_guard lock(tallyLock);
    ++tally.Runs;
    tally.Abnormal += abnormal;
    tally.Writes += static_cast<int>(chosen.size());
    tally.Reads += static_cast<int>(chosen.size());
    tally.FalseUnverified += falseUnverified;
    if (!wrong.empty()) {
      ++tally.WrongRuns;
      tally.WrongValues += static_cast<int>(wrong.size());
      tally.Wrong.insert(tally.Wrong.end(), wrong.begin(), wrong.end());
    } else if (right) {
      ++tally.Right;
    } else {
      ++tally.FailedCleanly;
    }
    if (fOptions.Verbose && (!right || abnormal)) {
      std::fprintf(stderr, "%s run %d NAD %u%s%s: write exit %d, read exit %d%s%s%s%s\n",
                   fCondition.Name.c_str(), run, fController.NAD(), scan ? " (scan)" : "",
                   single ? " (one variable)" : "", write.ExitCode, read.ExitCode,
                   writeErrors.empty() ? "" : "; write: ", writeErrors.c_str(),
                   readErrors.empty() ? "" : "; read: ", readErrors.c_str());
      if (abnormal)
        std::fprintf(stderr, "  no JSON or no normal exit; stderr: %s%s\n", write.Err.c_str(),
                     read.Err.c_str());
    }
  }

 private:
  double Truth(size_t i) {
    const auto raw = fController.ReadVar(fVars[i].Name);
    return raw ? FromRaw(fVars[i].Kind, *raw) : NAN;
  }

  void AddTarget(std::vector<std::string>& args, bool scan) const {
    args.insert(args.end(), {"--adapter", "lo", "--port", std::to_string(fPort), "--nad",
                             std::to_string(fController.NAD())});
    if (!scan) args.insert(args.end(), {"--ip", fController.IP()});
    if (fCondition.ExtraTimeout) args.push_back("--extra-timeout");
    args.push_back("--json");
  }

  TWrong Wrong(int run, const std::string& where, size_t i, const std::string& shown,
               const std::string& expected, const std::string& errors) const {
    return {fCondition.Name, run, fController.NAD(), where, fVars[i].Name, shown, expected, errors};
  }

  const TOptions& fOptions;
  const TCondition& fCondition;
  const std::vector<TSoakVar>& fVars;
  sim::TSimController& fController;
  const int fPort;
  std::mt19937_64 fRandom;
  std::vector<std::set<double>> fPossible;  // what each variable may hold now
  std::vector<std::set<double>> fUsed;      // every value it was ever given or held
};

bool RunCondition(const TOptions& options, const TCondition& condition, size_t conditionIndex,
                  const std::vector<TSoakVar>& vars, uint64_t seed, TTally& tally,
                  std::string& error) {
  sim::TSimHostOptions host;
  host.Controllers = options.Workers;
  host.BaseNAD = kBaseNAD;
  host.Port = 0;
  host.FirstIP = kFirstIP;
  host.Faults = condition.Faults;
  host.Seed = seed + conditionIndex;
  sim::TSimHost sim(host);
  if (!sim.Start(&error)) return false;

  std::vector<std::unique_ptr<TWorker>> workers;
  for (int w = 0; w < options.Workers; ++w)
    workers.push_back(std::make_unique<TWorker>(options, condition, vars, sim.Controller(w),
                                                sim.Port(),
                                                seed ^ (conditionIndex << 48) ^ (w + 1) * 7919u));
  std::atomic<int> next{0};
  std::mutex lock;
  std::vector<std::thread> threads;
  for (auto& worker : workers)
    threads.emplace_back([&, w = worker.get()] {
      for (int run; (run = next++) < options.Runs;) w->Run(run, tally, lock);
    });
  for (auto& t : threads) t.join();
  sim.Stop();
  return true;
}

std::string Goal(const TCondition& c, const TTally& t) {
  const double percent = t.Runs > 0 ? 100.0 * t.Right / t.Runs : 0;
  const bool met = t.WrongValues == 0 &&
                   (c.GoalRightPercent < 0 || percent >= c.GoalRightPercent) &&
                   (!c.GoalAllVerified || t.FalseUnverified == 0);
  char text[96];
  if (c.GoalRightPercent < 0)
    std::snprintf(text, sizeof text, "0 wrong: %s", met ? "met" : "missed");
  else
    std::snprintf(text, sizeof text, ">=%g%% right, 0 wrong%s: %s", c.GoalRightPercent,
                  c.GoalAllVerified ? ", 0 unverified" : "", met ? "met" : "missed");
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<TCondition> all = Conditions();
  TOptions options;
  std::string conditionList;
  CLI::App app{"Repeated writes and reads of known values with varnel-cli on faulty links"};
  app.add_option("--runs", options.Runs, "Runs per condition")->check(CLI::Range(1, 10000000));
  std::string names;
  for (const TCondition& c : all) names += (names.empty() ? "" : ",") + c.Name;
  app.add_option("--conditions", conditionList, "Conditions to run, comma-separated: " + names);
  app.add_option("--workers", options.Workers, "Simulated controllers, one worker each")
      ->check(CLI::Range(1, 1000));
  app.add_option("--seed", options.Seed, "Seed of the values and of the faults' chances");
  app.add_option("--cli", options.Cli, "The varnel-cli to soak (default: the one beside soak)");
  app.add_option("--scan-every", options.ScanEvery,
                 "Every K-th run finds its controller by a scan instead of --ip (0: never)")
      ->check(CLI::Range(0, 1000000));
  app.add_option("--single-every", options.SingleEvery,
                 "Every K-th run writes and reads one variable alone, the types in turn (0: never)")
      ->check(CLI::Range(0, 1000000));
  app.add_flag("--verbose", options.Verbose, "Explain every run that was not right");
  CLI11_PARSE(app, argc, argv);

  std::vector<const TCondition*> chosen;
  std::stringstream list(conditionList);
  for (std::string name; std::getline(list, name, ',');) {
    auto c =
        std::find_if(all.begin(), all.end(), [&](const TCondition& c) { return c.Name == name; });
    if (c == all.end()) {
      std::fprintf(stderr, "soak: no condition \"%s\"; there are %s\n", name.c_str(),
                   names.c_str());
      return 2;
    }
    chosen.push_back(&*c);
  }
  if (chosen.empty())
    for (const TCondition& c : all) chosen.push_back(&c);
  if (options.Cli.empty()) options.Cli = bench::CliBesideThis(argv[0]);
  if (access(options.Cli.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "soak: %s is not an executable varnel-cli\n", options.Cli.c_str());
    return 2;
  }
  std::string error;
  const std::vector<TSoakVar> vars = SoakVars(error);
  if (vars.empty()) {
    std::fprintf(stderr, "soak: %s\n", error.c_str());
    return 2;
  }
  const uint64_t seed = options.Seed ? *options.Seed : std::random_device{}() * 0x100000001ull;

  std::string varNames;
  for (const TSoakVar& v : vars) varNames += (varNames.empty() ? "" : ", ") + v.Name;
  std::printf("soak: %d runs per condition, %d controllers, seed %" PRIu64 "\n", options.Runs,
              options.Workers, seed);
  auto every = [](int k) {
    return k <= 0 ? std::string("no run") : "1 run in " + std::to_string(k);
  };
  std::printf("      %s\n      variables %s; %s with one variable alone, %s by scan\n",
              options.Cli.c_str(), varNames.c_str(), every(options.SingleEvery).c_str(),
              every(options.ScanEvery).c_str());
  std::printf("%-11s %6s %6s %6s %6s %15s %11s %13s %11s %8s %7s  %s\n", "condition", "runs",
              "writes", "reads", "right", "failed cleanly", "wrong runs", "wrong values",
              "unverified", "right %", "time", "goal");
  std::fflush(stdout);

  std::vector<TTally> tallies;
  bool anyWrong = false;
  for (const TCondition* c : chosen) {
    TTally tally;
    const auto start = Clock::now();
    const size_t index = static_cast<size_t>(c - all.data());
    if (!RunCondition(options, *c, index, vars, seed, tally, error)) {
      std::fprintf(stderr, "soak: the simulated controllers did not start: %s\n", error.c_str());
      return 2;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("%-11s %6d %6d %6d %6d %15d %11d %13d %11d %7.1f%% %6.0fs  %s\n", c->Name.c_str(),
                tally.Runs, tally.Writes, tally.Reads, tally.Right, tally.FailedCleanly,
                tally.WrongRuns, tally.WrongValues, tally.FalseUnverified,
                tally.Runs > 0 ? 100.0 * tally.Right / tally.Runs : 0.0, seconds,
                Goal(*c, tally).c_str());
    std::fflush(stdout);
    anyWrong = anyWrong || tally.WrongValues > 0;
    tallies.push_back(std::move(tally));
  }

  for (size_t i = 0; i < tallies.size(); ++i) {
    const TTally& t = tallies[i];
    if (t.Abnormal > 0)
      std::printf("%s: %d runs where varnel-cli crashed, hung or printed no JSON document\n",
                  chosen[i]->Name.c_str(), t.Abnormal);
    if (t.Wrong.empty()) continue;
    std::printf("%s: wrong values (%d)\n", chosen[i]->Name.c_str(), t.WrongValues);
    const size_t shown =
        options.Verbose ? t.Wrong.size() : std::min(t.Wrong.size(), kExamplesShown);
    for (size_t w = 0; w < shown; ++w) {
      const TWrong& x = t.Wrong[w];
      std::printf("  run %d NAD %u %s %s: shown %s, expected %s%s%s\n", x.Run, x.NAD,
                  x.Where.c_str(), x.Name.c_str(), x.Shown.c_str(), x.Expected.c_str(),
                  x.Errors.empty() ? "" : "; errors: ", x.Errors.c_str());
    }
    if (shown < t.Wrong.size()) std::printf("  ... %zu more (--verbose)\n", t.Wrong.size() - shown);
  }
  return anyWrong ? 1 : 0;
}
