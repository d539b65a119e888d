// SPDX-License-Identifier: MIT
// The simulated instrument on a real pseudo-terminal: replies whole and in order, never faster
// than a 9600-baud line, and the COMn link that points the application at it.

#include <gtest/gtest.h>

#include "temp_config_home.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/instrument.h"
#include "sim/live_sequences.h"
#include "sim/pty_server.h"

namespace {

using namespace ck::sim;
namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// ---------------------------------------------------------------------------------------------
// The queue on made-up times

TEST(LineQueue, HoldsChunksUntilDueAndNeverOutrunsTheLine) {
    const int64_t t4 = LineTimeUs(4);  // 4167 us
    struct Step {
        int64_t writeAt;     // when the caller gets round to the front chunk
        int64_t expectNext;  // what nextWriteUs() says before it
        Bytes bytes;
    };
    struct Case {
        const char* name;
        std::vector<std::pair<int64_t, Bytes>> added;
        std::vector<Step> steps;
    };
    const std::vector<Case> cases = {
        {"on time: due times rule",
         {{10'000, {1, 2, 3, 4}}, {15'000, {5, 6, 7, 8}}},
         {{10'000, 10'000, {1, 2, 3, 4}}, {15'000, 15'000, {5, 6, 7, 8}}}},
        {"late caller: lateness does not pile up, the line's own timetable holds",
         {{10'000, {1, 2, 3, 4}}, {12'000, {5, 6, 7, 8}}},
         {{30'000, 10'000, {1, 2, 3, 4}}, {30'000, 10'000 + t4, {5, 6, 7, 8}}}},
        {"early chunk: still waits for the line after the one before",
         {{10'000, {1, 2, 3, 4}}, {11'000, {5, 6, 7, 8}}},
         {{10'000, 10'000, {1, 2, 3, 4}}, {10'000 + t4, 10'000 + t4, {5, 6, 7, 8}}}},
        {"added out of order: by due time, ties in order of adding",
         {{20'000, {3}}, {10'000, {1}}, {20'000, {4}}, {15'000, {2}}},
         {{10'000, 10'000, {1}},
          {15'000, 15'000, {2}},
          {20'000, 20'000, {3}},
          {20'000 + LineTimeUs(1), 20'000 + LineTimeUs(1), {4}}}},
        {"empty chunks are not queued", {{5'000, {}}, {6'000, {9}}}, {{6'000, 6'000, {9}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LineQueue q;
        for (const auto& [due, bytes] : c.added) q.add(due, bytes);
        for (const Step& s : c.steps) {
            ASSERT_EQ(q.nextWriteUs(), s.expectNext);
            EXPECT_EQ(q.take(s.writeAt), s.bytes);
        }
        EXPECT_TRUE(q.empty());
        EXPECT_EQ(q.nextWriteUs(), std::nullopt);
    }
}

TEST(LineQueue, LineTimeIsTenBitsAByteAt9600Baud) {
    EXPECT_EQ(LineTimeUs(0), 0);
    EXPECT_EQ(LineTimeUs(1), 1042);  // 1041.67, rounded up
    EXPECT_EQ(LineTimeUs(96), 100'000);
    EXPECT_EQ(LineTimeUs(246), 256'250);
}

// ---------------------------------------------------------------------------------------------
// The server on a pseudo-terminal, driven from this thread

Bytes Frame(Bytes b) {  // request with its XOR checksum, built by hand
    uint8_t x = 0;
    for (std::size_t i = 1; i < b.size(); ++i) x = static_cast<uint8_t>(x ^ b[i]);
    b.push_back(x);
    return b;
}

struct Write {
    int64_t atUs;
    Bytes bytes;
};

// Time this thread has spent ready to run but waiting for a processor, in microseconds: the
// second field of /proc/thread-self/schedstat. 0 where the kernel does not keep it.
int64_t RunQueueWaitUs() {
    std::ifstream f("/proc/thread-self/schedstat");
    int64_t runningNs = 0, waitingNs = 0;
    if (!(f >> runningNs >> waitingNs)) return 0;
    return waitingNs / 1000;
}

// When the serving thread looked, and how long it had waited for a processor just before and
// just after it read the time (a wait between the two reads counts on both sides).
struct Sample {
    int64_t waitedBeforeUs;
    int64_t atUs;
    int64_t waitedAfterUs;
};

class PtyServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        instrument_.setStoredGroups(MakeStoredHistory(12, 5));
        server_.emplace(instrument_);
        server_->setWriteObserver([this](int64_t at, std::span<const uint8_t> b) {
            writes_.push_back({at, Bytes(b.begin(), b.end())});
        });
        port_ = ::open(server_->slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(port_, 0) << server_->slavePath();
    }
    void TearDown() override {
        if (port_ >= 0) ::close(port_);
    }

    void send(const Bytes& b) {
        ASSERT_EQ(::write(port_, b.data(), b.size()), static_cast<ssize_t>(b.size()));
    }
    // One round waits at most 5 ms; reading the terminal back takes a few microseconds.
    static constexpr int kRoundWaitMs = 5;
    static constexpr int64_t kRoundUs = kRoundWaitMs * 1000 + 500;

    // Serves and reads until `want` bytes have come or 3 s have passed, sampling the time
    // the thread spends waiting for a processor between rounds.
    Bytes receive(std::size_t want) {
        Bytes got;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        sample();
        while (got.size() < want && std::chrono::steady_clock::now() < deadline) {
            server_->serveOnce(kRoundWaitMs);
            sample();
            uint8_t buf[256];
            const ssize_t n = ::read(port_, buf, sizeof buf);
            if (n > 0) got.insert(got.end(), buf, buf + n);
        }
        return got;
    }
    void sample() {
        Sample s;
        s.waitedBeforeUs = RunQueueWaitUs();
        s.atUs = server_->nowUs();
        s.waitedAfterUs = RunQueueWaitUs();
        samples_.push_back(s);
    }
    // How long the thread was kept from serving over the rounds that cover [fromUs, toUs]:
    // the time it waited for a processor, and the time by which a round overran the longest
    // wait it asked for (a machine that stalls its processors as a whole shows only there).
    int64_t keptAround(int64_t fromUs, int64_t toUs) const {
        if (samples_.empty()) return 0;
        std::size_t first = 0, last = samples_.size() - 1;
        for (std::size_t i = 0; i < samples_.size(); ++i) {
            if (samples_[i].atUs <= fromUs) first = i;
        }
        for (std::size_t i = samples_.size(); i-- > first;) {
            if (samples_[i].atUs >= toUs) last = i;
        }
        int64_t overrun = 0;
        for (std::size_t i = first; i < last; ++i) {
            const int64_t round = samples_[i + 1].atUs - samples_[i].atUs;
            overrun += std::max<int64_t>(0, round - kRoundUs);
        }
        const int64_t waited = samples_[last].waitedAfterUs - samples_[first].waitedBeforeUs;
        return std::max<int64_t>(0, waited) + overrun;
    }
    // What the engine answers to `request`, from an instrument set up alike.
    Bytes expected(const Bytes& request) {
        Instrument twin;
        twin.setStoredGroups(MakeStoredHistory(12, 5));
        Bytes all;
        for (const Delivery& d : twin.feed(request, 0))
            all.insert(all.end(), d.bytes.begin(), d.bytes.end());
        return all;
    }

    Instrument instrument_;
    std::optional<PtyServer> server_;
    std::vector<Write> writes_;
    std::vector<Sample> samples_;
    int port_ = -1;
};

TEST_F(PtyServerTest, AnswersEachRequestWholeAndPacedLikeTheLine) {
    const Bytes history = Frame({0xA1, 0x00, 0x01, 0x08, 0x01, 0x00, 0x03, 0x00, 0x03});
    const Bytes linkTest = Frame({0xA1, 0x00, 0x01, 0x06, 0x05, 0x55, 0xAA});
    const Bytes live = Frame({0xA1, 0x00, 0x01, 0x04, 0x06});
    struct Case {
        const char* name;
        std::vector<Bytes> pieces;  // the request as the port writes it
        Bytes request;
    };
    const std::vector<Case> cases = {
        {"history block, 3 groups", {history}, history},
        {"link test in two writes",
         {Bytes(linkTest.begin(), linkTest.begin() + 3),
          Bytes(linkTest.begin() + 3, linkTest.end())},
         linkTest},
        {"live reading after noise", {Bytes{0x00, 0x55}, live}, live},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writes_.clear();
        samples_.clear();
        const int64_t sentAt = server_->nowUs();
        for (const Bytes& p : c.pieces) send(p);
        const Bytes want = expected(c.request);
        ASSERT_FALSE(want.empty());
        EXPECT_EQ(receive(want.size()), want);

        ASSERT_FALSE(writes_.empty());
        // The reply starts after the request has crossed the line and the instrument has
        // turned round.
        const int64_t earliest = sentAt + LineTimeUs(static_cast<int64_t>(c.request.size())) +
                                 instrument_.turnaroundMs() * 1000;
        // The bytes never get ahead of the line: the line may be taken to have started no
        // earlier than each piece's time less the line time of everything sent by then (a late
        // wake-up may catch up with that timetable, never pass it). 1 us a piece of slack:
        // line times are rounded up to whole microseconds.
        int64_t lineStart = writes_[0].atUs;
        int64_t sent = 0;
        for (std::size_t i = 0; i < writes_.size(); ++i) {
            sent += static_cast<int64_t>(writes_[i].bytes.size());
            lineStart =
                std::min(lineStart, writes_[i].atUs - LineTimeUs(sent) + static_cast<int64_t>(i));
        }
        EXPECT_GE(lineStart, earliest);
        // And every piece leaves close to the line's own time for it: 4 ms late at most, plus
        // however long other load on the machine kept the thread from serving meanwhile. Only
        // that excuses lateness: a server that sleeps past a piece's time, counts the line
        // slower than it is, or lets one late piece push the following ones back is late in
        // rounds that ran their normal length, and fails.
        sent = 0;
        for (const Write& w : writes_) {
            sent += static_cast<int64_t>(w.bytes.size());
            const int64_t due = lineStart + LineTimeUs(sent);
            EXPECT_LE(w.atUs - due, 4000 + keptAround(due, w.atUs))
                << "piece ending at byte " << sent << " of " << LineTimeUs(sent) / 1000 << " ms";
        }
        for (const Write& w : writes_) EXPECT_LE(w.bytes.size(), 4u);
    }
    EXPECT_EQ(server_->bytesDropped(), 0u);
}

TEST_F(PtyServerTest, KeepsServingWhenTheApplicationClosesAndReopens) {
    const Bytes linkTest = Frame({0xA1, 0x00, 0x01, 0x06, 0x05, 0x55, 0xAA});
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        ::close(port_);
        port_ = ::open(server_->slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(port_, 0);
        send(linkTest);
        EXPECT_EQ(receive(8), expected(linkTest));
    }
}

TEST_F(PtyServerTest, StopsWhenTheStopPipeIsReadable) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    EXPECT_TRUE(server_->serveOnce(0, fds[0]));
    ASSERT_EQ(::write(fds[1], "s", 1), 1);
    EXPECT_FALSE(server_->serveOnce(1000, fds[0]));
    EXPECT_TRUE(server_->run(fds[0]));  // returns at once too
    ::close(fds[0]);
    ::close(fds[1]);
}

// ---------------------------------------------------------------------------------------------
// The COMn link

class ConfigHome {
public:
    ConfigHome() : ports_(home_.ports()) {}
    fs::path link(int n) const { return ports_ / ("COM" + std::to_string(n)); }
    std::optional<std::string> target(int n) const {
        std::error_code ec;
        const fs::path t = fs::read_symlink(link(n), ec);
        if (ec) return std::nullopt;
        return t.string();
    }
    const fs::path& ports() const { return ports_; }

private:
    ck::testing::TempConfigHome home_{"ck-pty-test-"};
    fs::path ports_;
};

TEST(ComPinLink, PointsComAtTheTerminalAndPutsBackWhatWasThere) {
    ConfigHome home;
    {
        ComPinLink pin(3, "/dev/pts/77");
        EXPECT_EQ(pin.path(), home.link(3).string());
        EXPECT_EQ(home.target(3), "/dev/pts/77");
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(home.link(3)))) << "made by us: removed";

    fs::create_symlink("/dev/serial/by-id/usb-adapter", home.link(3));
    {
        ComPinLink pin(3, "/dev/pts/77");
        EXPECT_EQ(home.target(3), "/dev/pts/77");
    }
    EXPECT_EQ(home.target(3), "/dev/serial/by-id/usb-adapter") << "the user's pin survives";

    {
        ComPinLink pin(3, "/dev/pts/77");
        ComPinLink later(3, "/dev/pts/78");  // a second simulator took the number over
        EXPECT_EQ(home.target(3), "/dev/pts/78");
        // `later` goes first and puts ours back; then ours puts the user's back.
    }
    EXPECT_EQ(home.target(3), "/dev/serial/by-id/usb-adapter");

    {
        auto first = std::make_unique<ComPinLink>(4, "/dev/pts/77");
        ComPinLink second(4, "/dev/pts/78");
        first.reset();  // not ours any more: left alone
        EXPECT_EQ(home.target(4), "/dev/pts/78");
    }
    EXPECT_EQ(home.target(4), "/dev/pts/77") << "the second put back what it replaced";

    std::ofstream(home.link(5)) << "not a link";
    EXPECT_THROW(ComPinLink(5, "/dev/pts/77"), std::system_error);
    EXPECT_TRUE(fs::is_regular_file(home.link(5)));

    for (const auto& entry : fs::directory_iterator(home.ports())) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "COM3" || name == "COM4" || name == "COM5") << "left behind: " << name;
    }
}

TEST(LiveSequences, NamedSequencesGiveTheirVerdicts) {
    using ck::measure::ClassifyPhase;
    using ck::measure::ClassifySequence;
    using ck::measure::NoAngle;
    // Verdicts of A1A2, B1B2, C1C2, then A1B2, B1C2, C1A2, for every group of the sequence.
    struct Case {
        const char* name;
        std::vector<std::string_view> verdicts;
    };
    const std::vector<Case> cases = {
        {"in-phase", {"同相", "同相", "同相", "顺相序", "顺相序", "顺相序"}},
        {"crossed", {"同相", "异相", "异相", "逆相序", "------", "顺相序"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto seq = LiveSequenceNamed(c.name);
        ASSERT_TRUE(seq && !seq->empty());
        for (const auto& g : *seq) {
            for (std::size_t k = 0; k < 6; ++k) {
                const auto a = static_cast<float>(g.pairAngles[k]);
                EXPECT_EQ(k < 3 ? ClassifyPhase(a) : ClassifySequence(a), c.verdicts[k]) << k;
            }
            for (const uint8_t kv : g.voltages) EXPECT_GT(kv, 0);
        }
    }
    // Each input dead once: 0 kV, lamp off, no angle on exactly its two pairs.
    const auto missing = LiveSequenceNamed("missing");
    ASSERT_TRUE(missing);
    ASSERT_EQ(missing->size(), 6u);
    for (std::size_t i = 0; i < 6; ++i) {
        const auto& g = (*missing)[i];
        const auto dead = ck::measure::idx(ck::measure::LiveInputOrder[i]);
        EXPECT_EQ(g.voltages[dead], 0) << i;
        EXPECT_FALSE(g.indicators[dead]) << i;
        EXPECT_EQ(std::count(g.pairAngles.begin(), g.pairAngles.end(), NoAngle), 2) << i;
    }
    EXPECT_EQ(LiveSequenceNamed("default"), DefaultLiveSequence());
    EXPECT_EQ(LiveSequenceNamed("Default"), std::nullopt);
    EXPECT_EQ(LiveSequenceNamed(""), std::nullopt);
}

}  // namespace
