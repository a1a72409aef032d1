// The built program writing to a terminal that has stopped taking output, as over a congested
// remote link: a pseudo-terminal whose other side nobody reads. An end request must still end
// the process, with the terminal's settings put back.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/e2e_support.h"
#include "tests/mesh_builder.h"
#include "tests/pseudo_terminal.h"

namespace {

// Starts the program of folder from elsewhere/ with stdout and stderr on the terminal, and stdin
// on key_fd: the terminal too for terminal mode, a pipe for pipe mode. As from a shell: every
// signal at its default, none blocked, in a session of its own.
pid_t start_program(const ProgramFolder& folder, int key_fd, int terminal) {
    // Made before the fork: the child makes only calls that are safe there.
    const std::string program = folder.program_folder() + "/plyconv";
    const std::string working_folder = folder.elsewhere_folder();
    const pid_t child = ::fork();
    if (child == 0) {
        ::setsid();
        ::dup2(key_fd, STDIN_FILENO);
        ::dup2(terminal, STDOUT_FILENO);
        ::dup2(terminal, STDERR_FILENO);
        ::close_range(3, ~0U, 0);
        exec_program_as_from_a_shell(program, working_folder);
    }
    return child;
}

// Reads what the program drew until it holds text; false after the guard time.
bool read_until(int user, const std::string& text) {
    std::string seen;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (seen.find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        pollfd ready = {user, POLLIN, 0};
        if (::poll(&ready, 1, 100) <= 0)
            continue;
        char bytes[4096];
        const ssize_t count = ::read(user, bytes, sizeof bytes);
        if (count <= 0)
            return false;
        seen.append(bytes, static_cast<std::size_t>(count));
    }
    return true;
}

// Waits until the terminal takes no more output: everything the program may write stays
// unread, so its next write waits for room. False after the guard time.
bool wait_until_terminal_is_full(int terminal) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
        pollfd room = {terminal, POLLOUT, 0};
        if (::poll(&room, 1, 0) == 0)
            return true;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// Gives the exit code (128 + the signal when one ended it), or -1 when the child is still there
// after the guard time; it is then killed.
int wait_for_end(pid_t child) {
    // Generous against a loaded machine: the end comes within a second; a stalled write kept
    // the process for as long as the terminal was not read.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) != child) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

TEST(StalledTerminal, EndRequestEndsATerminalRunWhoseOutputIsNotRead) {
    // 200 keys typed at the first prompt: each draws a frame of some 2 KB, far more than the
    // terminal holds unread. Then the end request: a signal from elsewhere, or Ctrl+C typed,
    // which the keys' reader sees behind the keys not yet taken. Another signal that ends the
    // process restores the terminal too, without waiting for room in it, and ends it as the
    // signal does.
    struct Case {
        const char* name;
        int signal_number; // 0: Ctrl+C typed
        int end;           // exit code, or 128 + the signal that ended the process
    };
    const Case cases[] = {{"SIGTERM", SIGTERM, 0},
                          {"SIGINT", SIGINT, 0},
                          {"SIGHUP", SIGHUP, 0},
                          {"Ctrl+C", 0, 0},
                          {"SIGQUIT", SIGQUIT, 128 + SIGQUIT},
                          {"SIGUSR1", SIGUSR1, 128 + SIGUSR1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramFolder folder;
        const std::string input = face_file(example_vertices(), {{0, 1, 2}});
        folder.write_file("in.ply", input);
        PseudoTerminal pty = open_pseudo_terminal(80, 25);
        ASSERT_GE(pty.terminal, 0);
        struct termios before;
        ASSERT_EQ(::tcgetattr(pty.terminal, &before), 0);

        const pid_t child = start_program(folder, pty.terminal, pty.terminal);
        ASSERT_GT(child, 0);
        // Keys typed before raw mode would be dropped: the first frame shows it is on.
        EXPECT_TRUE(read_until(pty.user, "ENTER BINARY PLY (.PLY) file:"));
        const std::string keys(200, 'a');
        EXPECT_EQ(::write(pty.user, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
        EXPECT_TRUE(wait_until_terminal_is_full(pty.terminal));
        if (c.signal_number != 0)
            ::kill(child, c.signal_number);
        else
            EXPECT_EQ(::write(pty.user, "\x03", 1), 1);

        EXPECT_EQ(wait_for_end(child), c.end);
        struct termios after;
        ASSERT_EQ(::tcgetattr(pty.terminal, &after), 0);
        EXPECT_TRUE(same_settings(before, after));
        EXPECT_EQ(folder.files_beside_the_program(), (FileBytes{{"in.ply", input}}));
        close_pseudo_terminal(pty);
    }
}

TEST(StalledTerminal, EndRequestEndsAPipeRunWhoseTerminalOutputIsNotRead) {
    // Keys from a pipe, the transcript to a terminal. out.stl a FIFO: 200 faces give some 2,600
    // failure boxes, far more transcript than the terminal holds unread.
    ProgramFolder folder;
    const std::string input =
        face_file(example_vertices(), std::vector<std::vector<std::int32_t>>(200, {0, 1, 2}));
    folder.write_file("in.ply", input);
    ASSERT_EQ(::mkfifo((folder.program_folder() + "/out.stl").c_str(), 0644), 0);
    PseudoTerminal pty = open_pseudo_terminal(80, 25);
    ASSERT_GE(pty.terminal, 0);
    struct termios before;
    ASSERT_EQ(::tcgetattr(pty.terminal, &before), 0);
    int key_pipe[2];
    ASSERT_EQ(::pipe(key_pipe), 0);
    std::string keys = "in.ply\nout\n";
    for (int box = 0; box < 3000; ++box)
        keys += "y\n";
    // Fewer bytes than a pipe holds: written at once, and the pipe stays open after them.
    ASSERT_EQ(::write(key_pipe[1], keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));

    const pid_t child = start_program(folder, key_pipe[0], pty.terminal);
    ASSERT_GT(child, 0);
    ::close(key_pipe[0]);
    EXPECT_TRUE(wait_until_terminal_is_full(pty.terminal));
    ::kill(child, SIGTERM);

    EXPECT_EQ(wait_for_end(child), 0);
    struct termios after;
    ASSERT_EQ(::tcgetattr(pty.terminal, &after), 0);
    EXPECT_TRUE(same_settings(before, after));
    EXPECT_EQ(folder.read_file("in.ply"), input);
    ::close(key_pipe[1]);
    close_pseudo_terminal(pty);
}
