// What the console and the failure box use of the session's front end: the screen and the output.
#pragma once

#include <string_view>

#include "platform/console/front_end_mode.h"
#include "platform/console/screen.h"

// The one screen of the run.
Screen& console_screen();

FrontEndMode front_end_mode();

// Terminal mode: draws the console's screen, or another one (the screen with the failure box
// over it), as one frame. Pipe mode writes rows only as they end, so these do nothing there.
void show_screen();
void show_frame(const Screen& screen);

// Pipe mode: writes text and a "\n" to the output as one line.
void write_output_line(std::string_view text);
