// Per-user integer settings, stored under the organisation and application name "Meshwick".
#pragma once

#include <QString>

#include <memory>

class QSettings;

namespace platform {

class ProfileStore {
 public:
  // The user's own store (~/.config/Meshwick/Meshwick.conf).
  ProfileStore();
  // A store in the given INI file; tests keep their settings away from the user's.
  explicit ProfileStore(const QString& iniPath);
  ~ProfileStore();

  // The stored value, or the default when it is missing or not an integer.
  int GetProfileInt(const QString& section, const QString& entry, int defaultValue) const;
  bool WriteProfileInt(const QString& section, const QString& entry, int value);
  // The stored text, or the default when it is missing.
  QString GetProfileString(const QString& section, const QString& entry, const QString& defaultValue) const;
  bool WriteProfileString(const QString& section, const QString& entry, const QString& value);

 private:
  std::unique_ptr<QSettings> m_settings;
};

}  // namespace platform
