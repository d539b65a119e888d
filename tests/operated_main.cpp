// SPDX-License-Identifier: MIT
// checkkorvelt-operated: the program as shipped, from the same libraries, with the test
// operator of test_operator.h at its window: `checkkorvelt-operated REPORT_DIR`. Built for the
// end-to-end runs only, never installed.

#include <QCoreApplication>

#include <cstdio>
#include <memory>

#include "app/main_window.h"
#include "app/program.h"
#include "test_operator.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: checkkorvelt-operated REPORT_DIR\n");
        return 2;
    }
    const QString reportDir = QString::fromLocal8Bit(argv[1]);
    return ck::app::RunProgram(argc, argv, [&](ck::app::MainWindow& window) {
        return std::shared_ptr<void>(std::make_shared<ck::app::TestOperator>(window, reportDir));
    });
}
