// SPDX-License-Identifier: MIT
#pragma once
// The session log's view of the machine on Qt: the data folder and the user's clock.

#include "platform/log_file.h"
#include "platform/wall_clock.h"

namespace ck::platform {

class QtAppendFileSystem final : public AppendFileSystem {
public:
    std::string dataDir() const override;
    OpenedAppendFile openForAppend(const std::string& path) override;
};

class QtWallClock final : public WallClock {
public:
    LocalTime now() const override;
};

}  // namespace ck::platform
