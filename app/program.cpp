// SPDX-License-Identifier: MIT
#include "app/program.h"

#include <QApplication>

#include <cstdio>

#include "app/command_line.h"
#include "app/main_window.h"
#include "app/qt_translations.h"
#include "platform/qt/qt_serial_port.h"
#include "platform/qt/qt_timer.h"
#include "views/fonts.h"

namespace ck::app {

int RunProgram(int argc, char** argv,
               const std::function<std::shared_ptr<void>(MainWindow&)>& beside) {
    NameApplication("checkkorvelt");
    // Told without a display, as --help is: the arguments as Qt gives them (Unicode on
    // Windows too) come from an application object, and a window's needs one.
    TraceArgument trace;
    {
        const QCoreApplication core(argc, argv);
        trace = TraceFileArgument(QCoreApplication::arguments());
    }
    if (!trace.error.isEmpty()) {
        std::fprintf(stderr, "checkkorvelt: %s\n", qPrintable(trace.error));
        return 2;
    }
    QApplication app(argc, argv);
    InstallQtTranslations(app);
    views::InstallFontSubstitutions();
    platform::QtTimerService timers;
    platform::QtSerialPort port;
    MainWindow window(port, timers);
    if (trace.file) window.setTraceFile(*trace.file);
    const std::shared_ptr<void> alongside = beside ? beside(window) : nullptr;
    window.start();
    window.show();
    return QApplication::exec();
}

}  // namespace ck::app
