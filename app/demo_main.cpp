// checkkorvelt-demo: the application on a simulated instrument in-process on COM3, for a
// first look without an instrument, and for screenshots.

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

#include "app/main_window.h"
#include "platform/qt/qt_timer.h"
#include "sim/instrument.h"
#include "sim/sim_port.h"

namespace {

constexpr int16_t kDemoPort = 3;
constexpr std::size_t kDemoHistory = 36;

bool hasDisplay() {
    for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* s = std::getenv(v);
        if (s && *s) return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    QString screenshot;
    for (int i = 1; i + 1 < argc; ++i) {
        if (QByteArray(argv[i]) == "--screenshot") screenshot = QString::fromLocal8Bit(argv[i + 1]);
    }
    if (!screenshot.isEmpty() && !hasDisplay()) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (screenshot.isEmpty() && !hasDisplay()) {
        std::fprintf(stderr,
                     "checkkorvelt-demo: no display to show the window on; run it under a "
                     "desktop or xvfb-run, or save a picture with --screenshot FILE.png\n");
        return 2;
    }

    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Check Korvelt on a simulated instrument on COM3"));
    parser.addHelpOption();
    const QCommandLineOption shotOpt(
        QStringLiteral("screenshot"),
        QStringLiteral("Save the window as a PNG once a reading is shown, then exit."),
        QStringLiteral("file"));
    parser.addOption(shotOpt);
    parser.process(app);

    ck::platform::QtTimerService timers;
    ck::sim::Instrument instrument;
    instrument.setLiveSequence(ck::sim::DefaultLiveSequence());
    instrument.setStoredGroups(ck::sim::MakeStoredHistory(kDemoHistory));
    instrument.setLinePacing(true);
    ck::sim::SimPort port(timers, instrument, kDemoPort);
    ck::app::MainWindow window(port, timers);
    window.Form_Load();
    window.show();

    if (parser.isSet(shotOpt)) {
        const QString file = parser.value(shotOpt);
        // Discovery reaches COM3 at 1.8 s and the first reading comes 1.5 s after that.
        auto* poll = new QTimer(&app);
        QObject::connect(poll, &QTimer::timeout, &app, [&window, file, poll] {
            if (window.liveText().isEmpty()) return;
            poll->stop();
            const bool ok = window.grab().save(file, "PNG");
            std::fprintf(ok ? stdout : stderr, "%s %s\n", ok ? "wrote" : "could not write",
                         qPrintable(file));
            QCoreApplication::exit(ok ? 0 : 1);
        });
        poll->start(50);
        QTimer::singleShot(15000, &app, [] {
            std::fprintf(stderr, "checkkorvelt-demo: no reading within 15 s\n");
            QCoreApplication::exit(1);
        });
    }
    return QApplication::exec();
}
