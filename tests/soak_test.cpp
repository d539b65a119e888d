// SPDX-License-Identifier: MIT
// A day of polling and a hundred history downloads on virtual time, against the simulated
// instrument spoiling its replies at random. Whatever the line does: no row is misplaced or
// placed past the count, a download that completes brings every row, the controls always come
// back, and polling never dies.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "link/link.h"
#include "link_fakes.h"
#include "sim/instrument.h"
#include "sim/sim_port.h"

namespace ck::testing {
namespace {

using app::Control;

constexpr int64_t kDayMs = 24 * 60 * 60 * 1000;
constexpr int kDownloads = 100;
// Each round: live view, history view, then a download; a hundred rounds make the day.
constexpr int64_t kRoundMs = kDayMs / kDownloads;
constexpr int64_t kLiveMs = kRoundMs / 2;
constexpr int64_t kPollMs = 1500;

struct Download {
    uint16_t reported;   // the count the instrument reports
    std::size_t stored;  // groups it can send
    sim::CountForm form = sim::CountForm::Auto;
};

// Counts around every boundary of the download: none, one block and its parts, the table's
// size, past it, past 8 bits, past 16 bits signed; and an instrument that holds fewer groups
// than it reports.
constexpr std::array<Download, 25> kDownloadsCycle = {{
    {0, 0},
    {1, 1},
    {2, 2},
    {3, 3},
    {4, 4},
    {199, 199},
    {200, 200},
    {201, 201},
    {7, 7, sim::CountForm::TwoByte},
    {36, 36},
    {202, 210},
    {255, 210},
    {256, 210},
    {300, 210},
    {1000, 210},
    {0x7FFF, 210},
    {0x8000, 210},
    {0xFFFF, 210},
    {5, 5, sim::CountForm::TwoByte},
    {0, 0, sim::CountForm::TwoByte},
    {10, 7},  // holds fewer than it reports
    {200, 150},
    {100, 100},
    {2, 2, sim::CountForm::TwoByte},
    {150, 150},
}};

// The random faults of round r come from seed base + r. CK_SOAK_SEED=N runs another day.
uint64_t SeedBase() {
    const char* v = std::getenv("CK_SOAK_SEED");
    return v != nullptr ? std::strtoull(v, nullptr, 10) : 0x50A4;
}

// Fault rates by round: a clean line, then ever noisier ones.
constexpr std::array<double, 4> kFaultRates = {0.0, 0.03, 0.15, 0.3};

struct Soak {
    platform::VirtualClock clock;
    sim::Instrument instrument;
    sim::SimPort port;
    RecordingWindow ui;
    link::Link link;
    const link::LinkState& s;

    Soak() : port(clock, instrument, 5), link(port, clock, ui), s(link.state()) {
        instrument.setLinePacing(true);
        link.start();
    }

    // Requests of this code that a poll tick sent: a request asked again (a reading that
    // repeats an older one) follows its tick within moments, and is not counted.
    std::size_t requests(uint8_t code) const {
        std::size_t ticks = 0;
        std::optional<int64_t> last;
        for (const sim::Request& r : instrument.requests()) {
            if (r.code != code || (last && r.timeUs - *last < kPollMs * 1000 / 2)) continue;
            ++ticks;
            last = r.timeUs;
        }
        return ticks;
    }
    // Keeps the logs to one segment, so a day of them does not pile up.
    void forget() {
        instrument.clearRequests();
        port.clearWritten();
        ui.comStatus.clear();
        ui.linkStatus.erase(ui.linkStatus.begin(), ui.linkStatus.end() - 1);
        ui.progress.clear();
        ui.shown.clear();
        ui.fills.clear();
    }
    void showView(bool live) { link.setView(live ? link::View::Live : link::View::History); }
    bool isSequenceReading(const measure::MeasurementGroup& g) const {
        const auto& seq = instrument.liveSequence();
        return std::find(seq.begin(), seq.end(), g) != seq.end();
    }
};

TEST(Soak, ADayOfPollingAndAHundredDownloadsWithRandomFaults) {
    Soak w;
    w.clock.advance(5 * 600 + 500);
    ASSERT_TRUE(w.s.linkok);
    const auto& live = w.instrument.liveSequence();

    int completed = 0, failed = 0, empty = 0;
    for (int round = 0; round < kDownloads; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const Download& d =
            kDownloadsCycle[static_cast<std::size_t>(round) % kDownloadsCycle.size()];
        const double rate = kFaultRates[static_cast<std::size_t>(round) % kFaultRates.size()];
        sim::RandomFaults random;
        random.seed = SeedBase() + static_cast<uint64_t>(round);
        random.probability = rate;
        w.instrument.setRandomFaults(random);

        // Live view: a reading requested every 1.5 s; each one shown is one the instrument sent.
        w.forget();
        w.showView(true);
        w.clock.advance(kLiveMs);
        EXPECT_NEAR(static_cast<double>(w.requests(6)), kLiveMs / kPollMs, 1.0);
        EXPECT_FALSE(w.ui.shown.empty());
        for (const auto& g : w.ui.shown) EXPECT_TRUE(w.isSequenceReading(g));

        // History view: link tests at the same pace.
        w.forget();
        w.showView(false);
        const int64_t historyStart = w.clock.nowMs();
        w.clock.advance(kRoundMs - kLiveMs - 30000);
        EXPECT_NEAR(static_cast<double>(w.requests(5)),
                    static_cast<double>(w.clock.nowMs() - historyStart) / kPollMs, 1.0);
        // At most the reply to the live request that was out when the view changed.
        EXPECT_LE(w.ui.shown.size(), 1u);

        // The download.
        w.instrument.setStoredGroups(
            sim::MakeStoredHistory(d.stored, 100 + static_cast<uint64_t>(round)));
        w.instrument.setReportedCount(d.reported);
        w.instrument.setCountForm(d.form);
        w.forget();
        w.ui.rows.clear();
        const int messages = w.ui.noHistoryBoxes;
        const int16_t held = static_cast<int16_t>(std::min<int>(d.reported, 0x7FFF));
        const std::size_t tableRows = std::min<std::size_t>(static_cast<std::size_t>(held), 200);
        w.link.requestDownload();
        ASSERT_FALSE(w.link.Timer_real().enabled());
        // Polling resumes when the download ends, however it ends.
        const int64_t clickedAt = w.clock.nowMs();
        const auto over = [&] {
            return w.link.Timer_real().enabled() && !w.link.Timer_read().enabled();
        };
        while (!over() && w.clock.nowMs() - clickedAt < 120000) w.clock.advance(50);
        ASSERT_TRUE(w.link.Timer_real().enabled()) << "the download never ended";
        EXPECT_FALSE(w.link.Timer_read().enabled());
        EXPECT_TRUE(w.ui.isEnabled(Control::TabStrip1));
        EXPECT_TRUE(w.ui.isEnabled(Control::Button_read));
        EXPECT_FALSE(w.ui.isVisible(Control::Progress_read));
        EXPECT_EQ(w.s.blocksread, 0);

        // Rows 1..k for some k, each the instrument's own group, none past the count, the
        // table or what the instrument holds.
        const auto& truth = w.instrument.storedGroups();
        int next = 1;
        for (const auto& [row, group] : w.ui.rows) {
            ASSERT_EQ(row, next) << "row " << row << " out of order";
            ASSERT_LE(static_cast<std::size_t>(row), std::min(tableRows, truth.size()));
            EXPECT_EQ(group, truth[static_cast<std::size_t>(row - 1)]) << "row " << row;
            ++next;
        }
        const bool countTaken = !w.ui.progress.empty() || w.ui.noHistoryBoxes > messages;
        if (countTaken) {
            EXPECT_EQ(w.s.histcount, held);
        }
        // A download that ran to its end (the bar set to the count) brought every row.
        const bool ranToEnd = tableRows > 0 && !w.ui.progress.empty() &&
                              w.ui.progress.back() == static_cast<int>(tableRows);
        if (d.reported == 0 && countTaken) {
            EXPECT_EQ(w.ui.noHistoryBoxes, messages + 1);
            ++empty;
        } else if (ranToEnd) {
            EXPECT_EQ(w.ui.rows.size(), tableRows);
            ++completed;
        } else {
            EXPECT_TRUE(w.ui.rows.size() < tableRows || tableRows == 0);
            ++failed;
        }
        if (rate == 0.0) {
            // A clean line fails a download only where the instrument lacks the groups.
            EXPECT_EQ(ranToEnd || d.reported == 0, d.stored >= tableRows);
        }

        // Nothing lands in the table after the download has ended.
        // Late replies come at most 4 s after their request.
        const auto rows = w.ui.rows;
        w.clock.advance(std::max<int64_t>(clickedAt + 30000 - w.clock.nowMs(), 5000));
        EXPECT_EQ(w.ui.rows, rows);
        EXPECT_FALSE(w.ui.isVisible(Control::Progress_read));
    }
    EXPECT_GE(w.clock.nowMs(), kDayMs);
    // The seeds give a mix of every ending, and every kind of fault happened.
    EXPECT_GE(completed, 25);
    EXPECT_GE(failed, 25);
    EXPECT_GE(empty, 3);
    for (const sim::Fault kind : sim::RandomFaults{}.kinds) {
        EXPECT_GT(w.instrument.faultsApplied(kind), 0u) << static_cast<int>(kind);
    }

    // Polling is still alive: on a clean line every tick shows the next reading.
    w.instrument.setRandomFaults({});
    w.forget();
    w.showView(true);
    w.clock.advance(kPollMs * 10);
    ASSERT_GE(w.ui.shown.size(), 9u);
    const auto first = std::find(live.begin(), live.end(), w.ui.shown.front());
    ASSERT_NE(first, live.end());
    std::size_t k = static_cast<std::size_t>(first - live.begin());
    for (const auto& g : w.ui.shown) EXPECT_EQ(g, live[k++ % live.size()]);
    EXPECT_EQ(w.ui.linkStatus.back(), link::kTextLinkOk);
    EXPECT_TRUE(w.link.Timer_real().enabled());
}

}  // namespace
}  // namespace ck::testing
