// SPDX-License-Identifier: MIT
// The save and print commands against scripted dialogs, an in-memory disk and a recording
// printer: what each writes, what the shared dialog carries over, and every failure told.

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "seen_messages.h"

#include "output/column_writer.h"
#include "output/commands.h"

namespace ck::output {
namespace {

using Bytes = std::vector<uint8_t>;

// The user at the dialog: each show takes the next answer.
struct Answer {
    int filterIndex = 1;   // type the user leaves selected
    std::string fileName;  // empty: cancel
    int error = 0;         // a dialog that fails
};

struct ScriptedDialogs final : platform::DialogService {
    std::vector<Answer> answers;
    std::vector<platform::CommonDialog> seen;  // the properties at each show
    std::function<void()> whileOpen;

    platform::DialogResult answer(platform::CommonDialog& d) {
        seen.push_back(d);
        if (whileOpen) whileOpen();
        const Answer a = answers.at(seen.size() - 1);
        if (a.error) return {a.error, "no printer driver"};
        if (a.fileName.empty() && d.CancelError) return {platform::kErrCancel, "Cancel"};
        d.FilterIndex = a.filterIndex;
        d.FileName = a.fileName;
        return {};
    }
    platform::DialogResult ShowSave(platform::CommonDialog& d) override { return answer(d); }
    platform::DialogResult ShowPrinter(platform::CommonDialog& d) override { return answer(d); }
};

struct MemoryDisk final : platform::FileSystem {
    std::set<std::string> dirs;
    std::map<std::string, Bytes> files;
    std::string failWith;  // non-empty: every write fails so
    std::vector<std::string> made;
    std::string dataDir() const override { return "/home/u/Trandel"; }
    bool dirExists(const std::string& p) const override { return dirs.contains(p); }
    bool makeDir(const std::string& p) override {
        made.push_back(p);
        dirs.insert(p);
        return true;
    }
    std::string writeFile(const std::string& p, const Bytes& b) override {
        if (!failWith.empty()) return failWith;
        files[p] = b;
        return {};
    }
};

struct Camera final : platform::ScreenCapture {
    int captures = 0;
    int clipboard = 0;
    bool broken = false;
    std::optional<Bytes> captureWindow() override {
        ++captures;
        if (broken) return std::nullopt;
        return Bytes{0xFF, 0xD8, 0xFF, static_cast<uint8_t>(captures)};
    }
    void copyLastCaptureToClipboard() override { ++clipboard; }
};

struct Printer final : platform::PrinterService {
    struct Job {
        std::string text;
        platform::Orientation orientation;
        int startTwips;
    };
    std::vector<Job> jobs;
    std::string failWith;
    std::string printText(const std::string& t, platform::Orientation o, int s) override {
        jobs.push_back({t, o, s});
        return failWith;
    }
};

measure::LiveReading liveReading(int16_t a1a2) {
    return measure::LiveReading({{a1a2, 120, 360, 120, 240, 5}, {}, {10, 10, 10, 10, 0, 10}}, {},
                                3);
}
measure::HistoryTable fiveGroups() {
    measure::HistoryTable t;
    const std::vector<measure::MeasurementGroup> groups(5, liveReading(5).values());
    t.fill(0, groups);
    return t;
}

struct Rig {
    platform::CommonDialog dialog;
    ScriptedDialogs dialogs;
    MemoryDisk disk;
    Camera camera;
    Printer printer;
    ck::testing::SeenMessages user;
    OutputServices out{dialog, dialogs, disk, camera, printer, user};
    measure::LiveReading reading = liveReading(5);
    measure::HistoryTable table = fiveGroups();
    Shown live{true, reading, table, 5};
    Shown history{false, reading, table, 5};

    Bytes file(const std::string& p) { return disk.files.at(p); }
};

Bytes gbk(const std::string& utf8) {
    const auto s = ToGbk(utf8);
    return Bytes(s->begin(), s->end());
}

TEST(SaveReal, FirstSaveAssumesThePictureAndCapturesBeforeTheDialog) {
    Rig r;
    int capturesBeforeDialog = -1;
    r.dialogs.whileOpen = [&] { capturesBeforeDialog = r.camera.captures; };
    r.dialogs.answers = {{1, "/tmp/a.jpg"}};
    Save(r.out, r.live);
    const auto& d = r.dialogs.seen.at(0);
    EXPECT_EQ(d.Filter, "jpg格式 (*.jpg)|*.jpg|txt格式 (*.txt)|*.txt|");
    EXPECT_EQ(d.DefaultExt, ".jpg");
    EXPECT_EQ(d.InitDir, "/home/u/Trandel");
    EXPECT_TRUE(d.CancelError);
    EXPECT_EQ(capturesBeforeDialog, 1);
    EXPECT_EQ(r.camera.clipboard, 1);
    EXPECT_EQ(r.file("/tmp/a.jpg"), (Bytes{0xFF, 0xD8, 0xFF, 1}));
    EXPECT_TRUE(r.user.boxes.empty());
}

TEST(SaveReal, SelectedTypeDecidesTheContentNotTheExtension) {
    struct Case {
        int type;
        std::string name;
        bool picture;
    };
    const Case cases[] = {{1, "/tmp/x.txt", true}, {2, "/tmp/x.jpg", false}, {2, "/tmp/x", false}};
    for (const auto& c : cases) {
        Rig r;
        r.dialogs.answers = {{c.type, c.name}};
        Save(r.out, r.live);
        EXPECT_EQ(r.file(c.name).size() == 4, c.picture) << c.name;
        if (!c.picture) {
            EXPECT_EQ(r.file(c.name), gbk(LiveText(r.reading))) << c.name;
        }
    }
}

// Polling goes on while the dialog is open: the file holds the reading shown when it closed.
TEST(SaveReal, TextIsTheReadingShownWhenTheDialogCloses) {
    Rig r;
    r.dialogs.answers = {{2, "/tmp/t.txt"}};
    r.dialogs.whileOpen = [&] { r.reading = liveReading(7); };
    Save(r.out, r.live);
    EXPECT_EQ(r.file("/tmp/t.txt"), gbk(LiveText(liveReading(7))));
    EXPECT_NE(LiveText(liveReading(7)), LiveText(liveReading(5)));
}

TEST(SaveReal, PictureChosenInTheDialogIsStillThisCommandsCapture) {
    Rig r;
    r.dialog.FilterIndex = 2;  // the last save was a text file
    r.dialogs.answers = {{1, "/tmp/p.jpg"}};
    Save(r.out, r.live);
    EXPECT_EQ(r.dialogs.seen[0].DefaultExt, ".txt");
    EXPECT_EQ(r.camera.clipboard, 0);  // the clipboard is left alone when text is assumed
    EXPECT_EQ(r.file("/tmp/p.jpg"), (Bytes{0xFF, 0xD8, 0xFF, 1}));
}

TEST(SaveReal, CancelWritesNothingButTheDirectoryStays) {
    Rig r;
    r.dialogs.answers = {{1, ""}};
    Save(r.out, r.live);
    EXPECT_TRUE(r.disk.files.empty());
    EXPECT_EQ(r.disk.made, (std::vector<std::string>{"/home/u/Trandel"}));
    EXPECT_TRUE(r.user.boxes.empty());
    r.dialogs.answers.push_back({1, ""});
    Save(r.out, r.live);
    EXPECT_EQ(r.disk.made.size(), 1u);  // made once
}

TEST(Save, FailuresAreToldOnceNamingTheFile) {
    struct Case {
        const char* what;
        bool realmode;
        int type;
        bool diskFull, noPicture, dialogBroken;
    };
    const Case cases[] = {
        {"text on a full disk", true, 2, true, false, false},
        {"picture on a full disk", true, 1, true, false, false},
        {"no picture to be had", true, 1, false, true, false},
        {"history text", false, 1, true, false, false},
        {"spreadsheet", false, 2, true, false, false},
        {"a dialog that fails", false, 1, false, false, true},
    };
    for (const auto& c : cases) {
        Rig r;
        if (c.diskFull) r.disk.failWith = "No space left on device";
        r.camera.broken = c.noPicture;
        r.dialogs.answers = {{c.type, "/ro/out.dat", c.dialogBroken ? 7 : 0}};
        Save(r.out, c.realmode ? r.live : r.history);
        ASSERT_EQ(r.user.boxes.size(), 1u) << c.what;
        const auto& [title, text, style] = r.user.boxes[0];
        EXPECT_EQ(title, "保存失败") << c.what;
        EXPECT_EQ(style, 48) << c.what;
        if (!c.dialogBroken) {
            EXPECT_NE(text.find("/ro/out.dat"), std::string::npos) << c.what;
        }
        if (c.diskFull) {
            EXPECT_NE(text.find("No space left"), std::string::npos) << c.what;
        }
        EXPECT_TRUE(r.disk.files.empty()) << c.what;
    }
}

TEST(SaveHist, TextAndSpreadsheetByType) {
    Rig r;
    r.dialogs.answers = {{1, "/tmp/h.xls"}, {2, "/tmp/h.txt"}};
    Save(r.out, r.history);
    const auto& d0 = r.dialogs.seen[0];
    EXPECT_EQ(d0.Filter, "txt格式 (*.txt)|*.txt|excel格式 (*.xls)|*.xls|");
    EXPECT_EQ(d0.DefaultExt, ".txt");
    EXPECT_EQ(r.file("/tmp/h.xls"), gbk(HistoryText(r.table)));  // text, whatever the name
    Save(r.out, r.history);
    EXPECT_EQ(r.dialogs.seen[1].DefaultExt, ".txt");  // the first save left type 1
    const Bytes xls = r.file("/tmp/h.txt");
    ASSERT_GE(xls.size(), 8u);
    EXPECT_EQ(Bytes(xls.begin(), xls.begin() + 8),
              (Bytes{0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1}));
}

TEST(SaveXls, MoreThan200GroupsStillGivesTheRowsThatExist) {
    Rig r;
    SaveXls(r.out, "/tmp/big.xls", r.table, 300);
    EXPECT_TRUE(r.user.boxes.empty());
    ASSERT_TRUE(r.disk.files.contains("/tmp/big.xls"));
    Rig small;
    SaveXls(small.out, "/tmp/small.xls", small.table, 200);
    EXPECT_EQ(r.file("/tmp/big.xls"), small.file("/tmp/small.xls"));
}

TEST(SharedDialog, TypeCarriesAcrossLiveSaveHistorySaveAndPrint) {
    Rig r;
    r.dialogs.answers = {{2, "/tmp/live.txt"}, {2, "/tmp/h.xls"}, {1, "printer"}, {1, ""}};
    Save(r.out, r.live);     // leaves type 2
    Save(r.out, r.history);  // so the history save assumes the spreadsheet
    EXPECT_EQ(r.dialogs.seen[1].DefaultExt, ".xls");
    Print(r.out, r.history);
    Save(r.out, r.live);  // type 1 was left by the print dialog answer
    EXPECT_EQ(r.dialogs.seen[3].DefaultExt, ".jpg");
}

TEST(Print, ReportsByView) {
    Rig r;
    r.dialogs.answers = {{1, "p"}, {1, "p"}};
    Print(r.out, r.live);
    Print(r.out, r.history);
    ASSERT_EQ(r.printer.jobs.size(), 2u);
    EXPECT_EQ(r.printer.jobs[0].text, LiveReport(r.reading));
    EXPECT_EQ(r.printer.jobs[0].orientation, platform::Orientation::Portrait);
    EXPECT_EQ(r.printer.jobs[0].startTwips, 500);
    EXPECT_EQ(r.printer.jobs[1].text, HistoryReport(r.table, 5));
    EXPECT_EQ(r.printer.jobs[1].orientation, platform::Orientation::Landscape);
    EXPECT_TRUE(r.user.boxes.empty());
}

TEST(Print, CancelErrorAndPrinterFailure) {
    {
        Rig r;
        r.dialogs.answers = {{1, ""}};
        Print(r.out, r.live);
        EXPECT_TRUE(r.printer.jobs.empty());
        EXPECT_TRUE(r.user.boxes.empty());
        EXPECT_EQ(r.user.beeps, 0);
    }
    {
        Rig r;
        r.dialogs.answers = {{1, "", 28663}};
        Print(r.out, r.live);
        EXPECT_TRUE(r.printer.jobs.empty());
        EXPECT_EQ(r.user.beeps, 1);
        ASSERT_EQ(r.user.boxes.size(), 1u);
        EXPECT_EQ(r.user.boxes[0],
                  (ck::testing::SeenMessages::Box{"Printing Error!",
                                                  "no printer driver\r\n文件打印出错.", 48}));
    }
    {
        Rig r;
        r.dialogs.answers = {{1, "p"}};
        r.printer.failWith = "printer offline";
        Print(r.out, r.history);
        ASSERT_EQ(r.user.boxes.size(), 1u);
        EXPECT_NE(r.user.boxes[0].text.find("printer offline"), std::string::npos);
    }
}

}  // namespace
}  // namespace ck::output
