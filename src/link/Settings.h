#pragma once

// The per-user settings key of the program: organisation "Dornvale", application "ULEN3",
// group "1.0" (on Windows HKEY_CURRENT_USER\Software\Dornvale\ULEN3\1.0, on Linux an INI file
// under the user's configuration folder).

#include <QString>

namespace ulen3 {

// The string value of a setting, empty when it is not set.
QString settings_value(const QString& name);
void set_settings_value(const QString& name, const QString& value);

} // namespace ulen3
