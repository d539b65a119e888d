// SPDX-License-Identifier: MIT
#pragma once
// The window-wide link state record: every part of the program that needs to know where the
// link stands reads these fields directly.

#include <array>
#include <cstddef>
#include <cstdint>

#include "link/protocol.h"

#include "measure/history_table.h"

namespace ck::link {

// rxframe holds the longest reply a request can ask for, so no reply is ever cut short.
inline constexpr std::size_t kRxFrameSize = protocol::kMaxReplyLength;
inline constexpr int kMaxHistRows = measure::kHistoryRows;  // group rows of the table
inline constexpr int16_t kPortCount = 16;                   // discovery scans COM1..COM16

// Values of commstate.
inline constexpr uint8_t kCommIdle = 0;         // nothing sent yet
inline constexpr uint8_t kCommAwaiting = 1;     // request sent, reply awaited
inline constexpr uint8_t kCommAccepted = 2;     // a reply passed the frame checks
inline constexpr uint8_t kCommBadChecksum = 3;  // a reply failed its checksum
inline constexpr uint8_t kCommTimedOut = 5;     // the reply did not come in time

using RxFrame = std::array<uint8_t, kRxFrameSize>;

struct LinkState {
    int16_t portno = 1;    // port probed or, once linked, in use (1..16)
    bool linkok = false;   // the instrument answered a link test; never cleared
    bool realmode = true;  // live view showing (false: history view)
    uint8_t commstate = kCommIdle;
    uint8_t replylen = 0;    // bytes expected in the reply to the last request
    uint8_t rxcount = 0;     // bytes waiting at the last receive event (255 at most)
    RxFrame rxframe{};       // last reply that reached the frame checks, start byte at 0
    int16_t histcount = 0;   // stored groups the instrument last reported
    uint8_t blocksread = 0;  // history replies received in the current download

    // Code of the request the current exchange belongs to (0: none). A history or count
    // reply is only acted on while the request it answers is the one outstanding, so a late
    // block can never be placed in the table from group 0.
    uint8_t reqcode = 0;
    // Index of the next group to fetch in a download: continues after the last group
    // actually received, so a short block loses nothing.
    int16_t histnext = 0;
};

}  // namespace ck::link
