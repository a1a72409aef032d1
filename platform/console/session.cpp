// The life of one run: the front end set up and taken down, the run's own thread, its three
// ends, the end request and the program's folder.
//
// How a run ends from inside. The run is one long routine of steps with no branch around any
// of them; ending it early (the answer No, the end request at a step check or during a key wait,
// the key after the final prompt) must therefore leave from deep inside it without the caller's
// help. The run has a thread of its own, and stop_run ends that thread with pthread_exit. On
// glibc, pthread_exit unwinds the run's stack like an exception that nothing can catch and runs
// every destructor on it, so the run's state is freed and no lock is left held; run_session,
// waiting in pthread_join, then takes the terminal down and returns. So nothing inside the run
// calls exit() or throws, no function on the run's stack may be noexcept or catch everything
// (the unwinding would stop there and end the process), and the run's thread is a bare
// pthread, whose start routine is ours.
#include "platform/console/session.h"

#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/console/console.h"
#include "platform/console/front_end.h"
#include "platform/console/keyboard.h"
#include "platform/console/run_watch.h"
#include "platform/console/screen.h"
#include "platform/console/terminal.h"
#include "platform/console/write_all.h"
#include "platform/file_layer/failure.h"
#include "platform/file_layer/file_access.h"

namespace {

void (*g_run)() = nullptr;
pthread_t g_run_thread;

struct sigaction g_saved_hangup;
struct sigaction g_saved_terminate;
struct sigaction g_saved_interrupt;
struct sigaction g_saved_broken_pipe;
struct sigaction g_saved_file_size;

void on_end_signal(int) {
    g_end_request = true;
}

// Catches signal_number with on_end_signal and keeps its action before in saved; a signal that
// the program started with ignored stays ignored. A parent ignores one so that it does not end
// the run: nohup ignores SIGHUP, a script ignores SIGINT for a command it starts with &.
void catch_end_signal(int signal_number, struct sigaction& saved) {
    ::sigaction(signal_number, nullptr, &saved);
    if ((saved.sa_flags & SA_SIGINFO) == 0 && saved.sa_handler == SIG_IGN)
        return;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = on_end_signal;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal_number, &action, nullptr);
}

void install_end_signal_handlers() {
    catch_end_signal(SIGHUP, g_saved_hangup);
    // SIGTERM likewise: a program that catches it keeps it ignored where it started so.
    catch_end_signal(SIGTERM, g_saved_terminate);
    // Ctrl+C where the keys come from a pipe: the break key, which ends the run as it does at
    // the terminal, with every file closed instead of lost.
    catch_end_signal(SIGINT, g_saved_interrupt);
    struct sigaction ignore;
    std::memset(&ignore, 0, sizeof ignore);
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    // Output that has gone away is a failed write, which is the end request; the signal would
    // instead kill the run with its files unclosed.
    ::sigaction(SIGPIPE, &ignore, &g_saved_broken_pipe);
    // A write past the file-size limit (ulimit -f) then fails with EFBIG, which the file layer
    // reports as 75, keeping the bytes that did not fit; the signal would instead kill the run
    // with its write buffers unwritten.
    ::sigaction(SIGXFSZ, &ignore, &g_saved_file_size);
}

void uninstall_end_signal_handlers() {
    ::sigaction(SIGHUP, &g_saved_hangup, nullptr);
    ::sigaction(SIGTERM, &g_saved_terminate, nullptr);
    ::sigaction(SIGINT, &g_saved_interrupt, nullptr);
    ::sigaction(SIGPIPE, &g_saved_broken_pipe, nullptr);
    ::sigaction(SIGXFSZ, &g_saved_file_size, nullptr);
}

// The run's thread is made before the front end is set up and waits here until it is.
pthread_mutex_t g_run_start_gate = PTHREAD_MUTEX_INITIALIZER;

// Wakes the watch however the run's thread ends: by a return, or by stop_run's unwinding.
struct RunEndNotice {
    ~RunEndNotice() { tell_run_watch_the_run_ended(); }
};

void* run_thread_main(void*) {
    ::pthread_mutex_lock(&g_run_start_gate);
    ::pthread_mutex_unlock(&g_run_start_gate);
    RunEndNotice notice;
    // Under a limit of memory (ulimit -v) a buffer or a text of the run may not be had. The run
    // cannot go on without it, but its files keep what they hold: they are closed as at any
    // other end. Only std::bad_alloc is caught, so stop_run's unwinding passes through.
    try {
        g_run();
    } catch (const std::bad_alloc&) {
        close_all_files();
        set_run_end(RunEnd::OutOfMemory);
        return nullptr;
    }
    // A run comes back only by mistake; it then ends as a run ends at its last step.
    end_run(684);
}

// Without a thread for the keys or for the run, or the pipe that stops the keys' thread, there
// is no run: the program says so and ends as it does in a terminal that is too small.
[[noreturn]] void refuse_start() {
    static const char message[] =
        "plyconv cannot start: the system gives it no thread or no pipe (too little memory, or "
        "too many processes or open files).\n";
    write_all(STDERR_FILENO, message, sizeof message - 1);
    std::exit(1);
}

} // namespace

RunEnd run_session(const SessionOptions& options, void (*run)()) {
    if (options.mode == FrontEndMode::Terminal) {
        int columns = 0;
        int rows = 0;
        if (read_terminal_size(options.output_fd, columns, rows) &&
            (columns < screen_column_count || rows < screen_row_count)) {
            // Nothing is set up yet, so there is nothing to take down.
            std::string message = terminal_too_small_message(columns, rows);
            write_all(STDERR_FILENO, message.data(), message.size());
            std::exit(1);
        }
    }

    // A process may hold several sessions (the tests do): each starts from nothing.
    // Output to a terminal goes through a descriptor of its own that never blocks, so that an
    // end request ends the run even while the terminal takes no output.
    const int own_output = open_own_terminal_output(options.output_fd);
    const int output_fd = own_output >= 0 ? own_output : options.output_fd;
    start_front_end(options.mode, output_fd);
    g_run = run;
    g_end_request = false;
    clear_failure();

    // The table of open files is made now, not on the run's way out: there, after the system
    // gave no more memory, making it would fail again.
    try {
        make_open_file_table();
    } catch (const std::bad_alloc&) {
        refuse_start();
    }
    install_end_signal_handlers();
    // Both threads are made before anything is shown, so that a system that gives none (a limit
    // on memory or on processes) leaves the terminal as it was. Lines typed ahead at the shell
    // are dropped first, as raw mode drops them: the keyboard thread would read them at once.
    if (options.mode == FrontEndMode::Terminal)
        ::tcflush(options.key_fd, TCIFLUSH);
    if (options.mode == FrontEndMode::Terminal && !open_run_watch(true))
        refuse_start();
    if (!start_keyboard(options.key_fd, options.mode)) {
        stop_keyboard();
        refuse_start();
    }
    ::pthread_mutex_lock(&g_run_start_gate);
    if (::pthread_create(&g_run_thread, nullptr, run_thread_main, nullptr) != 0) {
        stop_keyboard();
        refuse_start();
    }
    set_run_thread(g_run_thread);
    if (options.mode == FrontEndMode::Terminal) {
        install_fatal_signal_handlers();
        if (!enter_raw_mode(options.key_fd, output_fd)) {
            // In cooked mode every key would echo and wait for a line: there is no run. The
            // run's thread still waits at the gate, and ends with the process.
            uninstall_fatal_signal_handlers();
            stop_keyboard();
            uninstall_end_signal_handlers();
            static const char message[] =
                "plyconv cannot start: the terminal refuses the raw mode in which it reads each "
                "key as it is typed.\n";
            write_all(STDERR_FILENO, message, sizeof message - 1);
            std::exit(1);
        }
        show_screen();
    }
    ::pthread_mutex_unlock(&g_run_start_gate);
    if (options.mode == FrontEndMode::Terminal)
        watch_run(draw_frame_again);
    ::pthread_join(g_run_thread, nullptr);
    close_run_watch();

    stop_keyboard();
    if (options.mode == FrontEndMode::Terminal) {
        restore_terminal();
        uninstall_fatal_signal_handlers();
    }
    if (own_output >= 0)
        ::close(own_output);
    uninstall_end_signal_handlers();
    // After the terminal is restored, so that the line stays on the user's own screen.
    if (run_end() == RunEnd::OutOfMemory) {
        static const char message[] =
            "plyconv ended its run: the system gave it no more memory. Its files hold what was "
            "written before.\n";
        write_all(STDERR_FILENO, message, sizeof message - 1);
    } else if (output_error() != 0) {
        set_run_end(RunEnd::OutputFailed);
        const std::string message = "plyconv ended its run: it could not write its output (" +
                                    std::string(std::strerror(output_error())) +
                                    "). Its files hold what was written before.\n";
        write_all(STDERR_FILENO, message.data(), message.size());
    }
    return run_end();
}

std::string screen_row(int row) {
    return row_text(console_screen(), row);
}

void enter_program_folder() {
    char path[PATH_MAX];
    ssize_t length = ::readlink("/proc/self/exe", path, sizeof path);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof path)
        return;
    // On Linux only "/" parts folders: "\" and ":" are ordinary characters of a name.
    std::string folder(path, static_cast<std::size_t>(length));
    std::size_t slash = folder.rfind('/');
    if (slash == std::string::npos)
        return;
    folder.resize(slash == 0 ? 1 : slash);
    if (::chdir(folder.c_str()) != 0)
        return; // the run then resolves names in the folder it was started in
}
