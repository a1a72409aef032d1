// The life of one run: its front end, its own thread, its ends, and the end request.
#pragma once

#include <string>

#include "platform/console/end_request.h"
#include "platform/console/front_end.h"
#include "platform/console/front_end_mode.h"

struct SessionOptions {
    FrontEndMode mode = FrontEndMode::Pipe;
    int key_fd = 0;
    int output_fd = 1;
};

// Runs `run` on a thread of its own with the front end of options, and returns when it has
// ended, with every file closed and the terminal as it was before. A terminal smaller than
// 80 x 25, or a system that gives no thread for the keys or for the run, gets a line on stderr
// instead, and the program ends with exit code 1 before the run.
RunEnd run_session(const SessionOptions& options, void (*run)());

// Row 1 to 25 of the screen as the last run left it, without trailing blanks.
std::string screen_row(int row);

// Makes the folder that holds the program the working folder; a failure is ignored.
void enter_program_folder();
