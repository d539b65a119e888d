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

// What the window shows: the live view or the history table, by realmode. Read when the file
// is written or the report printed, after the dialog, as polling goes on while it is open.
struct Shown {
    bool realmode = true;
    const measure::LiveReading& live;
    const measure::HistoryTable& history;
    int histcount = 0;
};

inline constexpr const char* kRealFilter = "jpg格式 (*.jpg)|*.jpg|txt格式 (*.txt)|*.txt|";
inline constexpr const char* kHistFilter = "txt格式 (*.txt)|*.txt|excel格式 (*.xls)|*.xls|";
inline constexpr int kLiveReportTopTwips = 500;
inline constexpr const char* kPrintErrorTitle = "Printing Error!";
inline constexpr const char* kPrintErrorText = "文件打印出错.";
inline constexpr const char* kSaveErrorTitle = "保存失败";

// The save command: the live view or the history table, by realmode.
void Save(OutputServices& out, const Shown& shown);
void SaveReal(OutputServices& out, const measure::LiveReading& live);
void SaveHist(OutputServices& out, const measure::HistoryTable& table, int histcount);
// The history rows 0..histcount (200 at most, the rows that exist) as a spreadsheet.
void SaveXls(OutputServices& out, const std::string& path, const measure::HistoryTable& table,
             int histcount);
// The print command: the print dialog, then the live or the history report.
void Print(OutputServices& out, const Shown& shown);

}  // namespace ck::output
