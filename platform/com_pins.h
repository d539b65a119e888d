// SPDX-License-Identifier: MIT
#pragma once
// Where a COM number is pinned to a device: a symbolic link named COMn in
// $XDG_CONFIG_HOME/checkkorvelt/ports/ (~/.config when XDG_CONFIG_HOME is unset, empty or
// relative). The program reads and writes these pins and the simulated instrument writes
// them, so all take the rule from here.

#include <string>

namespace ck::platform {

// Pins exist for COM1..COM16, the numbers discovery tries.
inline constexpr int kFirstPinnedCom = 1;
inline constexpr int kLastPinnedCom = 16;

// The configuration home by the XDG rules; empty when neither variable is an absolute path.
std::string comPinDirectory(const char* xdgConfigHome, const char* home);

// The configuration home of this process's environment.
std::string comPinDirectoryFromEnvironment();

// The folder that holds the pins under a configuration home; empty when the home is empty.
std::string comPinFolder(const std::string& configHome);

// The pin for COMn under a configuration home; empty when the home is empty.
std::string comPinFile(const std::string& configHome, int n);

// The pin for COMn in this process's environment.
std::string comPinFileFromEnvironment(int n);

// What the pin folder says about COMn.
struct PinReading {
    enum class Kind : uint8_t {
        None,              // no pin: COMn goes by position
        Pinned,            // COMn is a symbolic link
        FolderUnreadable,  // the folder exists but cannot be read: COMn is not known
    };
    Kind kind = Kind::None;
    // Pinned: the device the link leads to, followed to its real path, so that every name of
    // one device takes the same lock; empty when the link dangles.
    std::string target;
    // FolderUnreadable: the folder and why it cannot be read.
    std::string reason;
};

// A folder that exists and cannot be listed, or in which COMn cannot be looked at, tells
// nothing about any number: guessing "no pin" there could send a pinned number's requests to
// another device. Anything at COMn that is not a symbolic link is no pin.
PinReading readComPin(const std::string& configHome, int n);

// The name a pin should use for a device: its link in byIdFolder (/dev/serial/by-id) when
// one leads to it, so that the pin follows the adapter to whichever port it is plugged in,
// else the device path itself.
std::string stablePinTarget(const std::string& device,
                            const std::string& byIdFolder = "/dev/serial/by-id");

// Pins COMn (1..16) to the device: the link names stablePinTarget(device), is made aside and
// renamed over, so COMn never goes missing in between, and the folder is made when missing.
// Pins of other numbers that lead to the same device are removed, so a device has one number.
// Something at COMn that is not a symbolic link is not the program's and stays. Returns an
// empty text on success, else why it failed; a failure before the new link is in place
// changes nothing.
std::string pinCom(const std::string& configHome, int n, const std::string& device,
                   const std::string& byIdFolder = "/dev/serial/by-id");

// Removes the pin of COMn (1..16) if there is one; something there that is not a symbolic
// link stays. Returns an empty text on success (also when there was no pin), else why not.
std::string unpinCom(const std::string& configHome, int n);

}  // namespace ck::platform
