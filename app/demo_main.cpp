// SPDX-License-Identifier: MIT
// checkkorvelt-demo: the application on a simulated instrument in-process on COM3, for a
// first look without an instrument, and for screenshots.

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QEvent>
#include <QProgressBar>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

#include "app/command_line.h"
#include "app/main_window.h"
#include "app/qt_translations.h"
#include "app/trace_window.h"
#include "platform/qt/qt_log_services.h"
#include "platform/qt/qt_output.h"
#include "platform/qt/qt_timer.h"
#include "sim/instrument.h"
#include "sim/live_sequences.h"
#include "sim/sim_port.h"
#include "views/fonts.h"
#include "views/history_grid.h"
#include "views/phasing_report.h"
#include "views/phasor_window.h"

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
            a.startsWith("--phasor-screenshot") || a.startsWith("--trace-screenshot") ||
            a.startsWith("--report-pdf") || a == "--exit-when-shown") {
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
        if (event->type() == QEvent::Paint)
            QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
        return QObject::eventFilter(watched, event);
    }
};

// Simulated readings never go into the log of real ones: the demo remembers its own choice and
// logs under the data folder's demo/ subfolder.
class DemoLogFiles final : public ck::platform::AppendFileSystem {
public:
    std::string dataDir() const override {
        return QDir(QString::fromStdString(real_.dataDir()))
            .filePath(QStringLiteral("demo"))
            .toStdString();
    }
    ck::platform::OpenedAppendFile openForAppend(const std::string& path) override {
        return real_.openForAppend(path);
    }

private:
    ck::platform::QtAppendFileSystem real_;
};

struct DemoOptions {
    QCommandLineOption liveShot{
        QStringLiteral("screenshot"),
        QStringLiteral("Save the window as a PNG once the instrument is found and a reading "
                       "shown, then exit."),
        QStringLiteral("file")};
    QCommandLineOption historyShot{
        QStringLiteral("history-screenshot"),
        QStringLiteral("Save the history view as a PNG after a download, then exit."),
        QStringLiteral("file")};
    QCommandLineOption phasorShot{
        QStringLiteral("phasor-screenshot"),
        QStringLiteral("Save the phasor window as a PNG once a reading is shown, then exit."),
        QStringLiteral("file")};
    QCommandLineOption traceShot{
        QStringLiteral("trace-screenshot"),
        QStringLiteral("Open 通讯记录... from the start and save it as a PNG with the other "
                       "pictures (after the download with --history-screenshot), then exit."),
        QStringLiteral("file")};
    QCommandLineOption reportPdf{
        QStringLiteral("report-pdf"),
        QStringLiteral("Write the phasing report (核相报告) of the first reading shown as a PDF, "
                       "with sample fields, then exit."),
        QStringLiteral("file")};
    QCommandLineOption liveSequence{
        QStringLiteral("live"),
        QStringLiteral("Live readings: default, in-phase, crossed or missing."),
        QStringLiteral("name"), QStringLiteral("default")};
    QCommandLineOption exitWhenShown{
        QStringLiteral("exit-when-shown"),
        QStringLiteral("Exit as soon as the window has been painted (to time start-up).")};

    void describe(QCommandLineParser& parser) const {
        parser.setApplicationDescription(
            QStringLiteral("Check Korvelt on a simulated instrument on COM3"));
        parser.addOption(liveShot);
        parser.addOption(historyShot);
        parser.addOption(phasorShot);
        parser.addOption(traceShot);
        parser.addOption(reportPdf);
        parser.addOption(liveSequence);
        parser.addOption(exitWhenShown);
    }
};

bool save(QWidget& window, const QString& file) {
    // Texts set by the reading just shown may still wait for their layout.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    const bool ok = !file.isEmpty() && window.grab().save(file, "PNG");
    std::fprintf(ok ? stdout : stderr, "%s %s\n", ok ? "wrote" : "could not write",
                 qPrintable(file));
    return ok;
}

// The report of the reading the window shows, for a made-up job; its remark says that the
// reading is simulated.
bool writeReport(const ck::app::MainWindow& window, const QString& file) {
    using ck::views::ReportField;
    ck::views::PhasingReport report;
    const std::pair<ReportField, const char*> fields[] = {
        {ReportField::WorkUnit, "示例供电公司 运维检修部"},
        {ReportField::Place, "110kV 示例变电站"},
        {ReportField::FirstGroup, "10kV I段母线"},
        {ReportField::SecondGroup, "10kV II段母线"},
        {ReportField::VoltageLevel, "10kV"},
        {ReportField::InstrumentNo, "ZD-0001"},
        {ReportField::Operator, "张工"},
        {ReportField::Supervisor, "李工"},
        {ReportField::Remarks, "演示程序：读数来自模拟仪器，不是实测。"},
    };
    for (const auto& [field, text] : fields) {
        report.fields[static_cast<std::size_t>(field)] = QString::fromUtf8(text);
    }
    report.readings =
        ck::app::ReportContentOf(window.liveReading(), window.historyTable(), true, {}, 0).chosen;
    report.made = QDateTime::currentDateTime();
    QString why;
    const QByteArray pdf = ck::views::PhasingReportPdf(report, &why);
    if (!pdf.isEmpty()) {
        why = QString::fromStdString(ck::platform::QtFileSystem().writeFile(
            file.toStdString(), std::vector<uint8_t>(pdf.begin(), pdf.end())));
    }
    if (why.isEmpty()) {
        std::printf("wrote %s\n", qPrintable(file));
        return true;
    }
    std::fprintf(stderr, "could not write %s: %s\n", qPrintable(file), qPrintable(why));
    return false;
}

// The demo's own log and settings, and the port settings dialog that only lists: simulated
// readings never mix with real ones, and the pins the real program follows stay as they are.
void keepApartFromTheRealProgram(ck::app::MainWindow& window) {
    window.sessionRecorder().setSettings(std::make_unique<QSettings>(
        QString::fromLatin1(ck::app::kSettingsOrganisation), QStringLiteral("checkkorvelt-demo")));
    window.sessionRecorder().setFileSystem(std::make_unique<DemoLogFiles>());
    ck::app::PortSettingsSources ports = ck::app::MachinePortSettings();
    ports.canPin = false;
    ports.listOnlyReason = QStringLiteral(
        "演示程序的仪器是模拟的（在 COM3 上），这里只列出本机的串口，不更改串口号的固定。");
    window.setPortSettings(std::move(ports));
    window.setReportSettings(std::make_unique<QSettings>(
        QString::fromLatin1(ck::app::kSettingsOrganisation), QStringLiteral("checkkorvelt-demo")));
}

struct Pictures {
    QString live;
    QString history;
    QString phasor;
    QString report;  // the phasing report of the first reading, as PDF
    QString trace;   // the trace window, last, so that it shows all that went before
    bool any() const {
        return !live.isEmpty() || !history.isEmpty() || !phasor.isEmpty() || !report.isEmpty() ||
               !trace.isEmpty();
    }
};

// After the first reading: the live and phasor pictures, then the download for the history
// one; then the demo exits, with 1 when a picture could not be written or was not ready in time.
void takePicturesThenExit(ck::app::MainWindow& window, const Pictures& files) {
    if (!files.phasor.isEmpty()) window.menuphasor_Click();
    if (!files.trace.isEmpty()) window.menutrace_Click();
    auto ok = std::make_shared<bool>(true);
    const auto finish = [&window, files, ok] {
        if (!files.trace.isEmpty()) {
            ck::app::TraceWindow* trace = window.traceWindow();
            *ok = trace && save(*trace, files.trace) && *ok;
        }
        QCoreApplication::exit(*ok ? 0 : 1);
    };
    QObject::connect(
        &window, &ck::app::MainWindow::liveReadingShown, qApp, [&window, files, ok, finish] {
            static bool once = false;
            if (once) return;
            once = true;
            if (!files.live.isEmpty()) *ok = save(window, files.live) && *ok;
            if (!files.phasor.isEmpty()) *ok = save(window.phasorWindow(), files.phasor) && *ok;
            if (!files.report.isEmpty()) *ok = writeReport(window, files.report) && *ok;
            if (files.history.isEmpty()) {
                finish();
                return;
            }
            window.TabStrip1().setCurrentIndex(1);
            window.Button_read_Click();
            auto* poll = new QTimer(&window);
            QObject::connect(poll, &QTimer::timeout, &window, [&window, files, ok, poll, finish] {
                const auto& s = window.link().state();
                const bool done = window.Progress_read().isHidden() && s.histcount > 0 &&
                                  !window.DataGrid().TextMatrix(s.histcount, 0).isEmpty();
                if (!done) return;
                poll->stop();
                *ok = save(window, files.history) && *ok;
                finish();
            });
            poll->start(50);
        });
    QTimer::singleShot(kGiveUpMs, qApp, [] {
        std::fprintf(stderr, "checkkorvelt-demo: the pictures were not ready within 30 s\n");
        QCoreApplication::exit(1);
    });
}

}  // namespace

int main(int argc, char** argv) {
    const DemoOptions options;
    if (const auto code = ck::app::AnswerInformation(
            argc, argv, "checkkorvelt-demo",
            [&options](QCommandLineParser& parser) { options.describe(parser); })) {
        return *code;
    }
    const bool shots = wantsScreenshot(argc, argv);
    if (shots && !hasDisplay()) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (!shots && !hasDisplay()) {
        std::fprintf(stderr,
                     "checkkorvelt-demo: no display to show the window on; run it on a desktop "
                     "or under xvfb-run, or save pictures with --screenshot live.png "
                     "--history-screenshot history.png, or a report with --report-pdf "
                     "report.pdf\n");
        return 2;
    }

    ck::app::NameApplication("checkkorvelt-demo");
    QApplication app(argc, argv);
    ck::app::InstallQtTranslations(app);
    ck::views::InstallFontSubstitutions();
    QCommandLineParser parser;
    options.describe(parser);
    parser.process(app);
    const auto live = ck::sim::LiveSequenceNamed(parser.value(options.liveSequence).toStdString());
    if (!live) {
        std::fprintf(stderr, "checkkorvelt-demo: no live sequence named %s\n",
                     qPrintable(parser.value(options.liveSequence)));
        return 2;
    }

    ck::platform::QtTimerService timers;
    ck::sim::Instrument instrument;
    instrument.setLiveSequence(*live);
    instrument.setStoredGroups(ck::sim::MakeStoredHistory(kDemoHistory));
    instrument.setLinePacing(true);
    ck::sim::SimPort port(timers, instrument, kDemoPort);
    ck::app::MainWindow window(port, timers);
    keepApartFromTheRealProgram(window);
    window.start();
    if (parser.isSet(options.exitWhenShown))
        window.installEventFilter(new FirstPaintQuits(&window));
    window.show();

    const Pictures pictures{parser.value(options.liveShot), parser.value(options.historyShot),
                            parser.value(options.phasorShot), parser.value(options.reportPdf),
                            parser.value(options.traceShot)};
    if (pictures.any()) takePicturesThenExit(window, pictures);
    return QApplication::exec();
}
