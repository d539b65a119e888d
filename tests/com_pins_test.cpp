// SPDX-License-Identifier: MIT
// The COM pins on a real file system: reading them (a folder that cannot be read must never
// turn into "no pins"), and the pins the settings dialog writes and removes.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/com_pins.h"

namespace ck::platform {
namespace {

namespace fs = std::filesystem;
using Kind = PinReading::Kind;

// A temporary configuration home with a stand-in for /dev and /dev/serial/by-id.
class Sandbox {
public:
    Sandbox() {
        char tmpl[] = "/tmp/ck-pins-test-XXXXXX";
        const char* made = mkdtemp(tmpl);
        if (made == nullptr) throw std::runtime_error("mkdtemp failed");
        root_ = made;
        fs::create_directories(dev());
        fs::create_directories(byId());
    }
    ~Sandbox() {
        // Give back what a case took away, so that the folder can be removed.
        std::error_code ec;
        fs::permissions(ports(), fs::perms::owner_all, ec);
        fs::remove_all(root_, ec);
    }
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    std::string home() const { return (root_ / "config").string(); }
    fs::path ports() const { return root_ / "config" / "checkkorvelt" / "ports"; }
    fs::path dev() const { return root_ / "dev"; }
    fs::path byId() const { return root_ / "dev" / "serial" / "by-id"; }
    fs::path pin(int n) const { return ports() / ("COM" + std::to_string(n)); }

    // A stand-in device file.
    fs::path device(const std::string& name) const {
        const fs::path p = dev() / name;
        if (!fs::exists(p)) std::ofstream(p).put('x');
        return fs::canonical(p);
    }
    void link(const fs::path& at, const fs::path& target) const {
        fs::create_directories(at.parent_path());
        fs::create_symlink(target, at);
    }

private:
    fs::path root_;
};

struct ReadCase {
    const char* what;
    std::function<void(Sandbox&)> arrange;
    Kind kind;
    std::function<std::string(Sandbox&)> target;  // expected target when pinned
};

void checkReadings(const std::vector<ReadCase>& cases) {
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.what);
        Sandbox box;
        c.arrange(box);
        const PinReading r = readComPin(box.home(), 3);
        EXPECT_EQ(r.kind, c.kind);
        EXPECT_EQ(r.target, c.target ? c.target(box) : std::string());
        // An unreadable folder says which folder and why; nothing else carries a reason.
        EXPECT_EQ(r.reason.empty(), c.kind != Kind::FolderUnreadable) << r.reason;
    }
}

TEST(ReadComPin, PinsNoPinsAndFoldersThatCannotBeRead) {
    checkReadings({
        {"no folder at all", [](Sandbox&) {}, Kind::None, nullptr},
        {"the configuration home is a file", [](Sandbox& b) { std::ofstream(b.home()).put('x'); },
         Kind::None, nullptr},
        {"folder without COM3", [](Sandbox& b) { fs::create_directories(b.ports()); }, Kind::None,
         nullptr},
        {"COM3 leads to a device", [](Sandbox& b) { b.link(b.pin(3), b.device("ttyUSB0")); },
         Kind::Pinned, [](Sandbox& b) { return b.device("ttyUSB0").string(); }},
        {"COM3 leads to a device by a relative link to a link",
         [](Sandbox& b) {
             b.link(b.byId() / "usb-FTDI-A1", b.device("ttyUSB1"));
             b.link(b.pin(3), fs::relative(b.byId() / "usb-FTDI-A1", b.ports()));
         },
         Kind::Pinned, [](Sandbox& b) { return b.device("ttyUSB1").string(); }},
        {"COM3 dangles", [](Sandbox& b) { b.link(b.pin(3), b.dev() / "gone"); }, Kind::Pinned,
         nullptr},
        {"COM3 is a plain file: ignored",
         [](Sandbox& b) {
             fs::create_directories(b.ports());
             std::ofstream(b.pin(3)).put('x');
         },
         Kind::None, nullptr},
        {"the folder is a file",
         [](Sandbox& b) {
             fs::create_directories(b.ports().parent_path());
             std::ofstream(b.ports()).put('x');
         },
         Kind::FolderUnreadable, nullptr},
        {"the folder is a link to itself",
         [](Sandbox& b) { b.link(b.ports(), b.ports().filename()); }, Kind::FolderUnreadable,
         nullptr},
    });
    EXPECT_EQ(readComPin("", 3).kind, Kind::None);
}

// Root reads every folder; the unprivileged run of this test makes these checks.
TEST(ReadComPin, FolderWithoutPermissionIsUnreadableNeverNoPins) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads every folder";
    const auto restrict = [](fs::perms p) {
        return [p](Sandbox& b) {
            b.link(b.pin(3), b.device("ttyUSB0"));
            fs::permissions(b.ports(), p);
        };
    };
    checkReadings({
        {"no permission at all", restrict(fs::perms::none), Kind::FolderUnreadable, nullptr},
        {"names pass but cannot be listed", restrict(fs::perms::owner_exec), Kind::FolderUnreadable,
         nullptr},
        {"listed but names do not pass", restrict(fs::perms::owner_read), Kind::FolderUnreadable,
         nullptr},
        {"readable again", restrict(fs::perms::owner_read | fs::perms::owner_exec), Kind::Pinned,
         [](Sandbox& b) { return b.device("ttyUSB0").string(); }},
    });
}

TEST(StablePinTarget, PrefersTheAdaptersOwnNameWhenOneLeadsToTheDevice) {
    Sandbox box;
    const fs::path usb0 = box.device("ttyUSB0");
    const fs::path usb1 = box.device("ttyUSB1");
    box.link(box.byId() / "usb-FTDI_FT232R_A1B2-if00-port0", "../../ttyUSB0");
    box.link(box.byId() / "usb-B-second-name", usb0);
    box.link(box.byId() / "usb-dangling", box.dev() / "gone");
    const std::string byId = box.byId().string();
    struct Case {
        const char* what;
        std::string device;
        std::string folder;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"by-id link exists: the first by name", usb0.string(), byId,
         (box.byId() / "usb-B-second-name").string()},
        {"by the device's other name", (box.byId() / "usb-FTDI_FT232R_A1B2-if00-port0").string(),
         byId, (box.byId() / "usb-B-second-name").string()},
        {"no link leads to it", usb1.string(), byId, usb1.string()},
        {"no by-id folder", usb0.string(), (box.dev() / "none").string(), usb0.string()},
        {"no such device", (box.dev() / "ttyUSB9").string(), byId,
         (box.dev() / "ttyUSB9").string()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(stablePinTarget(c.device, c.folder), c.expected);
    }
}

// What the pins folder holds: COM number -> link text; "file" for something else.
std::map<int, std::string> pinsIn(const Sandbox& b) {
    std::map<int, std::string> out;
    for (int n = 0; n <= 17; ++n) {
        std::error_code ec;
        const fs::file_status st = fs::symlink_status(b.pin(n), ec);
        if (ec || !fs::exists(st)) continue;
        out[n] = fs::is_symlink(st) ? fs::read_symlink(b.pin(n)).string() : "file";
    }
    return out;
}

TEST(PinCom, WritesOneLinkPerDeviceAndLeavesWhatIsNotOurs) {
    struct Case {
        const char* what;
        std::function<void(Sandbox&)> arrange;
        int n;
        std::string device;  // name under dev/
        bool ok;
        std::function<std::map<int, std::string>(Sandbox&)> after;
    };
    const auto dev = [](Sandbox& b, const char* name) { return b.device(name).string(); };
    const auto byIdOf0 = [](Sandbox& b) { return (b.byId() / "usb-FTDI-A1").string(); };
    const std::vector<Case> cases = {
        {"the folder is made; the adapter's own name is used",
         [](Sandbox& b) { b.link(b.byId() / "usb-FTDI-A1", b.device("ttyUSB0")); }, 3, "ttyUSB0",
         true,
         [&](Sandbox& b) {
             return std::map<int, std::string>{{3, byIdOf0(b)}};
         }},
        {"without an adapter name, the device", [](Sandbox&) {}, 16, "ttyS0", true,
         [&](Sandbox& b) {
             return std::map<int, std::string>{{16, dev(b, "ttyS0")}};
         }},
        {"a pin of the number is replaced", [](Sandbox& b) { b.link(b.pin(3), b.device("ttyS1")); },
         3, "ttyS0", true,
         [&](Sandbox& b) {
             return std::map<int, std::string>{{3, dev(b, "ttyS0")}};
         }},
        {"the device's pin of another number moves; other pins stay",
         [](Sandbox& b) {
             b.link(b.pin(5), b.device("ttyS0"));
             b.link(b.pin(6), b.device("ttyS1"));
             b.link(b.pin(7), b.dev() / "gone");
         },
         3, "ttyS0", true,
         [&](Sandbox& b) {
             return std::map<int, std::string>{
                 {3, dev(b, "ttyS0")}, {6, dev(b, "ttyS1")}, {7, (b.dev() / "gone").string()}};
         }},
        {"a plain file at the number is not ours",
         [](Sandbox& b) {
             fs::create_directories(b.ports());
             std::ofstream(b.pin(3)).put('x');
         },
         3, "ttyS0", false,
         [](Sandbox&) {
             return std::map<int, std::string>{{3, "file"}};
         }},
        {"no such device", [](Sandbox&) {}, 3, "", false,
         [](Sandbox&) { return std::map<int, std::string>{}; }},
        {"number 0", [](Sandbox&) {}, 0, "ttyS0", false,
         [](Sandbox&) { return std::map<int, std::string>{}; }},
        {"number 17", [](Sandbox&) {}, 17, "ttyS0", false,
         [](Sandbox&) { return std::map<int, std::string>{}; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Sandbox box;
        c.arrange(box);
        const std::string device =
            c.device.empty() ? (box.dev() / "ttyUSB9").string() : box.device(c.device).string();
        const std::string why = pinCom(box.home(), c.n, device, box.byId().string());
        EXPECT_EQ(why.empty(), c.ok) << why;
        EXPECT_EQ(pinsIn(box), c.after(box));
        // Nothing is left behind from making the link aside.
        if (fs::is_directory(box.ports())) {
            for (const auto& e : fs::directory_iterator(box.ports())) {
                EXPECT_EQ(e.path().filename().string().rfind("COM", 0), 0u) << e.path();
                EXPECT_EQ(e.path().filename().string().find('.'), std::string::npos) << e.path();
            }
        }
        // What was written is what the reader finds.
        if (c.ok) {
            EXPECT_EQ(readComPin(box.home(), c.n).target, box.device(c.device).string());
        }
    }
}

TEST(PinCom, AFolderThatCannotBeReadIsNeitherWrittenNorCleared) {
    Sandbox box;
    fs::create_directories(box.ports().parent_path());
    std::ofstream(box.ports()).put('x');
    EXPECT_FALSE(pinCom(box.home(), 3, box.device("ttyS0").string(), box.byId().string()).empty());
    EXPECT_FALSE(unpinCom(box.home(), 3).empty());
    EXPECT_TRUE(fs::is_regular_file(box.ports()));
}

TEST(UnpinCom, RemovesOnlyTheNumbersOwnLink) {
    struct Case {
        const char* what;
        std::function<void(Sandbox&)> arrange;
        int n;
        bool ok;
        std::map<int, std::string> after;  // "file" for something that is not a link
    };
    const std::vector<Case> cases = {
        {"a pin", [](Sandbox& b) { b.link(b.pin(3), "/dev/ttyS0"); }, 3, true, {}},
        {"a dangling pin", [](Sandbox& b) { b.link(b.pin(3), "/nowhere"); }, 3, true, {}},
        {"other numbers stay",
         [](Sandbox& b) {
             b.link(b.pin(3), "/dev/ttyS0");
             b.link(b.pin(4), "/dev/ttyS0");
         },
         3,
         true,
         {{4, "/dev/ttyS0"}}},
        {"no pin", [](Sandbox& b) { fs::create_directories(b.ports()); }, 3, true, {}},
        {"no folder", [](Sandbox&) {}, 3, true, {}},
        {"a plain file stays",
         [](Sandbox& b) {
             fs::create_directories(b.ports());
             std::ofstream(b.pin(3)).put('x');
         },
         3,
         false,
         {{3, "file"}}},
        {"number 17",
         [](Sandbox& b) { b.link(b.pin(17), "/dev/ttyS0"); },
         17,
         false,
         {{17, "/dev/ttyS0"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Sandbox box;
        c.arrange(box);
        const std::string why = unpinCom(box.home(), c.n);
        EXPECT_EQ(why.empty(), c.ok) << why;
        EXPECT_EQ(pinsIn(box), c.after);
    }
}

}  // namespace
}  // namespace ck::platform
