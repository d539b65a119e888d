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

TraceArgument TraceFileArgument(const QStringList& arguments) {
    static const QString kName = QStringLiteral("--trace");
    TraceArgument out;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == QLatin1String("--")) break;
        QString file;
        if (a == kName) {
            if (i + 1 < arguments.size()) file = arguments[++i];
        } else if (a.startsWith(kName + QLatin1Char('='))) {
            file = a.mid(kName.size() + 1);
        } else {
            continue;
        }
        if (file.isEmpty()) {
            out.error = QStringLiteral("--trace needs the name of a file");
            out.file.reset();
            return out;
        }
        out.file = file;
    }
    return out;
}

QCommandLineOption TraceOption() {
    return QCommandLineOption(
        QStringLiteral("trace"),
        QStringLiteral("Appends every request, every received frame with the verdict it got, and "
                       "every port event to <file>, one line each (UTF-8)."),
        QStringLiteral("file"));
}

}  // namespace ck::app
