// The failure box as pipe mode shows it, four lines a box, written out here by hand so that the
// tests check the program's own table of messages; and the boxes taken out of a transcript.
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

// One box as a case expects it: its code and the step its Line row shows.
struct Box {
    int code;
    int step;
};

// The four lines of each box, in the order given.
inline std::string box_lines(const std::vector<Box>& boxes) {
    std::string lines;
    for (const Box& box : boxes)
        lines += box_text(box.code, box.step);
    return lines;
}

// A box of code at each of steps, in the order given.
inline std::vector<Box> boxes_of(int code, const std::vector<int>& steps) {
    std::vector<Box> boxes;
    for (int step : steps)
        boxes.push_back({code, step});
    return boxes;
}

// The same boxes as lines.
inline std::string boxes_text(int code, const std::vector<int>& steps) {
    return box_lines(boxes_of(code, steps));
}

// The boxes of a transcript, four lines each, in the order shown.
inline std::string boxes_in(const std::string& transcript) {
    std::string lines;
    int left = 0; // lines of the box still to take
    std::size_t start = 0;
    while (start < transcript.size()) {
        std::size_t end = transcript.find('\n', start);
        if (end == std::string::npos)
            end = transcript.size();
        const std::string line = transcript.substr(start, end - start);
        if (left == 0 && line.rfind("Unhandled Error #", 0) == 0)
            left = 4;
        if (left > 0) {
            lines += line + "\n";
            --left;
        }
        start = end + 1;
    }
    return lines;
}
