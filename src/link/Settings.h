#pragma once

// The per-user settings key of the program: organisation "Dornvale", application "ULEN3",
// group "1.0" (on Windows HKEY_CURRENT_USER\Software\Dornvale\ULEN3\1.0, on Linux an INI file
// under the user's configuration folder).

#include <QString>

#include <optional>

namespace ulen3 {

// The string values of the settings key. A read tells a value that is absent from one that
// is empty.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    virtual std::optional<QString> read(const QString& name) const = 0;
    // False when the store could not keep the value.
    virtual bool write(const QString& name, const QString& value) = 0;
    // Where the values live, for messages.
    virtual QString location() const = 0;
};

// The user's own key.
class UserSettings : public SettingsStore {
public:
    std::optional<QString> read(const QString& name) const override;
    bool write(const QString& name, const QString& value) override;
    QString location() const override;
};

// The user's key, read and written directly: empty when the value is absent.
QString settings_value(const QString& name);
void set_settings_value(const QString& name, const QString& value);

} // namespace ulen3
