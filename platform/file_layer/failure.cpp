// The table of failure codes and the pending code of the running step.
#include "platform/file_layer/failure.h"

namespace {

struct FailureText {
    int code;
    const char* message;
};

const FailureText g_failure_texts[] = {
    {5, "Illegal function call"},   {6, "Overflow"},           {52, "Bad file name or number"},
    {53, "File not found"},         {54, "Bad file mode"},     {55, "File already open"},
    {62, "Input past end of file"}, {63, "Bad record number"}, {64, "Bad file name"},
    {68, "Device unavailable"},     {70, "Permission denied"}, {75, "Path/File access error"},
    {76, "Path not found"},
};

} // namespace

Failure g_pending_failure = Failure::None;

const char* failure_message(int code) {
    for (const FailureText& text : g_failure_texts)
        if (text.code == code)
            return text.message;
    return "Unprintable error";
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
