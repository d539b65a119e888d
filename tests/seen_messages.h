// SPDX-License-Identifier: MIT
#pragma once
// What a window or a command would have told the user, for a test to read back: each message
// box's title, text and style in the order shown, and the beeps. No box is ever put up.

#include <memory>
#include <string>
#include <vector>

#include "platform/services.h"

namespace ck::testing {

class SeenMessages final : public platform::UserMessages {
public:
    struct Box {
        std::string title;
        std::string text;
        int style = 0;
        bool operator==(const Box&) const = default;
    };
    std::vector<Box> boxes;
    int beeps = 0;

    void show(const std::string& title, const std::string& text, int style) override {
        boxes.push_back({title, text, style});
    }
    void beep() override { ++beeps; }

    // For the window to own (setUserMessages): it hands everything on to this one, which must
    // outlive the window.
    std::unique_ptr<platform::UserMessages> forWindow() {
        struct Forward final : platform::UserMessages {
            explicit Forward(SeenMessages& seen) : to(seen) {}
            void show(const std::string& title, const std::string& text, int style) override {
                to.show(title, text, style);
            }
            void beep() override { to.beep(); }
            SeenMessages& to;
        };
        return std::make_unique<Forward>(*this);
    }
};

}  // namespace ck::testing
