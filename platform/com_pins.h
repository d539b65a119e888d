#pragma once
// Where a COM number is pinned to a device: a symbolic link named COMn in
// $XDG_CONFIG_HOME/checkkorvelt/ports/ (~/.config when XDG_CONFIG_HOME is unset, empty or
// relative). The program reads these pins and the simulated instrument writes them, so both
// take the rule from here.

#include <string>

namespace ck::platform {

// The configuration home by the XDG rules; empty when neither variable is an absolute path.
std::string comPinDirectory(const char* xdgConfigHome, const char* home);

// The pin for COMn under a configuration home; empty when the home is empty.
std::string comPinFile(const std::string& configHome, int n);

// The pin for COMn in this process's environment.
std::string comPinFileFromEnvironment(int n);

}  // namespace ck::platform
