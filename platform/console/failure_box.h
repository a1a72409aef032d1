// The failure box: its caption and text, its layout over the screen, and the answer Yes or No.
#pragma once

#include <string>

#include "platform/console/screen.h"

enum class Button { Yes, No };
enum class BoxAnswer { Yes, No, EndRequest };

struct FailureBoxText {
    std::string caption;  // "Unhandled Error #" and the code
    std::string lines[3]; // "Line:" and the step, the code's message, "Continue?"
};

FailureBoxText failure_box_text(int code, int step);

// A copy of the screen with the box drawn over its middle in code page 437 frame characters,
// the caption in its top edge, the button in focus in brackets and the cursor on it.
Screen screen_with_failure_box(const Screen& screen, const FailureBoxText& text, Button focus);

// Shows the box for the code under the step's number and waits for the answer. At the terminal
// only keys typed after the box is drawn answer it. In pipe mode the box is four lines and the
// keys y, Y, n and N answer it, the keys sent before it too; the end of the keys is No. An end
// request while the box waits gives EndRequest.
BoxAnswer ask_failure_box(int code, int step);
