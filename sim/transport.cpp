// SPDX-License-Identifier: MIT
#include "sim/transport.h"

#include <algorithm>
#include <utility>

namespace ck::sim {
namespace {

// The pseudo-terminal hands the line over in pieces of this many bytes, as zandrel-sim does.
constexpr std::size_t kPtyPieceBytes = 4;

uint64_t SplitMix(uint64_t& state) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

}  // namespace

std::optional<TransportKind> TransportNamed(std::string_view name) {
    for (std::size_t i = 0; i < std::size(kTransportNames); ++i) {
        if (kTransportNames[i] == name) return static_cast<TransportKind>(i);
    }
    return std::nullopt;
}

std::string_view TransportName(TransportKind kind) {
    return kTransportNames[static_cast<std::size_t>(kind)];
}

int64_t Transport::defaultTurnaroundMs(TransportKind kind) {
    // A native-USB instrument answers within a millisecond, the whole reply at once.
    return kind == TransportKind::Usb ? 0 : 10;
}

Transport::Transport(TransportKind kind, uint64_t seed) : kind_(kind), rng_(seed) {}

void Transport::configure(Instrument& instrument) const {
    switch (kind_) {
        case TransportKind::Pty:
            instrument.setLinePacing(true, kPtyPieceBytes);
            break;
        case TransportKind::Uart:
            instrument.setLinePacing(true, 1);  // every byte at its time: the adapter gathers
            break;
        case TransportKind::Usb:
        case TransportKind::Radio:
            instrument.setLinePacing(false);
            break;
    }
}

int64_t Transport::uniform(int64_t lo, int64_t hi) {
    return lo + static_cast<int64_t>(SplitMix(rng_) % static_cast<uint64_t>(hi - lo + 1));
}

void Transport::send(int64_t atUs, const Delivery& d) {
    if (d.bytes.empty()) return;
    Arrival a{atUs, seq_++, d};
    const auto pos =
        std::upper_bound(line_.begin(), line_.end(), a,
                         [](const Arrival& x, const Arrival& y) { return x.atUs < y.atUs; });
    line_.insert(pos, std::move(a));
}

std::optional<int64_t> Transport::nextEventUs() const {
    std::optional<int64_t> t;
    const auto consider = [&t](int64_t at) { t = t ? std::min(*t, at) : at; };
    if (!line_.empty()) consider(line_.front().atUs);
    if (!packet_.empty()) consider(packetDueUs_);
    if (!out_.empty()) consider(out_.front().atUs);
    return t;
}

std::vector<Piece> Transport::release(int64_t nowUs) {
    for (;;) {
        const bool arrival = !line_.empty() && line_.front().atUs <= nowUs;
        const bool flush = !packet_.empty() && packetDueUs_ <= nowUs;
        if (!arrival && !flush) break;
        if (flush && (!arrival || packetDueUs_ <= line_.front().atUs)) {
            flushPacket(packetDueUs_);
        } else {
            const Arrival a = std::move(line_.front());
            line_.pop_front();
            arrive(a);
        }
    }
    std::vector<Piece> ready;
    while (!out_.empty() && out_.front().atUs <= nowUs) {
        ready.push_back(std::move(out_.front()));
        out_.pop_front();
    }
    return ready;
}

void Transport::clear() {
    line_.clear();
    out_.clear();
    packet_.clear();
    packetFrom_.clear();
}

void Transport::arrive(const Arrival& a) {
    const Delivery& d = a.delivery;
    switch (kind_) {
        case TransportKind::Pty:
            handOver(a.atUs, d.bytes, d.transmission, d.offset);
            break;
        case TransportKind::Usb:
            handOver(a.atUs + uniform(0, kNativeUsbMaxUs), d.bytes, d.transmission, d.offset);
            break;
        case TransportKind::Uart:
            for (std::size_t i = 0; i < d.bytes.size(); ++i) {
                if (packet_.empty()) packetDueUs_ = a.atUs + kUsbPacketLatencyUs;
                packet_.push_back(d.bytes[i]);
                packetFrom_.emplace_back(d.transmission, d.offset + i);
                if (packet_.size() >= kUsbPacketBytes) flushPacket(a.atUs);
            }
            break;
        case TransportKind::Radio: {
            // One latency for the transmission, then pieces of random size a little apart.
            int64_t at = a.atUs + uniform(kRadioMinUs, kRadioMaxUs);
            std::size_t from = 0;
            while (from < d.bytes.size()) {
                const std::size_t left = d.bytes.size() - from;
                const std::size_t size =
                    left <= 4 ? left
                              : static_cast<std::size_t>(uniform(1, static_cast<int64_t>(left)));
                handOver(at,
                         std::vector<uint8_t>(
                             d.bytes.begin() + static_cast<std::ptrdiff_t>(from),
                             d.bytes.begin() + static_cast<std::ptrdiff_t>(from + size)),
                         d.transmission, d.offset + from);
                from += size;
                at += uniform(0, kRadioPieceGapMaxUs);
            }
            break;
        }
    }
}

void Transport::flushPacket(int64_t atUs) {
    // One piece for each transmission the packet holds bytes of, all handed over at once.
    std::size_t i = 0;
    while (i < packet_.size()) {
        std::size_t j = i + 1;
        while (j < packet_.size() && packetFrom_[j].first == packetFrom_[i].first) ++j;
        handOver(atUs,
                 std::vector<uint8_t>(packet_.begin() + static_cast<std::ptrdiff_t>(i),
                                      packet_.begin() + static_cast<std::ptrdiff_t>(j)),
                 packetFrom_[i].first, packetFrom_[i].second);
        i = j;
    }
    packet_.clear();
    packetFrom_.clear();
}

void Transport::handOver(int64_t atUs, std::vector<uint8_t> bytes, uint32_t transmission,
                         std::size_t offset) {
    // Never ahead of what was handed over before: bytes come in order.
    const int64_t at = std::max(atUs, lastOutUs_);
    lastOutUs_ = at;
    out_.push_back(Piece{at, std::move(bytes), transmission, offset});
}

}  // namespace ck::sim
