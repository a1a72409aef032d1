// The run's watch: a pipe that the SIGWINCH handler and the run's end each put a byte into, read
// by the main thread, which has nothing else to do while the run goes on. The handler only
// writes a byte: drawing takes a lock and memory, which a signal handler may not.
#include "platform/console/run_watch.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr char resized = 'r';
constexpr char run_ended = 'e';

int g_watch_pipe[2] = {-1, -1};
bool g_catching_resize = false;
struct sigaction g_saved_resize;

// Non-blocking, so that neither the handler nor the run waits on a full pipe: a full pipe
// already holds a byte that wakes the watch.
void put_byte(char byte) {
    const int saved_errno = errno;
    if (g_watch_pipe[1] >= 0)
        while (::write(g_watch_pipe[1], &byte, 1) < 0 && errno == EINTR) {
        }
    errno = saved_errno;
}

void on_resize_signal(int) {
    put_byte(resized);
}

} // namespace

bool open_run_watch(bool catch_resize) {
    if (::pipe2(g_watch_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        g_watch_pipe[0] = g_watch_pipe[1] = -1;
        return false;
    }
    if (catch_resize) {
        struct sigaction action;
        std::memset(&action, 0, sizeof action);
        action.sa_handler = on_resize_signal;
        sigemptyset(&action.sa_mask);
        // The other threads' reads and writes go on where the signal found them.
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGWINCH, &action, &g_saved_resize);
        g_catching_resize = true;
    }
    return true;
}

void tell_run_watch_the_run_ended() {
    put_byte(run_ended);
}

void watch_run(void (*on_resize)()) {
    for (;;) {
        pollfd watch = {g_watch_pipe[0], POLLIN, 0};
        const int ready = ::poll(&watch, 1, -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return; // the caller's join still waits for the run
        char bytes[64];
        const ssize_t count = ::read(g_watch_pipe[0], bytes, sizeof bytes);
        if (count < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (count <= 0)
            return;
        bool resize_seen = false;
        for (ssize_t i = 0; i < count; ++i) {
            if (bytes[i] == run_ended)
                return;
            resize_seen = resize_seen || bytes[i] == resized;
        }
        // Several resizes in a row draw once: only the last size counts.
        if (resize_seen)
            on_resize();
    }
}

void close_run_watch() {
    if (g_catching_resize) {
        ::sigaction(SIGWINCH, &g_saved_resize, nullptr);
        g_catching_resize = false;
    }
    for (int& fd : g_watch_pipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}
