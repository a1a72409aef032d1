// The table of failure codes and the pending code of the running step.
#include "platform/file_layer/failure.h"

#include <limits>

namespace {

// The message of each code, by name: a code added to the enumeration without a message here is
// a warning of the switch (-Wswitch), which CI makes an error.
const char* message_of(Failure code) {
    switch (code) {
    case Failure::None:
        break;
    case Failure::IllegalFunctionCall:
        return "Illegal function call";
    case Failure::Overflow:
        return "Overflow";
    case Failure::BadFileNameOrNumber:
        return "Bad file name or number";
    case Failure::FileNotFound:
        return "File not found";
    case Failure::BadFileMode:
        return "Bad file mode";
    case Failure::FileAlreadyOpen:
        return "File already open";
    case Failure::InputPastEndOfFile:
        return "Input past end of file";
    case Failure::BadRecordNumber:
        return "Bad record number";
    case Failure::BadFileName:
        return "Bad file name";
    case Failure::DeviceUnavailable:
        return "Device unavailable";
    case Failure::PermissionDenied:
        return "Permission denied";
    case Failure::PathFileAccessError:
        return "Path/File access error";
    case Failure::PathNotFound:
        return "Path not found";
    }
    return nullptr;
}

} // namespace

Failure g_pending_failure = Failure::None;

const char* failure_message(int code) {
    // Beyond the enumeration's 16 bits a number would wrap onto a code of the table.
    const char* message = code >= 0 && code <= std::numeric_limits<std::uint16_t>::max()
                              ? message_of(static_cast<Failure>(code))
                              : nullptr;
    return message != nullptr ? message : "Unprintable error";
}

void raise_failure(Failure code) {
    if (g_pending_failure == Failure::None)
        g_pending_failure = code;
}

int pending_failure_code() {
    return static_cast<int>(g_pending_failure);
}

void clear_failure() {
    g_pending_failure = Failure::None;
}
