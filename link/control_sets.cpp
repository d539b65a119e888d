// SPDX-License-Identifier: MIT
#include "link/control_sets.h"

#include <optional>

namespace ck::link {
namespace {

using enum Control;
constexpr Property E = Property::Enabled;
constexpr Property V = Property::Visible;

constexpr ControlRow kStartup[] = {
    {Button_read, E, Rule::Off},
    {menuread, E, Rule::Off},
};

constexpr ControlRow kLinkFound[] = {
    {Button_read, E, Rule::HistoryView},
    {menuread, E, Rule::On},
};

constexpr ControlRow kBusy[] = {
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
};

constexpr ControlRow kIdle[] = {
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
};

constexpr ControlRow kTimeout[] = {
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
};

// The tab switch applies its set in full every time, whatever view was showing; read needs
// the link as well as the history view.
constexpr ControlRow kLiveTab[] = {
    {Frame_realtime, V, Rule::On}, {DataGrid, V, Rule::Off},   {Button_read, E, Rule::Off},
    {menuread, E, Rule::Off},      {Button_save, E, Rule::On}, {Button_clear, E, Rule::Off},
    {Button_print, E, Rule::On},   {Button_help, E, Rule::On}, {menusave, E, Rule::On},
    {menuclear, E, Rule::Off},     {menuprint, E, Rule::On},   {menuhelp, E, Rule::On},
    {Progress_read, V, Rule::Off},
};

constexpr ControlRow kHistoryTab[] = {
    {Frame_realtime, V, Rule::Off},     {DataGrid, V, Rule::On},    {menuread, E, Rule::OnIfLinked},
    {Button_read, E, Rule::OnIfLinked}, {Button_save, E, Rule::On}, {Button_clear, E, Rule::On},
    {Button_print, E, Rule::On},        {Button_help, E, Rule::On}, {menusave, E, Rule::On},
    {menuclear, E, Rule::On},           {menuprint, E, Rule::On},   {menuhelp, E, Rule::On},
};

std::optional<bool> evaluate(Rule rule, bool realmode, bool linkok) {
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

}  // namespace

const ControlSet kStartupSet{kStartup};
const ControlSet kLinkFoundSet{kLinkFound};
const ControlSet kBusySet{kBusy};
const ControlSet kIdleSet{kIdle};
const ControlSet kTimeoutSet{kTimeout};
const ControlSet kLiveTabSet{kLiveTab};
const ControlSet kHistoryTabSet{kHistoryTab};

void ApplySet(ControlSet set, bool realmode, bool linkok, LinkControls& controls) {
    for (const ControlRow& row : set) {
        const auto on = evaluate(row.rule, realmode, linkok);
        if (!on) continue;
        if (row.property == Property::Enabled) {
            controls.setEnabled(row.control, *on);
        } else {
            controls.setVisible(row.control, *on);
        }
    }
}

}  // namespace ck::link
