// SPDX-License-Identifier: MIT
#pragma once
// The instrument's side of the serial protocol: a protocol engine that takes the bytes the
// application sends, in whatever chunks they come, and says which bytes go back and when.
// It knows nothing of how bytes travel, so the in-process port, the pseudo-terminal server and
// the fuzzer can all drive it.
//
// Faults are made on purpose, on request, so the application's handling of a bad line can be
// tested: silence, a reply addressed elsewhere, a bad checksum, noise before the frame, a reply
// in chunks, a short history block and a late reply.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "link/protocol.h"
#include "measure/measurement.h"

namespace ck::sim {

inline constexpr uint8_t kDefaultAddress = protocol::kInstrumentAddress;

// The line's pace: a byte is never there sooner than the line could bring it.
using protocol::LineTimeUs;

// Bytes to be sent back, `delayUs` after the request was fed in (always at least 1, so that a
// reply never arrives inside the call that wrote the request): bytes [offset, offset + size)
// of transmission `transmission` (see Transmission).
struct Delivery {
    int64_t delayUs = 1;
    std::vector<uint8_t> bytes;
    uint32_t transmission = 0;
    std::size_t offset = 0;
    bool operator==(const Delivery&) const = default;
};

// A request the instrument understood. `timeUs` is when its last byte arrived.
struct Request {
    int64_t timeUs = 0;
    uint8_t code = 0;
    uint16_t start = 0;   // code 1
    uint16_t count = 0;   // code 1
    uint8_t extra = 0;    // code 4
    uint32_t number = 0;  // requests understood before it, plus one
    bool operator==(const Request&) const = default;
};

// Everything the instrument put on the line: what it is and what it holds, so that a test can
// tell what each byte that reached the application really was.
struct Transmission {
    uint32_t id = 0;             // from 1, in the order sent
    uint32_t request = 0;        // Request::number of the request it answers
    uint32_t copyOf = 0;         // the transmission it repeats; 0 for the reply itself
    std::size_t noise = 0;       // bytes of noise in front of the frame
    bool damaged = false;        // checksum spoiled, or addressed elsewhere
    std::vector<uint8_t> bytes;  // noise and frame, as sent
    int64_t startUs = 0;         // when its first byte went on the line
};

// How the history count reply encodes the count.
enum class CountForm : uint8_t {
    Auto,     // one byte when the count fits, otherwise two
    OneByte,  // one byte: the low byte of the count
    TwoByte,  // two bytes, high byte first
};

enum class Fault : uint8_t {
    Silence,        // no reply at all
    WrongReceiver,  // receiver byte set to `receiver` (checksum made to match)
    BadChecksum,    // checksum byte inverted
    Noise,          // `noiseBytes` bytes without a start byte in front of the frame
    Chunked,        // the reply in `chunks` pieces, `chunkGapMs` apart
    ShortBlock,     // a history block carries at most `groups` groups (history replies only)
    Late,           // the reply starts `lateMs` after the request
    Duplicate,      // the reply sent again `duplicateAfterMs` after it (0: back to back)
    CopyInFront,    // the reply before sent again, just in front of this one
};
inline constexpr std::size_t kFaultKinds = static_cast<std::size_t>(Fault::CopyInFront) + 1;

// One configured misbehaviour. It watches the replies it matches (those with `onlyCode`, or
// all; a ShortBlock only ever matches history replies), lets the first `skip` of them pass and
// spoils the next `times` (negative: every one after that). So {Silence, onlyCode 1, skip 1,
// times 1} swallows exactly the second history block.
struct FaultRule {
    Fault kind = Fault::Silence;
    std::optional<uint8_t> onlyCode;
    int skip = 0;
    int times = -1;

    uint8_t receiver = 0x01;
    int noiseBytes = 3;
    int chunks = 3;
    int64_t chunkGapMs = 5;
    std::size_t groups = 0;
    int64_t lateMs = 3000;
    int64_t duplicateAfterMs = 0;
};

// Faults at random, for soak tests: each reply is spoiled with `probability`, by one kind
// drawn from `kinds` with parameters drawn too. The same seed gives the same faults.
struct RandomFaults {
    uint64_t seed = 1;
    double probability = 0.0;
    std::vector<Fault> kinds = {Fault::Silence, Fault::WrongReceiver, Fault::BadChecksum,
                                Fault::Noise,   Fault::Chunked,       Fault::ShortBlock,
                                Fault::Late,    Fault::Duplicate};
};

class Instrument {
public:
    // Default live sequence, no stored groups, address 1, 10 ms turnaround, no line pacing.
    Instrument();
    explicit Instrument(uint8_t address);

    uint8_t address() const { return address_; }

    // Each live request answers the next group of the sequence, cycling. An empty sequence
    // answers a group with no readings. Setting it starts again from the first.
    void setLiveSequence(std::vector<measure::MeasurementGroup> groups);
    const std::vector<measure::MeasurementGroup>& liveSequence() const { return live_; }

    void setStoredGroups(std::vector<measure::MeasurementGroup> groups);
    const std::vector<measure::MeasurementGroup>& storedGroups() const { return stored_; }

    // What the count reply says; nullopt reports the number of stored groups held. A count
    // beyond 0xFFFF is reported as 0xFFFF.
    void setReportedCount(std::optional<uint16_t> count) { reportedCount_ = count; }
    void setCountForm(CountForm form) { countForm_ = form; }
    uint16_t reportedCount() const;

    // Time from the last byte of a request to the first byte of its reply.
    void setTurnaroundMs(int64_t ms);
    int64_t turnaroundMs() const { return turnaroundUs_ / 1000; }
    // With pacing, bytes take the time a 9600-baud line takes both ways and the reply arrives
    // in pieces of `chunkBytes` (0: whole) as each piece's last byte would. Paced or not, the
    // line carries one frame at a time: a reply goes at its time if the line is free for the
    // whole of it, otherwise at the first moment after that when it is. Frames never mingle.
    void setLinePacing(bool on, std::size_t chunkBytes = 0);
    bool linePacing() const { return pacing_; }

    // A request left unfinished for longer than this is forgotten when more bytes come, as the
    // instrument's receiver times out between frames.
    void setInterFrameGapMs(int64_t ms) { gapUs_ = ms * 1000; }

    // Takes bytes from the line at time nowUs (microseconds, never going back); returns the
    // replies to send, in order.
    std::vector<Delivery> feed(std::span<const uint8_t> bytes, int64_t nowUs);
    // Copies sent some time after their reply go on the line once they are ready: when the
    // next is, and what goes at nowUs (call at or after nextDueUs()).
    std::optional<int64_t> nextDueUs() const;
    std::vector<Delivery> due(int64_t nowUs);
    // Forgets a partly received request.
    void resetInput() { pending_.clear(); }

    const std::vector<Request>& requests() const { return log_; }
    // What went on the line, in the order sent.
    const std::vector<Transmission>& transmissions() const { return sent_; }
    // Forgets both logs (a long run would keep them growing).
    void clearRequests() {
        log_.clear();
        sent_.clear();
    }

    void addFault(const FaultRule& rule);
    void clearFaults() { rules_.clear(); }
    void setRandomFaults(const RandomFaults& random);
    // Faults applied so far, by kind, counting random ones (for soak-test reports).
    std::size_t faultsApplied(Fault kind) const;

private:
    struct RuleState {
        FaultRule rule;
        int matched = 0;
        int applied = 0;
    };

    // Index just past a complete frame at the front of pending_, 0 when more bytes are needed,
    // or nullopt when the front byte cannot start a frame.
    std::optional<std::size_t> frameEnd() const;
    // Answers one checked frame addressed here; appends what goes back to `out`.
    void answer(std::span<const uint8_t> frame, int64_t atUs, int64_t nowUs,
                std::vector<Delivery>& out);
    void send(uint8_t code, std::vector<uint8_t> payload, int64_t atUs, int64_t nowUs,
              std::vector<Delivery>& out);
    // Puts the transmission on the line no sooner than startUs, in `chunks` pieces `gapUs`
    // apart (1: whole, or the pacing pieces), logs it, and returns when its last byte arrived.
    int64_t transmit(Transmission t, int64_t startUs, int chunks, int64_t gapUs, int64_t nowUs,
                     std::vector<Delivery>& out);
    // The first moment from startUs on when the line is free for `lengthUs`; marks it taken.
    int64_t takeLine(int64_t startUs, int64_t lengthUs);
    void placeDue(int64_t nowUs, std::vector<Delivery>& out);
    std::vector<FaultRule> faultsFor(uint8_t code);
    FaultRule randomFault(Fault kind);
    uint64_t nextRandom();

    uint8_t address_;
    std::vector<measure::MeasurementGroup> live_;
    std::size_t liveNext_ = 0;
    std::vector<measure::MeasurementGroup> stored_;
    std::optional<uint16_t> reportedCount_;
    CountForm countForm_ = CountForm::Auto;
    int64_t turnaroundUs_ = 10'000;
    bool pacing_ = false;
    std::size_t pacingChunk_ = 0;
    // Frames on the line from now on: [from, to) in microseconds, in time order.
    std::vector<std::pair<int64_t, int64_t>> lineTaken_;
    int64_t gapUs_ = 100'000;

    std::vector<uint8_t> pending_;
    int64_t lastByteUs_ = 0;
    std::vector<Request> log_;
    uint32_t requestsSeen_ = 0;
    std::vector<Transmission> sent_;
    uint32_t transmissionsSent_ = 0;
    std::optional<Transmission> lastReply_;  // for a copy in front of the next
    struct LaterCopy {
        int64_t readyUs = 0;
        Transmission copy;
        int chunks = 1;
        int64_t gapUs = 0;
    };
    std::vector<LaterCopy> laterCopies_;

    std::vector<RuleState> rules_;
    RandomFaults random_;
    uint64_t rng_ = 0;
    std::array<std::size_t, kFaultKinds> appliedCounts_{};
};

// A plausible stored history of n groups: voltages near 10 kV and 35 kV, in-phase and crossed
// connections, now and then a missing angle (360). The same seed gives the same history.
std::vector<measure::MeasurementGroup> MakeStoredHistory(std::size_t n, uint64_t seed = 1);
// n groups all alike, as an instrument holds them that stored one steady reading again and
// again: every block reply byte for byte the same.
std::vector<measure::MeasurementGroup> MakeIdenticalHistory(std::size_t n, uint64_t seed = 1);
// A live sequence that changes as a real one would: an in-phase connection, then a crossed
// phase, at 10 kV and at 35 kV, with a missing angle now and then.
std::vector<measure::MeasurementGroup> DefaultLiveSequence();

}  // namespace ck::sim
