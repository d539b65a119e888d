// SPDX-License-Identifier: MIT
#pragma once
// The window's one file and printer dialog, CommonDialog1: its properties stay set between
// uses, so the type chosen in one save decides what the next save of either kind assumes.

#include <string>

namespace ck::platform {

// Error number of a cancelled dialog when CancelError is set.
inline constexpr int kErrCancel = 32755;

struct CommonDialog {
    std::string Filter;      // "description|pattern|description|pattern|"
    int FilterIndex = 0;     // 1-based type; below 2 counts as the first
    std::string DefaultExt;  // added to a name typed without an extension, e.g. ".txt"
    std::string InitDir;
    bool CancelError = false;
    std::string FileName;  // the chosen path, after ShowSave
};

// How a dialog ended: 0 confirmed; kErrCancel cancelled (with CancelError); another number
// with a description when the dialog itself failed.
struct DialogResult {
    int error = 0;
    std::string description;
};

class DialogService {
public:
    virtual ~DialogService() = default;
    // The save dialog built from the properties; on confirmation FileName and FilterIndex hold
    // the user's choice.
    virtual DialogResult ShowSave(CommonDialog& dialog) = 0;
    // The print dialog; on confirmation the chosen printer is the one the printer service uses.
    virtual DialogResult ShowPrinter(CommonDialog& dialog) = 0;
};

}  // namespace ck::platform
