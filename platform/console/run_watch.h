// The main thread's watch over the run: it waits for the run's end, and in a terminal it draws
// the last frame again on every resize, which shifts or cuts what the terminal shows.
#pragma once

// Makes the watch's pipe and, when catch_resize, catches SIGWINCH until close_run_watch; false
// when the system gives no pipe.
bool open_run_watch(bool catch_resize);

// Called by the run's thread as it ends, whichever way: wakes the watch.
void tell_run_watch_the_run_ended();

// Waits until the run has ended; each resize meanwhile calls on_resize on this thread.
void watch_run(void (*on_resize)());

// Puts SIGWINCH back and closes the pipe; may be called again.
void close_run_watch();
