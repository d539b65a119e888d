// SPDX-License-Identifier: MIT
// The session log without a window: its line format, the day's file and its header, files left
// unfinished by an earlier run, midnight, failures, and the append-only file on a real disk
// filling up.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "output/session_log.h"
#include "platform/append_file.h"

namespace ck::output {
namespace {

using measure::Input;
using measure::MeasurementGroup;
using measure::Pair;
using platform::LocalTime;

constexpr std::string_view kHeaderLine =
    "\xEF\xBB\xBF时间,端口,A1电压kV,A2电压kV,B1电压kV,B2电压kV,C1电压kV,C2电压kV,"
    "A1A2相位,B1B2相位,C1C2相位,A1B2相位,B1C2相位,C1A2相位,"
    "A1A2定性相位,B1B2定性相位,C1C2定性相位,A1B2定性相序,B1C2定性相序,C1A2定性相序\r\n";

MeasurementGroup reading(std::array<int16_t, 6> angles, std::array<uint8_t, 6> kvByInput) {
    MeasurementGroup g;
    g.pairAngles = angles;
    g.voltages = kvByInput;
    for (std::size_t i = 0; i < 6; ++i) g.indicators[i] = kvByInput[i] != 0;
    return g;
}

LocalTime at(int y, int mo, int d, int h, int mi, int s, int offset = 480) {
    return {y, mo, d, h, mi, s, offset};
}

std::string slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::filesystem::path tempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "cklog-XXXXXX").string();
    if (!mkdtemp(pattern.data())) return {};
    return pattern;
}

struct TempDir {
    std::filesystem::path path = tempDir();
    ~TempDir() {
        std::error_code ec;
        std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path, ec);
    }
};

// A small file system of its own on a fresh folder, while the test runs (root only). Declared
// before any file on it, so that everything on it is closed when it goes.
struct SmallDisk {
    TempDir dir;
    bool mounted = false;
    SmallDisk(unsigned long flags, const char* options)
        : mounted(mount("tmpfs", dir.path.c_str(), "tmpfs", flags, options) == 0) {}
    ~SmallDisk() {
        if (mounted) {
            EXPECT_EQ(umount(dir.path.c_str()), 0) << "still in use";
        }
    }
};

TEST(LocalTimeAt, CalendarAndOffset) {
    struct Case {
        int64_t unixMs;
        int offset;
        LocalTime want;
    };
    const Case cases[] = {
        {0, 0, at(1970, 1, 1, 0, 0, 0, 0)},
        {-1, 0, at(1969, 12, 31, 23, 59, 59, 0)},        // before 1970: the second it falls in
        {1796605507000, 480, at(2026, 12, 7, 9, 5, 7)},  // 2026-12-07T01:05:07Z in China
        {1796605507999, 480, at(2026, 12, 7, 9, 5, 7)},  // milliseconds dropped, not rounded
        {1709258400000, -300, at(2024, 2, 29, 21, 0, 0, -300)},  // back over a leap day
        {1798761600000, 480, at(2027, 1, 1, 8, 0, 0)},           // new year in UTC
        {1798761599000, 480, at(2027, 1, 1, 7, 59, 59)},
        {1798732799000, 480, at(2026, 12, 31, 23, 59, 59)},  // local midnight minus a second
        {1798732800000, 480, at(2027, 1, 1, 0, 0, 0)},
        {1700000000000, 345, at(2023, 11, 15, 3, 58, 20, 345)},  // Nepal, +05:45
    };
    for (const Case& c : cases) {
        EXPECT_EQ(platform::LocalTimeAt(c.unixMs, c.offset), c.want) << c.unixMs << " " << c.offset;
    }
}

TEST(LogText, TimeAndFileName) {
    struct Case {
        LocalTime t;
        const char* time;
        const char* file;
    };
    const Case cases[] = {
        {at(2026, 12, 7, 9, 5, 7), "2026-12-07T09:05:07+08:00", "checkkorvelt-20261207.csv"},
        {at(2024, 2, 29, 21, 0, 0, -300), "2024-02-29T21:00:00-05:00", "checkkorvelt-20240229.csv"},
        {at(2023, 1, 2, 0, 0, 59, 0), "2023-01-02T00:00:59+00:00", "checkkorvelt-20230102.csv"},
        {at(2023, 11, 15, 4, 38, 20, 345), "2023-11-15T04:38:20+05:45",
         "checkkorvelt-20231115.csv"},
        {at(2023, 6, 1, 23, 59, 0, -30), "2023-06-01T23:59:00-00:30", "checkkorvelt-20230601.csv"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatLogTime(c.t), c.time);
        EXPECT_EQ(LogFileName(c.t), c.file);
    }
}

TEST(LogText, LinesCarryTheReadingAsThePanelShowsIt) {
    using enum Input;
    struct Case {
        int port;
        MeasurementGroup g;
        const char* line;
    };
    // Voltages by input A1 B1 C1 A2 B2 C2; columns go A1 A2 B1 B2 C1 C2.
    const Case cases[] = {
        {3, reading({2, 358, 1, 122, 118, 120}, {10, 11, 12, 13, 14, 15}),
         "2026-12-07T09:05:07+08:00,COM3,10,13,11,14,12,15,2,358,1,122,118,120,"
         "同相,同相,同相,顺相序,顺相序,顺相序\r\n"},
        // Crossed: the sequences disagree, two phases out of phase.
        {16, reading({0, 120, 240, 240, 0, 120}, {35, 35, 35, 36, 36, 36}),
         "2026-12-07T09:05:07+08:00,COM16,35,36,35,36,35,36,0,120,240,240,0,120,"
         "同相,异相,异相,逆相序,------,顺相序\r\n"},
        // A dead input: no voltage, no angle for its pairs: empty fields, no verdict.
        {1, reading({1, 359, 360, 121, 360, 120}, {10, 10, 10, 10, 10, 0}),
         "2026-12-07T09:05:07+08:00,COM1,10,10,10,10,10,,1,359,,121,,120,"
         "同相,同相,------,顺相序,------,顺相序\r\n"},
        // Nothing at all, and angles beyond a turn: shown as numbers without a verdict.
        {2, reading({360, 360, 360, 360, 360, 360}, {0, 0, 0, 0, 0, 0}),
         "2026-12-07T09:05:07+08:00,COM2,,,,,,,,,,,,,------,------,------,------,------,------"
         "\r\n"},
        {2, reading({1000, 32767, 20, 99, 140, 259}, {255, 1, 0, 0, 1, 255}),
         "2026-12-07T09:05:07+08:00,COM2,255,,1,1,,255,1000,32767,20,99,140,259,"
         "------,------,------,------,------,逆相序\r\n"},
    };
    for (const Case& c : cases) {
        const std::string line =
            LogLine(measure::LiveReading(c.g, at(2026, 12, 7, 9, 5, 7), c.port));
        EXPECT_EQ(line, c.line);
        // As many fields as the header has heads.
        const std::string& head = LogHeader();
        EXPECT_EQ(std::count(line.begin(), line.end(), ','),
                  std::count(head.begin(), head.end(), ','));
    }
}

// A disk in memory whose files and failures the test controls.
class MemoryFiles final : public platform::AppendFileSystem {
public:
    std::string dir = "/data/Trandel";
    std::map<std::string, std::string> files;
    std::string openError;     // when set, opening fails with it
    int failAppendAfter = -1;  // appends that succeed before one fails (-1: never)
    std::vector<std::string> opened;

    std::string dataDir() const override { return dir; }
    platform::OpenedAppendFile openForAppend(const std::string& path) override {
        opened.push_back(path);
        platform::OpenedAppendFile out;
        if (!openError.empty()) {
            out.error = openError;
            return out;
        }
        std::string& content = files[path];
        out.size = content.size();
        out.tail = content.substr(content.size() - std::min<std::size_t>(2, content.size()));
        out.file = std::make_unique<File>(*this, content);
        return out;
    }

private:
    class File final : public platform::AppendFile {
    public:
        File(MemoryFiles& fs, std::string& content) : fs_(fs), content_(content) {}
        std::string append(std::string_view bytes) override {
            if (fs_.failAppendAfter == 0) return "No space left on device";
            if (fs_.failAppendAfter > 0) --fs_.failAppendAfter;
            content_ += bytes;
            return {};
        }

    private:
        MemoryFiles& fs_;
        std::string& content_;
    };
};

// When the next reading is taken.
struct SetClock {
    LocalTime t = at(2026, 12, 7, 9, 5, 7);
};

const MeasurementGroup kInPhase = reading({2, 358, 1, 122, 118, 120}, {10, 10, 10, 11, 11, 11});
// The in-phase reading as taken on COM3 at the clock's time.
measure::LiveReading taken(const SetClock& clock) { return {kInPhase, clock.t, 3}; }
const char* const kInPhaseFields =
    ",COM3,10,11,10,11,10,11,2,358,1,122,118,120,"
    "同相,同相,同相,顺相序,顺相序,顺相序\r\n";

TEST(SessionLog, WhatGoesInFrontOfTheFirstLine) {
    const std::string path = "/data/Trandel/log/checkkorvelt-20261207.csv";
    const std::string line = std::string("2026-12-07T09:05:07+08:00") + kInPhaseFields;
    struct Case {
        const char* name;
        std::optional<std::string> before;  // the file as an earlier run left it
        std::string want;
    };
    const Case cases[] = {
        {"no file", std::nullopt, std::string(kHeaderLine) + line},
        {"empty file", "", std::string(kHeaderLine) + line},
        {"whole lines", std::string(kHeaderLine) + "x\r\n",
         std::string(kHeaderLine) + "x\r\n" + line},
        // A crash in the middle of a line: the next run never writes onto its end.
        {"half a line", std::string(kHeaderLine) + "2026-12-07T09:0",
         std::string(kHeaderLine) + "2026-12-07T09:0\r\n" + line},
        {"cut between CR and LF", std::string(kHeaderLine) + "x\r",
         std::string(kHeaderLine) + "x\r\n" + line},
        {"a bare LF", std::string(kHeaderLine) + "x\n",
         std::string(kHeaderLine) + "x\n\r\n" + line},
        {"one byte", "x", "x\r\n" + line},
    };
    for (const Case& c : cases) {
        MemoryFiles fs;
        SetClock clock;
        if (c.before) fs.files[path] = *c.before;
        SessionLog log(fs);
        EXPECT_FALSE(log.append(taken(clock))) << c.name;
        EXPECT_EQ(fs.files[path], c.want) << c.name;
        // Only the first line of the run gets anything in front of it.
        EXPECT_FALSE(log.append(taken(clock))) << c.name;
        EXPECT_EQ(fs.files[path], c.want + line) << c.name;
        EXPECT_EQ(fs.opened.size(), 1u) << c.name;
    }
}

TEST(SessionLog, EachLocalDayHasItsOwnFileFromMidnight) {
    MemoryFiles fs;
    SetClock clock;
    SessionLog log(fs);
    clock.t = at(2026, 12, 31, 23, 59, 59);
    ASSERT_FALSE(log.append(taken(clock)));
    clock.t = at(2027, 1, 1, 0, 0, 0);
    ASSERT_FALSE(log.append(taken(clock)));
    clock.t = at(2027, 1, 1, 0, 0, 1);
    ASSERT_FALSE(log.append(taken(clock)));
    const std::string old = "/data/Trandel/log/checkkorvelt-20261231.csv";
    const std::string now = "/data/Trandel/log/checkkorvelt-20270101.csv";
    EXPECT_EQ(fs.opened, (std::vector<std::string>{old, now}));
    EXPECT_EQ(fs.files[old],
              std::string(kHeaderLine) + "2026-12-31T23:59:59+08:00" + kInPhaseFields);
    EXPECT_EQ(fs.files[now], std::string(kHeaderLine) + "2027-01-01T00:00:00+08:00" +
                                 kInPhaseFields + "2027-01-01T00:00:01+08:00" + kInPhaseFields);
    EXPECT_EQ(log.path(), now);
}

TEST(SessionLog, FailuresNameTheFileAndTheNextAppendStartsAfresh) {
    MemoryFiles fs;
    SetClock clock;
    SessionLog log(fs);
    const std::string path = "/data/Trandel/log/checkkorvelt-20261207.csv";

    fs.openError = "Permission denied";
    auto failure = log.append(taken(clock));
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->path, path);
    EXPECT_EQ(failure->reason, "Permission denied");
    EXPECT_EQ(log.path(), "");

    fs.openError.clear();
    fs.failAppendAfter = 1;
    EXPECT_FALSE(log.append(taken(clock)));
    failure = log.append(taken(clock));
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->path, path);
    EXPECT_EQ(failure->reason, "No space left on device");
    EXPECT_EQ(log.path(), "");  // closed
    // Nothing of the failed line; the earlier one is whole.
    const std::string one = std::string(kHeaderLine) + "2026-12-07T09:05:07+08:00" + kInPhaseFields;
    EXPECT_EQ(fs.files[path], one);

    fs.failAppendAfter = -1;
    EXPECT_FALSE(log.append(taken(clock)));
    EXPECT_EQ(fs.opened.size(), 3u);  // opened again, and found to need no header
    EXPECT_EQ(fs.files[path], one + "2026-12-07T09:05:07+08:00" + kInPhaseFields);
}

TEST(SessionLog, PathUsesTheDataFoldersOwnSeparator) {
    struct Case {
        const char* dir;
        const char* want;
    };
    const Case cases[] = {
        {"/home/u/Trandel", "/home/u/Trandel/log/checkkorvelt-20261207.csv"},
        {"/home/u/Trandel/", "/home/u/Trandel/log/checkkorvelt-20261207.csv"},
        {"c:\\Trandel", "c:\\Trandel\\log\\checkkorvelt-20261207.csv"},
        {"c:/Trandel", "c:/Trandel/log/checkkorvelt-20261207.csv"},
    };
    for (const Case& c : cases) {
        MemoryFiles fs;
        fs.dir = c.dir;
        SetClock clock;
        EXPECT_EQ(SessionLog(fs).pathFor(clock.t), c.want);
    }
}

// The append-only file on the machine's own disk.

TEST(AppendFile, CreatesFoldersAndReportsWhatIsThere) {
    TempDir tmp;
    const std::string path = (tmp.path / "Trandel/log/a.csv").string();
    {
        auto o = platform::OpenAppendFile(path);
        ASSERT_TRUE(o.file) << o.error;
        EXPECT_EQ(o.size, 0u);
        EXPECT_EQ(o.tail, "");
        EXPECT_EQ(o.file->append("one\r\n"), "");
        EXPECT_EQ(o.file->append("two"), "");
    }
    auto o = platform::OpenAppendFile(path);
    ASSERT_TRUE(o.file);
    EXPECT_EQ(o.size, 8u);
    EXPECT_EQ(o.tail, "wo");
    EXPECT_EQ(o.file->append("!"), "");
    EXPECT_EQ(slurp(path), "one\r\ntwo!");
}

TEST(AppendFile, AFolderThatCannotBeMadeIsAFailureWithAReason) {
    TempDir tmp;
    std::ofstream(tmp.path / "log") << "a file where the folder should be";
    const auto o = platform::OpenAppendFile((tmp.path / "log/a.csv").string());
    EXPECT_FALSE(o.file);
    EXPECT_NE(o.error.find("log"), std::string::npos) << o.error;
}

TEST(AppendFile, ReadOnlyFolderIsAFailureWithAReason) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "root writes into read-only folders; the unprivileged run checks this";
    }
    TempDir tmp;
    std::filesystem::create_directories(tmp.path / "log");
    std::filesystem::permissions(
        tmp.path / "log", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    const auto o = platform::OpenAppendFile((tmp.path / "log/a.csv").string());
    EXPECT_FALSE(o.file);
    EXPECT_NE(o.error.find("denied"), std::string::npos) << o.error;
}

// Lines appended until the disk refuses: what is in the file afterwards is exactly the lines
// that were reported written, each whole.
void fillUntilRefused(platform::AppendFile& file, const std::string& path, std::size_t startSize,
                      const std::string& want) {
    const std::string before = slurp(path);
    ASSERT_EQ(before.size(), startSize);
    std::string written = before;
    std::string why;
    for (int i = 0; i < 10000 && why.empty(); ++i) {
        const std::string line = "line " + std::to_string(i) + ",which is long enough,x\r\n";
        why = file.append(line);
        if (why.empty()) written += line;
    }
    EXPECT_NE(why.find(want), std::string::npos) << why;
    EXPECT_EQ(slurp(path), written);
    EXPECT_TRUE(written.ends_with("\r\n"));
}

TEST(AppendFile, AFileSizeLimitCutsNoLineInHalf) {
    // The kernel cuts a write at the limit and refuses the rest, as a filling disk cuts it at
    // its last free block: a record split by the disk, wherever the split falls.
    TempDir tmp;
    const std::string path = (tmp.path / "a.csv").string();
    auto o = platform::OpenAppendFile(path);
    ASSERT_TRUE(o.file);
    ASSERT_EQ(o.file->append("head\r\n"), "");
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    const auto oldSignal = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 1000;  // not a multiple of the line length
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    fillUntilRefused(*o.file, path, 6, "too large");
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldSignal);
    EXPECT_LT(slurp(path).size(), 1000u);
}

TEST(AppendFile, AFullDiskCutsNoLineInHalf) {
    SmallDisk disk(0, "size=8k");
    if (!disk.mounted) GTEST_SKIP() << "cannot mount a small file system here (needs root)";
    const std::string path = (disk.dir.path / "log/a.csv").string();
    {
        auto o = platform::OpenAppendFile(path);
        ASSERT_TRUE(o.file) << o.error;
        ASSERT_EQ(o.file->append("head\r\n"), "");
        fillUntilRefused(*o.file, path, 6, "No space");
    }
    // Another run finds the whole lines and can go on once there is room again.
    const std::string kept = slurp(path);
    auto again = platform::OpenAppendFile(path);
    ASSERT_TRUE(again.file);
    EXPECT_EQ(again.size, kept.size());
    EXPECT_EQ(again.tail, "\r\n");
}

TEST(AppendFile, AReadOnlyDiskIsAFailureWithAReason) {
    SmallDisk disk(MS_RDONLY, "size=8k");
    if (!disk.mounted) GTEST_SKIP() << "cannot mount a small file system here (needs root)";
    const auto o = platform::OpenAppendFile((disk.dir.path / "log/a.csv").string());
    EXPECT_FALSE(o.file);
    EXPECT_NE(o.error.find("Read-only"), std::string::npos) << o.error;
}

}  // namespace
}  // namespace ck::output
