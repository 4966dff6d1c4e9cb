#include "ui/uQtSettingsStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <limits>

#include "ui/uCommon.h"

namespace {

constexpr const char* kPasswordName = "Password";

// Makes the folder and each missing folder above it, each for its owner only.
void MakeFolder(const QString& path) {
  if (path.isEmpty() || QFileInfo::exists(path)) return;
  const QString parent = QFileInfo(path).absolutePath();
  if (parent != path) MakeFolder(parent);
  ::mkdir(QFile::encodeName(path).constData(), 0700);
}

}  // namespace

TQtSettingsStore::TQtSettingsStore()
    : fSettings(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                            kSettingsOrganisation, kSettingsApplication)),
      fSecrets(std::make_unique<TKeychainSecretStore>(fSettings->fileName())) {}

TQtSettingsStore::TQtSettingsStore(const QString& fileName, QSettings::Format format,
                                   std::unique_ptr<TSecretStore> secrets)
    : fSettings(std::make_unique<QSettings>(fileName, format)), fSecrets(std::move(secrets)) {}

bool TQtSettingsStore::KeyExists() const {
  return !fSettings->allKeys().isEmpty();
}

bool TQtSettingsStore::ReadString(const std::string& name, std::string& value) const {
  const QString key = ToQ(name);
  if (name == kPasswordName && fSecrets) {
    std::string secret;
    TSecretResult found = fSecrets->Read(secret);
    if (found == TSecretResult::srNotFound && fSettings->contains(key)) {
      // A password from before, or from a run without a secret store: it moves.
      secret = FileString(key);
      if (secret.empty() || fSecrets->Write(secret) != TSecretResult::srDone) {
        found = TSecretResult::srUnavailable;
      } else {
        found = TSecretResult::srDone;
      }
    }
    if (found == TSecretResult::srDone) {
      fSecretHeld = secret;
      // No copy stays in the file, not even an old one.
      if (fSettings->contains(key)) {
        fSettings->remove(key);
        fSettings->sync();
        KeepFilePrivate();
      }
      value = secret;
      return true;
    }
  }
  if (!fSettings->contains(key)) return false;
  value = FileString(key);
  return true;
}

std::string TQtSettingsStore::FileString(const QString& key) const {
  const QVariant stored = fSettings->value(key);
  // A text file edited by hand may hold a bare comma, which the reader takes as a list.
  if (stored.typeId() == QMetaType::QStringList) return FromQ(stored.toStringList().join(','));
  return FromQ(stored.toString());
}

bool TQtSettingsStore::ReadInteger(const std::string& name, int32_t& value) const {
  const QString key = ToQ(name);
  if (!fSettings->contains(key)) return false;
  bool ok = false;
  const qlonglong stored = fSettings->value(key).toLongLong(&ok);
  if (!ok || stored < std::numeric_limits<int32_t>::min() ||
      stored > std::numeric_limits<int32_t>::max()) {
    return false;
  }
  value = static_cast<int32_t>(stored);
  return true;
}

void TQtSettingsStore::WriteString(const std::string& name, const std::string& value) {
  PrepareFile();
  const QString key = ToQ(name);
  if (name == kPasswordName && fSecrets) {
    if (value.empty()) {
      // An empty password is no secret: the file says so, and the secret store lets go
      // of the one it held.
      if (fSecretHeld && !fSecretHeld->empty() && fSecrets->Write("") == TSecretResult::srDone) {
        fSecretHeld = std::string();
      }
    } else {
      if (fSecretHeld == value && !fSettings->contains(key)) return;
      if (fSecrets->Write(value) == TSecretResult::srDone) {
        fSecretHeld = value;
        fSettings->remove(key);
        return;
      }
    }
  }
  fSettings->setValue(key, ToQ(value));
}

void TQtSettingsStore::WriteInteger(const std::string& name, int32_t value) {
  PrepareFile();
  fSettings->setValue(ToQ(name), value);
}

void TQtSettingsStore::Flush() {
  PrepareFile();
  fSettings->sync();
  KeepFilePrivate();
}

void TQtSettingsStore::PrepareFile() {
  if (fPrepared) return;
  fPrepared = true;
  const QString file = fSettings->fileName();
  MakeFolder(QFileInfo(file).absolutePath());
  const int fd = ::open(QFile::encodeName(file).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  if (fd >= 0) ::close(fd);
  // A file written before, by an older version or another program, may be readable by all.
  KeepFilePrivate();
}

void TQtSettingsStore::KeepFilePrivate() const {
  ::chmod(QFile::encodeName(fSettings->fileName()).constData(), S_IRUSR | S_IWUSR);
}
