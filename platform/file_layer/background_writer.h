// The background writer: one thread that puts a full write buffer into its file while the run
// fills the next, so that the system's copy of the bytes costs the run no time of its own.
#pragma once

#include <cstddef>
#include <cstdint>

// One write handed to the writer. The caller fills the first four fields, then leaves the
// write alone from start_background_write until wait_for_background_write returns.
struct BackgroundWrite {
    int fd = -1;
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::uint64_t offset = 0;
    // What the writer did: written bytes from data on, and the errno of the call that stopped
    // short (0: a call that wrote nothing).
    std::size_t written = 0;
    int error = 0;
    bool busy = false; // only the writer's lock reads or writes it
};

// Queues the write; the writes are made one at a time, in the order queued. When the system
// gives no thread for the writer, the write is made at once.
void start_background_write(BackgroundWrite& write);

// Returns once the write is made; at once when none was started.
void wait_for_background_write(BackgroundWrite& write);
