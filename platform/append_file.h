// SPDX-License-Identifier: MIT
#pragma once
// The operating system's side of an append-only file: one write per record, then a wait until
// the disk has it; a record that cannot be written whole is taken back out of the file.

#include <string>

#include "platform/log_file.h"

namespace ck::platform {

// Opens `path` for appending, creating the file and any missing folders above it.
OpenedAppendFile OpenAppendFile(const std::string& path);

}  // namespace ck::platform
