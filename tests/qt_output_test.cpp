// SPDX-License-Identifier: MIT
// The save commands' Qt backends on a real disk: files replaced whole or not at all, failures
// explained, the window's picture a real JPEG that also lands on the clipboard, and the dialog
// filter read as the types it lists.

#include <gtest/gtest.h>

#include "qt_environment.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QTemporaryDir>

#include <sys/mount.h>
#include <unistd.h>

#include "platform/qt/qt_output.h"

namespace ck::platform {
namespace {

[[maybe_unused]] auto* const kQtEnvironment =
    ck::testing::AddQtEnvironment<QApplication>("qt_output_test");

std::vector<uint8_t> bytes(const std::string& s) { return {s.begin(), s.end()}; }

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(ParseFilter, TypesInOrder) {
    const auto types = ParseFilter("jpg格式 (*.jpg)|*.jpg|txt格式 (*.txt)|*.txt|");
    ASSERT_EQ(types.size(), 2u);
    EXPECT_EQ(types[0].description, "jpg格式 (*.jpg)");
    EXPECT_EQ(types[0].pattern, "*.jpg");
    EXPECT_EQ(types[1].description, "txt格式 (*.txt)");
    EXPECT_TRUE(ParseFilter("").empty());
    EXPECT_EQ(ParseFilter("a|*.a").size(), 1u);  // no closing bar
}

TEST(QtFileSystem, WritesReplacesAndMakesDirectories) {
    QTemporaryDir tmp;
    QtFileSystem fs;
    const std::string dir = tmp.filePath("Trandel/sub").toStdString();
    EXPECT_FALSE(fs.dirExists(dir));
    EXPECT_TRUE(fs.makeDir(dir));
    EXPECT_TRUE(fs.dirExists(dir));
    const std::string file = dir + "/h.txt";
    EXPECT_EQ(fs.writeFile(file, bytes("first, longer content")), "");
    EXPECT_EQ(fs.writeFile(file, bytes("second")), "");
    EXPECT_EQ(readAll(QString::fromStdString(file)), "second");
    EXPECT_NE(fs.dataDir().find("Trandel"), std::string::npos);
}

TEST(QtFileSystem, ReadOnlyFolderFailsWithAReasonAndKeepsTheOldFile) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "root writes into read-only folders; the unprivileged run checks this";
    }
    QTemporaryDir tmp;
    QtFileSystem fs;
    const std::string file = tmp.filePath("keep.txt").toStdString();
    ASSERT_EQ(fs.writeFile(file, bytes("old")), "");
    QFile::setPermissions(tmp.path(), QFile::ReadOwner | QFile::ExeOwner);
    const std::string why = fs.writeFile(file, bytes("new"));
    QFile::setPermissions(tmp.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_FALSE(why.empty());
    EXPECT_EQ(readAll(QString::fromStdString(file)), "old");
}

TEST(QtFileSystem, FullDiskFailsWithAReasonAndKeepsTheOldFile) {
    QTemporaryDir tmp;
    const QByteArray where = tmp.path().toLocal8Bit();
    if (mount("tmpfs", where.constData(), "tmpfs", 0, "size=16k") != 0) {
        GTEST_SKIP() << "cannot mount a small file system here (needs root)";
    }
    QtFileSystem fs;
    const std::string file = tmp.filePath("h.txt").toStdString();
    EXPECT_EQ(fs.writeFile(file, std::vector<uint8_t>(4000, 'a')), "");
    const std::string why = fs.writeFile(file, std::vector<uint8_t>(64 * 1024, 'b'));
    EXPECT_FALSE(why.empty());
    EXPECT_EQ(readAll(QString::fromStdString(file)), QByteArray(4000, 'a'));
    EXPECT_EQ(QDir(tmp.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);  // no leftovers
    umount(where.constData());
}

TEST(QtScreenCapture, JpegOfTheWindowAndTheClipboard) {
    QLabel window(QStringLiteral("电压 10 kV"));
    window.resize(200, 80);
    QtScreenCapture capture(&window);
    const auto jpeg = capture.captureWindow();
    ASSERT_TRUE(jpeg);
    QImage back;
    ASSERT_TRUE(back.loadFromData(jpeg->data(), static_cast<int>(jpeg->size()), "JPEG"));
    EXPECT_EQ(back.size(), QSize(200, 80));
    capture.copyLastCaptureToClipboard();
    EXPECT_EQ(QGuiApplication::clipboard()->image().size(), QSize(200, 80));
}

}  // namespace
}  // namespace ck::platform
