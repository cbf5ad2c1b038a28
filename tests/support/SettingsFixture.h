#pragma once
// A test whose AppDir is a fresh directory, with the port settings put back afterwards.

#include <gtest/gtest.h>
#include <string>

#include "common/uCheckAll.h"
#include "support/GlobalsGuard.h"
#include "support/TestSupport.h"

namespace testsupport {

class SettingsFixture : public ::testing::Test {
protected:
    void SetUp() override { AppDir = dir.Path(); }
    std::string ConfigPath() const { return dir.Path() + "config.ini"; }

    GlobalsGuard globals;
    TempDir dir;
};

} // namespace testsupport
