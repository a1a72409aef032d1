// The terminal front end: raw mode and its restoring, the alternate screen, and the frame drawn.
#pragma once

#include <string>

#include "platform/console/screen.h"

// The UTF-8 text of the glyph of a code page 437 byte, control bytes included.
const char* code_page_437_glyph(std::uint8_t byte);

// The whole screen as one string for the terminal: every row drawn at its place, then the
// terminal's cursor put where the model's cursor stands.
std::string build_frame(const Screen& screen);

// Draws the screen on output_fd as one frame and keeps the frame; false when the output is gone.
bool draw_frame(int output_fd, const Screen& screen);

// Draws the frame last drawn again over a cleared screen, for a resize, which shifts or cuts
// what the terminal shows; true when there is none yet. Safe beside draw_frame on another
// thread: the frames never mix, and the last one drawn is the latest.
bool draw_last_frame_again(int output_fd);

// Reads the terminal's size; false when it cannot be read.
bool read_terminal_size(int fd, int& columns, int& rows);

// The line that tells why the program does not start in a smaller terminal.
std::string terminal_too_small_message(int columns, int rows);

// Saves the settings of the terminal on key_fd, sets raw mode and switches output_fd to the
// alternate screen. Every way out calls restore_terminal; a fatal signal does too, before it
// ends the process. False when the terminal refused raw mode.
bool enter_raw_mode(int key_fd, int output_fd);

// Leaves the alternate screen and puts the saved settings back. Does nothing unless raw mode
// is on, so it may be called again; async-signal-safe.
void restore_terminal();

// Every signal whose default action ends the process (a fault, SIGQUIT, SIGUSR1, SIGALRM,
// SIGXCPU, ...) restores the terminal first and then ends the process as it would have, so that
// the exit status still names it. Bytes that the file layer holds unwritten are not written:
// the signal ends the process at once, as without this handler. The handlers stay until
// uninstall_fatal_signal_handlers.
void install_fatal_signal_handlers();
void uninstall_fatal_signal_handlers();
