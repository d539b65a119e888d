// SPDX-License-Identifier: MIT
#pragma once
// A folder of a test's own under /tmp, taken as XDG_CONFIG_HOME while the object lives: the
// program's COM pins and settings go there, never to the user's own. The old value is put
// back and the folder removed at the end.

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

namespace ck::testing {

class TempConfigHome {
public:
    // The folder is /tmp/<prefix>XXXXXX; the configuration home is `sub` below it.
    explicit TempConfigHome(const char* prefix, const char* sub = "") {
        std::string tmpl = std::string("/tmp/") + prefix + "XXXXXX";
        const char* made = mkdtemp(tmpl.data());
        if (made == nullptr) throw std::runtime_error("mkdtemp failed");
        root_ = std::filesystem::canonical(made);
        config_ = root_ / sub;
        if (const char* old = std::getenv("XDG_CONFIG_HOME")) saved_ = old;
        setenv("XDG_CONFIG_HOME", config_.c_str(), 1);
    }
    ~TempConfigHome() {
        if (saved_) {
            setenv("XDG_CONFIG_HOME", saved_->c_str(), 1);
        } else {
            unsetenv("XDG_CONFIG_HOME");
        }
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    TempConfigHome(const TempConfigHome&) = delete;
    TempConfigHome& operator=(const TempConfigHome&) = delete;

    const std::filesystem::path& root() const { return root_; }
    // Where the program keeps its COM pins.
    std::filesystem::path ports() const { return config_ / "checkkorvelt" / "ports"; }

private:
    std::filesystem::path root_;
    std::filesystem::path config_;
    std::optional<std::string> saved_;
};

}  // namespace ck::testing
