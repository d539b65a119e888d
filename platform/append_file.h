// SPDX-License-Identifier: MIT
#pragma once
// The operating system's side of an append-only file: one write per record, then a wait until
// the disk has it; a record that cannot be written whole is taken back out of the file.

#include <string>

#include "platform/log_file.h"

namespace ck::platform {

struct AppendOptions {
    // Each record on the disk before append() returns; otherwise handed to the system whole,
    // which an end of the program does not lose, and nothing waits for the disk.
    bool syncEachRecord = true;
    // Missing folders above the file are made.
    bool makeFolders = true;
};

// Opens `path` for appending, creating the file (and, by default, any missing folders above
// it).
OpenedAppendFile OpenAppendFile(const std::string& path, const AppendOptions& options = {});

}  // namespace ck::platform
