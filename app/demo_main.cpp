// checkkorvelt-demo: the application on a simulated instrument in-process on COM3, for a
// first look without an instrument, and for screenshots.

#include <QApplication>
#include <QCommandLineParser>
#include <QEvent>
#include <QProgressBar>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

#include "app/main_window.h"
#include "platform/qt/qt_timer.h"
#include "sim/instrument.h"
#include "sim/sim_port.h"
#include "views/fonts.h"
#include "views/history_grid.h"

namespace {

constexpr int16_t kDemoPort = 3;
constexpr std::size_t kDemoHistory = 36;
constexpr int kGiveUpMs = 30000;

bool hasDisplay() {
#ifdef Q_OS_WIN
    return true;  // a Windows program always has the desktop to show its window on
#else
    for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* s = std::getenv(v);
        if (s && *s) return true;
    }
    return false;
#endif
}

bool wantsScreenshot(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const QByteArray a(argv[i]);
        if (a.startsWith("--screenshot") || a.startsWith("--history-screenshot") ||
            a == "--exit-when-shown") {
            return true;
        }
    }
    return false;
}

// Ends the program once the window has been painted for the first time.
class FirstPaintQuits final : public QObject {
public:
    explicit FirstPaintQuits(QObject* parent) : QObject(parent) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
        return QObject::eventFilter(watched, event);
    }
};

bool save(QWidget& window, const QString& file) {
    const bool ok = !file.isEmpty() && window.grab().save(file, "PNG");
    std::fprintf(ok ? stdout : stderr, "%s %s\n", ok ? "wrote" : "could not write",
                 qPrintable(file));
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    const bool shots = wantsScreenshot(argc, argv);
    if (shots && !hasDisplay()) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (!shots && !hasDisplay()) {
        std::fprintf(stderr,
                     "checkkorvelt-demo: no display to show the window on; run it on a desktop "
                     "or under xvfb-run, or save pictures with --screenshot live.png "
                     "--history-screenshot history.png\n");
        return 2;
    }

    QApplication app(argc, argv);
    ck::views::InstallFontSubstitutions();
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Check Korvelt on a simulated instrument on COM3"));
    parser.addHelpOption();
    const QCommandLineOption liveShot(
        QStringLiteral("screenshot"),
        QStringLiteral("Save the window as a PNG once the instrument is found and a reading "
                       "shown, then exit."),
        QStringLiteral("file"));
    const QCommandLineOption historyShot(
        QStringLiteral("history-screenshot"),
        QStringLiteral("Save the history view as a PNG after a download, then exit."),
        QStringLiteral("file"));
    const QCommandLineOption exitWhenShown(
        QStringLiteral("exit-when-shown"),
        QStringLiteral("Exit as soon as the window has been painted (to time start-up)."));
    parser.addOption(liveShot);
    parser.addOption(historyShot);
    parser.addOption(exitWhenShown);
    parser.process(app);

    ck::platform::QtTimerService timers;
    ck::sim::Instrument instrument;
    instrument.setLiveSequence(ck::sim::DefaultLiveSequence());
    instrument.setStoredGroups(ck::sim::MakeStoredHistory(kDemoHistory));
    instrument.setLinePacing(true);
    ck::sim::SimPort port(timers, instrument, kDemoPort);
    ck::app::MainWindow window(port, timers);
    window.Form_Load();
    if (parser.isSet(exitWhenShown)) window.installEventFilter(new FirstPaintQuits(&window));
    window.show();

    const QString liveFile = parser.value(liveShot);
    const QString historyFile = parser.value(historyShot);
    if (!liveFile.isEmpty() || !historyFile.isEmpty()) {
        auto ok = std::make_shared<bool>(true);
        // After the first reading: the live picture, then the download for the history one.
        QObject::connect(&window, &ck::app::MainWindow::liveReadingShown, &app,
                         [&window, liveFile, historyFile, ok] {
            static bool once = false;
            if (once) return;
            once = true;
            if (!liveFile.isEmpty()) *ok = save(window, liveFile) && *ok;
            if (historyFile.isEmpty()) {
                QCoreApplication::exit(*ok ? 0 : 1);
                return;
            }
            window.TabStrip1().setCurrentIndex(1);
            window.Button_read_Click();
            auto* poll = new QTimer(&window);
            QObject::connect(poll, &QTimer::timeout, &window, [&window, historyFile, ok, poll] {
                const auto& s = window.link().state();
                const bool done = window.Progress_read().isHidden() && s.histcount > 0 &&
                                  !window.DataGrid().TextMatrix(s.histcount, 0).isEmpty();
                if (!done) return;
                poll->stop();
                *ok = save(window, historyFile) && *ok;
                QCoreApplication::exit(*ok ? 0 : 1);
            });
            poll->start(50);
        });
        QTimer::singleShot(kGiveUpMs, &app, [] {
            std::fprintf(stderr, "checkkorvelt-demo: the pictures were not ready within 30 s\n");
            QCoreApplication::exit(1);
        });
    }
    return QApplication::exec();
}
