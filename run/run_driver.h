// One update run, start to end: checks, work list, patch process, closing message.
#pragma once

#include <cstdint>
#include <string>

#include "platform/api.h"

// The verdicts that stop a run before the patch process.
enum class RunOutcome {
    AlreadyRunning,
    NotAdministrator,
    UnsupportedSystem,
    SameVersionInstalled,
    NoApplicableVersion,
    NoTargetProduct,
    NothingToUpdate,
    ProgramsRunning,
};

struct OutcomeMessage {
    std::uint16_t messageId;
    win::UINT boxStyle;
    win::HRESULT resultCode;  // becomes the exit code
};

OutcomeMessage DescribeOutcome(RunOutcome outcome);

// The message that closes a run with the patch process's result; none for exactly 1.
struct ClosingMessage {
    bool shown;
    std::u16string text;
    win::UINT boxStyle;
};

ClosingMessage ClosingMessageFor(win::HRESULT runResult);

// True only when the update service's switch reads exactly 1.
bool ReadUnattendedSwitch();

// The whole run; the result is the process exit code.
win::HRESULT RunUpdate(win::HINSTANCE instance);
