// SPDX-License-Identifier: MIT
// The Windows serial port against drivers that behave like real ones, the link on top as in
// the program: discovery, polling, a download, polling again, the close command. The same
// test runs on Linux and, built for Windows, under Wine.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <ostream>
#include <string>

#include "fake_win_driver.h"
#include "link/link.h"
#include "link_fakes.h"
#include "platform/win_serial.h"
#include "sim/instrument.h"

namespace ck::testing {
namespace {

using platform::win::WinSerial;

constexpr int16_t kCom = 3;
constexpr std::size_t kGroups = 30;  // ten blocks
// Clear of the last poll's close, which a driver may still be settling from (see the README).
constexpr int64_t kDownloadFromMs = 4300;
// Calls into the driver in any second of virtual time: a download makes some 200; a loop that
// spins on a signalled event or on reads that end at once makes thousands.
constexpr int kCallBudget = 600;
constexpr int kWakeUpBudget = 150;

struct Case {
    const char* name;
    DriverBehaviour driver;
    bool wholeDownload;    // every row of the history downloaded and true
    std::string lastCom;   // the port status at the end
    std::string lastLink;  // the link status at the end
    bool destroyWhileCancelling = false;
    // The read clicked the moment a poll's reply has closed the port.
    bool readRightAfterPoll = false;
    bool inUseShown = false;  // "COM3被占用" shown at some point
};

const Case kCases[] = {
    {"a driver that keeps the contract", {}, true, "COM3已打开", "通讯成功"},
    {"reads that end at once, empty, their event set",
     {.emptyReadsAtOnce = true},
     true,
     "COM3已打开",
     "通讯成功"},
    {"reads that wait for their whole count, as Wine's",
     {.readsWaitForCount = true},
     true,
     "COM3已打开",
     "通讯成功"},
    {"a read aborted now and then, unasked",
     {.spuriousAbortEvery = 3},
     true,
     "COM3已打开",
     "通讯成功"},
    {"a cancellation that takes 2 s", {.cancelTakesMs = 2000}, true, "COM3已打开", "通讯成功"},
    {"the port object gone while a cancellation takes 2 s",
     {.cancelTakesMs = 2000},
     true,
     "COM3已打开",
     "通讯成功",
     true},
    {"removed mid-download: ERROR_BAD_COMMAND",
     {.removeAtMs = kDownloadFromMs + 500, .removedError = win::kErrorBadCommand},
     false,
     "COM3无效",
     "通讯失败"},
    {"removed mid-download: ERROR_ACCESS_DENIED",
     {.removeAtMs = kDownloadFromMs + 500, .removedError = win::kErrorAccessDenied},
     false,
     "COM3无效",
     "通讯失败"},
    {"removed mid-download: ERROR_GEN_FAILURE",
     {.removeAtMs = kDownloadFromMs + 500, .removedError = win::kErrorGenFailure},
     false,
     "COM3无效",
     "通讯失败"},
    {"an output queue that never empties from mid-download",
     {.outputStallsAtMs = kDownloadFromMs + 300},
     false,
     "COM3已打开",
     "通讯失败"},
    {"XonChar equal to XoffChar from GetCommState",
     {.xonEqualsXoff = true},
     true,
     "COM3已打开",
     "通讯成功"},
    {"CreateFile refused for 100 ms after a close",
     {.deniedAfterCloseMs = 100},
     true,
     "COM3已打开",
     "通讯成功"},
    {"read right after a poll, CreateFile refused for 100 ms after a close",
     {.deniedAfterCloseMs = 100},
     true,
     "COM3已打开",
     "通讯成功",
     false,
     true},
    {"read right after a poll, CreateFile refused for 1 s after a close",
     {.deniedAfterCloseMs = 1000},
     false,
     "COM3已打开",
     "通讯成功",
     false,
     true,
     true},
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class WindowsDriver : public ::testing::TestWithParam<Case> {};

TEST_P(WindowsDriver, KeepsTheContractAndTheLinkShowsWhatHappened) {
    const Case& c = GetParam();
    platform::VirtualClock clock;
    sim::Instrument instrument;
    instrument.setStoredGroups(sim::MakeStoredHistory(kGroups, 5));
    instrument.setLinePacing(true);
    FakeWinDriver driver(clock, instrument, kCom, c.driver);
    auto port = std::make_unique<WinSerial>(driver, clock, driver,
                                            [&clock] { return clock.nowMs() * 1000; });
    RecordingWindow ui;
    auto link = std::make_unique<link::Link>(*port, clock, ui);

    link->start();
    driver.run(kDownloadFromMs);
    ASSERT_TRUE(link->state().linkok);
    ASSERT_GE(ui.comStatus.size(), 3u);
    EXPECT_EQ(ui.comStatus[0], "COM1无效");
    EXPECT_EQ(ui.comStatus[1], "COM2无效");
    EXPECT_EQ(ui.comStatus[2], "COM3已打开");
    EXPECT_GE(ui.shown.size(), 1u);

    link->setView(link::View::History);
    if (c.readRightAfterPoll) {
        driver.run(2000, [&] { return port->isOpen(); });
        driver.run(2000, [&] { return !port->isOpen(); });
        ASSERT_FALSE(port->isOpen());
    }
    link->requestDownload();
    // While the download holds the port, DTR and RTS stay asserted on it.
    driver.run(200);
    if (c.driver.removeAtMs < 0 && !c.inUseShown) {
        EXPECT_TRUE(driver.dtrAndRtsAsserted());
    }
    driver.run(30000, [&] { return !link->downloading(); });
    EXPECT_FALSE(link->downloading());
    link->setView(link::View::Live);
    driver.run(4000);

    // Every row shown is the instrument's own; a whole download shows every one.
    const auto& truth = instrument.storedGroups();
    for (const auto& [row, group] : ui.rows) {
        ASSERT_LE(static_cast<std::size_t>(row), truth.size());
        EXPECT_EQ(group, truth[static_cast<std::size_t>(row - 1)]) << "row " << row;
    }
    if (c.wholeDownload) {
        EXPECT_EQ(ui.rows.size(), kGroups);
    }
    EXPECT_EQ(ui.comStatus.back(), c.lastCom);
    EXPECT_EQ(ui.linkStatus.back(), c.lastLink);
    EXPECT_EQ(std::count(ui.comStatus.begin(), ui.comStatus.end(), "COM3被占用") > 0, c.inUseShown);

    link->stop();
    if (c.destroyWhileCancelling) {
        link.reset();
        port.reset();  // the driver still owns a cancelled read
    }
    driver.run(3000);
    link.reset();
    port.reset();
    driver.run(10);

    for (const auto& v : driver.violations()) ADD_FAILURE() << v;
    EXPECT_LE(driver.busiestSecondCalls(), kCallBudget);
    EXPECT_LE(driver.busiestSecondWakeUps(), kWakeUpBudget);
    EXPECT_LE(driver.mostOwned(), WinSerial::kMaxOperations);
    // Only a port object that goes while the driver still owns a cancelled read leaves it to
    // the system, with the events the driver will signal: any other handle is closed once
    // what was under way on it has ended.
    EXPECT_EQ(driver.closedWithPending(), c.destroyWhileCancelling);
    EXPECT_EQ(driver.openHandles(), c.destroyWhileCancelling ? driver.openEvents() : 0u);
}

INSTANTIATE_TEST_SUITE_P(Behaviours, WindowsDriver, ::testing::ValuesIn(kCases),
                         [](const auto& param) {
                             std::string name;
                             for (const char ch : std::string(param.param.name)) {
                                 name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                             }
                             return name;
                         });

}  // namespace
}  // namespace ck::testing
