#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/serial_port.h"
#include "platform/virtual_clock.h"

namespace ck::platform {
namespace {

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
    VirtualClock& clock;
    std::vector<uint8_t> written;
    int drains = 0;

protected:
    int doOpen(int16_t) override { return kPortOk; }
    void doClose() override {}
    bool doWrite(std::span<const uint8_t> b) override {
        written.insert(written.end(), b.begin(), b.end());
        return true;
    }
    void doDrainOutput() override { ++drains; }
    void postReceiveEvent() override { clock.post([this] { raiseReceiveEvent(); }); }
};

TEST(SerialPort, ReceiveEventOnceThresholdIsMetNotPerChunk) {
    VirtualClock clock;
    TestPort port(clock);
    std::vector<std::size_t> seen;
    port.setReceiveHandler([&] { seen.push_back(port.input().size()); });
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

TEST(SerialPort, InputBufferIsBoundedAndOutputPurgeDrains) {
    VirtualClock clock;
    TestPort port(clock);
    ASSERT_EQ(port.open(), kPortOk);
    port.deliver(std::vector<uint8_t>(SerialPort::kInBufferSize + 500, 7));
    EXPECT_EQ(port.inBufferCount(), SerialPort::kInBufferSize);
    EXPECT_TRUE(port.output(std::vector<uint8_t>{1, 2, 3}));
    port.purgeOutput();
    EXPECT_EQ(port.drains, 1);
    EXPECT_EQ(port.written.size(), 3u);
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
