// SPDX-License-Identifier: MIT
#pragma once
// An operator for end-to-end runs on a machine nobody sits at (Windows under Wine, a display
// server without a desktop), in the test program only: it waits for the instrument to be found
// and a reading shown, saves the live view as text and as a picture, downloads the history
// and saves it as text and as a spreadsheet, each through the save command with the dialog
// answered for it, then writes DIR/report.txt (every port status it saw, the link status, the
// faces the window's fonts resolved to, the picture left on the clipboard, how long the
// download took) and ends the program: 0 when every step happened, 1 when the time ran out.

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <cstddef>

namespace ck::testing {
class SeenMessages;
}  // namespace ck::testing

namespace ck::app {

class AnsweredDialogs;
class MainWindow;

class TestOperator final : public QObject {
public:
    static constexpr int kGiveUpMs = 90000;

    TestOperator(MainWindow& window, QString reportDir);

private:
    enum class Step { WaitLive, WaitDownload, Done };

    void tick();
    void saveLive();
    void startDownload();
    bool downloadComplete() const;
    void saveHistory();
    void finish(bool ok, const QString& why);
    void note(const QString& line) { lines_ << line; }
    // The boxes and beeps the window has given since the last look.
    void noteMessages();

    MainWindow& window_;
    AnsweredDialogs* dialogs_ = nullptr;  // owned by the window
    // Nobody is there to close a box: the window tells these instead (it owns them).
    testing::SeenMessages* messages_ = nullptr;
    std::size_t boxesNoted_ = 0;
    int beepsNoted_ = 0;
    QString reportDir_;
    QStringList lines_;
    QString lastCom_;
    QString lastLink_;
    Step step_ = Step::WaitLive;
    int readings_ = 0;
    qint64 downloadStartMs_ = 0;
    QTimer ticker_;
    QElapsedTimer clock_;
};

}  // namespace ck::app
