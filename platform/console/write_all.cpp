// Every byte of an output written to a descriptor, after EINTR and short writes, without waiting
// for good on a reader that has stopped reading once the end request is up.
//
// A terminal that has stopped taking output (a congested remote link) says it has room when it
// has a little, and a blocking write of a whole frame then waits in the kernel, where no end
// request reaches it, for as long as nobody reads. So a terminal is written through a descriptor
// of the program's own with O_NONBLOCK: a write takes what fits, and the rest waits in poll,
// which looks at the end request. The shell's descriptor keeps its flags.
#include "platform/console/write_all.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/console/end_request.h"

namespace {

// How long one wait for room in the output lasts before the end request is looked at again.
constexpr int room_wait_milliseconds = 100;

// Waits until the output has room; false when it has none while the end request is up. A pipe
// whose reader has stopped (stopped, or busy elsewhere) would otherwise hold the run in write
// for good, deaf to SIGINT, SIGTERM and SIGHUP.
bool wait_for_room(int fd) {
    for (;;) {
        pollfd output = {fd, POLLOUT, 0};
        const int ready = ::poll(&output, 1, end_requested() ? 0 : room_wait_milliseconds);
        if (ready > 0 || (ready < 0 && errno != EINTR))
            return true; // room, or a state that the write itself reports
        if (ready == 0 && end_requested())
            return false;
    }
}

} // namespace

bool write_all(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        if (!wait_for_room(fd))
            return false;
        // PIPE_BUF bytes or fewer go into a pipe with room without blocking.
        ssize_t written = ::write(fd, data, std::min<std::size_t>(size, PIPE_BUF));
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // The room that poll saw was too little for the terminal to take a byte.
            if (end_requested())
                return false;
            ::poll(nullptr, 0, room_wait_milliseconds / 10);
            continue;
        }
        if (written <= 0)
            return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

int open_own_terminal_output(int fd) {
    char name[256];
    if (!::isatty(fd) || ::ttyname_r(fd, name, sizeof name) != 0)
        return -1;
    return ::open(name, O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}
