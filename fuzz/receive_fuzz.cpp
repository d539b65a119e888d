// SPDX-License-Identifier: MIT
// Arbitrary bytes from the line into the receive-and-dispatch path, in every state a request
// can leave the link in. Whatever arrives: no access outside a buffer, no row outside the
// table, no row that the download did not ask for.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "link/link.h"
#include "link/protocol.h"
#include "tests/link_fakes.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    using namespace ck;
    platform::VirtualClock clock;
    testing::ScriptedPort port(clock);
    testing::RecordingWindow ui;
    link::Link lk(port, clock, ui);
    lk.start();
    port.present = {1};
    auto& s = lk.state();

    // Byte 0: the request outstanding and the view; byte 1: the history count in force. The
    // link is brought there the way the program gets there: a link test answered, the view
    // chosen, a count reported.
    const auto answered = [&](uint8_t code, const testing::Bytes& payload) {
        lk.ComOpen(1);
        lk.ComSend(protocol::kInstrumentAddress, code, 0, 0, 0);
        port.inject(testing::Reply(code, payload));
        clock.advance(1);
    };
    const uint8_t mode = data[0];
    if ((mode & 0x80) != 0) answered(protocol::kCodeLinkTest, {0x55, 0xAA});
    lk.setView((mode & 0x40) != 0 ? link::View::Live : link::View::History);
    const int stored = data[1] * 2;
    if (stored != 0) {
        answered(protocol::kCodeCount,
                 {static_cast<uint8_t>(stored >> 8), static_cast<uint8_t>(stored & 0xFF)});
    }
    check(s.linkok == ((mode & 0x80) != 0) && s.histcount == stored);
    const uint8_t code = static_cast<uint8_t>(mode & 0x07);
    lk.ComOpen(1);
    lk.ComSend(1, code, static_cast<int16_t>(data[2] % 201), 3, 0);

    // The rest arrives in chunks whose sizes the input also chooses; time passes between them,
    // so time-outs, polls and block requests interleave with what arrives.
    std::size_t i = 3;
    while (i < size) {
        const std::size_t chunk = 1 + data[i] % 64;
        ++i;
        const std::size_t n = std::min(chunk, size - i);
        port.inject(testing::Bytes(data + i, data + i + n));
        i += n;
        clock.advance(1 + static_cast<int64_t>(chunk % 7) * 400);
    }
    clock.advance(5000);

    for (const auto& [start, count] : ui.fills) {
        check(start + count <= link::kMaxHistRows);
        check(count <= 3);
    }
    for (const auto& [row, group] : ui.rows) check(row >= 1 && row <= link::kMaxHistRows);
    check(s.histnext >= 0 && s.histnext <= link::kMaxHistRows);
    return 0;
}
