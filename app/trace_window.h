// SPDX-License-Identifier: MIT
#pragma once
// 通讯记录: the communication trace live in a window of its own beside the main one. The last
// lines, newest at the bottom, following them unless scrolled up; saving them as a text file,
// and clearing them. Closing it only hides it.

#include <QWidget>

#include <deque>
#include <functional>
#include <string>

#include "platform/common_dialog.h"
#include "platform/services.h"

class QPlainTextEdit;
class QPushButton;

namespace ck::app {

class TraceWindow final : public QWidget {
    Q_OBJECT
public:
    struct SaveServices {
        platform::DialogService& dialogs;
        platform::FileSystem& files;
        platform::UserMessages& messages;
    };
    // The services are made when first saved.
    explicit TraceWindow(std::function<SaveServices()> services, QWidget* parent = nullptr);

    // Shows these lines, and only these (the last of them when there are more than it keeps).
    void setLines(const std::deque<std::string>& lines);
    // New lines at the bottom, the oldest going beyond the limit.
    void appendLines(const QStringList& lines);
    // 保存...: the save dialog on 通讯记录-YYYYMMDD-HHMMSS.txt in the data folder, then the
    // lines shown, UTF-8 with CR LF. A failure is told in one message.
    void save();
    // 清空
    void clear();
    // The lines shown, each without its end.
    QStringList lines() const;
    // At the newest line: new lines keep it in view.
    bool following() const;

    QPlainTextEdit& text() const { return *text_; }
    QPushButton& saveButton() const { return *save_; }
    QPushButton& clearButton() const { return *clear_; }
    // Its own save dialog properties, apart from the main window's.
    platform::CommonDialog& fileDialog() { return dialog_; }

signals:
    void closed();
    void cleared();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    std::function<SaveServices()> services_;
    platform::CommonDialog dialog_;
    QPlainTextEdit* text_ = nullptr;
    QPushButton* save_ = nullptr;
    QPushButton* clear_ = nullptr;
};

}  // namespace ck::app
