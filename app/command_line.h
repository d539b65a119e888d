// SPDX-License-Identifier: MIT
#pragma once
// --help and --version, answered before anything touches the window system, so that they work
// without a display (a terminal over ssh, a package check).

#include <QCommandLineParser>
#include <QStringList>

#include <functional>
#include <optional>

namespace ck::app {

// Whether the arguments ask for the help text or the version, in Qt's spellings (-h, --help,
// -?, --help-all, -v, --version).
bool AsksForInformation(int argc, char** argv);

// Names the running program (name, version, desktop entry) for Qt and for --version.
void NameApplication(const char* name);

// When the arguments ask for help or the version: prints it on a core application (no display
// needed) and returns the exit code, 0, or 2 for arguments that cannot be parsed. Otherwise
// nothing. `describe` adds the program's description and its own options to the parser.
std::optional<int> AnswerInformation(int argc, char** argv, const char* name,
                                     const std::function<void(QCommandLineParser&)>& describe);

// --trace FILE (or --trace=FILE): the file the communication trace is appended to, as the
// arguments name it (Unicode on Windows too). `error` says what is wrong when the option has
// no file; other arguments are not looked at.
struct TraceArgument {
    std::optional<QString> file;
    QString error;
};
TraceArgument TraceFileArgument(const QStringList& arguments);
// The option as --help describes it.
QCommandLineOption TraceOption();

}  // namespace ck::app
