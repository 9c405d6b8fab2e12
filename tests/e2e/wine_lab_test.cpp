// The harness's own reading of lab_run's report; needs no Wine.
#include <gtest/gtest.h>

#include "tests/e2e/wine_lab.h"

namespace {

TEST(LabOutput, BoxesInOrderWithEscapesUndone) {
    const e2e::LabReport report = e2e::ParseLabOutput(
        "box.caption=First\n"
        "box.text=line one\\nline two\\r\\nback\\\\slash\n"
        "box.icon=warning\n"
        "box.buttons=OK\n"
        "dialog.caption=Progress\n"
        "dialog.text=Now processing...\n"
        "box.caption=Second = with equals\r\n"
        "box.text=\n"
        "box.icon=none\n"
        "box.buttons=OK,Cancel\n"
        "exit=0x80070480\n");
    ASSERT_EQ(report.boxes.size(), 2u);
    EXPECT_EQ(report.boxes[0].caption, "First");
    EXPECT_EQ(report.boxes[0].text, "line one\nline two\r\nback\\slash");
    EXPECT_EQ(report.boxes[0].icon, "warning");
    EXPECT_EQ(report.boxes[0].buttons, "OK");
    EXPECT_EQ(report.boxes[1].caption, "Second = with equals");
    EXPECT_EQ(report.boxes[1].text, "");
    EXPECT_EQ(report.boxes[1].buttons, "OK,Cancel");
    EXPECT_EQ(report.exitCode, 0x80070480u);
    EXPECT_FALSE(report.timedOut);
}

TEST(LabOutput, ExitLine) {
    struct Case {
        const char* output;
        std::optional<uint32_t> exitCode;
        bool timedOut;
    };
    const Case cases[] = {
        {"exit=0x00000000\n", 0u, false},
        {"exit=0xFFFFFFFF\n", 0xFFFFFFFFu, false},
        {"exit=timeout\n", std::nullopt, true},
        {"", std::nullopt, false},  // lab_run did not get to report
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.output);
        const e2e::LabReport report = e2e::ParseLabOutput(c.output);
        EXPECT_TRUE(report.boxes.empty());
        EXPECT_EQ(report.exitCode, c.exitCode);
        EXPECT_EQ(report.timedOut, c.timedOut);
    }
}

TEST(WindowsPath, AbsoluteLinuxPathOnDriveZ) {
    EXPECT_EQ(e2e::WindowsPath("/work/build/bin/A B.exe"), "Z:\\work\\build\\bin\\A B.exe");
    EXPECT_EQ(e2e::WindowsPath("/work/x/../y"), "Z:\\work\\y");
}

}  // namespace
