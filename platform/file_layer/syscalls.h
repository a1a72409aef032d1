// The system calls of the file layer, reached through one table of function pointers.
//
// The file layer calls the system for files only through g_syscalls, so a test can put in
// wrappers that fail a chosen call with a chosen errno, or write fewer bytes than asked. That is
// how the refusals that root never meets (permission denied, a full medium, a read fault) are
// tested against real files, without a mock of the file system.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

struct Syscalls {
    int (*open)(const char* path, int flags, mode_t mode);
    int (*close)(int fd);
    ssize_t (*pread)(int fd, void* buffer, std::size_t size, off_t offset);
    ssize_t (*pwrite)(int fd, const void* data, std::size_t size, off_t offset);
    int (*fstat)(int fd, struct stat* info);
    int (*stat)(const char* path, struct stat* info);
    int (*unlink)(const char* path);
    int (*ftruncate)(int fd, off_t size);
    int (*flock)(int fd, int operation);
};

// The real calls. Tests copy it to put the real calls back.
extern const Syscalls g_real_syscalls;

// The calls the file layer makes: the real ones unless a test has put others in.
extern Syscalls g_syscalls;

// The calls of g_syscalls that an interrupting signal can stop, made again after EINTR until
// they give another outcome; errno as the last call left it. close is not among them: Linux has
// released the fd even when it reports EINTR.
int open_retrying(const char* path, int flags, mode_t mode);
int fstat_retrying(int fd, struct stat* info);
int stat_retrying(const char* path, struct stat* info);
int ftruncate_retrying(int fd, off_t size);
int unlink_retrying(const char* path);
int flock_retrying(int fd, int operation);
ssize_t pread_retrying(int fd, void* buffer, std::size_t size, off_t offset);

// Writes every byte through g_syscalls.pwrite, finishing short writes and retrying EINTR. Gives
// how many reached the file; when that is fewer than size, error holds the errno of the call
// that stopped (0: it wrote nothing).
std::size_t pwrite_fully(int fd, std::uint64_t offset, const std::uint8_t* data, std::size_t size,
                         int& error);
