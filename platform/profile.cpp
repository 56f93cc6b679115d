#include "platform/profile.h"

#include <QSettings>

namespace platform {

ProfileStore::ProfileStore() : m_settings(std::make_unique<QSettings>("Meshwick", "Meshwick")) {}

ProfileStore::ProfileStore(const QString& iniPath)
    : m_settings(std::make_unique<QSettings>(iniPath, QSettings::IniFormat)) {}

ProfileStore::~ProfileStore() = default;

int ProfileStore::GetProfileInt(const QString& section, const QString& entry, int defaultValue) const {
  const QVariant value = m_settings->value(section + '/' + entry);
  bool ok = false;
  const int number = value.toInt(&ok);
  return ok ? number : defaultValue;
}

bool ProfileStore::WriteProfileInt(const QString& section, const QString& entry, int value) {
  m_settings->setValue(section + '/' + entry, value);
  m_settings->sync();
  return m_settings->status() == QSettings::NoError;
}

QString ProfileStore::GetProfileString(const QString& section, const QString& entry,
                                       const QString& defaultValue) const {
  const QVariant value = m_settings->value(section + '/' + entry);
  return value.canConvert<QString>() && !value.isNull() ? value.toString() : defaultValue;
}

bool ProfileStore::WriteProfileString(const QString& section, const QString& entry, const QString& value) {
  m_settings->setValue(section + '/' + entry, value);
  m_settings->sync();
  return m_settings->status() == QSettings::NoError;
}

}  // namespace platform
