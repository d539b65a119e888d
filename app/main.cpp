// SPDX-License-Identifier: MIT
// checkkorvelt: finds the instrument on the machine's serial ports and shows its readings.

#include <QApplication>

#include "app/command_line.h"
#include "app/main_window.h"
#include "app/qt_translations.h"
#include "app/test_operator.h"
#include "platform/qt/qt_serial_port.h"
#include "platform/qt/qt_timer.h"
#include "views/fonts.h"

int main(int argc, char** argv) {
    if (const auto code =
            ck::app::AnswerInformation(argc, argv, "checkkorvelt", [](QCommandLineParser& parser) {
                parser.setApplicationDescription(QStringLiteral(
                    "Check Korvelt: finds the Zandrel phase-comparison instrument on COM1 to "
                    "COM16 by itself and shows its readings. It takes no other options; see "
                    "checkkorvelt(1)."));
            })) {
        return *code;
    }
    ck::app::NameApplication("checkkorvelt");
    QApplication app(argc, argv);
    ck::app::InstallQtTranslations(app);
    ck::views::InstallFontSubstitutions();
    ck::platform::QtTimerService timers;
    ck::platform::QtSerialPort port;
    ck::app::MainWindow window(port, timers);
    // Only for end-to-end test runs; without its option this is nothing.
    const auto testOperator =
        ck::app::TestOperator::fromArguments(window, QCoreApplication::arguments());
    window.start();
    window.show();
    return QApplication::exec();
}
