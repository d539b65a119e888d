// SPDX-License-Identifier: MIT
#pragma once
// Which of the window's controls each phase of the link and each tab enables, disables, shows
// or hides, as tables that one function applies. Every such rule of the program is here: the
// link only reports its phase. Free of Qt, so that tests playing the window apply the very
// same tables.

#include <cstdint>
#include <optional>
#include <span>

#include "link/link.h"

namespace ck::app {

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
    menuports,   // the serial-port settings: which device is which COM number
    menureport,  // the phasing report
};
inline constexpr int kControlCount = static_cast<int>(Control::menureport) + 1;

enum class Property : uint8_t { Enabled, Visible };

enum class Rule : uint8_t {
    On,
    Off,
    HistoryView,        // on exactly when the history view is showing
    HistoryViewLinked,  // live view: off; history view: on once linked, else left as it is
    OnIfLinked,         // on once linked, else left as it is
};

struct ControlRow {
    Control control;
    Property property;
    Rule rule;
};

using ControlSet = std::span<const ControlRow>;

// Where the rows land: the window, or a test's record of it.
class ControlSink {
public:
    virtual ~ControlSink() = default;
    virtual void setEnabled(Control c, bool on) = 0;
    virtual void setVisible(Control c, bool on) = 0;
};

namespace sets {

using enum Control;
inline constexpr Property E = Property::Enabled;
inline constexpr Property V = Property::Visible;

inline constexpr ControlRow kSearching[] = {
    {Button_read, E, Rule::Off},
    {menuread, E, Rule::Off},
};

// The entry reads in either view (the command itself refuses in the live view); the button
// only where it can.
inline constexpr ControlRow kLinked[] = {
    {Button_read, E, Rule::HistoryView},
    {menuread, E, Rule::On},
};

inline constexpr ControlRow kDownloadAsked[] = {
    {Button_read, E, Rule::Off},
    {menuread, E, Rule::Off},
    {Button_clear, E, Rule::Off},
    {menuclear, E, Rule::Off},
    {Button_save, E, Rule::Off},
    {menusave, E, Rule::Off},
    {Button_print, E, Rule::Off},
    {menuprint, E, Rule::Off},
    {Button_help, E, Rule::Off},
    {menuhelp, E, Rule::Off},
    {TabStrip1, E, Rule::Off},
    // A pin changed in the middle of a download would send its next request elsewhere.
    {menuports, E, Rule::Off},
    // Like save and print: the table is only half written.
    {menureport, E, Rule::Off},
};

inline constexpr ControlRow kDownloading[] = {
    {Progress_read, V, Rule::On},
};

inline constexpr ControlRow kDownloadEnded[] = {
    {Button_read, E, Rule::HistoryView},
    {menuread, E, Rule::HistoryView},
    {Button_clear, E, Rule::On},
    {menuclear, E, Rule::On},
    {Button_save, E, Rule::On},
    {menusave, E, Rule::On},
    {Button_print, E, Rule::On},
    {menuprint, E, Rule::On},
    {Button_help, E, Rule::On},
    {menuhelp, E, Rule::On},
    {TabStrip1, E, Rule::On},
    {Progress_read, V, Rule::Off},
    {menuports, E, Rule::On},
    {menureport, E, Rule::On},
};

inline constexpr ControlRow kTimedOut[] = {
    {Button_read, E, Rule::HistoryViewLinked},
    {menuread, E, Rule::HistoryViewLinked},
    {Button_clear, E, Rule::HistoryView},
    {menuclear, E, Rule::HistoryView},
    {Button_save, E, Rule::On},
    {menusave, E, Rule::On},
    {Button_print, E, Rule::On},
    {menuprint, E, Rule::On},
    {Button_help, E, Rule::On},
    {menuhelp, E, Rule::On},
    {TabStrip1, E, Rule::On},
    {Progress_read, V, Rule::Off},
    {menuports, E, Rule::On},
    {menureport, E, Rule::On},
};

// The tab switch applies its set in full every time, whatever view was showing; read needs
// the link as well as the history view.
inline constexpr ControlRow kLiveTab[] = {
    {Frame_realtime, V, Rule::On}, {DataGrid, V, Rule::Off},   {Button_read, E, Rule::Off},
    {menuread, E, Rule::Off},      {Button_save, E, Rule::On}, {Button_clear, E, Rule::Off},
    {Button_print, E, Rule::On},   {Button_help, E, Rule::On}, {menusave, E, Rule::On},
    {menuclear, E, Rule::Off},     {menuprint, E, Rule::On},   {menuhelp, E, Rule::On},
    {Progress_read, V, Rule::Off}, {menureport, E, Rule::On},
};

inline constexpr ControlRow kHistoryTab[] = {
    {Frame_realtime, V, Rule::Off},     {DataGrid, V, Rule::On},    {menuread, E, Rule::OnIfLinked},
    {Button_read, E, Rule::OnIfLinked}, {Button_save, E, Rule::On}, {Button_clear, E, Rule::On},
    {Button_print, E, Rule::On},        {Button_help, E, Rule::On}, {menusave, E, Rule::On},
    {menuclear, E, Rule::On},           {menuprint, E, Rule::On},   {menuhelp, E, Rule::On},
    {menureport, E, Rule::On},
};

}  // namespace sets

// The set each phase of the link applies.
constexpr ControlSet SetFor(link::Phase phase) {
    switch (phase) {
        case link::Phase::Searching:
            return sets::kSearching;
        case link::Phase::Linked:
            return sets::kLinked;
        case link::Phase::DownloadAsked:
            return sets::kDownloadAsked;
        case link::Phase::Downloading:
            return sets::kDownloading;
        case link::Phase::DownloadEnded:
            return sets::kDownloadEnded;
        case link::Phase::TimedOut:
            return sets::kTimedOut;
    }
    return {};
}

// The set the tab switch applies for the view it shows.
constexpr ControlSet SetFor(link::View view) {
    return view == link::View::Live ? ControlSet(sets::kLiveTab) : ControlSet(sets::kHistoryTab);
}

// Whether a row turns its control on or off; nothing where it leaves it as it is.
constexpr std::optional<bool> Evaluate(Rule rule, bool realmode, bool linkok) {
    switch (rule) {
        case Rule::On:
            return true;
        case Rule::Off:
            return false;
        case Rule::HistoryView:
            return !realmode;
        case Rule::HistoryViewLinked:
            if (realmode) return false;
            return linkok ? std::optional<bool>(true) : std::nullopt;
        case Rule::OnIfLinked:
            return linkok ? std::optional<bool>(true) : std::nullopt;
    }
    return std::nullopt;
}

// Applies the rows in order, with the view and the link as the record holds them.
inline void ApplySet(ControlSet set, const link::LinkState& state, ControlSink& controls) {
    for (const ControlRow& row : set) {
        const auto on = Evaluate(row.rule, state.realmode, state.linkok);
        if (!on) continue;
        if (row.property == Property::Enabled) {
            controls.setEnabled(row.control, *on);
        } else {
            controls.setVisible(row.control, *on);
        }
    }
}

}  // namespace ck::app
