// The front end of a run as the console and the failure box use it: the screen, the output and
// the way the run's thread ends. The session sets it up for each run; it knows neither of them.
#pragma once

#include <pthread.h>

#include <string_view>

#include "platform/console/front_end_mode.h"
#include "platform/console/screen.h"

// How a run ended. Each way closes every file; only the first has the key wait. OutOfMemory:
// the system gave the run no more memory; OutputFailed: the transcript or the screen could not
// be written (a full disk, the file-size limit), though something still reads it. Both end the
// run where it stood, and run_session has said so on stderr.
enum class RunEnd { KeyAfterPrompt, AnswerNo, EndRequest, OutOfMemory, OutputFailed };

// The one screen of the run.
Screen& console_screen();

FrontEndMode front_end_mode();

// Terminal mode: draws the console's screen, or another one (the screen with the failure box
// over it), as one frame. Pipe mode writes rows only as they end, so these do nothing there.
void show_screen();
void show_frame(const Screen& screen);

// Terminal mode: draws the frame last drawn again, for a resize; safe beside show_frame on
// another thread.
void draw_frame_again();

// Pipe mode: writes text and a "\n" to the output as one line.
void write_output_line(std::string_view text);

// Ends the run from its own thread: closes every file and hands back to run_session.
[[noreturn]] void stop_run(RunEnd how);

// For the session. A process may hold several sessions (the tests do): each starts the front
// end from nothing, a blank screen on output_fd, before its run's thread is made.
void start_front_end(FrontEndMode mode, int output_fd);
// The thread that runs the run, the only one that may stop it.
void set_run_thread(pthread_t run_thread);
// How the run ended, once its thread has; OutOfMemory is set by the session itself.
RunEnd run_end();
void set_run_end(RunEnd how);
// The errno of the first write of the output that failed for a reason other than its reader
// going away; 0 while there is none.
int output_error();
