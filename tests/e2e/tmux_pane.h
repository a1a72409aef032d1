// The program in a real terminal: a tmux server of the test's own with one 80 x 25 pane, in
// which a shell notes the terminal settings, runs plyconv and notes them again.
#pragma once

#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"

struct PaneCursor {
    int row = 0;    // 1-based
    int column = 0; // 1-based
};

class TmuxPane {
public:
    // Starts the server and the pane; the program starts at once in it, under the limits
    // that limit_commands set (shell commands such as "ulimit -v 12000") when there are any.
    // A program_line given instead is the shell's line that starts the program from pane/
    // and leaves its exit code in $?.
    explicit TmuxPane(const ProgramFolder& folder, const std::string& limit_commands = "",
                      const std::string& program_line = "");
    // Kills the server, and with it the pane and whatever still runs there.
    ~TmuxPane();
    TmuxPane(const TmuxPane&) = delete;
    TmuxPane& operator=(const TmuxPane&) = delete;

    // Rows 1 to 25 as tmux shows them, without trailing blanks (index 0 is row 1).
    std::vector<std::string> screen() const;
    PaneCursor cursor() const;
    // A tmux format of the pane, such as "#{pane_width}x#{pane_height}".
    std::string pane_value(const std::string& format) const;

    // Types text as it stands, one key per character.
    void type(const std::string& text) const;
    // Presses one key by its tmux name: Enter, BSpace, Tab, C-c.
    void press(const std::string& key_name) const;
    // Makes the window, and with it the pane, columns x rows, as a user resizing it would.
    void resize(int columns, int rows) const;

    // Polls the screen until row (1-based) shows text, or until the time runs out; false then.
    bool wait_for_row(int row, const std::string& text) const;
    // Polls until some row holds text.
    bool wait_for_text(const std::string& text) const;
    // Polls until the shell has noted the settings after the program ended.
    bool wait_for_program_end() const;
    // The process id of the program that the pane's shell started; 0 when there is none.
    int program_pid() const;

    // What the shell noted: `stty -g` before and after the program, and its exit code.
    std::string settings_before() const;
    std::string settings_after() const;
    std::string exit_code() const;

    // The last screen that a wait looked at, one row per line, for failure messages.
    std::string last_screen() const;

private:
    // Runs one tmux command on the test's own server; tmux gives back only what it wrote.
    ProcessResult run_tmux(const std::vector<std::string>& arguments) const;
    std::string tmux(const std::vector<std::string>& arguments) const;

    const ProgramFolder& folder_;
    std::string socket_;
    mutable std::vector<std::string> last_screen_;
};
