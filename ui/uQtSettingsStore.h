// The per-user settings store behind QSettings: organisation "Morvane", application
// "Kestrum", in the platform's native format (~/.config/Morvane/Kestrum.conf on Linux,
// where XDG_CONFIG_HOME moves it).
#pragma once

#include <QSettings>
#include <memory>

#include "workflows/uSettings.h"

inline constexpr const char* kSettingsOrganisation = "Morvane";
inline constexpr const char* kSettingsApplication = "Kestrum";

class TQtSettingsStore : public TSettingsStore {
 public:
  // The user's own store.
  TQtSettingsStore();
  // A store in a file of the given format (tests).
  TQtSettingsStore(const QString& fileName, QSettings::Format format);

  bool KeyExists() const override;
  bool ReadString(const std::string& name, std::string& value) const override;
  bool ReadInteger(const std::string& name, int32_t& value) const override;
  void WriteString(const std::string& name, const std::string& value) override;
  void WriteInteger(const std::string& name, int32_t value) override;
  // Puts what was written into the file now.
  void Flush();

  QString FileName() const { return fSettings->fileName(); }

 private:
  std::unique_ptr<QSettings> fSettings;
};
