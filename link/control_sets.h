// SPDX-License-Identifier: MIT
#pragma once
// Which controls each state of the link and each view enables, disables, shows or hides, as
// tables that one function applies. Every such rule of the program is here.

#include <span>

#include "link/link_controls.h"

namespace ck::link {

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

// The link's five sets.
extern const ControlSet kStartupSet;
extern const ControlSet kLinkFoundSet;
extern const ControlSet kBusySet;
extern const ControlSet kIdleSet;
extern const ControlSet kTimeoutSet;
// The tab switch's two sets: the live view and the history view.
extern const ControlSet kLiveTabSet;
extern const ControlSet kHistoryTabSet;

// Applies the rows in order.
void ApplySet(ControlSet set, bool realmode, bool linkok, LinkControls& controls);

}  // namespace ck::link
