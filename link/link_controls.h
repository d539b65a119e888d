// SPDX-License-Identifier: MIT
#pragma once
// The window as the link sees it: a few named controls, two status labels, the progress bar,
// the two view procedures and the message box. The window implements it; tests record it.
// Readings come up decoded: nothing above the link sees frame bytes.

#include <cstdint>
#include <span>
#include <string>

#include "measure/measurement.h"

namespace ck::link {

enum class Control : uint8_t {
    Button_read,
    menuread,
    Button_clear,
    menuclear,
    Button_save,
    menusave,
    Button_print,
    menuprint,
    Button_help,
    menuhelp,
    Button_close,
    menuclose,
    TabStrip1,
    Progress_read,
    Frame_realtime,
    DataGrid,
    menuports,  // the serial-port settings: which device is which COM number
};
inline constexpr int kControlCount = static_cast<int>(Control::menuports) + 1;

// Message-box styles.
inline constexpr int kMbExclamation = 48;
inline constexpr int kMbInformation = 64;

class LinkControls {
public:
    virtual ~LinkControls() = default;

    virtual void setEnabled(Control c, bool on) = 0;
    virtual void setVisible(Control c, bool on) = 0;
    virtual void setComStatus(const std::string& text) = 0;   // LabComsta
    virtual void setLinkStatus(const std::string& text) = 0;  // Lab_rtsta
    virtual void setProgressRange(int min, int max) = 0;      // Progress_read
    virtual void setProgressValue(int value) = 0;

    // Every accepted live reading that decodes; one that does not is never handed up.
    virtual void ShowReal(const measure::MeasurementGroup& reading) = 0;
    // The decoded groups of one history reply: groups[i] is group number firstGroupNumber + i
    // + 1, which is also its table row (firstGroupNumber counts from 0). The block ends before
    // its first group that failed to decode.
    virtual void FillHist(int firstGroupNumber,
                          std::span<const measure::MeasurementGroup> groups) = 0;
    // Modal; returns when the user has closed it.
    virtual void showMessage(const std::string& text, int style) = 0;
};

}  // namespace ck::link
