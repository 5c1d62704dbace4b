#pragma once

#include <QByteArray>
#include <QString>

namespace ulen3 {

// The FileVersion text of a program file's version information, read as the platform's version
// query does: the first translation of "\VarFileInfo\Translation" forms the key (language and
// code page as four capital hexadecimal digits each), then "\StringFileInfo\<key>\FileVersion".
// "0.0.0.0" when the file has no version information or no such entry.
QString file_version(const QString& path);
QString file_version_of(const QByteArray& fileBytes);

} // namespace ulen3
