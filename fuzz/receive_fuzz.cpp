// Arbitrary bytes from the line into the receive-and-dispatch path, in every state a request
// can leave the link in. Whatever arrives: no access outside a buffer, no row outside the
// table, no row that the download did not ask for.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "link/link.h"
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
    testing::RecordingControls ui;
    link::Link lk(port, clock, ui);
    lk.Form_Load();
    port.present = {1};
    auto& s = lk.state();

    // Byte 0: the request outstanding and the view; byte 1: the history count in force.
    const uint8_t mode = data[0];
    s.linkok = (mode & 0x80) != 0;
    s.realmode = (mode & 0x40) != 0;
    s.histcount = static_cast<int16_t>(data[1] * 2);
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
    check(s.rxcount <= s.rxbuf.size());
    check(s.histnext >= 0 && s.histnext <= link::kMaxHistRows);
    return 0;
}
