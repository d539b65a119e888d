// SPDX-License-Identifier: MIT
#pragma once
// Files that only ever grow by whole records, each on disk before the next is taken, so that
// a crash or a power cut costs at most the record being written.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace ck::platform {

class AppendFile {
public:
    virtual ~AppendFile() = default;
    // Appends all of `bytes` and waits until they are on the disk. On failure the file is cut
    // back to its length before the call, so no part of the record stays behind; returns an
    // empty text on success, else why it failed.
    virtual std::string append(std::string_view bytes) = 0;
};

struct OpenedAppendFile {
    std::unique_ptr<AppendFile> file;  // null when it could not be opened
    std::string error;                 // why not
    uint64_t size = 0;                 // bytes already in the file
    std::string tail;                  // its last two bytes (fewer when shorter)
};

class AppendFileSystem {
public:
    virtual ~AppendFileSystem() = default;
    // The data folder: "c:\Trandel" on Windows, ~/Trandel elsewhere.
    virtual std::string dataDir() const = 0;
    // Opens `path` for appending, creating it and any missing folders above it.
    virtual OpenedAppendFile openForAppend(const std::string& path) = 0;
};

}  // namespace ck::platform
