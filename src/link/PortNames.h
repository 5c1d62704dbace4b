#pragma once

// Where the dialog's ports "\\.\COM1" and "\\.\COM2" are on this machine.

#include <QString>
#include <QStringList>

namespace ulen3 {

class SettingsStore;

// Serial devices present, in the order they take the names COM1, COM2, …: USB serial adapters
// (/dev/ttyUSB*, /dev/ttyACM*) in name order, then the on-board ports /dev/ttyS0 and /dev/ttyS1.
QStringList serial_devices_present();

// The device path for a port name. "\\.\COMn" follows the per-user setting "COMn" when it is set,
// otherwise the n-th device present; any other name is a device path already.
// An empty result means that no such port exists.
QString serial_device_for(const QString& portName, const SettingsStore& settings);

} // namespace ulen3
