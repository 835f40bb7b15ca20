// A test that drives the Windows platform probe under Wine, in a scratch folder of its own; skipped,
// with the reason, where Wine or the Windows build is missing.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "tests/support/temp_folder.h"
#include "tests/wine/wine_session.h"

namespace wine {

class ProbeTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string reason = ProgramUnavailableReason("lumvar-platform-probe.exe");
        if (!reason.empty())
            GTEST_SKIP() << reason;
    }

    testing_support::TempFolder temp_;
};

}  // namespace wine
