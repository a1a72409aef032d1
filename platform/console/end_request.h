// The end request: the one flag by which the terminal closing (SIGHUP), Ctrl+C, SIGTERM, the end
// of the keys or a lost output end the run. Below every other file of the front end, so that
// each may look at it.
#pragma once

#include <atomic>

// Nothing lowers it during a run; run_session lowers it before the next. Lock-free, so that a
// signal handler may set it as well as the keyboard thread and the run.
extern std::atomic<bool> g_end_request;
static_assert(std::atomic<bool>::is_always_lock_free, "a signal handler sets the end request");

inline void raise_end_request() {
    g_end_request = true;
}
inline bool end_requested() {
    return g_end_request.load();
}
