// SPDX-License-Identifier: MIT
#pragma once
// COMn on Windows: the device the system names so, and what its failures to open mean to
// the link. Plain functions over numbers, so they are tested on every platform.

#include <cstdint>
#include <string>

namespace ck::platform {

// "\\.\COMn": the device namespace, which COM10 and above need and every COMn accepts.
std::string WindowsComPath(int n);

// The link's error number for a Windows error code from opening a COM port or setting it up:
// the port held by another program (Windows opens serial ports exclusively: access denied, or
// a sharing violation where the holder's share mode is checked) is kErrPortInUse; a port that
// is not there, or a name with no serial port behind it, is kErrNoSuchPort; anything else
// kErrOpenFailed.
int OpenErrorFromWindows(uint32_t code);

}  // namespace ck::platform
