// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/code_page.h"
#include "platform/serial_port.h"
#include "platform/virtual_clock.h"
#include "platform/windows_com.h"

namespace ck::platform {
namespace {

// Code page 936 through the system's conversion: the same bytes on every platform, and the
// same characters refused (never written as "?" or as a look-alike).
TEST(CodePage936, EncodesWhatGbkHoldsAndRefusesTheRest) {
    struct Case {
        const char* what;
        std::string utf8;
        std::optional<std::string> gbk;
    };
    const Case cases[] = {
        {"empty", "", std::string()},
        {"ASCII", "-- kV\r\n", std::string("-- kV\r\n")},
        {"a NUL byte is a character", std::string("a\0b", 3), std::string("a\0b", 3)},
        {"verdicts", "同相异相", std::string("\xCD\xAC\xCF\xE0\xD2\xEC\xCF\xE0")},
        {"headings", "A1电压", std::string("A1\xB5\xE7\xD1\xB9")},
        {"euro sign, 0x80 in both tables", "\xE2\x82\xAC", std::string("\x80")},
        {"middle dot", "\xC2\xB7", std::string("\xA1\xA4")},
        {"em dash", "\xE2\x80\x94", std::string("\xA1\xAA")},
        {"fullwidth tilde", "\xEF\xBD\x9E", std::string("\xA1\xAB")},
        {"u with diaeresis is in GBK", "\xC3\xBC", std::string("\xA8\xB9")},
        {"a with diaeresis is not: no best fit to a", "\xC3\xA4", std::nullopt},
        {"sharp s", "\xC3\x9F", std::nullopt},
        {"wave dash", "\xE3\x80\x9C", std::nullopt},
        {"Hangul", "\xED\x95\x9C", std::nullopt},
        {"outside the BMP", "\xF0\x9F\x98\x80", std::nullopt},
        {"private use, a user-defined byte pair on Windows", "\xEE\x80\x80", std::nullopt},
        {"private use U+F8F5, 0xFF on Windows", "\xEF\xA3\xB5", std::nullopt},
        {"one refused character refuses the text", "A1\xC3\xA4", std::nullopt},
        {"truncated sequence", "\xC3", std::nullopt},
        {"encoded surrogate", "\xED\xA0\x80", std::nullopt},
        {"overlong slash", "\xC0\xAF", std::nullopt},
        {"stray byte after text", "A1\xE7\x94\xB5\xFF", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Utf8ToCp936(c.utf8), c.gbk) << c.what;
    }
}

TEST(WindowsCom, DeviceNamesAndOpenFailures) {
    EXPECT_EQ(WindowsComPath(1), "\\\\.\\COM1");
    EXPECT_EQ(WindowsComPath(16), "\\\\.\\COM16");
    struct Case {
        uint32_t code;
        int error;
    };
    const Case cases[] = {
        {5, kErrPortInUse},      // access denied: Windows opens a serial port exclusively
        {32, kErrPortInUse},     // sharing violation: the holder's share mode says no
        {2, kErrNoSuchPort},     // file not found
        {3, kErrNoSuchPort},     // path not found
        {123, kErrNoSuchPort},   // invalid name
        {1167, kErrNoSuchPort},  // device not connected
        {1, kErrNoSuchPort},     // invalid function: the name takes no serial-port request
        {31, kErrOpenFailed},    // a device that is there but does not work
        {87, kErrOpenFailed},    // invalid parameter
    };
    for (const Case& c : cases) EXPECT_EQ(OpenErrorFromWindows(c.code), c.error) << c.code;
}

TEST(VirtualClock, FiresInTimeOrderAndKeepsCadence) {
    VirtualClock clock;
    std::vector<std::string> log;
    const auto stamp = [&](const char* name) {
        log.push_back(std::string(name).append(std::to_string(clock.nowMs())));
    };
    auto a = makeTimer(clock, 600, [&] { stamp("a"); });
    auto b = makeTimer(clock, 1500, [&] { stamp("b"); });
    a->setEnabled(true);
    b->setEnabled(true);
    clock.advance(1800);
    EXPECT_EQ(log, (std::vector<std::string>{"a600", "a1200", "b1500", "a1800"}));
    EXPECT_EQ(clock.nowMs(), 1800);
}

TEST(VirtualClock, ReenablingAnEnabledTimerLeavesItsCountdown) {
    VirtualClock clock;
    int fired = 0;
    auto t = makeTimer(clock, 2500, [&] { ++fired; });
    t->setEnabled(true);
    clock.advance(2000);
    t->setEnabled(true);
    clock.advance(500);
    EXPECT_EQ(fired, 1);
}

TEST(VirtualClock, DisableAndEnableRestartsAndIntervalChangeRestarts) {
    VirtualClock clock;
    std::vector<int64_t> at;
    auto t = makeTimer(clock, 1000, [&] { at.push_back(clock.nowMs()); });
    t->setEnabled(true);
    clock.advance(700);
    t->setEnabled(false);
    t->setEnabled(true);  // due at 1700
    clock.advance(1000);
    t->setInterval(300);  // due at 2000
    clock.advance(300);
    EXPECT_EQ(at, (std::vector<int64_t>{1700, 2000}));
}

TEST(VirtualClock, HandlerMayDisableOrDestroyItsTimerAndZeroIntervalNeverTicks) {
    VirtualClock clock;
    int fired = 0;
    std::unique_ptr<Timer> once;
    once = makeTimer(clock, 10, [&] {
        ++fired;
        once.reset();
    });
    once->setEnabled(true);
    auto never = makeTimer(clock, 0, [&] { ++fired; });
    never->setEnabled(true);
    clock.advance(100);
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(clock.nextDue(), -1);
}

TEST(VirtualClock, PostedWorkRunsBeforeLaterTicks) {
    VirtualClock clock;
    std::vector<std::string> log;
    auto t = makeTimer(clock, 5, [&] {
        log.push_back("tick");
        clock.post([&] { log.push_back("posted-from-tick"); });
    });
    t->setEnabled(true);
    clock.post([&] { log.push_back("posted"); });
    EXPECT_TRUE(log.empty());  // never inside the call that posts
    clock.advance(5);
    EXPECT_EQ(log, (std::vector<std::string>{"posted", "tick", "posted-from-tick"}));
}

// A port whose bytes the test hands in.
class TestPort final : public SerialPort {
public:
    explicit TestPort(VirtualClock& c) : clock(c) {}
    using SerialPort::deliver;
    int64_t nowUs() const override { return clock.nowMs() * 1000; }
    VirtualClock& clock;
    std::vector<uint8_t> written;
    std::string ops;  // what was done to the device, in order

protected:
    int doOpen(int16_t) override { return kPortOk; }
    void doClose() override { ops += "close "; }
    bool doWrite(std::span<const uint8_t> b) override {
        ops += "write ";
        written.insert(written.end(), b.begin(), b.end());
        return true;
    }
    void doDiscardQueuedOutput() override { ops += "discard "; }
    void doPollInput() override {
        ++polls;
        if (!onPoll.empty()) deliver(onPoll);
    }
    void postReceiveEvent() override {
        clock.post([this] { raiseReceiveEvent(); });
    }

public:
    int polls = 0;
    std::vector<uint8_t> onPoll;  // what the device holds when asked
};

TEST(SerialPort, ReceiveEventOnceThresholdIsMetNotPerChunk) {
    VirtualClock clock;
    TestPort port(clock);
    std::vector<std::size_t> seen;
    port.setReceiveHandler([&] { seen.push_back(port.inputWithArrivals().bytes.size()); });
    ASSERT_EQ(port.open(), kPortOk);
    port.setRThreshold(30);
    const std::vector<uint8_t> chunk(10, 0xAB);
    for (int i = 0; i < 3; ++i) {
        port.deliver(chunk);
        clock.advance(1);
    }
    EXPECT_EQ(seen, (std::vector<std::size_t>{30}));
}

TEST(SerialPort, ClosedPortDropsBytesAndPurgesCancelPendingEvents) {
    VirtualClock clock;
    TestPort port(clock);
    int events = 0;
    port.setReceiveHandler([&] { ++events; });
    port.setRThreshold(2);
    port.deliver(std::vector<uint8_t>{1, 2, 3});  // closed: lost
    EXPECT_EQ(port.inBufferCount(), 0u);
    ASSERT_EQ(port.open(), kPortOk);
    port.deliver(std::vector<uint8_t>{1, 2, 3});
    port.purgeInput();  // the event already posted must find nothing to report
    clock.advance(1);
    EXPECT_EQ(events, 0);
    port.deliver(std::vector<uint8_t>{1, 2});
    port.close();
    clock.advance(1);
    EXPECT_EQ(events, 0);
    EXPECT_FALSE(port.output(std::vector<uint8_t>{1}));
}

// Each byte keeps the time it came in, through whatever the buffer goes through.
TEST(SerialPort, ReceivedBytesKeepTheirArrivalTimes) {
    using Bytes = std::vector<uint8_t>;
    using Times = std::vector<int64_t>;
    struct Case {
        const char* what;
        std::function<void(TestPort&, VirtualClock&)> run;
        Bytes bytes;
        Times arrivedUs;
    };
    const Case cases[] = {
        {"stamped now by default, chunk by chunk",
         [](TestPort& p, VirtualClock& c) {
             c.advance(3);
             p.deliver(Bytes{1, 2});
             c.advance(4);
             p.deliver(Bytes{3});
         },
         {1, 2, 3},
         {3000, 3000, 7000}},
        {"or when the backend says",
         [](TestPort& p, VirtualClock&) {
             p.deliver(Bytes{4, 5}, 1234);
         },
         {4, 5},
         {1234, 1234}},
        {"a purge takes the times with the bytes",
         [](TestPort& p, VirtualClock& c) {
             p.deliver(Bytes{1, 2, 3});
             p.purgeInput();
             c.advance(1);
             p.deliver(Bytes{9});
         },
         {9},
         {1000}},
        {"a reopening too",
         [](TestPort& p, VirtualClock& c) {
             p.deliver(Bytes{1, 2, 3});
             p.open();
             c.advance(2);
             p.deliver(Bytes{8});
         },
         {8},
         {2000}},
        {"asked for, the device's bytes come at once",
         [](TestPort& p, VirtualClock& c) {
             c.advance(5);
             p.onPoll = {0xB1, 0x01};
             p.pollInput();
         },
         {0xB1, 0x01},
         {5000, 5000}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VirtualClock clock;
        TestPort port(clock);
        ASSERT_EQ(port.open(), kPortOk);
        c.run(port, clock);
        const SerialPort::Received got = port.inputWithArrivals();
        EXPECT_EQ(got.bytes, c.bytes);
        EXPECT_EQ(got.arrivedUs, c.arrivedUs);
        EXPECT_EQ(port.inBufferCount(), 0u);
    }
    // A closed port asks the device for nothing.
    VirtualClock clock;
    TestPort port(clock);
    port.pollInput();
    EXPECT_EQ(port.polls, 0);
}

// Nothing the device gave is dropped unseen: whatever the port gives up unread reaches the
// discard handler first, in the order it came, with its times.
TEST(SerialPort, DroppedBytesReachTheDiscardHandlerInOrder) {
    using Bytes = std::vector<uint8_t>;
    struct Case {
        const char* what;
        std::function<void(TestPort&)> run;
        Bytes dropped;
        std::vector<int64_t> droppedUs;
        std::size_t left;  // bytes still waiting to be read
    };
    const Bytes big(SerialPort::kInBufferSize - 24, 7);
    const Bytes huge(SerialPort::kInBufferSize + 1, 9);
    const Case cases[] = {
        {"a purge",
         [](TestPort& p) {
             p.deliver(Bytes{1, 2}, 5);
             p.purgeInput();
         },
         {1, 2},
         {5, 5},
         0},
        {"an opening",
         [](TestPort& p) {
             p.deliver(Bytes{3}, 6);
             p.open();
         },
         {3},
         {6},
         0},
        {"a closing",
         [](TestPort& p) {
             p.deliver(Bytes{4}, 7);
             p.close();
         },
         {4},
         {7},
         0},
        {"bytes on a closed port",
         [](TestPort& p) {
             p.close();
             p.deliver(Bytes{5, 6}, 8);
         },
         {5, 6},
         {8, 8},
         0},
        {"a full buffer gives up what it holds, not the newest",
         [&](TestPort& p) {
             p.deliver(big, 10);
             p.deliver(Bytes(30, 8), 20);
         },
         big, std::vector<int64_t>(big.size(), 10), 30},
        {"more than the buffer at once", [&](TestPort& p) { p.deliver(huge, 30); }, huge,
         std::vector<int64_t>(huge.size(), 30), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VirtualClock clock;
        TestPort port(clock);
        Bytes dropped;
        std::vector<int64_t> droppedUs;
        port.setDiscardHandler([&](SerialPort::Received r) {
            dropped.insert(dropped.end(), r.bytes.begin(), r.bytes.end());
            droppedUs.insert(droppedUs.end(), r.arrivedUs.begin(), r.arrivedUs.end());
        });
        ASSERT_EQ(port.open(), kPortOk);
        c.run(port);
        EXPECT_EQ(dropped, c.dropped);
        EXPECT_EQ(droppedUs, c.droppedUs);
        EXPECT_EQ(port.inBufferCount(), c.left);
    }
}

// A write never waits for the line: output earlier writes left queued is discarded before the
// next write and before closing, and the frame just written is left alone.
TEST(SerialPort, QueuedOutputIsDiscardedBeforeEachWriteAndOnClosing) {
    VirtualClock clock;
    TestPort port(clock);
    ASSERT_EQ(port.open(), kPortOk);
    EXPECT_TRUE(port.output(std::vector<uint8_t>{1, 2, 3}));
    EXPECT_TRUE(port.output(std::vector<uint8_t>{4}));
    port.close();
    EXPECT_FALSE(port.output(std::vector<uint8_t>{5}));  // closed: refused, nothing done
    EXPECT_EQ(port.ops, "discard write discard write discard close ");
    EXPECT_EQ(port.written, (std::vector<uint8_t>{1, 2, 3, 4}));
}

}  // namespace
}  // namespace ck::platform

namespace ck::platform {
namespace {

TEST(SerialPort, HandlerThatLeavesBytesWaitingIsNotCalledAgainUntilMoreArrive) {
    VirtualClock clock;
    TestPort port(clock);
    int events = 0;
    port.setReceiveHandler([&] { ++events; });  // reads nothing
    ASSERT_EQ(port.open(), kPortOk);
    port.setRThreshold(2);
    port.deliver(std::vector<uint8_t>{1, 2});
    clock.advance(10);
    EXPECT_EQ(events, 1);
    port.deliver(std::vector<uint8_t>{3});
    clock.advance(10);
    EXPECT_EQ(events, 2);
}

}  // namespace
}  // namespace ck::platform

namespace ck::platform {
namespace {

// A backend that logs what is done to the device itself: "open3", "resume3", "close".
class DevicePort final : public SerialPort {
public:
    explicit DevicePort(VirtualClock& c) : clock_(c) {}
    using SerialPort::deliver;
    int64_t nowUs() const override { return clock_.nowMs() * 1000; }
    std::string log;
    bool resumable = true;     // the kept device can be taken up again
    int openResult = kPortOk;  // what opening the device anew gives

protected:
    int doOpen(int16_t n) override {
        note("open" + std::to_string(n) + (openResult == kPortOk ? "" : "!"));
        return openResult;
    }
    void doClose() override { note("close"); }
    bool doResume(int16_t n) override {
        note("resume" + std::to_string(n));
        return resumable;
    }
    bool doWrite(std::span<const uint8_t>) override { return true; }
    void postReceiveEvent() override {
        clock_.post([this] { raiseReceiveEvent(); });
    }

private:
    void note(const std::string& what) { log += (log.empty() ? "" : " ") + what; }
    VirtualClock& clock_;
};

struct HoldCase {
    const char* name;
    const char* steps;   // "open N", "close", "hold", "release", "stuck", "busy", "free"
    const char* device;  // what was done to the device, in order
    bool openAtEnd;
};

TEST(SerialPortHold, KeepsTheDeviceOnlyBetweenExchangesOfTheSamePort) {
    const HoldCase cases[] = {
        {"without hold every close lets the device go", "open 3; close; open 3; close",
         "open3 close open3 close", false},
        {"under hold the same port is taken up again", "hold; open 3; close; open 3; close; open 3",
         "open3 resume3 resume3", true},
        {"reopening an open port under hold", "hold; open 3; open 3", "open3 resume3", true},
        {"hold ending on a closed port lets the device go", "hold; open 3; close; release",
         "open3 close", false},
        {"hold ending on an open port lets it go at its close", "hold; open 3; release; close",
         "open3 close", false},
        {"no hold once it has ended", "hold; open 3; release; close; open 3; close",
         "open3 close open3 close", false},
        {"another port: the kept device goes first", "hold; open 3; close; open 4",
         "open3 close open4", true},
        {"a device that cannot be taken up is opened anew", "hold; open 3; close; stuck; open 3",
         "open3 resume3 close open3", true},
        {"opened anew and found in use: nothing is kept",
         "hold; open 3; close; stuck; busy; open 3; release; close", "open3 resume3 close open3!",
         false},
        {"closing a closed port lets a kept device go", "hold; open 3; close; close", "open3 close",
         false},
        {"hold set while closed changes nothing", "hold; release; open 3; close", "open3 close",
         false},
    };
    for (const HoldCase& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualClock clock;
        DevicePort port(clock);
        std::istringstream steps(c.steps);
        for (std::string step; std::getline(steps >> std::ws, step, ';');) {
            if (step.rfind("open ", 0) == 0) {
                port.setCommPort(static_cast<int16_t>(std::stoi(step.substr(5))));
                port.open();
            } else if (step == "close") {
                port.close();
            } else if (step == "hold") {
                port.setHold(true);
            } else if (step == "release") {
                port.setHold(false);
            } else if (step == "stuck") {
                port.resumable = false;
            } else if (step == "busy") {
                port.openResult = kErrPortInUse;
            } else {
                FAIL() << "unknown step " << step;
            }
        }
        EXPECT_EQ(port.log, c.device);
        EXPECT_EQ(port.isOpen(), c.openAtEnd);
    }
}

TEST(SerialPortHold, KeptDeviceStillLosesWhatArrivesWhileClosed) {
    VirtualClock clock;
    DevicePort port(clock);
    int events = 0;
    port.setReceiveHandler([&] { ++events; });
    port.setCommPort(3);
    port.setHold(true);
    ASSERT_EQ(port.open(), kPortOk);
    port.setRThreshold(3);
    port.deliver(std::vector<uint8_t>{1, 2, 3});  // the event is posted ...
    port.close();                                 // ... and the port closed before it runs
    port.deliver(std::vector<uint8_t>{4, 5, 6});  // the device still delivers: dropped
    EXPECT_EQ(port.inBufferCount(), 0u);
    EXPECT_FALSE(port.output(std::vector<uint8_t>{0xA1}));
    ASSERT_EQ(port.open(), kPortOk);
    clock.advance(1);
    EXPECT_EQ(events, 0);
    EXPECT_EQ(port.inBufferCount(), 0u);
    port.deliver(std::vector<uint8_t>{7, 8, 9});
    clock.advance(1);
    EXPECT_EQ(events, 1);
    EXPECT_EQ(port.inputWithArrivals().bytes, (std::vector<uint8_t>{7, 8, 9}));
    EXPECT_EQ(port.log, "open3 resume3");
}

}  // namespace
}  // namespace ck::platform
