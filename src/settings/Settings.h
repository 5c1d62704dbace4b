#pragma once

// The per-user settings key of the program: organisation "Dornvale", application "ULEN3",
// group "1.0" (on Windows HKEY_CURRENT_USER\Software\Dornvale\ULEN3\1.0, on Linux an INI file
// under the user's configuration folder).

#include <QMap>
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

// Values held in memory only, for tests and for a run that must not touch the user's key.
class MemorySettings : public SettingsStore {
public:
    std::optional<QString> read(const QString& name) const override;
    bool write(const QString& name, const QString& value) override;
    QString location() const override { return QStringLiteral("(память)"); }

private:
    QMap<QString, QString> m_values;
};

// The user's key as one store of the whole process: what a part reads when no other store was
// given to it.
SettingsStore& user_settings();

} // namespace ulen3
