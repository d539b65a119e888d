// SPDX-License-Identifier: MIT
// zandrel-sim: the simulated instrument on a pseudo-terminal, for running the application
// without an instrument. With --as COMn the application finds it on COMn by itself.

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "generated/version.h"
#include "sim/instrument.h"
#include "sim/live_sequences.h"
#include "sim/pty_server.h"
#include "sim/transport.h"

namespace {

using ck::sim::Fault;
using ck::sim::FaultRule;

constexpr std::size_t kDefaultGroups = 36;
// The application scans COM1 to COM16.
constexpr int kFirstCom = 1;
constexpr int kLastCom = 16;

constexpr const char* kUsage = R"(Usage: zandrel-sim [options]

Plays the Zandrel instrument on a pseudo-terminal, at 9600 baud, until it is stopped
(Ctrl-C, SIGTERM).

  --as COMn             make the terminal the application's COMn (n 1 to 16): a link
                        $XDG_CONFIG_HOME/checkkorvelt/ports/COMn (default ~/.config/...);
                        a link already there is put back on exit
  --print-path          print the terminal's device path on stdout once ready
  --transport T         how the replies reach the program (default pty):
                          pty    the 9600-baud line itself
                          uart   the line behind a USB adapter: bytes in packets,
                                 up to 16 ms late
                          usb    a native-USB port: each reply whole, within 1 ms
                                 of the request (turnaround 0 unless given)
                          radio  a radio or Bluetooth link: replies 20 to 100 ms
                                 late, at random, in pieces
  --groups N            stored history groups (default 36)
  --history-seed S      which history is stored (default 1)
  --identical           every stored group the same (one steady reading stored
                        again and again)
  --count N             history count to report, whatever is stored
  --live SEQ            live readings: default, in-phase, crossed, missing, steady
  --turnaround MS       time from a request's last byte to the reply (default 10)
  --verbose             one line on stderr per request understood

Misbehaviour (each spoils every reply unless limited by the --fault-* options):
  --silent              no reply
  --wrong-address       reply addressed to 0x01 instead of the application
  --bad-checksum        reply with its checksum inverted
  --noise N             N bytes of line noise in front of the reply
  --chunks N            reply in N pieces, --chunk-gap MS apart (default 5)
  --short-block N       history replies carry at most N groups
  --late MS             reply starts MS after the request
  --duplicate           every reply sent twice, back to back
  --duplicate-late MS   every reply sent again MS after its last byte, taking the
                        line like any reply (one frame at a time)
  --copy-in-front       the reply before sent again just in front of each reply
  --fault-code C        spoil only replies to command code C (1 to 6)
  --fault-skip N        let the first N replies that would be spoiled pass
  --fault-times N       spoil only N replies
  --random-faults P     spoil each reply with probability P (0 to 1) by a random kind
  --seed S              seed of the random faults and the radio's timing (default 1)

  --help                this text
  --version             the version
)";

struct Options {
    ck::sim::TransportKind transport = ck::sim::TransportKind::Pty;
    std::size_t groups = kDefaultGroups;
    uint64_t historySeed = 1;
    bool identical = false;
    std::optional<uint16_t> count;
    std::string live = "default";
    std::optional<int64_t> turnaroundMs;
    std::optional<int> com;
    bool printPath = false;
    bool verbose = false;

    std::vector<FaultRule> faults;
    std::optional<uint8_t> faultCode;
    int faultSkip = 0;
    int faultTimes = -1;
    int64_t chunkGapMs = 5;
    double randomProbability = 0.0;
    uint64_t seed = 1;
};

struct UsageError {
    std::string message;
};

template <typename T>
T Number(std::string_view option, std::string_view text, T min, T max) {
    T value{};
    const auto [end, err] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (err != std::errc() || end != text.data() + text.size() || value < min || value > max) {
        throw UsageError{std::string(option) + ": not a number from " + std::to_string(min) +
                         " to " + std::to_string(max) + ": '" + std::string(text) + "'"};
    }
    return value;
}

double Probability(std::string_view option, std::string_view text) {
    char* end = nullptr;
    const std::string s(text);
    errno = 0;
    const double p = std::strtod(s.c_str(), &end);
    if (s.empty() || end != s.c_str() + s.size() || errno != 0 || !(p >= 0.0 && p <= 1.0)) {
        throw UsageError{std::string(option) + ": not a probability from 0 to 1: '" + s + "'"};
    }
    return p;
}

int ComNumber(std::string_view text) {
    std::string_view digits = text;
    if (digits.size() > 3 && (digits.substr(0, 3) == "COM" || digits.substr(0, 3) == "com")) {
        digits.remove_prefix(3);
    }
    return Number<int>("--as", digits, kFirstCom, kLastCom);
}

FaultRule Rule(Fault kind) {
    FaultRule r;
    r.kind = kind;
    return r;
}

Options Parse(int argc, char** argv) {
    Options o;
    std::vector<std::string_view> args(argv + 1, argv + argc);
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view a = args[i];
        const auto value = [&]() -> std::string_view {
            if (i + 1 >= args.size()) throw UsageError{std::string(a) + " needs a value"};
            return args[++i];
        };
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (a == "--version") {
            std::printf("zandrel-sim %s\n", ck::kVersion);
            std::exit(0);
        } else if (a == "--as") {
            o.com = ComNumber(value());
        } else if (a == "--print-path") {
            o.printPath = true;
        } else if (a == "--verbose") {
            o.verbose = true;
        } else if (a == "--transport") {
            const std::string_view name = value();
            const auto kind = ck::sim::TransportNamed(name);
            if (!kind) {
                throw UsageError{"--transport: not pty, uart, usb or radio: '" + std::string(name) +
                                 "'"};
            }
            o.transport = *kind;
        } else if (a == "--identical") {
            o.identical = true;
        } else if (a == "--groups") {
            o.groups = Number<std::size_t>(a, value(), 0, 0xFFFF);
        } else if (a == "--history-seed") {
            o.historySeed = Number<uint64_t>(a, value(), 0, UINT64_MAX);
        } else if (a == "--count") {
            o.count = Number<uint16_t>(a, value(), 0, 0xFFFF);
        } else if (a == "--live") {
            o.live = value();
            if (!ck::sim::LiveSequenceNamed(o.live)) {
                throw UsageError{"--live: no sequence named '" + o.live + "'"};
            }
        } else if (a == "--turnaround") {
            o.turnaroundMs = Number<int64_t>(a, value(), 0, 60000);
        } else if (a == "--silent") {
            o.faults.push_back(Rule(Fault::Silence));
        } else if (a == "--wrong-address") {
            o.faults.push_back(Rule(Fault::WrongReceiver));
        } else if (a == "--bad-checksum") {
            o.faults.push_back(Rule(Fault::BadChecksum));
        } else if (a == "--noise") {
            FaultRule r = Rule(Fault::Noise);
            r.noiseBytes = Number<int>(a, value(), 1, 255);
            o.faults.push_back(r);
        } else if (a == "--chunks") {
            FaultRule r = Rule(Fault::Chunked);
            r.chunks = Number<int>(a, value(), 2, static_cast<int>(ck::protocol::kMaxReplyLength));
            o.faults.push_back(r);
        } else if (a == "--chunk-gap") {
            o.chunkGapMs = Number<int64_t>(a, value(), 0, 60000);
        } else if (a == "--short-block") {
            FaultRule r = Rule(Fault::ShortBlock);
            r.groups = Number<std::size_t>(a, value(), 0, ck::protocol::kMaxGroupsPerReply);
            o.faults.push_back(r);
        } else if (a == "--late") {
            FaultRule r = Rule(Fault::Late);
            r.lateMs = Number<int64_t>(a, value(), 0, 600000);
            o.faults.push_back(r);
        } else if (a == "--duplicate") {
            o.faults.push_back(Rule(Fault::Duplicate));
        } else if (a == "--copy-in-front") {
            o.faults.push_back(Rule(Fault::CopyInFront));
        } else if (a == "--duplicate-late") {
            FaultRule r = Rule(Fault::Duplicate);
            r.duplicateAfterMs = Number<int64_t>(a, value(), 0, 600000);
            o.faults.push_back(r);
        } else if (a == "--fault-code") {
            o.faultCode = Number<uint8_t>(a, value(), 1, 6);
        } else if (a == "--fault-skip") {
            o.faultSkip = Number<int>(a, value(), 0, 1 << 30);
        } else if (a == "--fault-times") {
            o.faultTimes = Number<int>(a, value(), 0, 1 << 30);
        } else if (a == "--random-faults") {
            o.randomProbability = Probability(a, value());
        } else if (a == "--seed") {
            o.seed = Number<uint64_t>(a, value(), 0, UINT64_MAX);
        } else {
            throw UsageError{"unknown option '" + std::string(a) + "'"};
        }
    }
    for (FaultRule& r : o.faults) {
        r.onlyCode = o.faultCode;
        r.skip = o.faultSkip;
        r.times = o.faultTimes;
        r.chunkGapMs = o.chunkGapMs;
    }
    return o;
}

// Signals only write to this pipe; the server loop waits on its read end.
int gStopPipe[2] = {-1, -1};

extern "C" void OnStopSignal(int) {
    const int saved = errno;
    const char byte = 's';
    [[maybe_unused]] const ssize_t n = ::write(gStopPipe[1], &byte, 1);
    errno = saved;
}

bool InstallStopSignals() {
    if (pipe(gStopPipe) != 0) return false;
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        if (sigaction(sig, &sa, nullptr) != 0) return false;
    }
    signal(SIGPIPE, SIG_IGN);
    return true;
}

void LogRequests(ck::sim::Instrument& instrument) {
    for (const ck::sim::Request& r : instrument.requests()) {
        if (r.code == ck::protocol::kCodeHistory) {
            std::fprintf(stderr, "%10.3f s  code %u  start %u count %u\n",
                         static_cast<double>(r.timeUs) / 1e6, unsigned{r.code}, unsigned{r.start},
                         unsigned{r.count});
        } else {
            std::fprintf(stderr, "%10.3f s  code %u\n", static_cast<double>(r.timeUs) / 1e6,
                         unsigned{r.code});
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    try {
        o = Parse(argc, argv);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "zandrel-sim: %s (see --help)\n", e.message.c_str());
        return 2;
    }

    ck::sim::Instrument instrument;
    instrument.setStoredGroups(o.identical ? ck::sim::MakeIdenticalHistory(o.groups, o.historySeed)
                                           : ck::sim::MakeStoredHistory(o.groups, o.historySeed));
    instrument.setLiveSequence(*ck::sim::LiveSequenceNamed(o.live));
    instrument.setReportedCount(o.count);
    instrument.setTurnaroundMs(
        o.turnaroundMs.value_or(ck::sim::Transport::defaultTurnaroundMs(o.transport)));
    for (const FaultRule& r : o.faults) instrument.addFault(r);
    if (o.randomProbability > 0.0) {
        ck::sim::RandomFaults random;
        random.seed = o.seed;
        random.probability = o.randomProbability;
        instrument.setRandomFaults(random);
    }

    if (!InstallStopSignals()) {
        std::perror("zandrel-sim: signals");
        return 1;
    }
    try {
        ck::sim::PtyServer::Options serverOptions;
        serverOptions.transport = o.transport;
        serverOptions.seed = o.seed;
        ck::sim::PtyServer server(instrument, serverOptions);
        std::unique_ptr<ck::sim::ComPinLink> pin;
        if (o.com) pin = std::make_unique<ck::sim::ComPinLink>(*o.com, server.slavePath());
        if (o.printPath) {
            std::printf("%s\n", server.slavePath().c_str());
            std::fflush(stdout);
        }
        std::fprintf(stderr, "zandrel-sim: instrument on %s", server.slavePath().c_str());
        if (pin) std::fprintf(stderr, " as COM%d (%s)", *o.com, pin->path().c_str());
        std::fprintf(stderr, ", %zu stored groups, replies over %s\n", o.groups,
                     std::string(ck::sim::TransportName(o.transport)).c_str());

        while (server.serveOnce(-1, gStopPipe[0])) {
            if (o.verbose) LogRequests(instrument);
            instrument.clearRequests();  // the log would grow for as long as we run
        }
        if (server.bytesDropped() > 0) {
            std::fprintf(stderr, "zandrel-sim: %zu reply bytes lost, nobody reading\n",
                         server.bytesDropped());
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zandrel-sim: %s\n", e.what());
        return 1;
    }
    return 0;
}
