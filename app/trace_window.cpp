// SPDX-License-Identifier: MIT
#include "app/trace_window.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QDir>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include "app/trace_recorder.h"
#include "output/commands.h"
#include "views/fonts.h"

namespace ck::app {
namespace {

constexpr int kStyleExclamation = 48;

}  // namespace

TraceWindow::TraceWindow(std::function<SaveServices()> services, QWidget* parent)
    : QWidget(parent, Qt::Window), services_(std::move(services)) {
    setObjectName(QStringLiteral("TraceWindow"));
    setWindowTitle(QString::fromUtf8(kTraceTitle));
    text_ = new QPlainTextEdit(this);
    text_->setObjectName(QStringLiteral("traceText"));
    text_->setAccessibleName(QString::fromUtf8(kTraceTitle));
    text_->setReadOnly(true);
    text_->setLineWrapMode(QPlainTextEdit::NoWrap);
    text_->setMaximumBlockCount(static_cast<int>(kTraceWindowLines));
    text_->setFont(views::MonoCjkFont(9));
    save_ = new QPushButton(QStringLiteral("保存..."), this);
    save_->setObjectName(QStringLiteral("traceSave"));
    clear_ = new QPushButton(QStringLiteral("清空"), this);
    clear_->setObjectName(QStringLiteral("traceClear"));
    connect(save_, &QPushButton::clicked, this, [this] { save(); });
    connect(clear_, &QPushButton::clicked, this, [this] { clear(); });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(save_);
    buttons->addWidget(clear_);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text_);
    layout->addLayout(buttons);
    resize(820, 420);
}

void TraceWindow::setLines(const std::deque<std::string>& lines) {
    QString all;
    const std::size_t first =
        lines.size() > kTraceWindowLines ? lines.size() - kTraceWindowLines : 0;
    for (std::size_t i = first; i < lines.size(); ++i) {
        if (i > first) all += QLatin1Char('\n');
        all += QString::fromStdString(lines[i]);
    }
    text_->setPlainText(all);
    text_->verticalScrollBar()->setValue(text_->verticalScrollBar()->maximum());
}

bool TraceWindow::following() const {
    const QScrollBar* bar = text_->verticalScrollBar();
    return bar->value() >= bar->maximum();
}

void TraceWindow::appendLines(const QStringList& lines) {
    if (lines.isEmpty()) return;
    QScrollBar* bar = text_->verticalScrollBar();
    const bool follow = following();
    // Scrolled up, the lines looked at stay in view while the oldest ones go.
    const qsizetype limit = static_cast<qsizetype>(kTraceWindowLines);
    const qsizetype kept = text_->document()->isEmpty() ? 0 : text_->blockCount();
    const int dropped = static_cast<int>(std::max<qsizetype>(0, kept + lines.size() - limit));
    const int was = bar->value();
    text_->appendPlainText(lines.size() > limit ? lines.mid(lines.size() - limit).join('\n')
                                                : lines.join('\n'));
    if (follow) {
        bar->setValue(bar->maximum());
    } else {
        bar->setValue(std::max(0, was - dropped));
    }
}

QStringList TraceWindow::lines() const {
    QStringList out;
    if (text_->document()->isEmpty()) return out;
    return text_->toPlainText().split(QLatin1Char('\n'));
}

void TraceWindow::clear() {
    text_->clear();
    emit cleared();
}

void TraceWindow::save() {
    const SaveServices s = services_();
    const std::string dir = s.files.dataDir();
    if (!s.files.dirExists(dir)) s.files.makeDir(dir);
    dialog_.Filter = "文本文件 (*.txt)|*.txt|";
    dialog_.FilterIndex = 1;
    dialog_.DefaultExt = ".txt";
    dialog_.InitDir = dir;
    dialog_.CancelError = true;
    dialog_.FileName =
        QDir(QString::fromStdString(dir))
            .filePath(QStringLiteral("通讯记录-") +
                      QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")) +
                      QStringLiteral(".txt"))
            .toStdString();
    // What is shown when the user chose the file: the trace goes on while the dialog is open.
    const platform::DialogResult r = s.dialogs.ShowSave(dialog_);
    if (r.error == platform::kErrCancel) return;
    auto fail = [&](const std::string& why) {
        s.messages.show(output::kSaveErrorTitle, "文件未能保存：" + dialog_.FileName + "\r" + why,
                        kStyleExclamation);
    };
    if (r.error != 0) {
        fail(r.description);
        return;
    }
    std::string bytes;
    for (const QString& line : lines()) {
        bytes += line.toStdString();
        bytes += "\r\n";
    }
    const std::string error =
        s.files.writeFile(dialog_.FileName, std::vector<uint8_t>(bytes.begin(), bytes.end()));
    if (!error.empty()) fail(error);
}

void TraceWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    emit closed();
}

}  // namespace ck::app
