// Every byte of an output written to a descriptor: the one output call that the session and the
// terminal both make, kept below both.
#pragma once

#include <cstddef>

// Writes every byte, going on after EINTR and short writes; false when the output is gone, or
// when it has no room while the end request is up. Only async-signal-safe calls.
bool write_all(int fd, const char* data, std::size_t size);
