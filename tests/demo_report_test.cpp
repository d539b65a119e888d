// SPDX-License-Identifier: MIT
// checkkorvelt-demo --live NAME --report-pdf FILE, run as a user runs it, without a display:
// each connection gives its conclusion in the PDF, made from the reading the window showed.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdlib>
#include <string>

namespace {

TEST(DemoReport, EachConnectionGivesItsConclusion) {
    int argc = 1;
    char name[] = "demo_report_test";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    if (QStandardPaths::findExecutable("pdftotext").isEmpty()) {
        const char* require = std::getenv("CK_REQUIRE_PDFTOTEXT");
        if (require && std::string(require) == "1") FAIL() << "pdftotext not found";
        GTEST_SKIP() << "pdftotext (poppler-utils) not found: cannot read the PDF back";
    }
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* v : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(v);
    env.insert("HOME", dir.path());  // the demo's own settings and logs stay in here
    env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    struct Case {
        const char* live;
        const char* conclusion;
        const char* detail;
    };
    const Case cases[] = {
        {"crossed", "结论：相位不一致", "B1B2、C1C2异相"},
        {"in-phase", "结论：相位一致", "A1A2、B1B2、C1C2均同相"},
        {"missing", "结论：无法判定", "A1A2无定性结果（------）"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.live);
        const QString pdf = dir.filePath(QString::fromLatin1(c.live) + ".pdf");
        QProcess demo;
        demo.setProcessEnvironment(env);
        demo.start(CK_DEMO, {"--live", c.live, "--report-pdf", pdf});
        ASSERT_TRUE(demo.waitForFinished(40000)) << "the demo did not finish";
        EXPECT_EQ(demo.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(demo.exitCode(), 0) << demo.readAllStandardError().toStdString();
        EXPECT_EQ(demo.readAllStandardOutput().toStdString(), "wrote " + pdf.toStdString() + "\n");

        QProcess text;
        text.start("pdftotext", {"-raw", pdf, "-"});
        ASSERT_TRUE(text.waitForFinished(20000));
        const QString got = QString::fromUtf8(text.readAllStandardOutput())
                                .remove(QRegularExpression(QStringLiteral("\\s")));
        for (const char* s : {c.conclusion, c.detail, "串口COM3", "演示程序：读数来自模拟仪器"}) {
            EXPECT_TRUE(got.contains(QString::fromUtf8(s))) << s;
        }
    }
}

}  // namespace
