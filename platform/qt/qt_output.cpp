// SPDX-License-Identifier: MIT
#include "platform/qt/qt_output.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QPrintDialog>
#include <QPrinter>
#include <QSaveFile>

namespace ck::platform {
namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

std::vector<FilterType> ParseFilter(const std::string& filter) {
    const QStringList parts = q(filter).split(QLatin1Char('|'));
    std::vector<FilterType> types;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty() && parts[i + 1].isEmpty()) break;
        types.push_back({parts[i], parts[i + 1]});
    }
    return types;
}

DialogResult QtDialogService::ShowSave(CommonDialog& d) {
    const std::vector<FilterType> types = ParseFilter(d.Filter);
    QStringList nameFilters;
    for (const FilterType& t : types) {
        // Qt reads the pattern from the parentheses of the description.
        nameFilters << (t.description.contains(t.pattern) ? t.description
                                                          : t.description + " (" + t.pattern + ")");
    }
    QFileDialog dialog(parent_, QString(), q(d.InitDir));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(nameFilters);
    const int index = std::max(1, d.FilterIndex);
    if (index <= static_cast<int>(nameFilters.size()))
        dialog.selectNameFilter(nameFilters[index - 1]);
    QString ext = q(d.DefaultExt);
    if (ext.startsWith(QLatin1Char('.'))) ext.remove(0, 1);
    dialog.setDefaultSuffix(ext);
    if (!d.FileName.empty()) dialog.selectFile(QFileInfo(q(d.FileName)).fileName());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return d.CancelError ? DialogResult{kErrCancel, "Cancel"} : DialogResult{};
    }
    d.FileName = dialog.selectedFiles().front().toStdString();
    d.FilterIndex = static_cast<int>(nameFilters.indexOf(dialog.selectedNameFilter())) + 1;
    if (d.FilterIndex < 1) d.FilterIndex = 1;
    return {};
}

DialogResult QtDialogService::ShowPrinter(CommonDialog& d) {
    if (!printer_) return {1, "没有可用的打印机"};
    QPrintDialog dialog(printer_, parent_);
    // The reports print whole: no page range to choose.
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    if (dialog.exec() != QDialog::Accepted) {
        return d.CancelError ? DialogResult{kErrCancel, "Cancel"} : DialogResult{};
    }
    return {};
}

std::string QtFileSystem::dataDir() const {
#ifdef Q_OS_WIN
    return "c:\\Trandel";
#else
    return QDir(QDir::homePath()).filePath(QStringLiteral("Trandel")).toStdString();
#endif
}

bool QtFileSystem::dirExists(const std::string& path) const { return QFileInfo(q(path)).isDir(); }

bool QtFileSystem::makeDir(const std::string& path) { return QDir().mkpath(q(path)); }

std::string QtFileSystem::writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    // Written beside the target and renamed over it only when complete: a failed save leaves
    // the file that was there whole.
    QSaveFile file(q(path));
    if (!file.open(QIODevice::WriteOnly)) return file.errorString().toStdString();
    const auto size = static_cast<qint64>(bytes.size());
    if (file.write(reinterpret_cast<const char*>(bytes.data()), size) != size) {
        const std::string why = file.errorString().toStdString();
        file.cancelWriting();
        return why;
    }
    if (!file.commit()) return file.errorString().toStdString();
    return {};
}

std::optional<std::vector<uint8_t>> QtScreenCapture::captureWindow() {
    if (!window_) return std::nullopt;
    last_ = window_->grab().toImage();
    if (last_.isNull()) return std::nullopt;
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    if (!last_.save(&buffer, "JPEG", 92)) return std::nullopt;
    return std::vector<uint8_t>(jpeg.begin(), jpeg.end());
}

void QtScreenCapture::copyLastCaptureToClipboard() {
    if (last_.isNull()) return;
    if (QClipboard* clipboard = QGuiApplication::clipboard()) clipboard->setImage(last_);
}

void QtUserMessages::show(const std::string& title, const std::string& text, int style) {
    if (show_) show_(q(title), q(text), style);
}

void QtUserMessages::beep() { QApplication::beep(); }

}  // namespace ck::platform
