// The failure box as pipe mode shows it, four lines a box, written out here by hand so that the
// tests check the program's own table of messages.
#pragma once

#include <string>
#include <vector>

// The message under each code, as the user reads it.
inline const char* message_of(int code) {
    const struct {
        int code;
        const char* message;
    } messages[] = {
        {5, "Illegal function call"},    {6, "Overflow"},
        {52, "Bad file name or number"}, {53, "File not found"},
        {55, "File already open"},       {62, "Input past end of file"},
        {63, "Bad record number"},       {68, "Device unavailable"},
        {70, "Permission denied"},       {75, "Path/File access error"},
        {76, "Path not found"},
    };
    for (const auto& m : messages)
        if (m.code == code)
            return m.message;
    return "(no message)";
}

// One box: the caption, the step, the code's message and the question.
inline std::string box_text(int code, int step) {
    return "Unhandled Error #" + std::to_string(code) + "\nLine:" + std::to_string(step) + "\n" +
           message_of(code) + "\nContinue?\n";
}

// A box of code at each of steps, in the order given.
inline std::string boxes_text(int code, const std::vector<int>& steps) {
    std::string lines;
    for (int step : steps)
        lines += box_text(code, step);
    return lines;
}
