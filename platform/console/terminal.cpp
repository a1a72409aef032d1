// The terminal: raw mode and its restoring on every way out, the code page table and the frame.
#include "platform/console/terminal.h"

#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/console/end_request.h"
#include "platform/console/write_all.h"

namespace {

// Code page 437 as UTF-8. The control bytes 0 to 31 and 127 show their glyphs, since a cell
// holds a byte to be drawn, never a command to the terminal; 0 and 255 are blanks.
const char* const g_code_page_437[256] = {
    " ", "☺", "☻",  "♥", "♦",  "♣", "♠", "•",
    "◘", "○", "◙",  "♂", "♀",  "♪", "♫", "☼", // 0 to 15
    "►", "◄", "↕",  "‼", "¶",  "§", "▬", "↨",
    "↑", "↓", "→",  "←", "∟",  "↔", "▲", "▼", // 16 to 31
    " ", "!", "\"", "#", "$",  "%", "&", "'",
    "(", ")", "*",  "+", ",",  "-", ".", "/", // 32 to 47
    "0", "1", "2",  "3", "4",  "5", "6", "7",
    "8", "9", ":",  ";", "<",  "=", ">", "?", // 48 to 63
    "@", "A", "B",  "C", "D",  "E", "F", "G",
    "H", "I", "J",  "K", "L",  "M", "N", "O", // 64 to 79
    "P", "Q", "R",  "S", "T",  "U", "V", "W",
    "X", "Y", "Z",  "[", "\\", "]", "^", "_", // 80 to 95
    "`", "a", "b",  "c", "d",  "e", "f", "g",
    "h", "i", "j",  "k", "l",  "m", "n", "o", // 96 to 111
    "p", "q", "r",  "s", "t",  "u", "v", "w",
    "x", "y", "z",  "{", "|",  "}", "~", "⌂", // 112 to 127
    "Ç", "ü", "é",  "â", "ä",  "à", "å", "ç",
    "ê", "ë", "è",  "ï", "î",  "ì", "Ä", "Å", // 128 to 143
    "É", "æ", "Æ",  "ô", "ö",  "ò", "û", "ù",
    "ÿ", "Ö", "Ü",  "¢", "£",  "¥", "₧", "ƒ", // 144 to 159
    "á", "í", "ó",  "ú", "ñ",  "Ñ", "ª", "º",
    "¿", "⌐", "¬",  "½", "¼",  "¡", "«", "»", // 160 to 175
    "░", "▒", "▓",  "│", "┤",  "╡", "╢", "╖",
    "╕", "╣", "║",  "╗", "╝",  "╜", "╛", "┐", // 176 to 191
    "└", "┴", "┬",  "├", "─",  "┼", "╞", "╟",
    "╚", "╔", "╩",  "╦", "╠",  "═", "╬", "╧", // 192 to 207
    "╨", "╤", "╥",  "╙", "╘",  "╒", "╓", "╫",
    "╪", "┘", "┌",  "█", "▄",  "▌", "▐", "▀", // 208 to 223
    "α", "ß", "Γ",  "π", "Σ",  "σ", "µ", "τ",
    "Φ", "Θ", "Ω",  "δ", "∞",  "φ", "ε", "∩", // 224 to 239
    "≡", "±", "≥",  "≤", "⌠",  "⌡", "÷", "≈",
    "°", "∙", "·",  "√", "ⁿ",  "²", "■", "\xc2\xa0", // 240 to 255
};

// The alternate screen keeps the user's own terminal content safe while the run draws.
constexpr char enter_alternate_screen[] = "\x1b[?1049h\x1b[0m\x1b[2J";
constexpr char leave_alternate_screen[] = "\x1b[?25h\x1b[?1049l";

struct termios g_saved_settings;
int g_terminal_fd = -1;
int g_output_fd = -1;
volatile sig_atomic_t g_raw_mode_on = 0;

// The frame last drawn, for a resize to draw again. Its lock is held through the write too, so
// that the run's frame and the resize's do not interleave on the terminal.
std::mutex g_frame_lock;
std::string g_last_frame;

// The faults: caught even where the program started with them ignored, since the system ends
// the process for a fault whatever the signal's action.
const int g_fault_signals[] = {SIGSEGV, SIGBUS, SIGABRT, SIGFPE, SIGILL, SIGTRAP, SIGSYS};
// Every other signal whose default action ends the process, the real-time ones (SIGRTMIN to
// SIGRTMAX) too; one the program started with ignored stays ignored. SIGHUP, SIGINT and SIGTERM
// are the end request instead, SIGPIPE and SIGXFSZ are ignored so that the write fails, and
// SIGKILL cannot be caught.
const int g_ending_signals[] = {SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM,   SIGVTALRM,
                                SIGPROF, SIGXCPU, SIGIO,   SIGSTKFLT, SIGPWR};
struct sigaction g_saved_fatal_actions[NSIG];
bool g_fatal_caught[NSIG] = {};

// Only async-signal-safe calls: the terminal is put back, then the signal does what it would
// have done without this handler (SA_RESETHAND made its action the default again). The end
// request is raised first, so that a terminal that takes no output cannot hold the way out:
// what it does not take at once is dropped.
void on_fatal_signal(int signal_number) {
    raise_end_request();
    restore_terminal();
    raise(signal_number);
}

// Input: CR stays CR (Enter is 13), Ctrl+S and Ctrl+Q are keys, no parity stripping, and no
// break turned into a signal.
constexpr tcflag_t raw_mode_input_flags_off = BRKINT | ICRNL | INPCK | ISTRIP | IXON;
// Local: no echo, no line editing (the run has its own), Ctrl+V is a key, and Ctrl+C arrives as
// the byte 3 instead of a signal.
constexpr tcflag_t raw_mode_local_flags_off = ECHO | ICANON | IEXTEN | ISIG;

// A read gives each byte as soon as it is typed; control: 8-bit bytes.
void set_raw_mode(struct termios& settings) {
    settings.c_iflag &= ~raw_mode_input_flags_off;
    settings.c_cflag |= CS8;
    settings.c_lflag &= ~raw_mode_local_flags_off;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
}

bool is_raw_mode(const struct termios& settings) {
    return (settings.c_iflag & raw_mode_input_flags_off) == 0 &&
           (settings.c_cflag & CSIZE) == CS8 &&
           (settings.c_lflag & raw_mode_local_flags_off) == 0 && settings.c_cc[VMIN] == 1 &&
           settings.c_cc[VTIME] == 0;
}

enum class KeepIgnored { No, Yes };

void catch_fatal_signal(int signal_number, KeepIgnored keep_ignored) {
    struct sigaction& saved = g_saved_fatal_actions[signal_number];
    ::sigaction(signal_number, nullptr, &saved);
    if (keep_ignored == KeepIgnored::Yes && (saved.sa_flags & SA_SIGINFO) == 0 &&
        saved.sa_handler == SIG_IGN)
        return;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = on_fatal_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    if (::sigaction(signal_number, &action, nullptr) == 0)
        g_fatal_caught[signal_number] = true;
}

void append_number(std::string& text, int number) {
    text += std::to_string(number);
}

void append_cursor_move(std::string& frame, int row, int column) {
    frame += "\x1b[";
    append_number(frame, row);
    frame += ';';
    append_number(frame, column);
    frame += 'H';
}

} // namespace

const char* code_page_437_glyph(std::uint8_t byte) {
    return g_code_page_437[byte];
}

std::string build_frame(const Screen& screen) {
    // The cursor is hidden while the rows are written, so it does not flicker across them.
    std::string frame = "\x1b[?25l";
    for (int row = 1; row <= screen_row_count; ++row) {
        append_cursor_move(frame, row, 1);
        for (std::uint8_t byte : screen.cells[row - 1])
            frame += g_code_page_437[byte];
    }
    append_cursor_move(frame, screen.row, screen.column);
    frame += "\x1b[?25h";
    return frame;
}

bool draw_frame(int output_fd, const Screen& screen) {
    std::string frame = build_frame(screen);
    std::lock_guard<std::mutex> lock(g_frame_lock);
    g_last_frame.swap(frame);
    return write_all(output_fd, g_last_frame.data(), g_last_frame.size());
}

bool draw_last_frame_again(int output_fd) {
    // Cleared first: what a smaller terminal wrapped or scrolled may stand outside the frame.
    // Two writes, so that the watch needs no memory of its own.
    static const char clear[] = "\x1b[0m\x1b[2J";
    std::lock_guard<std::mutex> lock(g_frame_lock);
    if (g_last_frame.empty())
        return true;
    return write_all(output_fd, clear, sizeof clear - 1) &&
           write_all(output_fd, g_last_frame.data(), g_last_frame.size());
}

bool read_terminal_size(int fd, int& columns, int& rows) {
    struct winsize size;
    if (::ioctl(fd, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0)
        return false;
    columns = size.ws_col;
    rows = size.ws_row;
    return true;
}

std::string terminal_too_small_message(int columns, int rows) {
    return "plyconv needs a terminal of at least 80 columns and 25 rows; this one has " +
           std::to_string(columns) + " columns and " + std::to_string(rows) + " rows.\n";
}

bool enter_raw_mode(int key_fd, int output_fd) {
    static bool restore_registered = false;
    if (g_raw_mode_on)
        return true;
    if (::tcgetattr(key_fd, &g_saved_settings) != 0)
        return false;
    struct termios raw = g_saved_settings;
    set_raw_mode(raw);
    if (::tcsetattr(key_fd, TCSAFLUSH, &raw) != 0)
        return false;
    // tcsetattr succeeds when any one change is made: raw mode is on only if all of them are.
    struct termios now;
    if (::tcgetattr(key_fd, &now) != 0 || !is_raw_mode(now)) {
        ::tcsetattr(key_fd, TCSAFLUSH, &g_saved_settings);
        return false;
    }
    g_terminal_fd = key_fd;
    g_output_fd = output_fd;
    g_raw_mode_on = 1;
    if (!restore_registered) {
        std::atexit(restore_terminal); // an exit() from anywhere still restores
        restore_registered = true;
    }
    write_all(output_fd, enter_alternate_screen, sizeof enter_alternate_screen - 1);
    return true;
}

void restore_terminal() {
    if (!g_raw_mode_on)
        return;
    g_raw_mode_on = 0;
    // A terminal that has stopped taking output must not hold the way out: what cannot be
    // written is dropped, and the settings go back at once (TCSAFLUSH would first wait for the
    // output to drain). Keys typed during the run are dropped, so that the shell does not
    // read them.
    if (!write_all(g_output_fd, leave_alternate_screen, sizeof leave_alternate_screen - 1))
        ::tcflush(g_terminal_fd, TCOFLUSH);
    ::tcflush(g_terminal_fd, TCIFLUSH);
    ::tcsetattr(g_terminal_fd, TCSANOW, &g_saved_settings);
}

void install_fatal_signal_handlers() {
    for (int signal_number : g_fault_signals)
        catch_fatal_signal(signal_number, KeepIgnored::No);
    for (int signal_number : g_ending_signals)
        catch_fatal_signal(signal_number, KeepIgnored::Yes);
    for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number)
        catch_fatal_signal(signal_number, KeepIgnored::Yes);
}

void uninstall_fatal_signal_handlers() {
    for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
        if (g_fatal_caught[signal_number])
            ::sigaction(signal_number, &g_saved_fatal_actions[signal_number], nullptr);
        g_fatal_caught[signal_number] = false;
    }
}
