#pragma once
// A test whose AppDir is a fresh directory, with the port settings put back afterwards.

#include <cstdint>
#include <gtest/gtest.h>
#include <string>

#include "common/uCheckAll.h"
#include "support/TestSupport.h"

namespace testsupport {

class SettingsFixture : public ::testing::Test {
protected:
    void SetUp() override { AppDir = dir.path(); }
    void TearDown() override {
        AppDir = savedAppDir_;
        ComPortName = savedPort_;
        ComBaudRate = savedBaud_;
    }
    std::string ConfigPath() const { return dir.path() + "config.ini"; }

    TempDir dir;

private:
    std::string savedAppDir_ = AppDir;
    std::string savedPort_ = ComPortName;
    int32_t savedBaud_ = ComBaudRate;
};

} // namespace testsupport
