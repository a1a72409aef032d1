// The front end of a run: its screen, its output and the end of its thread. See session.cpp for
// how stop_run leaves from deep inside the run.
#include "platform/console/front_end.h"

#include <unistd.h>

#include <atomic>
#include <cassert>
#include <cerrno>
#include <string>

#include "platform/console/end_request.h"
#include "platform/console/terminal.h"
#include "platform/console/write_all.h"
#include "platform/file_layer/file_access.h"

namespace {

Screen g_screen;
FrontEndMode g_mode = FrontEndMode::Pipe;
int g_output_fd = STDOUT_FILENO;
pthread_t g_run_thread;
RunEnd g_run_end = RunEnd::EndRequest;

// Set at the start of a session: after a hang-up the terminal no longer says it is one.
bool g_output_is_terminal = false;
std::atomic<int> g_output_error{0};

// EPIPE: the reader of a pipe (or a socket's peer) has closed it, as `| head` does; EIO: the
// terminal has gone. 0 and EINTR: no write failed, the output had no room while the end request
// was up.
bool reader_went_away(int error) {
    return error == 0 || error == EINTR || error == EPIPE || error == ECONNRESET ||
           (error == EIO && g_output_is_terminal);
}

// Called with errno as the failed write left it. Either way the run ends as at the end request,
// its files closed with what they hold. Where nobody can see the run any more that is all; a
// full disk or the file-size limit is a failure of the program's own, which it tells once the
// run has ended.
void output_failed() {
    const int error = errno;
    int none = 0;
    if (!reader_went_away(error))
        g_output_error.compare_exchange_strong(none, error);
    raise_end_request();
}

void write_output(const std::string& bytes) {
    errno = 0;
    if (!write_all(g_output_fd, bytes.data(), bytes.size()))
        output_failed();
}

// Pipe mode: every row that ends is a line of the transcript.
void write_ended_row(const Screen& screen, int row) {
    write_output_line(row_text(screen, row));
}

} // namespace

Screen& console_screen() {
    return g_screen;
}

FrontEndMode front_end_mode() {
    return g_mode;
}

void show_screen() {
    show_frame(g_screen);
}

void show_frame(const Screen& screen) {
    if (g_mode != FrontEndMode::Terminal)
        return;
    errno = 0;
    if (!draw_frame(g_output_fd, screen))
        output_failed();
}

void draw_frame_again() {
    errno = 0;
    if (!draw_last_frame_again(g_output_fd))
        output_failed();
}

void write_output_line(std::string_view text) {
    std::string line(text);
    line += '\n';
    write_output(line);
}

void stop_run(RunEnd how) {
    assert(::pthread_equal(::pthread_self(), g_run_thread));
    close_all_files();
    g_run_end = how;
    ::pthread_exit(nullptr);
}

void start_front_end(FrontEndMode mode, int output_fd) {
    g_mode = mode;
    g_output_fd = output_fd;
    g_run_end = RunEnd::EndRequest;
    clear_screen(g_screen);
    g_screen.row_ended = mode == FrontEndMode::Pipe ? write_ended_row : nullptr;
    g_output_is_terminal = ::isatty(output_fd) == 1;
    g_output_error = 0;
}

void set_run_thread(pthread_t run_thread) {
    g_run_thread = run_thread;
}

RunEnd run_end() {
    return g_run_end;
}

void set_run_end(RunEnd how) {
    g_run_end = how;
}

int output_error() {
    return g_output_error;
}
