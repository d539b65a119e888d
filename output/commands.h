// SPDX-License-Identifier: MIT
#pragma once
// The save and print commands: which dialog, which file type, what is written or printed, and
// what the user is told when it fails.

#include <string>

#include "output/reports.h"
#include "platform/common_dialog.h"
#include "platform/services.h"

namespace ck::output {

struct OutputServices {
    platform::CommonDialog& CommonDialog1;
    platform::DialogService& dialogs;
    platform::FileSystem& files;
    platform::ScreenCapture& capture;
    platform::PrinterService& printer;
    platform::UserMessages& messages;
};

// What the views show at the moment of the command.
struct ViewTexts {
    bool realmode = true;
    CaptionSource caption;  // live-panel labels
    CellSource cell;        // history-table cells, row 0 the headers
    int histcount = 0;
};

inline constexpr const char* kRealFilter = "jpg格式 (*.jpg)|*.jpg|txt格式 (*.txt)|*.txt|";
inline constexpr const char* kHistFilter = "txt格式 (*.txt)|*.txt|excel格式 (*.xls)|*.xls|";
inline constexpr int kPrintFlags = 264;  // return a device context, no page range
inline constexpr int kLiveReportTopTwips = 500;
inline constexpr const char* kPrintErrorTitle = "Printing Error!";
inline constexpr const char* kPrintErrorText = "文件打印出错.";
inline constexpr const char* kSaveErrorTitle = "保存失败";

// The save command: the live view or the history table, by realmode.
void Save(OutputServices& out, const ViewTexts& view);
void SaveReal(OutputServices& out, const CaptionSource& caption);
void SaveHist(OutputServices& out, const CellSource& cell, int histcount);
// The history rows 0..histcount (200 at most, the rows that exist) as a spreadsheet.
void SaveXls(OutputServices& out, const std::string& path, const CellSource& cell, int histcount);
// The print command: the print dialog, then the live or the history report.
void Print(OutputServices& out, const ViewTexts& view);

}  // namespace ck::output
