#include "link/ImageArchive.h"

#include "base/File.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>

#include <stdexcept>

namespace ulen3 {

QString image_folder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/ULEN3/images");
}

QString log_folder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/ULEN3/logs");
}

QString keep_image(const DownloadResults& results, const QDateTime& when) {
    const QString folder = image_folder();
    if (!QDir().mkpath(folder))
        throw std::runtime_error("не удалось создать папку " + folder.toStdString());
    const QString name = QStringLiteral("%1_serial%2_code%3.bin")
                             .arg(when.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss")))
                             .arg(results.dev_serial)
                             .arg(results.dev_code, 2, 16, QLatin1Char('0'));
    QString path = folder + '/' + name;
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = folder + '/' + QFileInfo(name).completeBaseName() + QStringLiteral("_%1.bin").arg(n);
    FileFailure why;
    if (!write_whole_file(path.toStdString(), results.flash_image.data(), results.image_size, why))
        throw std::runtime_error(file_failure_text(why, path.toStdString()));
    // The oldest go once there are too many; the names sort by time.
    QStringList kept = QDir(folder).entryList({QStringLiteral("*.bin")}, QDir::Files, QDir::Name);
    while (kept.size() > kKeptImages)
        QFile::remove(folder + '/' + kept.takeFirst());
    return path;
}

bool identification_from_name(const QString& fileName, std::uint8_t& devCode, std::uint16_t& devSerial) {
    static const QRegularExpression pattern(QStringLiteral("_serial(\\d+)_code([0-9a-fA-F]{1,2})(?:_\\d+)?\\.bin$"));
    const auto m = pattern.match(QFileInfo(fileName).fileName());
    if (!m.hasMatch())
        return false;
    bool ok = false;
    const uint serial = m.captured(1).toUInt(&ok);
    if (!ok || serial > 0xFFFF)
        return false;
    devSerial = static_cast<std::uint16_t>(serial);
    devCode = static_cast<std::uint8_t>(m.captured(2).toUInt(nullptr, 16));
    return true;
}

} // namespace ulen3
