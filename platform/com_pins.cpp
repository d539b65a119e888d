#include "platform/com_pins.h"

#include <cstdlib>
#include <filesystem>

namespace ck::platform {
namespace {

bool isAbsolute(const char* p) { return p != nullptr && p[0] == '/'; }

}  // namespace

std::string comPinDirectory(const char* xdgConfigHome, const char* home) {
    if (isAbsolute(xdgConfigHome)) return xdgConfigHome;
    if (isAbsolute(home)) return (std::filesystem::path(home) / ".config").string();
    return {};
}

std::string comPinFile(const std::string& configHome, int n) {
    if (configHome.empty()) return {};
    return (std::filesystem::path(configHome) / "checkkorvelt" / "ports" /
            ("COM" + std::to_string(n)))
        .string();
}

std::string comPinFileFromEnvironment(int n) {
    return comPinFile(comPinDirectory(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME")), n);
}

}  // namespace ck::platform
