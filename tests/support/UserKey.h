#pragma once

// The user's settings key as the tests read and set it (under the test's own configuration folder).

#include "settings/Settings.h"

namespace ulen3::test {

// Empty when the value is absent.
inline QString settings_value(const QString& name) { return user_settings().read(name).value_or(QString()); }
inline void set_settings_value(const QString& name, const QString& value) { user_settings().write(name, value); }

} // namespace ulen3::test
