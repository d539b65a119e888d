// SPDX-License-Identifier: MIT
// checkkorvelt: finds the instrument on the machine's serial ports and shows its readings.

#include <QCommandLineParser>

#include "app/command_line.h"
#include "app/program.h"

int main(int argc, char** argv) {
    if (const auto code =
            ck::app::AnswerInformation(argc, argv, "checkkorvelt", [](QCommandLineParser& parser) {
                parser.setApplicationDescription(QStringLiteral(
                    "Check Korvelt: finds the Zandrel phase-comparison instrument on COM1 to "
                    "COM16 by itself and shows its readings; see checkkorvelt(1)."));
                parser.addOption(ck::app::TraceOption());
            })) {
        return *code;
    }
    return ck::app::RunProgram(argc, argv);
}
