#include "settings/Settings.h"

#include <QSettings>

namespace ulen3 {

namespace {

QSettings& open_key(QSettings& s) {
    s.beginGroup(QStringLiteral("1.0"));
    return s;
}

} // namespace

std::optional<QString> UserSettings::read(const QString& name) const {
    QSettings s(QStringLiteral("Dornvale"), QStringLiteral("ULEN3"));
    const QVariant v = open_key(s).value(name);
    if (!v.isValid())
        return std::nullopt;
    return v.toString();
}

bool UserSettings::write(const QString& name, const QString& value) {
    QSettings s(QStringLiteral("Dornvale"), QStringLiteral("ULEN3"));
    open_key(s).setValue(name, value);
    s.sync();
    return s.status() == QSettings::NoError;
}

QString UserSettings::location() const {
    return QSettings(QStringLiteral("Dornvale"), QStringLiteral("ULEN3")).fileName();
}

std::optional<QString> MemorySettings::read(const QString& name) const {
    const auto it = m_values.constFind(name);
    return it == m_values.constEnd() ? std::nullopt : std::optional<QString>(*it);
}

bool MemorySettings::write(const QString& name, const QString& value) {
    m_values.insert(name, value);
    return true;
}

SettingsStore& user_settings() {
    static UserSettings store;
    return store;
}

} // namespace ulen3
