// Fault injection for tests: makes a chosen system call of the file layer fail, from a chosen
// call on, while a FaultGuard lives, and counts every call so that a sweep can move the fault.
#pragma once

#include "platform/file_layer/syscalls.h"

#include <atomic>
#include <cassert>
#include <cerrno>
#include <cstddef>

enum class SystemCall { Open, Close, Pread, Pwrite, Fstat, Stat, Unlink, Ftruncate, Flock };
constexpr int system_call_count = 9;

enum class FaultKind {
    Error,      // the call fails with the plan's errno
    Short,      // pread or pwrite moves at most short_size bytes and gives their count
    FullMedium, // pwrite: the medium takes short_size more bytes in all, then fails with errno
};

struct FaultPlan {
    SystemCall call = SystemCall::Pwrite;
    int fail_at = 1; // the first call that fails, counted from 1 since the guard began; 0: none
    int error = EIO; // errno of a failing call
    bool persist = false; // true: every call from fail_at on fails; false: fail_count calls
    FaultKind kind = FaultKind::Error;
    std::size_t short_size = 0; // Short and FullMedium: bytes, as above
    int fail_count = 1;         // without persist: how many calls from fail_at on fail
};

// The background writer makes its write calls on a thread of its own, beside the run's calls,
// so the counts are atomic.
struct FaultState {
    FaultPlan plan;
    bool active = false;
    std::atomic<int> calls[system_call_count] = {};
    std::atomic<int> faults{0};              // calls that were made to fail
    std::atomic<std::size_t> medium_used{0}; // FullMedium: bytes taken since the fault began
};

inline FaultState g_fault_state;

// Counts a call of which, and tells whether the plan has it fail.
inline bool should_fail(SystemCall which) {
    FaultState& state = g_fault_state;
    int number = ++state.calls[static_cast<int>(which)];
    const FaultPlan& plan = state.plan;
    if (which != plan.call || plan.fail_at == 0 || number < plan.fail_at)
        return false;
    return plan.persist || number < plan.fail_at + plan.fail_count;
}

inline int fail_with_errno() {
    ++g_fault_state.faults;
    errno = g_fault_state.plan.error;
    return -1;
}

// A short call counts as a fault only when it moves fewer bytes than asked.
inline std::size_t shortened(std::size_t size, std::size_t room) {
    if (size <= room)
        return size;
    ++g_fault_state.faults;
    return room;
}

inline int faulty_open(const char* path, int flags, mode_t mode) {
    if (should_fail(SystemCall::Open))
        return fail_with_errno();
    return g_real_syscalls.open(path, flags, mode);
}

// As on Linux, a close that reports an error has released the fd all the same.
inline int faulty_close(int fd) {
    int result = g_real_syscalls.close(fd);
    if (should_fail(SystemCall::Close))
        return fail_with_errno();
    return result;
}

inline ssize_t faulty_pread(int fd, void* buffer, std::size_t size, off_t offset) {
    if (should_fail(SystemCall::Pread)) {
        if (g_fault_state.plan.kind == FaultKind::Error)
            return fail_with_errno();
        size = shortened(size, g_fault_state.plan.short_size);
    }
    return g_real_syscalls.pread(fd, buffer, size, offset);
}

inline ssize_t faulty_pwrite(int fd, const void* data, std::size_t size, off_t offset) {
    if (should_fail(SystemCall::Pwrite)) {
        FaultState& state = g_fault_state;
        std::size_t room = state.plan.short_size;
        if (state.plan.kind == FaultKind::Error)
            return fail_with_errno();
        if (state.plan.kind == FaultKind::FullMedium) {
            const std::size_t used = state.medium_used;
            room -= used < room ? used : room;
            if (room == 0)
                return fail_with_errno();
        }
        size = shortened(size, room);
        ssize_t written = g_real_syscalls.pwrite(fd, data, size, offset);
        if (written > 0)
            state.medium_used += static_cast<std::size_t>(written);
        return written;
    }
    return g_real_syscalls.pwrite(fd, data, size, offset);
}

inline int faulty_fstat(int fd, struct stat* info) {
    if (should_fail(SystemCall::Fstat))
        return fail_with_errno();
    return g_real_syscalls.fstat(fd, info);
}

inline int faulty_stat(const char* path, struct stat* info) {
    if (should_fail(SystemCall::Stat))
        return fail_with_errno();
    return g_real_syscalls.stat(path, info);
}

inline int faulty_unlink(const char* path) {
    if (should_fail(SystemCall::Unlink))
        return fail_with_errno();
    return g_real_syscalls.unlink(path);
}

inline int faulty_ftruncate(int fd, off_t size) {
    if (should_fail(SystemCall::Ftruncate))
        return fail_with_errno();
    return g_real_syscalls.ftruncate(fd, size);
}

inline int faulty_flock(int fd, int operation) {
    if (should_fail(SystemCall::Flock))
        return fail_with_errno();
    return g_real_syscalls.flock(fd, operation);
}

// Calls at to at + count - 1 of call fail with error; at 0 fails none.
inline FaultPlan failing(SystemCall call, int at, int error, int count = 1) {
    FaultPlan plan;
    plan.call = call;
    plan.fail_at = at;
    plan.error = error;
    plan.fail_count = count;
    return plan;
}

// Every call of call from at on fails with error; at 0 fails none.
inline FaultPlan failing_from(SystemCall call, int at, int error) {
    FaultPlan plan = failing(call, at, error);
    plan.persist = true;
    return plan;
}

// Puts the counting wrappers under the file layer for its lifetime, then the real calls back.
// One guard at a time. A plan with fail_at 0 only counts.
class FaultGuard {
public:
    explicit FaultGuard(const FaultPlan& plan) {
        assert(!g_fault_state.active);
        for (std::atomic<int>& count : g_fault_state.calls)
            count = 0;
        g_fault_state.faults = 0;
        g_fault_state.medium_used = 0;
        g_fault_state.plan = plan;
        g_fault_state.active = true;
        g_syscalls = {faulty_open, faulty_close,  faulty_pread,     faulty_pwrite, faulty_fstat,
                      faulty_stat, faulty_unlink, faulty_ftruncate, faulty_flock};
    }
    ~FaultGuard() {
        g_syscalls = g_real_syscalls;
        g_fault_state.active = false;
    }
    FaultGuard(const FaultGuard&) = delete;
    FaultGuard& operator=(const FaultGuard&) = delete;

    // Calls of which made since the guard began, the failed ones included.
    int calls(SystemCall which) const { return g_fault_state.calls[static_cast<int>(which)]; }
    // Calls that the plan made fail.
    int fault_count() const { return g_fault_state.faults; }
    bool reached() const { return g_fault_state.faults > 0; }
};
