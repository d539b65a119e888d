// SPDX-License-Identifier: MIT
#include "sim/instrument.h"

#include "sim/connection.h"

#include <algorithm>
#include <limits>
#include <utility>

namespace ck::sim {
namespace {

using measure::idx;
using measure::Input;
using measure::MeasurementGroup;
using measure::NoAngle;
using measure::Pair;
using namespace protocol;

// The shortest request has no parameters; the longest the application knows is the history
// request. A length byte outside that cannot open a request, and refusing it at once keeps a
// stray request start byte in noise from swallowing the real frames after it.
constexpr std::size_t kMinRequest = kOverhead;
constexpr std::size_t kMaxRequest = kHistoryRequestLength;

// splitmix64: fully specified, so a seed means the same thing on every standard library.
uint64_t SplitMix(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// Line noise: never a reply start byte, or the application would rightly take it for one.
constexpr std::array<uint8_t, 8> kNoise = {0x00, 0xFF, 0x5A, 0x0D, 0x0A, 0x7E, 0xA1, 0x33};

MeasurementGroup NoReading() {
    MeasurementGroup g;
    g.pairAngles.fill(NoAngle);
    return g;
}

// A deviation in -span..+span from the generator.
auto JitterFrom(uint64_t& state) {
    return [&state](int span) {
        const auto width = static_cast<uint64_t>(2 * span + 1);
        return static_cast<int>(SplitMix(state) % width) - span;
    };
}

}  // namespace

Instrument::Instrument() : Instrument(kDefaultAddress) {}

Instrument::Instrument(uint8_t address) : address_(address), live_(DefaultLiveSequence()) {}

void Instrument::setLiveSequence(std::vector<MeasurementGroup> groups) {
    live_ = std::move(groups);
    liveNext_ = 0;
}

void Instrument::setStoredGroups(std::vector<MeasurementGroup> groups) {
    stored_ = std::move(groups);
}

uint16_t Instrument::reportedCount() const {
    if (reportedCount_) return *reportedCount_;
    return static_cast<uint16_t>(
        std::min<std::size_t>(stored_.size(), std::numeric_limits<uint16_t>::max()));
}

void Instrument::setTurnaroundMs(int64_t ms) { turnaroundUs_ = std::max<int64_t>(0, ms) * 1000; }

void Instrument::setLinePacing(bool on, std::size_t chunkBytes) {
    pacing_ = on;
    pacingChunk_ = chunkBytes;
}

void Instrument::addFault(const FaultRule& rule) { rules_.push_back(RuleState{rule, 0, 0}); }

void Instrument::setRandomFaults(const RandomFaults& random) {
    random_ = random;
    rng_ = random.seed;
}

std::size_t Instrument::faultsApplied(Fault kind) const {
    return appliedCounts_[static_cast<std::size_t>(kind)];
}

uint64_t Instrument::nextRandom() { return SplitMix(rng_); }

std::optional<std::size_t> Instrument::frameEnd() const {
    if (pending_.empty() || pending_[0] != kRequestStart) return std::nullopt;
    if (pending_.size() > kSenderAt && pending_[kSenderAt] != kHostAddress) return std::nullopt;
    if (pending_.size() <= kLengthAt) return 0;
    const std::size_t n = FrameLength(pending_[kLengthAt]);
    if (n < kMinRequest || n > kMaxRequest) return std::nullopt;
    return pending_.size() >= n ? n : 0;
}

std::vector<Delivery> Instrument::feed(std::span<const uint8_t> bytes, int64_t nowUs) {
    std::vector<Delivery> out;
    placeDue(nowUs, out);  // copies ready by now are on the line before anything answered now
    if (!pending_.empty() && nowUs - lastByteUs_ > gapUs_) pending_.clear();
    // Frames that have left the line by now no longer stand in anyone's way.
    std::erase_if(lineTaken_, [nowUs](const auto& f) { return f.second <= nowUs; });
    // Bytes written at once still come one after the other, and after any still on their way.
    const int64_t lineFrom = pacing_ ? std::max(nowUs, lastByteUs_) : nowUs;
    for (std::size_t j = 0; j < bytes.size(); ++j) {
        pending_.push_back(bytes[j]);
        const int64_t arrival =
            pacing_ ? lineFrom + LineTimeUs(static_cast<int64_t>(j + 1)) : nowUs;
        while (!pending_.empty()) {
            const std::optional<std::size_t> end = frameEnd();
            if (!end) {
                pending_.erase(pending_.begin());  // not a request start: resynchronise
                continue;
            }
            if (*end == 0) break;  // need more bytes
            const std::span<const uint8_t> frame(pending_.data(), *end);
            if (Checksum(frame.subspan(kSenderAt, ChecksumAt(*end) - kSenderAt)) !=
                frame[ChecksumAt(*end)]) {
                // Not a frame after all; a real one may begin inside it.
                pending_.erase(pending_.begin());
                continue;
            }
            answer(frame, arrival, nowUs, out);
            pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(*end));
        }
    }
    lastByteUs_ = pacing_ ? lineFrom + LineTimeUs(static_cast<int64_t>(bytes.size())) : nowUs;
    return out;
}

void Instrument::answer(std::span<const uint8_t> frame, int64_t atUs, int64_t nowUs,
                        std::vector<Delivery>& out) {
    const std::size_t n = frame.size();
    const uint8_t to = frame[kReceiverAt];
    const uint8_t code = frame[kCodeAt];
    const bool broadcastCode = code == kCodeQuery || code == kCodeCommand;
    if (to != address_ && !(to == kBroadcastAddress && broadcastCode)) return;

    Request req{atUs, code, 0, 0, 0};
    std::vector<uint8_t> payload;
    switch (code) {
        case kCodeHistory: {
            if (n != kHistoryRequestLength) return;
            req.start =
                static_cast<uint16_t>(frame[kHistoryStartAt] << 8 | frame[kHistoryStartAt + 1]);
            req.count =
                static_cast<uint16_t>(frame[kHistoryCountAt] << 8 | frame[kHistoryCountAt + 1]);
            const std::size_t first = std::min<std::size_t>(req.start, stored_.size());
            const std::size_t last =
                std::min({stored_.size(), first + req.count, first + kMaxGroupsPerReply});
            for (std::size_t i = first; i < last; ++i) {
                const auto g = measure::EncodeGroup(stored_[i], measure::Source::Stored);
                payload.insert(payload.end(), g.begin(), g.end());
            }
            break;
        }
        case kCodeCount: {
            if (n != kCountRequestLength) return;
            const uint16_t c = reportedCount();
            const bool two =
                countForm_ == CountForm::TwoByte || (countForm_ == CountForm::Auto && c > 0xFF);
            if (two) payload.push_back(static_cast<uint8_t>(c >> 8));
            payload.push_back(static_cast<uint8_t>(c & 0xFF));
            break;
        }
        case kCodeQuery:
            if (n != kQueryRequestLength) return;
            payload.push_back(0x00);
            break;
        case kCodeCommand:
            if (n != kCommandRequestLength) return;
            req.extra = frame[kCommandByteAt];
            payload.push_back(frame[kCommandByteAt]);
            break;
        case kCodeLinkTest:
            if (n != kLinkTestLength) return;
            payload.assign(frame.begin() + kPayloadAt,
                           frame.begin() + kPayloadAt + kLinkPattern.size());
            break;
        case kCodeLive: {
            if (n != kLiveRequestLength) return;
            const MeasurementGroup g = live_.empty() ? NoReading() : live_[liveNext_];
            if (!live_.empty()) liveNext_ = (liveNext_ + 1) % live_.size();
            const auto bytes = measure::EncodeGroup(g, measure::Source::Live);
            payload.assign(bytes.begin(), bytes.end());
            break;
        }
        default:
            return;  // not a command this instrument knows
    }
    req.number = ++requestsSeen_;
    log_.push_back(req);
    send(code, std::move(payload), atUs, nowUs, out);
}

std::vector<FaultRule> Instrument::faultsFor(uint8_t code) {
    std::vector<FaultRule> faults;
    for (RuleState& s : rules_) {
        if (s.rule.onlyCode && *s.rule.onlyCode != code) continue;
        if (s.rule.kind == Fault::ShortBlock && code != kCodeHistory) continue;
        ++s.matched;
        if (s.matched <= s.rule.skip) continue;
        if (s.rule.times >= 0 && s.applied >= s.rule.times) continue;
        ++s.applied;
        faults.push_back(s.rule);
    }
    if (random_.probability > 0.0) {
        std::vector<Fault> kinds;
        for (const Fault k : random_.kinds) {
            if (k != Fault::ShortBlock || code == kCodeHistory) kinds.push_back(k);
        }
        const double u = static_cast<double>(nextRandom() >> 11) * 0x1.0p-53;
        if (!kinds.empty() && u < random_.probability) {
            faults.push_back(randomFault(kinds[nextRandom() % kinds.size()]));
        }
    }
    for (const FaultRule& f : faults) ++appliedCounts_[static_cast<std::size_t>(f.kind)];
    return faults;
}

FaultRule Instrument::randomFault(Fault kind) {
    FaultRule f;
    f.kind = kind;
    f.receiver = static_cast<uint8_t>(1 + nextRandom() % 255);
    f.noiseBytes = static_cast<int>(1 + nextRandom() % 8);
    f.chunks = static_cast<int>(2 + nextRandom() % 4);
    f.chunkGapMs = static_cast<int64_t>(1 + nextRandom() % 20);
    f.groups = static_cast<std::size_t>(nextRandom() % 3);
    f.lateMs = static_cast<int64_t>(2600 + nextRandom() % 1401);
    f.duplicateAfterMs = static_cast<int64_t>(nextRandom() % 1501);
    return f;
}

void Instrument::send(uint8_t code, std::vector<uint8_t> payload, int64_t atUs, int64_t nowUs,
                      std::vector<Delivery>& out) {
    bool silent = false;
    bool badChecksum = false;
    bool copyInFront = false;
    uint8_t receiver = kHostAddress;
    std::size_t noise = 0;
    int chunks = 1;
    int64_t gapUs = 0;
    int64_t start = atUs + turnaroundUs_;
    std::vector<int64_t> copiesAfterUs;
    for (const FaultRule& f : faultsFor(code)) {
        switch (f.kind) {
            case Fault::Silence:
                silent = true;
                break;
            case Fault::WrongReceiver:
                receiver = f.receiver;
                break;
            case Fault::BadChecksum:
                badChecksum = true;
                break;
            case Fault::Noise:
                noise += static_cast<std::size_t>(std::max(0, f.noiseBytes));
                break;
            case Fault::Chunked:
                chunks = std::max(1, f.chunks);
                gapUs = std::max<int64_t>(0, f.chunkGapMs) * 1000;
                break;
            case Fault::ShortBlock:
                payload.resize(std::min(payload.size(), f.groups * measure::kGroupSize));
                break;
            case Fault::Late:
                start = atUs + std::max<int64_t>(0, f.lateMs) * 1000;
                break;
            case Fault::Duplicate:
                copiesAfterUs.push_back(std::max<int64_t>(0, f.duplicateAfterMs) * 1000);
                break;
            case Fault::CopyInFront:
                copyInFront = true;
                break;
        }
    }
    if (silent) return;

    Transmission t;
    t.request = requestsSeen_;
    t.noise = noise;
    t.damaged = badChecksum || receiver != kHostAddress;
    t.bytes.reserve(noise + payload.size() + kOverhead);
    for (std::size_t i = 0; i < noise; ++i) t.bytes.push_back(kNoise[i % kNoise.size()]);
    // At most kMaxGroupsPerReply groups, so the payload fits the length byte. The checksum
    // covers the receiver as sent, so a wrong receiver is not also a damaged frame.
    const std::vector<uint8_t> frame = MakeFrame(kReplyStart, address_, receiver, code, payload);
    t.bytes.insert(t.bytes.end(), frame.begin(), frame.end());
    if (badChecksum) t.bytes.back() = static_cast<uint8_t>(~t.bytes.back());

    if (copyInFront && lastReply_) {
        // The reply before, once more, taking the line just where this one would: this one
        // follows it back to back.
        Transmission copy = *lastReply_;
        copy.copyOf = lastReply_->id;
        start = transmit(std::move(copy), start, 1, 0, nowUs, out);
    }
    const uint32_t id = transmissionsSent_ + 1;
    lastReply_ = t;
    lastReply_->id = id;
    const int64_t end = transmit(t, start, chunks, gapUs, nowUs, out);
    // Each copy counts from the end of the reply itself and takes the line like any reply. A
    // copy sent back to back goes now; a later one waits until it is ready to go, so that a
    // reply ready before it is not held up behind it (a transmitter sends what is ready first).
    for (const int64_t after : copiesAfterUs) {
        Transmission copy = *lastReply_;
        copy.copyOf = id;
        if (after == 0) {
            transmit(std::move(copy), end, chunks, gapUs, nowUs, out);
        } else {
            laterCopies_.push_back({end + after, std::move(copy), chunks, gapUs});
        }
    }
}

std::optional<int64_t> Instrument::nextDueUs() const {
    std::optional<int64_t> t;
    for (const LaterCopy& c : laterCopies_) t = t ? std::min(*t, c.readyUs) : c.readyUs;
    return t;
}

std::vector<Delivery> Instrument::due(int64_t nowUs) {
    std::vector<Delivery> out;
    placeDue(nowUs, out);
    return out;
}

void Instrument::placeDue(int64_t nowUs, std::vector<Delivery>& out) {
    std::stable_sort(laterCopies_.begin(), laterCopies_.end(),
                     [](const LaterCopy& a, const LaterCopy& b) { return a.readyUs < b.readyUs; });
    while (!laterCopies_.empty() && laterCopies_.front().readyUs <= nowUs) {
        LaterCopy c = std::move(laterCopies_.front());
        laterCopies_.erase(laterCopies_.begin());
        transmit(std::move(c.copy), c.readyUs, c.chunks, c.gapUs, nowUs, out);
    }
}

int64_t Instrument::takeLine(int64_t startUs, int64_t lengthUs) {
    int64_t at = startUs;
    for (const auto& [from, to] : lineTaken_) {
        if (at + lengthUs <= from) break;  // fits in the gap before this frame
        at = std::max(at, to);
    }
    const auto pos = std::lower_bound(lineTaken_.begin(), lineTaken_.end(),
                                      std::pair<int64_t, int64_t>{at, at + lengthUs});
    lineTaken_.insert(pos, {at, at + lengthUs});
    return at;
}

int64_t Instrument::transmit(Transmission t, int64_t startUs, int chunks, int64_t gapUs,
                             int64_t nowUs, std::vector<Delivery>& out) {
    t.id = ++transmissionsSent_;
    const std::vector<uint8_t>& bytes = t.bytes;
    std::size_t pieces = 1;
    if (chunks > 1) {
        pieces = std::min<std::size_t>(static_cast<std::size_t>(chunks), bytes.size());
    } else if (pacing_ && pacingChunk_ > 0) {
        pieces = (bytes.size() + pacingChunk_ - 1) / pacingChunk_;
    }
    const int64_t gaps = static_cast<int64_t>(pieces - 1) * gapUs;
    // One transmission at a time, also without pacing: the pieces of one never mingle with
    // those of another.
    const int64_t onLine = pacing_ ? LineTimeUs(static_cast<int64_t>(bytes.size())) : 1;
    const int64_t start = takeLine(startUs, onLine + gaps);
    // When the last byte of bytes[0..i] has arrived.
    const auto arrivedBy = [&](std::size_t i) {
        return pacing_ ? start + LineTimeUs(static_cast<int64_t>(i + 1)) : start;
    };
    std::size_t from = 0;
    int64_t at = start;
    for (std::size_t p = 0; p < pieces; ++p) {
        std::size_t to = 0;
        if (chunks > 1) {
            // As even as possible, the longer pieces first.
            const std::size_t base = bytes.size() / pieces;
            to = from + base + (p < bytes.size() % pieces ? 1 : 0);
        } else {
            to = pieces == 1 ? bytes.size() : std::min(bytes.size(), from + pacingChunk_);
        }
        at = arrivedBy(to - 1) + static_cast<int64_t>(p) * gapUs;
        out.push_back(
            Delivery{std::max<int64_t>(1, at - nowUs),
                     std::vector<uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                                          bytes.begin() + static_cast<std::ptrdiff_t>(to)),
                     t.id, from});
        from = to;
    }
    t.startUs = start;
    sent_.push_back(std::move(t));
    return at;
}

namespace {

int Phase(Input in, const Connection& c) {
    switch (in) {
        case Input::A1:
            return 0;
        case Input::B1:
            return 240;
        case Input::C1:
            return 120;
        case Input::A2:
            return c.offset;
        case Input::B2:
            return (c.crossed ? 120 : 240) + c.offset;
        case Input::C2:
            return (c.crossed ? 240 : 120) + c.offset;
    }
    return 0;
}

constexpr std::array<std::pair<Input, Input>, 6> kPairInputs = {{
    {Input::A1, Input::A2},
    {Input::B1, Input::B2},
    {Input::C1, Input::C2},
    {Input::A1, Input::B2},
    {Input::B1, Input::C2},
    {Input::C1, Input::A2},
}};

}  // namespace

MeasurementGroup ConnectionReading(const Connection& c, const std::function<int(int)>& jitter) {
    const auto deviation = [&jitter](int span) { return jitter ? jitter(span) : 0; };
    MeasurementGroup g;
    for (std::size_t k = 0; k < 6; ++k) {
        const auto [first, second] = kPairInputs[k];
        int a = Phase(first, c) - Phase(second, c) + deviation(3);
        a = ((a % 360) + 360) % 360;
        g.pairAngles[k] = static_cast<int16_t>(a);
        if (c.dead && (first == *c.dead || second == *c.dead)) g.pairAngles[k] = NoAngle;
    }
    for (std::size_t k = 0; k < 6; ++k) {
        const bool firstGroup = k < 3;
        const int kv = (firstGroup ? c.kv1 : c.kv2) + deviation(1);
        const Input in = measure::LiveInputOrder[k];
        const bool dead = c.dead && in == *c.dead;
        g.voltages[idx(in)] = dead ? 0 : static_cast<uint8_t>(std::clamp(kv, 1, 255));
        g.indicators[idx(in)] = g.voltages[idx(in)] != 0;
    }
    return g;
}

std::vector<MeasurementGroup> MakeStoredHistory(std::size_t n, uint64_t seed) {
    uint64_t state = seed;
    auto jitter = JitterFrom(state);
    std::vector<MeasurementGroup> out;
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        Connection c;
        // Measurements come in runs at one site, so the voltage level changes every few groups.
        const uint8_t kv = (i / 5) % 2 == 0 ? 10 : 35;
        c.kv1 = kv;
        c.kv2 = kv;
        c.crossed = SplitMix(state) % 4 == 0;
        c.offset = static_cast<int>(SplitMix(state) % 6);
        if (SplitMix(state) % 20 == 0) c.dead = measure::LiveInputOrder[SplitMix(state) % 6];
        MeasurementGroup g = ConnectionReading(c, jitter);
        if (SplitMix(state) % 10 == 0) g.pairAngles[SplitMix(state) % 6] = NoAngle;
        out.push_back(g);
    }
    return out;
}

std::vector<MeasurementGroup> MakeIdenticalHistory(std::size_t n, uint64_t seed) {
    const std::vector<MeasurementGroup> one = MakeStoredHistory(1, seed);
    return std::vector<MeasurementGroup>(n, one.front());
}

std::vector<MeasurementGroup> DefaultLiveSequence() {
    uint64_t state = 0x5EED;
    auto jitter = JitterFrom(state);
    const Connection inPhase10{false, 2, 10, 10, {}};
    const Connection crossed10{true, 3, 10, 11, {}};
    const Connection inPhase35{false, 1, 35, 35, {}};
    const Connection crossed35{true, 2, 35, 36, {}};
    Connection inPhase35DeadC2 = inPhase35;
    inPhase35DeadC2.dead = Input::C2;
    std::vector<MeasurementGroup> out;
    for (const Connection* c : std::initializer_list<const Connection*>{
             &inPhase10, &inPhase10, &inPhase10, &crossed10, &crossed10, &inPhase35,
             &inPhase35DeadC2, &crossed35}) {
        out.push_back(ConnectionReading(*c, jitter));
    }
    out[2].pairAngles[idx(Pair::C1A2)] = NoAngle;
    return out;
}

}  // namespace ck::sim
