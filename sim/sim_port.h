// SPDX-License-Identifier: MIT
#pragma once
// The simulated instrument behind the serial-port interface, in-process: what the application
// writes goes to the instrument, and its replies come back through a transport (sim/transport.h)
// on timers of the given service, so on the virtual clock a whole exchange runs without
// waiting for anything. Each byte is stamped with the microsecond it is handed over.

#include <cstdint>
#include <memory>
#include <set>
#include <span>
#include <vector>

#include "platform/serial_port.h"
#include "platform/timer.h"
#include "sim/instrument.h"
#include "sim/transport.h"

namespace ck::sim {

// One write to the port, as the instrument's side of the line saw it.
struct WrittenFrame {
    int64_t timeMs = 0;
    int16_t commPort = 0;
    std::vector<uint8_t> bytes;
};

class SimPort final : public platform::SerialPort {
public:
    // The instrument sits on COM `instrumentPort`; every other number does not exist.
    SimPort(platform::TimerService& timers, Instrument& instrument, int16_t instrumentPort = 1);
    ~SimPort() override;

    void setInstrumentPort(int16_t n) { instrumentPort_ = n; }
    int16_t instrumentPort() const { return instrumentPort_; }
    // A port held by another program: opening it fails with 8005.
    void setPortBusy(int16_t n, bool busy = true);
    // A port that exists and opens, with nothing attached.
    void addEmptyPort(int16_t n) { emptyPorts_.insert(n); }

    // How the replies travel (the instrument's line is set to suit); without a call, they are
    // handed over as the instrument's line delivers them.
    void setTransport(TransportKind kind, uint64_t seed = 1);

    // Every write made on any port, in order.
    const std::vector<WrittenFrame>& written() const { return written_; }
    void clearWritten() { written_.clear(); }

    // Puts bytes on the line towards the application `delayUs` from now, as the instrument's
    // replies are (lost if the instrument's port is not open then). The timers count whole
    // milliseconds: the bytes come at the first millisecond at or after their time, never
    // sooner, stamped with their own time.
    void scheduleDelivery(int64_t delayUs, std::vector<uint8_t> bytes);
    // Deliveries scheduled and not yet handed over.
    std::size_t pendingDeliveries() const { return transport_.pending(); }

    // What the device handed the port, piece by piece, once recording is on: each piece's
    // bytes are [offset, offset + size) of an instrument's transmission (0: not the
    // instrument's). Pieces lost on a closed device are not in it.
    struct Arrival {
        int64_t atUs = 0;
        uint32_t transmission = 0;
        std::size_t offset = 0;
        std::size_t size = 0;
    };
    void recordArrivals(bool on) { recording_ = on; }
    const std::vector<Arrival>& arrivals() const { return arrivals_; }

    // The device itself: how many times it was opened, and whether it is open now (a port
    // closed under hold keeps it).
    int deviceOpens() const { return deviceOpens_; }
    bool deviceOpen() const { return deviceOpen_; }

    // The virtual clock, in microseconds.
    int64_t nowUs() const override { return timers_.nowMs() * 1000; }

protected:
    int doOpen(int16_t port) override;
    void doClose() override { deviceOpen_ = false; }
    bool doResume(int16_t port) override { return deviceOpen_ && port == openPort_; }
    bool doWrite(std::span<const uint8_t> bytes) override;
    void postReceiveEvent() override;

private:
    void wakeUp();
    void arrive();

    platform::TimerService& timers_;
    Instrument& instrument_;
    int16_t instrumentPort_;
    int16_t openPort_ = 0;
    bool deviceOpen_ = false;
    int deviceOpens_ = 0;
    std::set<int16_t> busyPorts_;
    std::set<int16_t> emptyPorts_;
    std::vector<WrittenFrame> written_;
    Transport transport_;
    std::unique_ptr<platform::Timer> wake_;
    bool recording_ = false;
    std::vector<Arrival> arrivals_;
    // Posted receive events check this, so one posted after the port's end does nothing.
    std::shared_ptr<SimPort*> self_;
};

}  // namespace ck::sim
