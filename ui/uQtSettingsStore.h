// The per-user settings store behind QSettings: organisation "Morvane", application
// "Kestrum", in the platform's native format (~/.config/Morvane/Kestrum.conf on Linux,
// where XDG_CONFIG_HOME moves it). The file holds the controllers' password when no secret
// store answers, so only its owner may read it: it is written with mode 0600, and a folder
// made for it with 0700.
#pragma once

#include <QSettings>
#include <memory>
#include <optional>
#include <string>

#include "ui/uSecretStore.h"
#include "workflows/uSettings.h"

inline constexpr const char* kSettingsOrganisation = "Morvane";
inline constexpr const char* kSettingsApplication = "Kestrum";

class TQtSettingsStore : public TSettingsStore {
 public:
  // The user's own store; the password goes to the desktop's secret store where there is
  // one (TKeychainSecretStore), else into the file.
  TQtSettingsStore();
  // A store in a file of the given format (tests), with the password in `secrets` when
  // given and answering, else in the file.
  TQtSettingsStore(const QString& fileName, QSettings::Format format,
                   std::unique_ptr<TSecretStore> secrets = nullptr);

  bool KeyExists() const override;
  // "Password" comes from the secret store when it holds one; a password still in the
  // file moves into an answering secret store and out of the file.
  bool ReadString(const std::string& name, std::string& value) const override;
  bool ReadInteger(const std::string& name, int32_t& value) const override;
  // "Password" goes to the secret store when it answers (and leaves the file), else to
  // the file.
  void WriteString(const std::string& name, const std::string& value) override;
  void WriteInteger(const std::string& name, int32_t value) override;
  // Puts what was written into the file now.
  void Flush() override;

  QString FileName() const { return fSettings->fileName(); }

 private:
  // Before the first write: the folder (0700 for each part it makes) and the file (0600),
  // so that QSettings, which keeps a file's mode when it replaces it, never writes the
  // password where others could read it.
  void PrepareFile();
  void KeepFilePrivate() const;
  std::string FileString(const QString& key) const;

  std::unique_ptr<QSettings> fSettings;
  std::unique_ptr<TSecretStore> fSecrets;
  // The password as the secret store holds it, once read or written there: an unchanged
  // password is not written again (a store may ask the user, and exit is no time for it).
  mutable std::optional<std::string> fSecretHeld;
  bool fPrepared = false;
};
