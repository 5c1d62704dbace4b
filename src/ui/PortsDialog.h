#pragma once

// "Порты прибора…": which device each of the dialog's ports COM1 and COM2 is, chosen from the
// serial ports present (USB adapters by maker, model and serial number, under their stable
// /dev/serial/by-id names) or typed, each with a check that opens it and says what it found.

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;

namespace ulen3 {

class SettingsStore;
class UserDialogs;

class PortsDialog : public QDialog {
    Q_OBJECT
public:
    PortsDialog(SettingsStore& settings, UserDialogs& dialogs, QWidget* parent = nullptr);

    // The device chosen for COM1 (0) or COM2 (1); empty for the automatic choice.
    QString chosen(int port) const;
    void choose(int port, const QString& device);
    // Opens the chosen device and shows what happened; returns the text shown.
    QString check(int port);
    // Writes the choices into the settings.
    void store();
    // "Папка журналов и образов памяти": opens the folder, or shows its path to copy.
    void openFolder();

private:
    SettingsStore& m_settings;
    UserDialogs& m_dialogs;
    QComboBox* m_ports[2];
    QLabel* m_results[2];
    QCheckBox* m_log;
};

} // namespace ulen3
