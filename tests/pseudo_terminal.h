// A pseudo-terminal for the tests that drive the front end or the whole program in a terminal
// of their own: the program's side and the user's side, and its settings compared.
#pragma once

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

// The program's side is `terminal`, the user's side (a terminal emulator's) `user`.
struct PseudoTerminal {
    int user = -1;
    int terminal = -1;
};

inline PseudoTerminal open_pseudo_terminal(int columns, int rows) {
    PseudoTerminal pty;
    pty.user = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (pty.user < 0 || ::grantpt(pty.user) != 0 || ::unlockpt(pty.user) != 0)
        return pty;
    pty.terminal = ::open(::ptsname(pty.user), O_RDWR | O_NOCTTY);
    struct winsize size;
    std::memset(&size, 0, sizeof size);
    size.ws_col = static_cast<unsigned short>(columns);
    size.ws_row = static_cast<unsigned short>(rows);
    ::ioctl(pty.terminal, TIOCSWINSZ, &size);
    return pty;
}

inline void close_pseudo_terminal(PseudoTerminal& pty) {
    if (pty.terminal >= 0)
        ::close(pty.terminal);
    if (pty.user >= 0)
        ::close(pty.user);
    pty = PseudoTerminal();
}

inline bool same_settings(const struct termios& a, const struct termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}
