// Tests of the terminal front end: the glyph table, the frame, raw mode and its restoring, and
// whole sessions on a pseudo-terminal, keys typed and the screen read as a user would.
#include "platform/console/terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/console/console.h"
#include "platform/console/session.h"
#include "platform/file_layer/failure.h"
#include "tests/pseudo_terminal.h"

namespace {

// Keys the user types once the output holds `after`, searched from where the last step's
// text was found.
struct Typing {
    std::string after;
    std::string keys;
};

struct TerminalRun {
    RunEnd end = RunEnd::EndRequest;
    std::string output;
    bool settings_restored = false;
    bool every_key_typed = false; // the run waited for the last keys
    std::vector<std::string> screen;
};

constexpr char enter_alternate[] = "\x1b[?1049h";
constexpr char leave_alternate[] = "\x1b[?1049l";

TerminalRun run_in_terminal(const std::vector<Typing>& typing, void (*run)()) {
    TerminalRun result;
    PseudoTerminal pty = open_pseudo_terminal(80, 25);
    if (pty.terminal < 0) {
        ADD_FAILURE() << "no pseudo-terminal";
        return result;
    }
    struct termios before;
    ::tcgetattr(pty.terminal, &before);

    std::mutex output_mutex;
    std::atomic<bool> stop{false};
    std::atomic<std::size_t> typed_count{0};
    std::thread user([&] {
        std::size_t search_from = 0;
        char buffer[4096];
        while (!stop) {
            pollfd fds = {pty.user, POLLIN, 0};
            if (::poll(&fds, 1, 10) <= 0)
                continue;
            ssize_t count = ::read(pty.user, buffer, sizeof buffer);
            if (count <= 0)
                break;
            std::lock_guard<std::mutex> lock(output_mutex);
            result.output.append(buffer, static_cast<std::size_t>(count));
            while (typed_count < typing.size()) {
                const Typing& next = typing[typed_count];
                std::size_t found = result.output.find(next.after, search_from);
                if (found == std::string::npos)
                    break;
                search_from = found + next.after.size();
                // Counted before the write: the run may end on these keys before it returns.
                ++typed_count;
                if (::write(pty.user, next.keys.data(), next.keys.size()) < 0)
                    break;
            }
        }
    });

    SessionOptions options;
    options.mode = FrontEndMode::Terminal;
    options.key_fd = pty.terminal;
    options.output_fd = pty.terminal;
    result.end = run_session(options, run);
    result.every_key_typed = typed_count == typing.size();

    // Let the user's side read the last bytes (the way out of the alternate screen).
    for (int i = 0; i < 200; ++i) {
        {
            std::lock_guard<std::mutex> lock(output_mutex);
            if (result.output.find(leave_alternate) != std::string::npos)
                break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    stop = true;
    user.join();
    struct termios after;
    ::tcgetattr(pty.terminal, &after);
    result.settings_restored = same_settings(before, after);
    close_pseudo_terminal(pty);
    for (int row = 1; row <= 25; ++row)
        result.screen.push_back(screen_row(row));
    return result;
}

std::string g_answer;

void answer_and_end() {
    print_row({"Name:"});
    check_step(86);
    input_answer(g_answer);
    check_step(87);
    end_run(684);
}

void fail_then_end() {
    print_row({"before"});
    check_step(98);
    raise_failure(Failure::PathNotFound);
    check_step(102);
    print_row({"after"});
    check_step(104);
    end_run(684);
}

} // namespace

TEST(Terminal, CodePageGlyphs) {
    struct Case {
        int byte;
        const char* glyph;
    };
    const Case cases[] = {
        {0, " "},   {1, "☺"},   {7, "•"},   {9, "○"},   {10, "◙"},  {13, "♪"},         {27, "←"},
        {31, "▼"},  {32, " "},  {65, "A"},  {92, "\\"}, {126, "~"}, {127, "⌂"},        {128, "Ç"},
        {130, "é"}, {176, "░"}, {179, "│"}, {186, "║"}, {201, "╔"}, {205, "═"},        {219, "█"},
        {224, "α"}, {227, "π"}, {228, "Σ"}, {251, "√"}, {254, "■"}, {255, "\xc2\xa0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.byte);
        EXPECT_STREQ(code_page_437_glyph(static_cast<std::uint8_t>(c.byte)), c.glyph);
    }
}

TEST(Terminal, FrameOfASmallScreen) {
    Screen screen;
    clear_screen(screen);
    print_text(screen, std::string("Hi\x01", 3));
    std::string expected = "\x1b[?25l\x1b[1;1HHi☺" + std::string(77, ' ');
    for (int row = 2; row <= 25; ++row)
        expected += "\x1b[" + std::to_string(row) + ";1H" + std::string(80, ' ');
    expected += "\x1b[1;4H\x1b[?25h";
    EXPECT_EQ(build_frame(screen), expected);
}

TEST(Terminal, FrameSendsNoControlByteOfTheCells) {
    // Every byte value in the cells: only the frame's own escape sequences may reach the
    // terminal as control bytes, or a header line could move its cursor or ring it.
    Screen screen;
    clear_screen(screen);
    for (int i = 0; i < 256; ++i)
        screen.cells[i / 80][i % 80] = static_cast<std::uint8_t>(i);
    std::string frame = build_frame(screen);
    for (std::size_t i = 0; i < frame.size(); ++i) {
        unsigned char byte = static_cast<unsigned char>(frame[i]);
        if (byte < 32 || byte == 127) {
            ASSERT_EQ(byte, 27) << "at " << i;
            ASSERT_LT(i + 1, frame.size());
            ASSERT_EQ(frame[i + 1], '[') << "at " << i;
        }
    }
}

TEST(Terminal, RawModeAndItsRestoring) {
    PseudoTerminal pty = open_pseudo_terminal(80, 25);
    ASSERT_GE(pty.terminal, 0);
    struct termios before;
    ASSERT_EQ(::tcgetattr(pty.terminal, &before), 0);
    ASSERT_TRUE(enter_raw_mode(pty.terminal, pty.terminal));
    struct termios raw;
    ::tcgetattr(pty.terminal, &raw);
    EXPECT_EQ(raw.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(raw.c_iflag & (ICRNL | IXON), 0u);
    restore_terminal();
    restore_terminal(); // a second call changes nothing
    struct termios after;
    ::tcgetattr(pty.terminal, &after);
    EXPECT_TRUE(same_settings(before, after));
    std::string text;
    char output[64];
    pollfd ready = {pty.user, POLLIN, 0};
    while (text.find(leave_alternate) == std::string::npos && ::poll(&ready, 1, 1000) > 0) {
        ssize_t count = ::read(pty.user, output, sizeof output);
        if (count <= 0)
            break;
        text.append(output, static_cast<std::size_t>(count));
    }
    EXPECT_NE(text.find(enter_alternate), std::string::npos);
    EXPECT_NE(text.find(leave_alternate), std::string::npos);
    close_pseudo_terminal(pty);
}

TEST(Terminal, FatalSignalRestoresTheTerminal) {
    // Forked, not started afresh, so that the child works on this very terminal.
    GTEST_FLAG_SET(death_test_style, "fast");
    PseudoTerminal pty = open_pseudo_terminal(80, 25);
    ASSERT_GE(pty.terminal, 0);
    struct termios before;
    ::tcgetattr(pty.terminal, &before);
    EXPECT_EXIT(
        {
            install_fatal_signal_handlers();
            enter_raw_mode(pty.terminal, pty.terminal);
            std::abort();
        },
        ::testing::KilledBySignal(SIGABRT), "");
    // The child shared the terminal: its settings are what the child left.
    struct termios after;
    ::tcgetattr(pty.terminal, &after);
    EXPECT_TRUE(same_settings(before, after));
    close_pseudo_terminal(pty);
}

TEST(Terminal, TooSmallTerminalEndsBeforeTheRun) {
    GTEST_FLAG_SET(death_test_style, "fast");
    PseudoTerminal pty = open_pseudo_terminal(70, 20);
    ASSERT_GE(pty.terminal, 0);
    SessionOptions options;
    options.mode = FrontEndMode::Terminal;
    options.key_fd = pty.terminal;
    options.output_fd = pty.terminal;
    EXPECT_EXIT(run_session(options, answer_and_end), ::testing::ExitedWithCode(1),
                "^plyconv needs a terminal of at least 80 columns and 25 rows; this one has 70 "
                "columns and 20 rows\\.\n$");
    close_pseudo_terminal(pty);
}

TEST(Terminal, SessionEndsRestoreTheTerminal) {
    struct Case {
        const char* name;
        std::vector<Typing> typing;
        void (*run)();
        RunEnd end;
        std::vector<std::string> rows; // rows 1, 2 and 25
    };
    const char* prompt = "Press any key to continue";
    const char* box = "Unhandled Error #76";
    const Case cases[] = {
        {"an answer and the final key",
         {{enter_alternate, "in.plx\x7fy\r"}, {prompt, "x"}},
         answer_and_end,
         RunEnd::KeyAfterPrompt,
         {"Name:", "? in.ply", prompt}},
        {"a cursor key ends the final wait",
         {{enter_alternate, "\r"}, {prompt, "\x1b[A"}},
         answer_and_end,
         RunEnd::KeyAfterPrompt,
         {"Name:", "?", prompt}},
        {"keys typed before the prompt do not end the wait",
         {{enter_alternate, "a\rzz"}, {prompt, "x"}},
         answer_and_end,
         RunEnd::KeyAfterPrompt,
         {"Name:", "? a", prompt}},
        {"Ctrl+C during an answer",
         {{enter_alternate, "ab"}, {"? ab", "\x03"}},
         answer_and_end,
         RunEnd::EndRequest,
         {"Name:", "? ab", ""}},
        {"Ctrl+C at the final wait",
         {{enter_alternate, "\r"}, {prompt, "\x03"}},
         answer_and_end,
         RunEnd::EndRequest,
         {"Name:", "?", prompt}},
        {"y in the box",
         {{box, "y"}, {prompt, "x"}},
         fail_then_end,
         RunEnd::KeyAfterPrompt,
         {"before", "after", prompt}},
        {"Enter takes Yes first",
         {{box, "\r"}, {prompt, "x"}},
         fail_then_end,
         RunEnd::KeyAfterPrompt,
         {"before", "after", prompt}},
        {"Tab twice then Enter is Yes",
         {{box, "\t\t\r"}, {prompt, "x"}},
         fail_then_end,
         RunEnd::KeyAfterPrompt,
         {"before", "after", prompt}},
        {"n in the box", {{box, "n"}}, fail_then_end, RunEnd::AnswerNo, {"before", "", ""}},
        {"right arrow then Enter is No",
         {{box, "\x1b[C\r"}},
         fail_then_end,
         RunEnd::AnswerNo,
         {"before", "", ""}},
        {"Tab then Enter is No",
         {{box, "\t\r"}},
         fail_then_end,
         RunEnd::AnswerNo,
         {"before", "", ""}},
        {"Ctrl+C in the box",
         {{box, "\x03"}},
         fail_then_end,
         RunEnd::EndRequest,
         {"before", "", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TerminalRun result = run_in_terminal(c.typing, c.run);
        EXPECT_EQ(result.end, c.end);
        EXPECT_TRUE(result.settings_restored);
        EXPECT_TRUE(result.every_key_typed);
        EXPECT_EQ(result.screen[0], c.rows[0]);
        EXPECT_EQ(result.screen[1], c.rows[1]);
        EXPECT_EQ(result.screen[24], c.rows[2]);
        // The last thing the terminal gets is the way back out of the alternate screen.
        std::size_t leave = result.output.rfind(leave_alternate);
        ASSERT_NE(leave, std::string::npos);
        EXPECT_EQ(leave + std::strlen(leave_alternate), result.output.size());
    }
}

TEST(Terminal, BoxIsDrawnAndTheScreenPutBack) {
    TerminalRun result =
        run_in_terminal({{"Unhandled Error #76", "y"}, {"Press any", "x"}}, fail_then_end);
    // The box's text is in the frame, and the frame after it is the screen again.
    std::size_t box = result.output.find("║  Path not found");
    ASSERT_NE(box, std::string::npos);
    EXPECT_NE(result.output.find("[ Yes ]", box), std::string::npos);
    std::size_t next_frame = result.output.find("\x1b[?25l", box);
    ASSERT_NE(next_frame, std::string::npos);
    std::size_t after_row = result.output.find("\x1b[9;1H", next_frame);
    ASSERT_NE(after_row, std::string::npos);
    EXPECT_EQ(result.output.substr(after_row + 6, 80), std::string(80, ' '));
}
