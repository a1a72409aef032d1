// The tmux pane of a test: its server on a socket of the test's own, the shell that runs the
// program in it, and the screen read back with capture-pane.
#include "tests/e2e/tmux_pane.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <sstream>
#include <thread>

namespace {

constexpr const char* session = "plyconv";
// Generous: a screen state comes within milliseconds; this only stops a hang.
constexpr auto screen_time_limit = std::chrono::seconds(20);
constexpr auto poll_interval = std::chrono::milliseconds(20);

// The shell in the pane, started in pane/. Raw mode clears the flags of the first line too, so
// a restore to the defaults, not to what was there before, shows in the settings after it.
// Limits are set in a subshell, so that they bind the program alone.
std::string pane_script(const std::string& limit_commands, const std::string& program_line) {
    std::string program = limit_commands.empty()
                              ? "../program/plyconv\n"
                              : "(" + limit_commands + "; exec ../program/plyconv)\n";
    if (!program_line.empty())
        program = program_line + "\n";
    return "stty -ixon -iexten\n"
           "stty -g > stty_before\n" +
           program +
           "echo $? > exit_code\n"
           "stty -g > stty_after\n"
           "touch finished\n"
           "exec sleep 3600\n";
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

std::string without_line_end(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

bool poll_until(const std::function<bool()>& ready) {
    const auto deadline = std::chrono::steady_clock::now() + screen_time_limit;
    for (;;) {
        if (ready())
            return true;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(poll_interval);
    }
}

} // namespace

TmuxPane::TmuxPane(const ProgramFolder& folder, const std::string& limit_commands,
                   const std::string& program_line)
    : folder_(folder) {
    // Unique per process and per pane, so that tests running side by side never share a server.
    static int pane_number = 0;
    socket_ = "plyconv-e2e-" + std::to_string(::getpid()) + "-" + std::to_string(++pane_number);

    std::FILE* file = std::fopen((folder.pane_folder() + "/pane.sh").c_str(), "w");
    if (file != nullptr) {
        std::fputs(pane_script(limit_commands, program_line).c_str(), file);
        std::fclose(file);
    }
    ProcessResult started = run_tmux({"new-session", "-d", "-x", "80", "-y", "25", "-s", session,
                                      "-c", folder.pane_folder(), "sh pane.sh"});
    if (started.exit_code != 0)
        std::fprintf(stderr, "tmux new-session failed (exit code %d): %s\n", started.exit_code,
                     started.errors.c_str());
}

TmuxPane::~TmuxPane() {
    tmux({"kill-server"});
}

ProcessResult TmuxPane::run_tmux(const std::vector<std::string>& arguments) const {
    // -f /dev/null: no configuration of the machine's; TMUX_TMPDIR puts the socket in the
    // test's own folder.
    std::vector<std::string> argv = {"tmux", "-L", socket_, "-f", "/dev/null"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return run_process(argv, "", folder_.pane_folder(), {"TMUX_TMPDIR=" + folder_.pane_folder()});
}

std::string TmuxPane::tmux(const std::vector<std::string>& arguments) const {
    return run_tmux(arguments).output;
}

std::vector<std::string> TmuxPane::screen() const {
    std::vector<std::string> rows = split_lines(tmux({"capture-pane", "-p", "-t", session}));
    rows.resize(25);
    return rows;
}

PaneCursor TmuxPane::cursor() const {
    PaneCursor cursor;
    std::istringstream values(pane_value("#{cursor_y} #{cursor_x}"));
    values >> cursor.row >> cursor.column;
    cursor.row += 1; // tmux counts from 0
    cursor.column += 1;
    return cursor;
}

std::string TmuxPane::pane_value(const std::string& format) const {
    return without_line_end(tmux({"display-message", "-p", "-t", session, format}));
}

void TmuxPane::type(const std::string& text) const {
    tmux({"send-keys", "-t", session, "-l", text});
}

void TmuxPane::press(const std::string& key_name) const {
    tmux({"send-keys", "-t", session, key_name});
}

void TmuxPane::resize(int columns, int rows) const {
    tmux({"resize-window", "-t", session, "-x", std::to_string(columns), "-y",
          std::to_string(rows)});
}

bool TmuxPane::wait_for_row(int row, const std::string& text) const {
    return poll_until([&] {
        last_screen_ = screen();
        return last_screen_[static_cast<std::size_t>(row - 1)] == text;
    });
}

bool TmuxPane::wait_for_text(const std::string& text) const {
    return poll_until([&] {
        last_screen_ = screen();
        for (const std::string& row : last_screen_)
            if (row.find(text) != std::string::npos)
                return true;
        return false;
    });
}

bool TmuxPane::wait_for_program_end() const {
    const std::string finished = folder_.pane_folder() + "/finished";
    return poll_until([&] { return ::access(finished.c_str(), F_OK) == 0; });
}

int TmuxPane::program_pid() const {
    // The shell runs the program as its child (a subshell execs it under limits).
    const std::string shell = pane_value("#{pane_pid}");
    for (const std::string& name : names_in_folder("/proc")) {
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        // "pid (comm) state ppid ...": the name holds no blank or parenthesis here.
        std::istringstream stat(file_bytes("/proc/" + name + "/stat"));
        std::string pid, command, state, parent;
        stat >> pid >> command >> state >> parent;
        if (command == "(plyconv)" && parent == shell)
            return std::stoi(pid);
    }
    return 0;
}

std::string TmuxPane::settings_before() const {
    return without_line_end(file_bytes(folder_.pane_folder() + "/stty_before"));
}

std::string TmuxPane::settings_after() const {
    return without_line_end(file_bytes(folder_.pane_folder() + "/stty_after"));
}

std::string TmuxPane::exit_code() const {
    return without_line_end(file_bytes(folder_.pane_folder() + "/exit_code"));
}

std::string TmuxPane::last_screen() const {
    std::string text;
    for (const std::string& row : last_screen_)
        text += row + "\n";
    return text;
}
