// SPDX-License-Identifier: MIT
#include "output/commands.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "output/column_writer.h"
#include "output/xls_writer.h"

namespace ck::output {
namespace {

using platform::kStyleExclamation;

bool firstType(const platform::CommonDialog& d) { return d.FilterIndex <= 1; }

// Default directory, created before the dialog whether or not the user then saves. If it
// cannot be made the dialog still opens, wherever the platform puts it.
void prepareDirectory(OutputServices& out) {
    const std::string dir = out.files.dataDir();
    out.CommonDialog1.InitDir = dir;
    if (!out.files.dirExists(dir)) out.files.makeDir(dir);
}

void reportSaveFailure(OutputServices& out, const std::string& path, const std::string& why) {
    out.messages.show(kSaveErrorTitle, "文件未能保存：" + path + "\r" + why, kStyleExclamation);
}

void write(OutputServices& out, const std::string& path, const std::vector<uint8_t>& bytes) {
    const std::string error = out.files.writeFile(path, bytes);
    if (!error.empty()) reportSaveFailure(out, path, error);
}

void writeText(OutputServices& out, const std::string& path, const std::string& utf8) {
    const auto gbk = ToGbk(utf8);
    if (!gbk) {
        reportSaveFailure(out, path, "文本含有无法用GBK编码的字符");
        return;
    }
    write(out, path, std::vector<uint8_t>(gbk->begin(), gbk->end()));
}

// Shows the save dialog; true when the user confirmed a file. A dialog that fails is told.
bool showSave(OutputServices& out) {
    out.CommonDialog1.CancelError = true;
    const platform::DialogResult r = out.dialogs.ShowSave(out.CommonDialog1);
    if (r.error == platform::kErrCancel) return false;
    if (r.error != 0) {
        reportSaveFailure(out, out.CommonDialog1.FileName, r.description);
        return false;
    }
    return true;
}

}  // namespace

void Save(OutputServices& out, const Shown& shown) {
    if (shown.realmode) {
        SaveReal(out, shown.live);
    } else {
        SaveHist(out, shown.history, shown.histcount);
    }
}

void SaveReal(OutputServices& out, const measure::LiveReading& live) {
    platform::CommonDialog& d = out.CommonDialog1;
    d.Filter = kRealFilter;
    d.DefaultExt = firstType(d) ? ".jpg" : ".txt";
    prepareDirectory(out);
    // The picture is always this command's own capture of the window before the dialog
    // covers it, never an older one; the clipboard gets it when the picture type is assumed.
    const auto picture = out.capture.captureWindow();
    if (firstType(d) && picture) out.capture.copyLastCaptureToClipboard();
    if (!showSave(out)) return;
    if (firstType(d)) {
        if (!picture) {
            reportSaveFailure(out, d.FileName, "无法截取窗口图像");
            return;
        }
        write(out, d.FileName, *picture);
        return;
    }
    writeText(out, d.FileName, LiveText(live));
}

void SaveHist(OutputServices& out, const measure::HistoryTable& table, int histcount) {
    platform::CommonDialog& d = out.CommonDialog1;
    d.Filter = kHistFilter;
    d.DefaultExt = firstType(d) ? ".txt" : ".xls";
    prepareDirectory(out);
    if (!showSave(out)) return;
    if (firstType(d)) {
        writeText(out, d.FileName, HistoryText(table));
        return;
    }
    SaveXls(out, d.FileName, table, histcount);
}

void SaveXls(OutputServices& out, const std::string& path, const measure::HistoryTable& table,
             int histcount) {
    const int last = std::clamp(histcount, 0, measure::kHistoryRows);
    std::vector<std::vector<std::string>> rows(static_cast<std::size_t>(last) + 1);
    for (int r = 0; r <= last; ++r) {
        auto& row = rows[static_cast<std::size_t>(r)];
        row.reserve(measure::kHistoryCols);
        for (int c = 0; c < measure::kHistoryCols; ++c) row.emplace_back(table.cell(r, c));
    }
    std::vector<uint8_t> bytes;
    try {
        bytes = WriteXls(rows);
    } catch (const std::exception& e) {
        reportSaveFailure(out, path, e.what());
        return;
    }
    write(out, path, bytes);
}

void Print(OutputServices& out, const Shown& shown) {
    platform::CommonDialog& d = out.CommonDialog1;
    d.CancelError = true;
    const platform::DialogResult r = out.dialogs.ShowPrinter(d);
    if (r.error == platform::kErrCancel) return;
    if (r.error != 0) {
        out.messages.beep();
        out.messages.show(kPrintErrorTitle, r.description + "\r\n" + kPrintErrorText,
                          kStyleExclamation);
        return;
    }
    const std::string error =
        shown.realmode ? out.printer.printText(LiveReport(shown.live),
                                               platform::Orientation::Portrait, kLiveReportTopTwips)
                       : out.printer.printText(HistoryReport(shown.history, shown.histcount),
                                               platform::Orientation::Landscape, 0);
    if (!error.empty()) {
        // The printer failed after the dialog: never let that pass for a printed report.
        out.messages.beep();
        out.messages.show(kPrintErrorTitle, error + "\r\n" + kPrintErrorText, kStyleExclamation);
    }
}

}  // namespace ck::output
