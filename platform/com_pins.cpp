// SPDX-License-Identifier: MIT
#include "platform/com_pins.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace ck::platform {
namespace {

namespace fs = std::filesystem;

bool isAbsolute(const char* p) { return p != nullptr && p[0] == '/'; }

bool validNumber(int n) { return n >= kFirstPinnedCom && n <= kLastPinnedCom; }

std::string describe(const fs::path& p, const std::error_code& ec) {
    return p.string() + ": " + ec.message();
}

// The real path of a device, or empty when it cannot be followed.
std::string realPath(const fs::path& p) {
    std::error_code ec;
    const fs::path real = fs::canonical(p, ec);
    return ec ? std::string() : real.string();
}

// Removes what is at p only while it is still a symbolic link.
std::string removeLink(const fs::path& p) {
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(p, ec);
    if (ec) return ec == std::errc::no_such_file_or_directory ? std::string() : describe(p, ec);
    if (!fs::is_symlink(st)) return p.string() + ": not a symbolic link, left as it is";
    fs::remove(p, ec);
    return ec ? describe(p, ec) : std::string();
}

}  // namespace

std::string comPinDirectory(const char* xdgConfigHome, const char* home) {
    if (isAbsolute(xdgConfigHome)) return xdgConfigHome;
    if (isAbsolute(home)) return (fs::path(home) / ".config").string();
    return {};
}

std::string comPinDirectoryFromEnvironment() {
    return comPinDirectory(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
}

std::string comPinFolder(const std::string& configHome) {
    if (configHome.empty()) return {};
    return (fs::path(configHome) / "checkkorvelt" / "ports").string();
}

std::string comPinFile(const std::string& configHome, int n) {
    if (configHome.empty()) return {};
    return (fs::path(comPinFolder(configHome)) / ("COM" + std::to_string(n))).string();
}

std::string comPinFileFromEnvironment(int n) {
    return comPinFile(comPinDirectoryFromEnvironment(), n);
}

PinReading readComPin(const std::string& configHome, int n) {
    PinReading out;
    if (configHome.empty()) return out;
    const fs::path folder(comPinFolder(configHome));
    std::error_code ec;
    const fs::file_status st = fs::status(folder, ec);
    if (ec) {
        // Missing, or a file where a folder of the path should be: no pins at all. Anything
        // else (a refused search permission, a loop) leaves it unknown whether pins exist.
        if (ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory) {
            return out;
        }
        return {PinReading::Kind::FolderUnreadable, {}, describe(folder, ec)};
    }
    if (!fs::is_directory(st)) {
        return {
            PinReading::Kind::FolderUnreadable,
            {},
            folder.string() + ": " + std::make_error_code(std::errc::not_a_directory).message()};
    }
    // Listing it proves it readable; a folder that only lets names through would hide pins
    // from the settings dialog and from anyone checking by hand.
    fs::directory_iterator listing(folder, ec);
    if (ec) return {PinReading::Kind::FolderUnreadable, {}, describe(folder, ec)};
    const fs::path pin = folder / ("COM" + std::to_string(n));
    const fs::file_status pinStatus = fs::symlink_status(pin, ec);
    if (ec) {
        if (ec == std::errc::no_such_file_or_directory) return out;
        return {PinReading::Kind::FolderUnreadable, {}, describe(pin, ec)};
    }
    if (!fs::is_symlink(pinStatus)) return out;
    out.kind = PinReading::Kind::Pinned;
    out.target = realPath(pin);
    return out;
}

std::string stablePinTarget(const std::string& device, const std::string& byIdFolder) {
    const std::string real = realPath(device);
    if (real.empty()) return device;
    std::error_code ec;
    std::vector<fs::path> names;
    for (fs::directory_iterator it(byIdFolder, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        names.push_back(it->path());
    }
    // The same choice whichever order the folder lists them in.
    std::sort(names.begin(), names.end());
    for (const fs::path& name : names) {
        if (realPath(name) == real) return name.string();
    }
    return device;
}

std::string pinCom(const std::string& configHome, int n, const std::string& device,
                   const std::string& byIdFolder) {
    if (!validNumber(n)) return "COM" + std::to_string(n) + ": not a number from 1 to 16";
    if (configHome.empty()) return "neither XDG_CONFIG_HOME nor HOME is an absolute path";
    const std::string real = realPath(device);
    if (real.empty())
        return device + ": " + std::make_error_code(std::errc::no_such_device).message();
    const PinReading reading = readComPin(configHome, n);
    if (reading.kind == PinReading::Kind::FolderUnreadable) return reading.reason;

    const fs::path folder(comPinFolder(configHome));
    const fs::path pin(comPinFile(configHome, n));
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) return describe(folder, ec);
    const fs::file_status st = fs::symlink_status(pin, ec);
    if (!ec && !fs::is_symlink(st)) return pin.string() + ": not a symbolic link, left as it is";

    const fs::path tmp = folder / (pin.filename().string() + ".new." + std::to_string(getpid()));
    fs::remove(tmp, ec);
    fs::create_symlink(stablePinTarget(device, byIdFolder), tmp, ec);
    if (ec) return describe(tmp, ec);
    fs::rename(tmp, pin, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(tmp, ignored);
        return describe(pin, ec);
    }
    // Other numbers that lead to the same device give it up; the first number found would
    // otherwise win discovery and the new pin would never be used.
    for (int other = kFirstPinnedCom; other <= kLastPinnedCom; ++other) {
        if (other == n) continue;
        const PinReading r = readComPin(configHome, other);
        if (r.kind != PinReading::Kind::Pinned || r.target != real) continue;
        if (std::string why = removeLink(comPinFile(configHome, other)); !why.empty()) return why;
    }
    return {};
}

std::string unpinCom(const std::string& configHome, int n) {
    if (!validNumber(n)) return "COM" + std::to_string(n) + ": not a number from 1 to 16";
    if (configHome.empty()) return {};
    const PinReading reading = readComPin(configHome, n);
    if (reading.kind == PinReading::Kind::FolderUnreadable) return reading.reason;
    if (reading.kind == PinReading::Kind::None) {
        // Either nothing is there or something that is not the program's: say which.
        std::error_code ec;
        const fs::path pin(comPinFile(configHome, n));
        if (fs::exists(fs::symlink_status(pin, ec))) {
            return pin.string() + ": not a symbolic link, left as it is";
        }
        return {};
    }
    return removeLink(comPinFile(configHome, n));
}

}  // namespace ck::platform
