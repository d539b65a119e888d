// SPDX-License-Identifier: MIT
#pragma once
// The save and print commands' view of the machine, on Qt: the shared file and print
// dialog, files written whole or not at all, a picture of the window, and message boxes.

#include <QImage>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <vector>

#include "platform/common_dialog.h"
#include "platform/services.h"

class QPrinter;

namespace ck::platform {

struct FilterType {
    QString description;  // "txt格式 (*.txt)"
    QString pattern;      // "*.txt"
};
// The types of a dialog filter "description|pattern|description|pattern|", in order.
std::vector<FilterType> ParseFilter(const std::string& filter);

class QtDialogService final : public DialogService {
public:
    // `printer` is the one the print dialog configures and the printer service prints on.
    QtDialogService(QWidget* parent, QPrinter* printer) : parent_(parent), printer_(printer) {}
    DialogResult ShowSave(CommonDialog& dialog) override;
    DialogResult ShowPrinter(CommonDialog& dialog) override;

private:
    QPointer<QWidget> parent_;
    QPrinter* printer_;
};

class QtFileSystem final : public FileSystem {
public:
    std::string dataDir() const override;
    bool dirExists(const std::string& path) const override;
    bool makeDir(const std::string& path) override;
    std::string writeFile(const std::string& path, const std::vector<uint8_t>& bytes) override;
};

class QtScreenCapture final : public ScreenCapture {
public:
    explicit QtScreenCapture(QWidget* window) : window_(window) {}
    std::optional<std::vector<uint8_t>> captureWindow() override;
    void copyLastCaptureToClipboard() override;

private:
    QPointer<QWidget> window_;
    QImage last_;
};

class QtUserMessages final : public UserMessages {
public:
    // `show` puts up the modal box (the window's one message-box function).
    explicit QtUserMessages(std::function<void(const QString&, const QString&, int)> show)
        : show_(std::move(show)) {}
    void show(const std::string& title, const std::string& text, int style) override;
    void beep() override;

private:
    std::function<void(const QString&, const QString&, int)> show_;
};

}  // namespace ck::platform
