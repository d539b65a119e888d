// SPDX-License-Identifier: MIT
#pragma once
// The Qt application object a test program needs, made once before its first test and gone
// after its last, as main() would hold it.

#include <gtest/gtest.h>

#include <QStandardPaths>

#include <memory>
#include <string>

namespace ck::testing {

enum class Settings {
    Any,       // the program reads no remembered settings
    TestMode,  // remembered settings go to Qt's test locations, never the user's own
};

template <class Application>
class QtEnvironment final : public ::testing::Environment {
public:
    QtEnvironment(const char* name, Settings settings) : name_(name), settings_(settings) {}

    void SetUp() override {
        if (settings_ == Settings::TestMode) QStandardPaths::setTestModeEnabled(true);
        argv_[0] = name_.data();
        app_ = std::make_unique<Application>(argc_, argv_);
    }
    void TearDown() override { app_.reset(); }

private:
    std::string name_;
    Settings settings_;
    int argc_ = 1;
    char* argv_[2] = {nullptr, nullptr};
    std::unique_ptr<Application> app_;
};

// Registers the environment with GoogleTest, which owns it.
template <class Application>
::testing::Environment* AddQtEnvironment(const char* name, Settings settings = Settings::Any) {
    return ::testing::AddGlobalTestEnvironment(new QtEnvironment<Application>(name, settings));
}

}  // namespace ck::testing
