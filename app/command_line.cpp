// SPDX-License-Identifier: MIT
#include "app/command_line.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <cstdio>
#include <string_view>

#include "generated/version.h"

namespace ck::app {

bool AsksForInformation(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view a(argv[i]);
        for (const std::string_view o : {"-h", "--help", "-?", "--help-all", "-v", "--version"}) {
            if (a == o) return true;
        }
    }
    return false;
}

void NameApplication(const char* name) {
    QCoreApplication::setApplicationName(QString::fromUtf8(name));
    QCoreApplication::setApplicationVersion(QString::fromUtf8(kVersion));
    // Lets a Wayland desktop find the entry, and with it the icon, for the running window.
    QGuiApplication::setDesktopFileName(QString::fromUtf8(kAppId));
}

std::optional<int> AnswerInformation(int argc, char** argv, const char* name,
                                     const std::function<void(QCommandLineParser&)>& describe) {
    if (!AsksForInformation(argc, argv)) return std::nullopt;
    QCoreApplication core(argc, argv);
    NameApplication(name);
    QCommandLineParser parser;
    describe(parser);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "%s: %s\n", name, qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(version)) {
        std::printf("%s %s\n", name, kVersion);
    } else if (parser.isSet(QStringLiteral("help-all"))) {
        parser.process(core);  // prints Qt's own options too, and exits with 0
    } else {
        std::fputs(qPrintable(parser.helpText()), stdout);
    }
    return 0;
}

}  // namespace ck::app
