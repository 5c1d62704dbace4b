#include "Settings.h"

#include <QSettings>

namespace ulen3 {

namespace {

QSettings& open_key(QSettings& s) {
    s.beginGroup(QStringLiteral("1.0"));
    return s;
}

} // namespace

QString settings_value(const QString& name) {
    QSettings s(QStringLiteral("Dornvale"), QStringLiteral("ULEN3"));
    return open_key(s).value(name).toString();
}

void set_settings_value(const QString& name, const QString& value) {
    QSettings s(QStringLiteral("Dornvale"), QStringLiteral("ULEN3"));
    open_key(s).setValue(name, value);
}

} // namespace ulen3
