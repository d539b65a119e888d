#pragma once
// The window as the link sees it: a few named controls, two status labels, the progress bar,
// the two view procedures and the message box. The window implements it; tests record it.

#include <cstdint>
#include <span>
#include <string>

#include "link/link_state.h"

namespace ck::link {

enum class Control : uint8_t {
    Button_read, menuread,
    Button_clear, menuclear,
    Button_save, menusave,
    Button_print, menuprint,
    Button_help, menuhelp,
    Button_close, menuclose,
    TabStrip1,
    Progress_read,
    Frame_realtime,
    DataGrid,
};
inline constexpr int kControlCount = static_cast<int>(Control::DataGrid) + 1;

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

    // The live panel from group 0 of the reply.
    virtual void ShowReal(const RxFrame& rxframe) = 0;
    // History rows start + 1 .. start + count from groups 0 .. count - 1 of the reply.
    virtual void FillHist(const RxFrame& rxframe, uint8_t start, uint8_t count) = 0;
    // Modal; returns when the user has closed it.
    virtual void showMessage(const std::string& text, int style) = 0;
};

}  // namespace ck::link
