// The failure convention: the codes with their messages, and the one pending code of a step.
#pragma once

#include <cstdint>

// The codes a user can meet, by name; the box shows the number.
enum class Failure : std::uint16_t {
    None = 0,
    IllegalFunctionCall = 5,
    Overflow = 6,
    BadFileNameOrNumber = 52,
    FileNotFound = 53,
    BadFileMode = 54,
    FileAlreadyOpen = 55,
    InputPastEndOfFile = 62,
    BadRecordNumber = 63,
    BadFileName = 64,
    DeviceUnavailable = 68,
    PermissionDenied = 70,
    PathFileAccessError = 75,
    PathNotFound = 76,
};

// The message shown under a code; "Unprintable error" for any code outside the table.
const char* failure_message(int code);

// Records a failure of the running step. Only the first one of a step counts.
void raise_failure(Failure code);

// The pending code of the running step; only the run's thread touches it.
extern Failure g_pending_failure;

// True while a failure of the running step is pending: every console and file operation
// then does nothing. Inline, since every step's check asks it.
inline bool failure_pending() {
    return g_pending_failure != Failure::None;
}

// The pending code as a number, 0 when none is pending.
int pending_failure_code();

// Clears the pending code: after a step's check, and where a step reports a failure of its own
// in place of one of its writes (a coordinate line that could not be formatted).
void clear_failure();
