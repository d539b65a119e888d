// SPDX-License-Identifier: MIT
#include "platform/qt/com_resolver.h"

#include <QtGlobal>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <tuple>

#ifndef Q_OS_WIN
#include <QSerialPortInfo>
#endif

namespace ck::platform {

namespace {

// "ttyUSB10" -> kind "ttyUSB", number "10" (leading zeros dropped so that the length orders it).
struct PortKey {
    int rank;
    std::string kind;
    std::string number;
    std::string path;

    explicit PortKey(const std::string& devicePath) : path(devicePath) {
        const std::size_t slash = devicePath.find_last_of('/');
        const std::string name =
            slash == std::string::npos ? devicePath : devicePath.substr(slash + 1);
        std::size_t digits = name.size();
        while (digits > 0 && name[digits - 1] >= '0' && name[digits - 1] <= '9') --digits;
        kind = name.substr(0, digits);
        number = name.substr(digits);
        number.erase(0, std::min(number.find_first_not_of('0'), number.size()));
        static constexpr std::string_view kRanked[] = {"ttyUSB", "ttyACM", "ttyS", "ttyAMA"};
        const auto* hit = std::find(std::begin(kRanked), std::end(kRanked), kind);
        rank = static_cast<int>(hit - std::begin(kRanked));
    }

    // Kinds outside the ranked list share the last rank and go by name.
    bool operator<(const PortKey& o) const {
        const std::size_t len = number.size();
        const std::size_t olen = o.number.size();
        return std::tie(rank, kind, len, number, path) <
               std::tie(o.rank, o.kind, olen, o.number, o.path);
    }
};

#ifndef Q_OS_WIN
// Ports with hardware behind them, as the kernel lists them.
std::vector<std::string> machineSerialPorts() {
    namespace fs = std::filesystem;
    std::vector<std::string> out;
    std::error_code ec;
    fs::directory_iterator it("/sys/class/tty", ec);
    if (ec) {
        for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
            out.push_back(info.systemLocation().toStdString());
        }
        return out;
    }
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const fs::path entry = it->path();
        std::error_code ignored;
        if (!fs::exists(entry / "device", ignored)) continue;  // virtual consoles, ptys
        // A serial-core slot without a UART reports type 0.
        std::ifstream typeFile(entry / "type");
        long type = -1;
        if (typeFile >> type && type == 0) continue;
        out.push_back("/dev/" + entry.filename().string());
    }
    return out;
}
#endif

}  // namespace

std::vector<std::string> orderSerialPorts(std::vector<std::string> devices) {
    std::vector<PortKey> keys;
    keys.reserve(devices.size());
    for (const std::string& d : devices) keys.emplace_back(d);
    std::sort(keys.begin(), keys.end());
    std::vector<std::string> out;
    out.reserve(keys.size());
    for (const PortKey& k : keys) {
        if (out.empty() || out.back() != k.path) out.push_back(k.path);
    }
    return out;
}

std::optional<std::string> resolveCom(int n, const ComLookup& in) {
    if (n < 1) return std::nullopt;
    if (in.pin) {
        // A pinned number never falls back: a vanished device must not become another one.
        if (!in.pin->exists || in.pin->target.empty()) return std::nullopt;
        return in.pin->target;
    }
    const std::vector<std::string> ordered = orderSerialPorts(in.devices);
    if (static_cast<std::size_t>(n) > ordered.size()) return std::nullopt;
    return ordered[static_cast<std::size_t>(n) - 1];
}

ComRoute routeComOnThisMachine(int n) {
    if (n < 1) return {};
#ifdef Q_OS_WIN
    return {"COM" + std::to_string(n), {}};
#else
    ComLookup in;
    const PinReading pin = readComPin(comPinDirectoryFromEnvironment(), n);
    switch (pin.kind) {
        case PinReading::Kind::FolderUnreadable:
            return {std::nullopt, pin.reason};
        case PinReading::Kind::Pinned:
            in.pin = ComPin{pin.target, !pin.target.empty()};
            break;
        case PinReading::Kind::None:
            in.devices = machineSerialPorts();
            break;
    }
    return {resolveCom(n, in), {}};
#endif
}

std::optional<std::string> resolveComOnThisMachine(int n) {
    return routeComOnThisMachine(n).device;
}

}  // namespace ck::platform
