// SPDX-License-Identifier: MIT
#pragma once
// The simulated instrument on a pseudo-terminal: the application opens the terminal's slave
// side as it would a serial port, and the server plays the instrument on the master side,
// paced like a 9600-baud line, or as another transport brings its bytes (sim/transport.h).
// Standard library and POSIX only.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sim/instrument.h"
#include "sim/transport.h"

namespace ck::sim {

// Bytes on their way to the application. Each chunk is held until its due time and, on a paced
// line, however late the caller comes, until the line could have carried it since the previous
// chunk went: catching up never sends bytes faster than the line would.
class LineQueue {
public:
    explicit LineQueue(bool paced = true) : paced_(paced) {}
    void add(int64_t dueUs, std::vector<uint8_t> bytes);
    bool empty() const { return chunks_.empty(); }
    std::size_t size() const { return chunks_.size(); }
    // When the front chunk may be written; nothing when the queue is empty.
    std::optional<int64_t> nextWriteUs() const;
    // Removes the front chunk, to be written at nowUs (at or after nextWriteUs()).
    std::vector<uint8_t> take(int64_t nowUs);

private:
    struct Chunk {
        int64_t dueUs;
        std::vector<uint8_t> bytes;
    };
    bool paced_;
    std::deque<Chunk> chunks_;           // by due time; equal times keep their order
    std::optional<int64_t> lineFreeUs_;  // when the last chunk written had arrived
};

class PtyServer {
public:
    struct Options {
        // How the replies reach the application.
        TransportKind transport = TransportKind::Pty;
        uint64_t seed = 1;  // the transport's chance, where it has any
        // On the plain line, reply bytes go out in pieces of this many, each when its last
        // byte would have arrived (0: a reply at once, when its last byte would have arrived).
        std::size_t chunkBytes = 4;
    };

    // Opens a pseudo-terminal, puts it in raw mode and holds its slave side open, so that
    // the application's closing and reopening never hangs the line up. Throws
    // std::system_error when no terminal can be had.
    PtyServer(Instrument& instrument, Options options);
    explicit PtyServer(Instrument& instrument) : PtyServer(instrument, Options{}) {}
    ~PtyServer();
    PtyServer(const PtyServer&) = delete;
    PtyServer& operator=(const PtyServer&) = delete;

    // The device the application opens, e.g. /dev/pts/3.
    const std::string& slavePath() const { return slavePath_; }

    // Serves until stopFd becomes readable (a byte, or its write end closed); -1 serves for
    // ever. Returns false when waiting failed for another reason.
    bool run(int stopFd);
    // Waits at most maxWaitMs for request bytes or the next due write, and handles them.
    // Returns false when stopFd became readable.
    bool serveOnce(int maxWaitMs, int stopFd = -1);

    // Microseconds on the server's monotonic clock since it was made.
    int64_t nowUs() const;

    // Told of every write towards the application: when, and which bytes went.
    using WriteObserver = std::function<void(int64_t atUs, std::span<const uint8_t> bytes)>;
    void setWriteObserver(WriteObserver observer) { observer_ = std::move(observer); }
    // Reply bytes lost because the terminal's input side was full (nobody reading).
    std::size_t bytesDropped() const { return dropped_; }

private:
    void readRequests();
    void writeDue();

    Instrument& instrument_;
    Options options_;
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
    int64_t epochNs_ = 0;
    Transport transport_;
    LineQueue queue_;
    WriteObserver observer_;
    std::size_t dropped_ = 0;
};

// The pin that makes COMn this terminal for the application: a symbolic link
// <config>/checkkorvelt/ports/COMn, where <config> is $XDG_CONFIG_HOME when it is absolute,
// else $HOME/.config. A link already there is replaced, and put back when this one goes (so
// a pin to a real adapter survives a session with the simulator), unless someone replaced
// ours meanwhile.
class ComPinLink {
public:
    // Throws std::system_error (or std::filesystem::filesystem_error) when the link cannot
    // be made, std::invalid_argument when no configuration directory is known.
    ComPinLink(int comNumber, const std::string& target);
    ~ComPinLink();
    ComPinLink(const ComPinLink&) = delete;
    ComPinLink& operator=(const ComPinLink&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::string target_;
    std::optional<std::string> previous_;  // what the replaced link pointed to
};

}  // namespace ck::sim
