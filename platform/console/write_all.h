// Every byte of an output written to a descriptor: the one output call that the session and the
// terminal both make, kept below both.
#pragma once

#include <cstddef>

// Writes every byte, going on after EINTR and short writes; false when the output is gone, or
// when it has no room while the end request is up. Only async-signal-safe calls.
bool write_all(int fd, const char* data, std::size_t size);

// A descriptor of the program's own for writing to the terminal on fd, opened again by the
// terminal's name with O_NONBLOCK; -1 when fd is no terminal or cannot be opened so.
int open_own_terminal_output(int fd);
