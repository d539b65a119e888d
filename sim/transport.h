// SPDX-License-Identifier: MIT
#pragma once
// How the instrument's bytes reach the application after its line: the transports a user
// meets. Standard library only, on any clock in microseconds, so that the in-process port and
// the pseudo-terminal server share it.
//
//   pty    the paced 9600-baud line itself, handed over as it comes
//   uart   the paced line behind a USB-serial adapter: bytes handed over in packets, when 62
//          have gathered or 16 ms after the first of them (an FTDI chip's latency timer)
//   usb    a native-USB (CDC-ACM) port: no line at all, every piece whole within 1 ms
//   radio  a Bluetooth or radio link: each transmission 20 to 100 ms late, at random, split
//          into pieces of random size a few milliseconds apart
//
// Bytes always come in the order they were sent, and a frame is never torn apart other than
// into pieces in order.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string_view>
#include <vector>

#include "sim/instrument.h"

namespace ck::sim {

enum class TransportKind : uint8_t { Pty, Uart, Usb, Radio };

inline constexpr std::string_view kTransportNames[] = {"pty", "uart", "usb", "radio"};
std::optional<TransportKind> TransportNamed(std::string_view name);
std::string_view TransportName(TransportKind kind);

// Bytes handed to the application at atUs: [offset, offset + size) of one transmission.
struct Piece {
    int64_t atUs = 0;
    std::vector<uint8_t> bytes;
    uint32_t transmission = 0;
    std::size_t offset = 0;
};

class Transport {
public:
    static constexpr int64_t kUsbPacketLatencyUs = 16'000;
    static constexpr std::size_t kUsbPacketBytes = 62;
    static constexpr int64_t kNativeUsbMaxUs = 1'000;
    static constexpr int64_t kRadioMinUs = 20'000;
    static constexpr int64_t kRadioMaxUs = 100'000;
    static constexpr int64_t kRadioPieceGapMaxUs = 8'000;
    // The turnaround an instrument behind this transport shows by default, in milliseconds.
    static int64_t defaultTurnaroundMs(TransportKind kind);

    explicit Transport(TransportKind kind = TransportKind::Pty, uint64_t seed = 1);

    TransportKind kind() const { return kind_; }
    // Sets the instrument's own line as this transport needs it: paced for the pty and the
    // adapter, none for native USB and radio.
    void configure(Instrument& instrument) const;

    // Bytes the instrument's line delivers at atUs; in any order of atUs.
    void send(int64_t atUs, const Delivery& d);
    // When something happens next: a delivery arrives, a packet is handed over.
    std::optional<int64_t> nextEventUs() const;
    // Everything handed over up to nowUs, in order.
    std::vector<Piece> release(int64_t nowUs);
    // Drops everything in flight.
    void clear();
    // Deliveries and pieces still in flight.
    std::size_t pending() const { return line_.size() + out_.size() + (packet_.empty() ? 0 : 1); }

private:
    struct Arrival {
        int64_t atUs;
        uint64_t seq;
        Delivery delivery;
    };
    void arrive(const Arrival& a);
    void flushPacket(int64_t atUs);
    void handOver(int64_t atUs, std::vector<uint8_t> bytes, uint32_t transmission,
                  std::size_t offset);
    int64_t uniform(int64_t lo, int64_t hi);

    TransportKind kind_;
    uint64_t rng_;
    uint64_t seq_ = 0;
    std::deque<Arrival> line_;  // by time, then by order sent
    std::deque<Piece> out_;     // ready, in order of atUs
    int64_t lastOutUs_ = INT64_MIN;
    // The adapter's packet being gathered, byte by byte with where each came from.
    std::vector<uint8_t> packet_;
    std::vector<std::pair<uint32_t, std::size_t>> packetFrom_;
    int64_t packetDueUs_ = 0;
};

}  // namespace ck::sim
