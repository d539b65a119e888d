// SPDX-License-Identifier: MIT
#include "output/trace_file.h"

#include <utility>

namespace ck::output {

TraceFile::TraceFile(std::string path, platform::OpenedAppendFile opened, uint64_t limit)
    : path_(std::move(path)), file_(std::move(opened.file)), size_(opened.size), limit_(limit) {
    if (size_ > 0 && !opened.tail.ends_with('\n')) prefix_ = "\r\n";
}

std::optional<LogFailure> TraceFile::append(std::string_view line,
                                            const std::function<std::string()>& last) {
    if (!file_) return std::nullopt;
    std::string bytes = prefix_;
    const uint64_t needed = bytes.size() + line.size() + 2;
    if (size_ + needed + kTraceLastLineRoom > limit_) {
        full_ = true;
        bytes += last();
        // Not even the last line fits (a file already full from an earlier run): nothing.
        if (size_ + bytes.size() + 2 > limit_) {
            file_.reset();
            return std::nullopt;
        }
    } else {
        bytes += line;
    }
    bytes += "\r\n";
    if (std::string why = file_->append(bytes); !why.empty()) {
        file_.reset();
        failed_ = true;
        return LogFailure{path_, std::move(why)};
    }
    size_ += bytes.size();
    prefix_.clear();
    if (full_) file_.reset();
    return std::nullopt;
}

}  // namespace ck::output
