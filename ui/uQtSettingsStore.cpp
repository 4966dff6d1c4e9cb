#include "ui/uQtSettingsStore.h"

#include <QStringList>
#include <limits>

#include "ui/uCommon.h"

TQtSettingsStore::TQtSettingsStore()
    : fSettings(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                            kSettingsOrganisation, kSettingsApplication)) {}

TQtSettingsStore::TQtSettingsStore(const QString& fileName, QSettings::Format format)
    : fSettings(std::make_unique<QSettings>(fileName, format)) {}

bool TQtSettingsStore::KeyExists() const {
  return !fSettings->allKeys().isEmpty();
}

bool TQtSettingsStore::ReadString(const std::string& name, std::string& value) const {
  const QString key = ToQ(name);
  if (!fSettings->contains(key)) return false;
  const QVariant stored = fSettings->value(key);
  // A text file edited by hand may hold a bare comma, which the reader takes as a list.
  if (stored.typeId() == QMetaType::QStringList) {
    value = FromQ(stored.toStringList().join(','));
  } else {
    value = FromQ(stored.toString());
  }
  return true;
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
  fSettings->setValue(ToQ(name), ToQ(value));
}

void TQtSettingsStore::WriteInteger(const std::string& name, int32_t value) {
  fSettings->setValue(ToQ(name), value);
}

void TQtSettingsStore::Flush() {
  fSettings->sync();
}
