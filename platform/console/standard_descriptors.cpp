// The three standard descriptors made sure to be open.
#include "platform/console/standard_descriptors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

void open_missing_standard_descriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lowest free number is taken, and every lower one is open by now: this is fd.
        // Closed stdin reads as the end of the keys; closed stdout or stderr takes every byte.
        const int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) {
            ::dup2(opened, fd);
            ::close(opened);
        }
    }
}
