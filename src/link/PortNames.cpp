#include "link/PortNames.h"

#include "settings/Settings.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace ulen3 {

namespace {

// Name order that puts ttyUSB2 before ttyUSB10.
bool device_name_less(const QString& a, const QString& b) {
    static const QRegularExpression split(QStringLiteral("^(.*?)(\\d*)$"));
    const auto ma = split.match(a);
    const auto mb = split.match(b);
    if (ma.captured(1) != mb.captured(1))
        return ma.captured(1) < mb.captured(1);
    return ma.captured(2).toULongLong() < mb.captured(2).toULongLong();
}

} // namespace

QStringList serial_devices_present() {
    QStringList usb =
        QDir(QStringLiteral("/dev"))
            .entryList({QStringLiteral("ttyUSB*"), QStringLiteral("ttyACM*")}, QDir::System | QDir::Files);
    std::sort(usb.begin(), usb.end(), device_name_less);
    QStringList devices;
    for (const QString& name : usb)
        devices << QStringLiteral("/dev/") + name;
    for (const char* onboard : {"/dev/ttyS0", "/dev/ttyS1"}) {
        if (QFileInfo::exists(QString::fromLatin1(onboard)))
            devices << QString::fromLatin1(onboard);
    }
    return devices;
}

QString serial_device_for(const QString& portName, const SettingsStore& settings) {
    static const QRegularExpression com(QStringLiteral("^\\\\\\\\\\.\\\\COM(\\d+)$"));
    const auto m = com.match(portName);
    if (!m.hasMatch())
        return portName;
    const QString key = QStringLiteral("COM") + m.captured(1);
    const QString configured = settings.read(key).value_or(QString());
    if (!configured.isEmpty())
        return configured;
    const QStringList present = serial_devices_present();
    const int n = m.captured(1).toInt();
    return n >= 1 && n <= present.size() ? present[n - 1] : QString();
}

} // namespace ulen3
