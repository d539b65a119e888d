// checkkorvelt: finds the instrument on the machine's serial ports and shows its readings.

#include <QApplication>

#include "app/main_window.h"
#include "platform/qt/qt_serial_port.h"
#include "platform/qt/qt_timer.h"
#include "views/fonts.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ck::views::InstallFontSubstitutions();
    ck::platform::QtTimerService timers;
    ck::platform::QtSerialPort port;
    ck::app::MainWindow window(port, timers);
    window.start();
    window.show();
    return QApplication::exec();
}
