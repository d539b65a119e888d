// SPDX-License-Identifier: MIT
#pragma once
// Which device stands behind "COMn" on this machine.
//
// Windows: COMn is the system's own COMn.
//
// Linux (and other Unix systems):
//  (a) Pinned: if $XDG_CONFIG_HOME/checkkorvelt/ports/COMn is a symbolic link (XDG_CONFIG_HOME
//      unset, empty or relative means ~/.config), COMn is the device it points to, followed to
//      its real path. A dangling link means COMn does not exist; there is no fallback, so a
//      pinned number never silently lands on another device. A pin that is not a symbolic
//      link is ignored.
//  (b) Otherwise COMn is the n-th serial port of the machine, counting from 1, in this order:
//      ttyUSB*, then ttyACM* (USB adapters), then ttyS*, then ttyAMA*, then any other kind in
//      alphabetical order of its name without the number; within a kind by number (ttyS2
//      before ttyS10). A serial port of the machine is a tty that the kernel lists in
//      /sys/class/tty with a hardware device behind it, except for on-board UART slots whose
//      UART type reads 0 (the ttyS0..ttyS31 placeholders that exist without hardware).
//      Virtual consoles, pseudo-terminals and Bluetooth rfcomm ports are not counted; pin
//      them. Where /sys/class/tty is unreadable, QSerialPortInfo's list is used instead.
//      Pins do not take a device out of this count.
// Any n below 1 and any n beyond the list is a port that does not exist.

#include <optional>
#include <string>
#include <vector>

#include "platform/com_pins.h"

namespace ck::platform {

// What the pin file for one COM number holds, when it is a symbolic link.
struct ComPin {
    std::string target;   // the device path it resolves to
    bool exists = false;  // false for a dangling link
};

struct ComLookup {
    std::optional<ComPin> pin;         // set only when the pin file is a symbolic link
    std::vector<std::string> devices;  // the machine's serial ports as device paths, any order
};

// Where COMn leads on this machine.
struct ComRoute {
    std::optional<std::string> device;  // nothing: no such port (or the pins are unreadable)
    // Set when the pin folder exists but cannot be read: the folder and why. No device is
    // chosen then.
    std::string pinsUnreadable;
};

// The serial ports in COM order (rule b); duplicates removed.
std::vector<std::string> orderSerialPorts(std::vector<std::string> devices);

// The device path for COMn, or nothing when there is no such port.
std::optional<std::string> resolveCom(int n, const ComLookup& in);

// The same, with the pins and serial ports of this machine and environment.
ComRoute routeComOnThisMachine(int n);
// Only the device of routeComOnThisMachine().
std::optional<std::string> resolveComOnThisMachine(int n);

}  // namespace ck::platform
