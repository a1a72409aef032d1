// The real system calls behind the file layer's seam.
#include "platform/file_layer/syscalls.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

// Positions reach files of any size only with a 64-bit offset.
static_assert(sizeof(off_t) == 8, "off_t must be 64 bits");

namespace {

// open is variadic; the table needs a fixed signature.
int real_open(const char* path, int flags, mode_t mode) {
    return ::open(path, flags, mode);
}
int real_close(int fd) {
    return ::close(fd);
}
ssize_t real_pread(int fd, void* buffer, std::size_t size, off_t offset) {
    return ::pread(fd, buffer, size, offset);
}
ssize_t real_pwrite(int fd, const void* data, std::size_t size, off_t offset) {
    return ::pwrite(fd, data, size, offset);
}
int real_fstat(int fd, struct stat* info) {
    return ::fstat(fd, info);
}
int real_stat(const char* path, struct stat* info) {
    return ::stat(path, info);
}
int real_unlink(const char* path) {
    return ::unlink(path);
}
int real_ftruncate(int fd, off_t size) {
    return ::ftruncate(fd, size);
}
int real_flock(int fd, int operation) {
    return ::flock(fd, operation);
}

} // namespace

const Syscalls g_real_syscalls = {real_open, real_close,  real_pread,     real_pwrite, real_fstat,
                                  real_stat, real_unlink, real_ftruncate, real_flock};

// Listed again rather than copied, so that both are set before any other file's initializer runs.
Syscalls g_syscalls = {real_open, real_close,  real_pread,     real_pwrite, real_fstat,
                       real_stat, real_unlink, real_ftruncate, real_flock};

int open_retrying(const char* path, int flags, mode_t mode) {
    int fd;
    do
        fd = g_syscalls.open(path, flags, mode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

int fstat_retrying(int fd, struct stat* info) {
    int result;
    do
        result = g_syscalls.fstat(fd, info);
    while (result != 0 && errno == EINTR);
    return result;
}

int stat_retrying(const char* path, struct stat* info) {
    int result;
    do
        result = g_syscalls.stat(path, info);
    while (result != 0 && errno == EINTR);
    return result;
}

int ftruncate_retrying(int fd, off_t size) {
    int result;
    do
        result = g_syscalls.ftruncate(fd, size);
    while (result != 0 && errno == EINTR);
    return result;
}

int unlink_retrying(const char* path) {
    int result;
    do
        result = g_syscalls.unlink(path);
    while (result != 0 && errno == EINTR);
    return result;
}

int flock_retrying(int fd, int operation) {
    int result;
    do
        result = g_syscalls.flock(fd, operation);
    while (result != 0 && errno == EINTR);
    return result;
}

ssize_t pread_retrying(int fd, void* buffer, std::size_t size, off_t offset) {
    ssize_t count;
    do
        count = g_syscalls.pread(fd, buffer, size, offset);
    while (count < 0 && errno == EINTR);
    return count;
}

std::size_t pwrite_fully(int fd, std::uint64_t offset, const std::uint8_t* data, std::size_t size,
                         int& error) {
    std::size_t written = 0;
    while (written < size) {
        ssize_t count = g_syscalls.pwrite(fd, data + written, size - written,
                                          static_cast<off_t>(offset + written));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            error = count < 0 ? errno : 0;
            break;
        }
        written += static_cast<std::size_t>(count);
    }
    return written;
}
