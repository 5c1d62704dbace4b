#pragma once

// The window's values on the settings store: the column layouts of both grids and the other
// values it keeps (the default folder, the last port, its place on the screen). A store that
// refuses to keep a value is said once, and the program goes on.

#include <QString>

#include <functional>
#include <vector>

class QWidget;

namespace ulen3 {

class SettingsStore;
class TDBGridPro;
class UserDialogs;
struct TgpColumn;

class ColumnLayouts {
public:
    ColumnLayouts(SettingsStore& settings, UserDialogs& dialogs, QWidget* window)
        : m_settings(settings), m_dialogs(dialogs), m_window(window) {}

    void remember(const QString& name, const QString& value);
    // Puts the layout stored under `value` on the grid. With none stored (the first document on
    // this account), `fit` fits the design columns and they are stored as the layout; a layout
    // that cannot be read gives the `design` columns, fitted, and a warning.
    void load(const QString& value, TDBGridPro& grid, const std::vector<TgpColumn>& design,
              const std::function<void()>& fit);
    void save(const QString& value, TDBGridPro& grid);

private:
    SettingsStore& m_settings;
    UserDialogs& m_dialogs;
    QWidget* m_window;
    bool m_refusalTold = false;
};

} // namespace ulen3
