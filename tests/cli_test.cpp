// SPDX-License-Identifier: MIT
// The programs' --help and --version: answered without a display, exit status 0, the version
// from the build's one source.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>

#include <memory>
#include <string>

namespace {

struct Outcome {
    int exitCode = -1;
    bool crashed = true;
    std::string out, err;
};

// Runs a program with no display of any kind in its environment.
Outcome runWithoutDisplay(const QString& program, const QStringList& args) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(v);
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    Outcome r;
    if (!p.waitForFinished(20000)) {
        p.kill();
        p.waitForFinished();
        r.err = "did not finish within 20 s";
        return r;
    }
    r.crashed = p.exitStatus() != QProcess::NormalExit;
    r.exitCode = p.exitCode();
    r.out = p.readAllStandardOutput().toStdString();
    r.err = p.readAllStandardError().toStdString();
    return r;
}

class CommandLine : public ::testing::Test {
protected:
    void SetUp() override { app_ = std::make_unique<QCoreApplication>(argc_, argv_); }
    void TearDown() override { app_.reset(); }

private:
    int argc_ = 1;
    char name_[9] = "cli_test";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QCoreApplication> app_;
};

TEST_F(CommandLine, HelpAndVersionWithoutADisplay) {
    const std::string version = CK_VERSION;
    struct Case {
        const char* program;
        QStringList args;
        int exitCode;
        std::string exactOut;          // when not empty, the whole of stdout
        std::vector<std::string> has;  // otherwise, texts stdout must hold
    };
    const Case cases[] = {
        {CK_CHECKKORVELT, {"--version"}, 0, "checkkorvelt " + version + "\n", {}},
        {CK_CHECKKORVELT, {"-v"}, 0, "checkkorvelt " + version + "\n", {}},
        {CK_CHECKKORVELT,
         {"--help"},
         0,
         "",
         {"Usage:", "--version", "--trace <file>", "COM1", "checkkorvelt(1)"}},
        {CK_CHECKKORVELT, {"-h"}, 0, "", {"Usage:", "--help"}},
        {CK_CHECKKORVELT, {"--help-all"}, 0, "", {"Usage:", "--help-all", "--version"}},
        {CK_DEMO, {"--version"}, 0, "checkkorvelt-demo " + version + "\n", {}},
        {CK_DEMO,
         {"--help"},
         0,
         "",
         {"--screenshot <file>", "--history-screenshot", "--report-pdf <file>", "--version"}},
        {CK_ZANDREL_SIM, {"--version"}, 0, "zandrel-sim " + version + "\n", {}},
        {CK_ZANDREL_SIM, {"--help"}, 0, "", {"--as COMn", "--version"}},
        // Asking for help with an option that does not exist is an error, not the window.
        {CK_CHECKKORVELT, {"--help", "--no-such-option"}, 2, "", {}},
        {CK_DEMO, {"--version", "--no-such-option"}, 2, "", {}},
        // A trace without its file: said at once, before any window.
        {CK_CHECKKORVELT, {"--trace"}, 2, "", {}},
        {CK_CHECKKORVELT, {"--trace="}, 2, "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.program) + " " + c.args.join(' ').toStdString());
        const Outcome r = runWithoutDisplay(QString::fromUtf8(c.program), c.args);
        ASSERT_FALSE(r.crashed) << r.err;
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        if (!c.exactOut.empty()) {
            EXPECT_EQ(r.out, c.exactOut);
        }
        for (const std::string& text : c.has) {
            EXPECT_NE(r.out.find(text), std::string::npos) << text << " in\n" << r.out;
        }
        if (c.exitCode != 0) {
            // The argument at fault is named.
            const std::string wrong = c.args.back().toStdString();
            const std::string name = wrong.substr(wrong.find_first_not_of('-'));
            EXPECT_NE(r.err.find(name.substr(0, name.find('='))), std::string::npos) << r.err;
        }
    }
}

}  // namespace
