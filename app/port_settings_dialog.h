// SPDX-License-Identifier: MIT
#pragma once
// 串口设置: the machine's serial ports, which COM number each is today, and the pins that
// keep an adapter on one COM number, set from the window instead of a terminal. The
// numbers come from the same resolver the link opens ports with; pins are the symbolic links
// of platform/com_pins.h.

#include <QDialog>
#include <QString>

#include <functional>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QPushButton;
class QTableWidget;

namespace ck::platform {
class UserMessages;
}  // namespace ck::platform

namespace ck::app {

// One serial port as the system lists it.
struct SerialPortEntry {
    QString device;  // its path (/dev/ttyUSB0) or name (COM3)
    QString description;
    QString manufacturer;
    QString serialNumber;
};

struct PortSettingsSources {
    // The machine's serial ports; QSerialPortInfo's list unless a test gives its own.
    std::function<std::vector<SerialPortEntry>()> ports;
    // Whether pins may be written: not on Windows (the system numbers the ports), not in the
    // demo (its instrument is simulated).
    bool canPin = true;
    // Why pins are not written, shown in place of the pin controls.
    QString listOnlyReason;
    // True while a download runs: nothing may change then.
    std::function<bool()> busy;
    // Where adapters' stable names are.
    std::string byIdFolder = "/dev/serial/by-id";
};

// The machine's own sources.
PortSettingsSources MachinePortSettings();

// Says that the port settings cannot change while a download runs.
void ShowBusyRefusal(platform::UserMessages& messages);

class PortSettingsDialog final : public QDialog {
    Q_OBJECT
public:
    // What it has to tell goes to `messages`, the window's, which must outlive it.
    PortSettingsDialog(PortSettingsSources sources, platform::UserMessages& messages,
                       QWidget* parent = nullptr);

    // Lists the ports again, with the COM numbers as they are now.
    void refresh();
    // Pins the port in the selected row to the COM number chosen; removes the pin of the COM
    // number chosen. Both refuse while a download runs and say why in a message box.
    void pinSelected();
    void unpinChosen();

    QTableWidget& table() const { return *table_; }
    QComboBox& comNumber() const { return *com_; }
    QPushButton& pinButton() const { return *pin_; }
    QPushButton& unpinButton() const { return *unpin_; }
    QLabel& note() const { return *note_; }

    // Table columns.
    enum Column { kDevice, kDescription, kManufacturer, kSerialNumber, kComNumbers, kColumns };

private:
    bool refuseWhileBusy();
    void showRowNumber();

    PortSettingsSources sources_;
    platform::UserMessages& messages_;
    std::vector<SerialPortEntry> ports_;
    QTableWidget* table_ = nullptr;
    QComboBox* com_ = nullptr;
    QPushButton* pin_ = nullptr;
    QPushButton* unpin_ = nullptr;
    QLabel* note_ = nullptr;
};

}  // namespace ck::app
