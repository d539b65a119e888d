// SPDX-License-Identifier: MIT
#pragma once
// The program's start on the machine's own serial ports and timers, for checkkorvelt and for
// anything that runs it the same way.

#include <functional>
#include <memory>

namespace ck::app {

class MainWindow;

// Makes the application, the window and its link, and runs until the window closes. With
// --trace FILE the communication trace goes to FILE; without its file the option is an error
// (exit status 2).
// `beside`, when given, is called with the window before the link starts; what it returns
// lives as long as the window.
int RunProgram(int argc, char** argv,
               const std::function<std::shared_ptr<void>(MainWindow&)>& beside = {});

}  // namespace ck::app
