// SPDX-License-Identifier: MIT
#pragma once
// The communication trace's file: lines appended whole, each handed to the system as it comes
// (a program that ends loses none), up to a size limit that one last line announces. UTF-8,
// CR LF line ends, as the program's other text files end their lines.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "output/session_log.h"
#include "platform/log_file.h"

namespace ck::output {

// 100 MB, as file managers count them.
inline constexpr uint64_t kTraceFileLimit = 100ull * 1024 * 1024;
// Kept free for the last line: no line of a trace's own is this long but runs of other bytes,
// and those make room by stopping the file.
inline constexpr uint64_t kTraceLastLineRoom = 512;

class TraceFile {
public:
    // On a file opened for appending, holding at most `limit` bytes (what was in it counted).
    TraceFile(std::string path, platform::OpenedAppendFile opened,
              uint64_t limit = kTraceFileLimit);

    // Appends `line` and its end, in one write. Where it would leave no room for the last line
    // under the limit, `last()` goes in instead, and nothing after it. A failure is returned
    // (the file and the reason) and nothing more is written; a line the disk took only in part
    // is taken back out.
    std::optional<LogFailure> append(std::string_view line,
                                     const std::function<std::string()>& last);
    // The last line is in (or there was no room even for it): it takes nothing more.
    bool full() const { return full_; }
    bool failed() const { return failed_; }
    const std::string& path() const { return path_; }
    uint64_t size() const { return size_; }

private:
    std::string path_;
    std::unique_ptr<platform::AppendFile> file_;
    uint64_t size_ = 0;
    uint64_t limit_ = 0;
    bool full_ = false;
    bool failed_ = false;
    // In front of the first line: the end of a line an earlier run left unfinished.
    std::string prefix_;
};

}  // namespace ck::output
