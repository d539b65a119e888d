// SPDX-License-Identifier: MIT
#include "test_operator.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontInfo>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QTabWidget>

#include <algorithm>
#include <deque>
#include <utility>

#include "app/main_window.h"
#include "seen_messages.h"
#include "views/history_grid.h"
#include "views/live_panel.h"

namespace ck::app {
namespace {

constexpr int kTickMs = 10;
constexpr int kLiveTextType = 2;
constexpr int kPictureType = 1;
constexpr int kHistoryTextType = 1;
constexpr int kSpreadsheetType = 2;

QString face(const QWidget* w) { return w ? QFontInfo(w->font()).family() : QStringLiteral("?"); }

}  // namespace

// The save dialog answered by the operator: each show takes the next type and file name, the
// file in the folder the dialog opens in.
class AnsweredDialogs final : public platform::DialogService {
public:
    void answer(int type, const QString& name) { answers_.emplace_back(type, name); }
    QStringList saved;

    platform::DialogResult ShowSave(platform::CommonDialog& d) override {
        if (answers_.empty()) return {platform::kErrCancel, "Cancel"};
        const auto [type, name] = answers_.front();
        answers_.pop_front();
        d.FilterIndex = type;
        d.FileName = (QString::fromStdString(d.InitDir) + QDir::separator() + name).toStdString();
        saved << QString::fromStdString(d.FileName);
        return {};
    }
    platform::DialogResult ShowPrinter(platform::CommonDialog&) override {
        return {platform::kErrCancel, "Cancel"};
    }

private:
    std::deque<std::pair<int, QString>> answers_;
};

TestOperator::TestOperator(MainWindow& window, QString reportDir)
    : window_(window), reportDir_(std::move(reportDir)) {
    auto dialogs = std::make_unique<AnsweredDialogs>();
    dialogs_ = dialogs.get();
    window_.setDialogService(std::move(dialogs));
    auto messages = std::make_unique<testing::SeenMessages>();
    messages_ = messages.get();
    window_.setUserMessages(std::move(messages));
    connect(&window_, &MainWindow::liveReadingShown, this, [this] { ++readings_; });
    connect(&ticker_, &QTimer::timeout, this, &TestOperator::tick);
    ticker_.start(kTickMs);
    clock_.start();
}

void TestOperator::noteMessages() {
    for (; boxesNoted_ < messages_->boxes.size(); ++boxesNoted_) {
        const auto& b = messages_->boxes[boxesNoted_];
        note(QStringLiteral("message %1 %2 %3")
                 .arg(b.style)
                 .arg(QString::fromStdString(b.title), QString::fromStdString(b.text)));
    }
    for (; beepsNoted_ < messages_->beeps; ++beepsNoted_) note(QStringLiteral("beep"));
}

void TestOperator::tick() {
    noteMessages();
    const QString com = window_.LabComsta().text();
    if (com != lastCom_) note(QStringLiteral("com ") + (lastCom_ = com));
    const QString link = window_.Lab_rtsta().text();
    if (link != lastLink_) note(QStringLiteral("link ") + (lastLink_ = link));
    const auto& s = window_.link().state();
    if (clock_.elapsed() > kGiveUpMs) {
        // Where it stood, for whoever reads why the run failed.
        note(QStringLiteral("state linkok %1 realmode %2 commstate %3 reqcode %4 histcount %5 "
                            "blocksread %6 histnext %7 progress %8")
                 .arg(s.linkok)
                 .arg(s.realmode)
                 .arg(s.commstate)
                 .arg(s.reqcode)
                 .arg(s.histcount)
                 .arg(s.blocksread)
                 .arg(s.histnext)
                 .arg(window_.Progress_read().isVisible() ? window_.Progress_read().value() : -1));
        finish(false, QStringLiteral("time ran out"));
        return;
    }
    switch (step_) {
        case Step::WaitLive:
            if (s.linkok && !window_.link().Timer_findcom().enabled() && readings_ > 0) {
                note(QStringLiteral("portno %1").arg(s.portno));
                saveLive();
                startDownload();
                step_ = Step::WaitDownload;
            }
            break;
        case Step::WaitDownload:
            if (downloadComplete()) {
                // From the read click to the full table, to the operator's tick.
                note(QStringLiteral("download ms %1").arg(clock_.elapsed() - downloadStartMs_));
                note(QStringLiteral("histcount %1").arg(s.histcount));
                saveHistory();
                finish(true, QStringLiteral("done"));
            }
            break;
        case Step::Done:
            break;
    }
}

void TestOperator::saveLive() {
    // Through the real save command: the data folder, the capture, the clipboard, the files.
    // The type chosen last decides whether the window is captured before the dialog opens.
    window_.CommonDialog1().FilterIndex = kLiveTextType;
    dialogs_->answer(kLiveTextType, QStringLiteral("live.txt"));
    window_.Button_save_Click();
    window_.CommonDialog1().FilterIndex = kPictureType;
    dialogs_->answer(kPictureType, QStringLiteral("live.jpg"));
    window_.Button_save_Click();
    const QImage clip = QGuiApplication::clipboard()->image();
    note(QStringLiteral("clipboard %1x%2").arg(clip.width()).arg(clip.height()));
    note(QStringLiteral("window %1x%2").arg(window_.width()).arg(window_.height()));
    note(QStringLiteral("font head ") + face(window_.Frame_realtime().label(37)));
    note(QStringLiteral("font value ") + face(window_.Frame_realtime().label(11)));
    note(QStringLiteral("font status ") + face(&window_.LabComsta()));
    note(QStringLiteral("font grid ") + face(&window_.DataGrid()));
    // The standard dialogs' buttons speak the window's language only if Qt's texts were found.
    note(QStringLiteral("qt text Cancel ") +
         QCoreApplication::translate("QPlatformTheme", "Cancel"));
}

void TestOperator::startDownload() {
    window_.TabStrip1().setCurrentIndex(1);
    downloadStartMs_ = clock_.elapsed();
    window_.Button_read_Click();
}

bool TestOperator::downloadComplete() const {
    const auto& s = window_.link().state();
    return window_.Progress_read().isHidden() && s.histcount > 0 &&
           !window_.DataGrid().TextMatrix(std::min<int>(s.histcount, 200), 0).isEmpty();
}

void TestOperator::saveHistory() {
    dialogs_->answer(kHistoryTextType, QStringLiteral("history.txt"));
    window_.Button_save_Click();
    dialogs_->answer(kSpreadsheetType, QStringLiteral("history.xls"));
    window_.Button_save_Click();
    for (const QString& f : dialogs_->saved) {
        note(QStringLiteral("saved %1 %2").arg(f).arg(QFileInfo(f).size()));
    }
}

void TestOperator::finish(bool ok, const QString& why) {
    if (step_ == Step::Done) return;
    step_ = Step::Done;
    ticker_.stop();
    noteMessages();
    note(why);
    QDir().mkpath(reportDir_);
    QFile report(QDir(reportDir_).filePath(QStringLiteral("report.txt")));
    bool written = false;
    if (report.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        written = report.write((lines_.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8()) >= 0;
        report.close();
    }
    QCoreApplication::exit(ok && written ? 0 : 1);
}

}  // namespace ck::app
