// Every byte of an output written to a descriptor, after EINTR and short writes.
#include "platform/write_all.h"

#include <unistd.h>

#include <cerrno>

bool write_all(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}
