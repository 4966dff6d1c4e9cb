// The user's communication settings and window placement, and the store they live in
// between runs (the desktop plugs its per-user settings behind TSettingsStore).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

// Named string and 32-bit integer values under the program's key.
class TSettingsStore {
 public:
  virtual ~TSettingsStore() = default;
  // Whether the key has ever been written.
  virtual bool KeyExists() const = 0;
  // False when the value is missing (or not of that kind).
  virtual bool ReadString(const std::string& name, std::string& value) const = 0;
  virtual bool ReadInteger(const std::string& name, int32_t& value) const = 0;
  // Creates the key when missing.
  virtual void WriteString(const std::string& name, const std::string& value) = 0;
  virtual void WriteInteger(const std::string& name, int32_t value) = 0;
  // Makes what was written last beyond the program's end; a store without a file has
  // nothing to do.
  virtual void Flush() {}
};

struct TSettings {
  std::string EthAdapterID;
  bool DirectConnection = false;
  bool ExtraRetries = false;
  bool ExtraTimeout = false;
  std::string Password;
  // The debug log switch: on for the running program only, never stored.
  bool CreateDebugLogs = false;

  int NoRetires() const { return ExtraRetries ? 10 : 3; }
  int WaitTime() const { return ExtraTimeout ? 1000 : 200; }
  // How long a scan collects answers.
  int ScanTimeout() const { return ExtraTimeout ? 4000 : 1000; }
};

// The window's normal (not maximized) rectangle; a value not stored stays empty.
struct TWindowPlacement {
  std::optional<int32_t> Top, Left, Width, Height;
  bool Maximized = false;
};

// Fills what the store holds, leaving the rest; false (nothing read) without the key.
bool ReadSettings(const TSettingsStore& store, TSettings& settings, TWindowPlacement& placement);
// Writes all ten values; the placement's missing values are written as 0.
void WriteSettings(TSettingsStore& store, const TSettings& settings,
                   const TWindowPlacement& placement);

// A store in memory, for programs and tests that keep nothing between runs.
class TMemorySettingsStore : public TSettingsStore {
 public:
  bool KeyExists() const override { return fExists; }
  bool ReadString(const std::string& name, std::string& value) const override;
  bool ReadInteger(const std::string& name, int32_t& value) const override;
  void WriteString(const std::string& name, const std::string& value) override;
  void WriteInteger(const std::string& name, int32_t value) override;

  std::map<std::string, std::string> Strings;
  std::map<std::string, int32_t> Integers;

 private:
  bool fExists = false;
};
