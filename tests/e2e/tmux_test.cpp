// The built program in a real 80 x 25 terminal (a tmux pane): the rows a user sees while
// typing, the failure box and its answers, row 25 at the end, and the terminal settings put
// back on every way out.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"
#include "tests/e2e/examples.h"
#include "tests/e2e/tmux_pane.h"
#include "tests/mesh_builder.h"
#include "tests/run_transcript.h"

namespace {

using Rows = std::vector<std::string>;

const std::string prompt_row = "Press any key to continue";
const std::string second_prompt = " Enter name of ouput 3D file (Do not put extension)";

// The screen of a run with no rows beyond those given: rows 1 to 25, blank below.
Rows screen_of(Rows rows) {
    rows.resize(25);
    return rows;
}

// The banner and both answers, rows 1 to 12, then whatever follows.
Rows dialogue_rows(const std::string& first_answer, const std::string& second_answer) {
    Rows rows = banner_rows;
    rows.push_back("? " + first_answer);
    rows.push_back(second_prompt);
    rows.push_back("? " + second_answer);
    return rows;
}

// A row of the screen with `width` columns from `column` (1-based) covered by box cells (text
// of code page 437 frame glyphs in UTF-8); the row's own text shows on both sides of the box.
std::string boxed_row(const std::string& under, int column, int width, const std::string& cells) {
    std::string left = under.substr(0, std::min(under.size(), std::size_t(column - 1)));
    left.resize(static_cast<std::size_t>(column - 1), ' ');
    std::size_t right_start = static_cast<std::size_t>(column - 1 + width);
    std::string right = under.size() > right_start ? under.substr(right_start) : "";
    return left + cells + right;
}

// Rows 9 to 16 of the screen covered by a box whose eight rows are given.
Rows with_box(Rows screen, int column, int width, const Rows& box) {
    for (std::size_t i = 0; i < box.size(); ++i)
        screen[8 + i] = boxed_row(screen[8 + i], column, width, box[i]);
    return screen;
}

// The box of the STL open at step 102 when the folder of its name is missing, Yes in focus; it
// stands at column 27, 27 columns wide.
Rows path_not_found_box() {
    // clang-format off
    return {
        "╔══ Unhandled Error #76 ══╗",
        "║" + std::string(25, ' ') + "║",
        "║  Line:102               ║",
        "║  Path not found         ║",
        "║  Continue?              ║",
        "║" + std::string(25, ' ') + "║",
        "║    [ Yes ]      No      ║",
        "╚" + repeated_text("═", 25) + "╝",
    };
    // clang-format on
}

// The box of the STL head written at step 115 after that open failed; at column 26, 29 wide.
Rows closed_stl_box() {
    // clang-format off
    return {
        "╔═══ Unhandled Error #52 ═══╗",
        "║" + std::string(27, ' ') + "║",
        "║  Line:115                 ║",
        "║  Bad file name or number  ║",
        "║  Continue?                ║",
        "║" + std::string(27, ' ') + "║",
        "║     [ Yes ]      No       ║",
        "╚" + repeated_text("═", 27) + "╝",
    };
    // clang-format on
}

// The box of the overflowing vertex count at step 159, Yes in focus; it stands at column 28,
// 26 columns wide.
Rows overflow_box() {
    // clang-format off
    return {
        "╔══ Unhandled Error #6 ══╗",
        "║" + std::string(24, ' ') + "║",
        "║  Line:159              ║",
        "║  Overflow              ║",
        "║  Continue?             ║",
        "║" + std::string(24, ' ') + "║",
        "║   [ Yes ]      No      ║",
        "╚" + repeated_text("═", 24) + "╝",
    };
    // clang-format on
}

// The dialogue answered with in.ply and out, and the row of the names that follows it.
Rows rows_of_the_run() {
    Rows rows = dialogue_rows("in.ply", "out");
    rows.push_back("");
    rows.push_back(" in.ply > out.wrl & out.iv & out.stl");
    return rows;
}

void answer_in_ply_and_out(const TmuxPane& pane) {
    pane.type("in.ply");
    pane.press("Enter");
    pane.type("out");
    pane.press("Enter");
}

// What every way out of the program leaves in the pane: exit code 0, the settings as before
// it started, the user's own screen back (the shell in the pane printed nothing) and a cursor.
void expect_terminal_restored(const TmuxPane& pane) {
    ASSERT_TRUE(pane.wait_for_program_end()) << pane.last_screen();
    EXPECT_EQ(pane.exit_code(), "0");
    EXPECT_FALSE(pane.settings_before().empty());
    EXPECT_EQ(pane.settings_after(), pane.settings_before());
    EXPECT_EQ(pane.pane_value("#{alternate_on}"), "0");
    EXPECT_EQ(pane.pane_value("#{cursor_flag}"), "1");
    EXPECT_EQ(pane.screen(), screen_of({}));
}

// Waits for the first prompt of a fresh run in an 80 x 25 pane.
void wait_for_first_prompt(const TmuxPane& pane) {
    ASSERT_EQ(pane.pane_value("#{pane_width}x#{pane_height}"), "80x25");
    ASSERT_TRUE(pane.wait_for_row(10, "?")) << pane.last_screen();
}

} // namespace

TEST(TerminalMode, DialogueEditsTheAnswersAndConvertsOnScreen) {
    ProgramFolder folder;
    const std::string input = example_face_file();
    folder.write_file("in,1.ply", input);
    TmuxPane pane(folder);

    ASSERT_NO_FATAL_FAILURE(wait_for_first_prompt(pane));
    Rows banner = banner_rows;
    banner.push_back("?");
    EXPECT_EQ(pane.screen(), screen_of(banner));
    EXPECT_EQ(pane.pane_value("#{alternate_on}"), "1");
    EXPECT_EQ(pane.cursor().row, 10);
    EXPECT_EQ(pane.cursor().column, 3); // after "? "

    // A quoted answer may hold a comma; Backspace takes back the last character.
    pane.type("\"in,1.plx");
    ASSERT_TRUE(pane.wait_for_row(10, "? \"in,1.plx")) << pane.last_screen();
    pane.press("BSpace");
    ASSERT_TRUE(pane.wait_for_row(10, "? \"in,1.pl")) << pane.last_screen();
    pane.type("y\"");
    ASSERT_TRUE(pane.wait_for_row(10, "? \"in,1.ply\"")) << pane.last_screen();
    // Nothing may follow the closing quote: the z is refused, so Backspace takes the quote.
    pane.type("z");
    pane.press("BSpace");
    ASSERT_TRUE(pane.wait_for_row(10, "? \"in,1.ply")) << pane.last_screen();
    pane.type("\"");
    ASSERT_TRUE(pane.wait_for_row(10, "? \"in,1.ply\"")) << pane.last_screen();
    pane.press("Enter");

    ASSERT_TRUE(pane.wait_for_row(12, "?")) << pane.last_screen();
    EXPECT_EQ(pane.screen()[10], second_prompt);
    // Outside quotes the comma is refused: it never reaches the row or the answer.
    pane.type("ou");
    ASSERT_TRUE(pane.wait_for_row(12, "? ou")) << pane.last_screen();
    pane.type(",");
    pane.type("t");
    ASSERT_TRUE(pane.wait_for_row(12, "? out")) << pane.last_screen();
    EXPECT_EQ(pane.cursor().column, 6);
    pane.press("Enter");

    ASSERT_TRUE(pane.wait_for_row(25, prompt_row)) << pane.last_screen();
    Rows rows = dialogue_rows("\"in,1.ply\"", "out");
    rows.push_back("");
    rows.push_back(" in,1.ply > out.wrl & out.iv & out.stl");
    rows.push_back(" NO tristrips found!");
    rows.resize(24);
    rows.push_back(prompt_row); // alone on row 25
    EXPECT_EQ(pane.screen(), rows);
    EXPECT_EQ(pane.cursor().row, 25);
    EXPECT_EQ(pane.cursor().column, 26);
    EXPECT_EQ(folder.files_beside_the_program(), example_converted("in,1.ply", input));

    pane.type("q");
    expect_terminal_restored(pane);
}

TEST(TerminalMode, FailureBoxTakesTabAndEnterAndNoEndsTheRun) {
    ProgramFolder folder;
    const std::string input = example_face_file();
    folder.write_file("in.ply", input);
    TmuxPane pane(folder);
    ASSERT_NO_FATAL_FAILURE(wait_for_first_prompt(pane));

    pane.type("in.ply");
    pane.press("Enter");
    pane.type("nowhere/out");
    pane.press("Enter");

    // The STL open fails before the names row: the box stands over the dialogue, centred,
    // with Yes in focus.
    Rows dialogue = screen_of(dialogue_rows("in.ply", "nowhere/out"));
    const Rows first_box = with_box(dialogue, 27, 27, path_not_found_box());
    ASSERT_TRUE(pane.wait_for_row(16, first_box[15])) << pane.last_screen();
    EXPECT_EQ(pane.screen(), first_box);
    EXPECT_EQ(pane.cursor().row, 15);
    EXPECT_EQ(pane.cursor().column, 34); // on Yes

    pane.press("Tab");
    Rows no_in_focus = first_box;
    no_in_focus[14] = boxed_row(dialogue[14], 27, 27, "║      Yes      [ No ]    ║");
    ASSERT_TRUE(pane.wait_for_row(15, no_in_focus[14])) << pane.last_screen();
    EXPECT_EQ(pane.screen(), no_in_focus);
    EXPECT_EQ(pane.cursor().column, 45); // on No
    pane.press("Tab");
    ASSERT_TRUE(pane.wait_for_row(15, first_box[14])) << pane.last_screen();

    // Enter takes Yes: the run goes on, prints the names row, and the STL head fails next.
    pane.press("Enter");
    Rows names = dialogue;
    names[13] = " in.ply > nowhere/out.wrl & nowhere/out.iv & nowhere/out.stl";
    const Rows second_box = with_box(names, 26, 29, closed_stl_box());
    ASSERT_TRUE(pane.wait_for_row(12, second_box[11])) << pane.last_screen();
    EXPECT_EQ(pane.screen(), second_box);
    EXPECT_EQ(pane.cursor().row, 15);
    EXPECT_EQ(pane.cursor().column, 34);

    // No ends at once: no key prompt, every file closed as it stands, nothing deleted.
    pane.type("n");
    expect_terminal_restored(pane);
    EXPECT_EQ(folder.files_beside_the_program(),
              (FileBytes{{"in.ply", input}, {"TEMP1.TMP", ""}, {"TEMP2.TMP", ""}}));
}

TEST(TerminalMode, KeysTypedBeforeTheBoxShowsDoNotAnswerIt) {
    ProgramFolder folder;
    const std::string input = example_face_file();
    folder.write_file("in.ply", input);
    TmuxPane pane(folder);
    ASSERT_NO_FATAL_FAILURE(wait_for_first_prompt(pane));
    pane.type("in.ply");
    pane.press("Enter");
    ASSERT_TRUE(pane.wait_for_row(12, "?")) << pane.last_screen();

    // The answer and two Enters in one go: the second Enter is typed before the box is drawn,
    // so it must not answer the box with the Yes it never showed.
    pane.type("nodir/x\r\r");
    const Rows dialogue = screen_of(dialogue_rows("in.ply", "nodir/x"));
    const Rows first_box = with_box(dialogue, 27, 27, path_not_found_box());
    ASSERT_TRUE(pane.wait_for_row(16, first_box[15])) << pane.last_screen();
    EXPECT_EQ(pane.screen(), first_box);

    // An Enter typed while the box shows takes Yes: the names row, then the box of the head.
    pane.press("Enter");
    Rows names = dialogue;
    names[13] = " in.ply > nodir/x.wrl & nodir/x.iv & nodir/x.stl";
    const Rows second_box = with_box(names, 26, 29, closed_stl_box());
    ASSERT_TRUE(pane.wait_for_row(12, second_box[11])) << pane.last_screen();
    EXPECT_EQ(pane.screen(), second_box);

    pane.type("n");
    expect_terminal_restored(pane);
    EXPECT_EQ(folder.files_beside_the_program(),
              (FileBytes{{"in.ply", input}, {"TEMP1.TMP", ""}, {"TEMP2.TMP", ""}}));
}

TEST(TerminalMode, YesPutsTheScreenBackAndTheRunGoesOn) {
    ProgramFolder folder;
    const std::string input = overflowing_example_file();
    folder.write_file("in.ply", input);
    TmuxPane pane(folder);
    ASSERT_NO_FATAL_FAILURE(wait_for_first_prompt(pane));

    answer_in_ply_and_out(pane);

    const Rows names = rows_of_the_run();
    const Rows boxed = with_box(screen_of(names), 28, 26, overflow_box());
    ASSERT_TRUE(pane.wait_for_row(16, boxed[15])) << pane.last_screen();
    EXPECT_EQ(pane.screen(), boxed);

    pane.type("Y");
    ASSERT_TRUE(pane.wait_for_row(25, prompt_row)) << pane.last_screen();
    // Every row the box covered shows its own text again; the scan's message follows.
    Rows rows = names;
    rows.push_back(" NO tristrips found!");
    rows.resize(24);
    rows.push_back(prompt_row);
    EXPECT_EQ(pane.screen(), rows);
    EXPECT_EQ(folder.files_beside_the_program(), example_converted("in.ply", input));

    pane.press("Enter");
    expect_terminal_restored(pane);
}

TEST(TerminalMode, CtrlCEndsTheRunAndRestoresTheTerminal) {
    const std::string input = example_face_file();
    struct Case {
        const char* name;
        std::function<void(const TmuxPane&)> reach; // from the first prompt to the moment
        FileBytes files;
    };
    const Case cases[] = {
        {"at the first prompt", [](const TmuxPane&) {}, {{"in.ply", input}}},
        {"in a failure box",
         [](const TmuxPane& pane) {
             pane.type("in.ply");
             pane.press("Enter");
             pane.type("nowhere/out");
             pane.press("Enter");
             ASSERT_TRUE(pane.wait_for_text("Unhandled Error #76")) << pane.last_screen();
         },
         {{"in.ply", input}, {"TEMP1.TMP", ""}, {"TEMP2.TMP", ""}}},
        // The run is over by then: its files are complete.
        {"in the final wait",
         [](const TmuxPane& pane) {
             pane.type("in.ply");
             pane.press("Enter");
             pane.type("out");
             pane.press("Enter");
             ASSERT_TRUE(pane.wait_for_row(25, prompt_row)) << pane.last_screen();
         },
         example_converted("in.ply", input)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramFolder folder;
        folder.write_file("in.ply", input);
        TmuxPane pane(folder);
        ASSERT_NO_FATAL_FAILURE(wait_for_first_prompt(pane));
        ASSERT_NO_FATAL_FAILURE(c.reach(pane));

        pane.press("C-c");
        expect_terminal_restored(pane);
        EXPECT_EQ(folder.files_beside_the_program(), c.files);
    }
}

TEST(TerminalMode, BellsPastedAtAPromptDoNotHoldTheKeys) {
    // 1,000 bells pasted before the answer, four minutes of pauses once: with the next keys
    // already waiting a bell only rings, so the answer shows at once.
    ProgramFolder folder;
    const std::string input = example_face_file();
    folder.write_file("in.ply", input);
    TmuxPane pane(folder);
    ASSERT_NO_FATAL_FAILURE(wait_for_first_prompt(pane));

    pane.type(std::string(1000, '\a') + "in.ply");
    ASSERT_TRUE(pane.wait_for_row(10, "? in.ply")) << pane.last_screen();
    pane.press("Enter");
    pane.type("out");
    pane.press("Enter");

    ASSERT_TRUE(pane.wait_for_row(25, prompt_row)) << pane.last_screen();
    EXPECT_EQ(folder.files_beside_the_program(), example_converted("in.ply", input));
    pane.type("q");
    expect_terminal_restored(pane);
}

TEST(TerminalMode, APastedCrLfIsOneEnter) {
    // Both answers pasted with the line ends of a text from another system: the LF waiting
    // behind each CR belongs to the same Enter, so "out" answers the second prompt.
    ProgramFolder folder;
    const std::string input = example_face_file();
    folder.write_file("in.ply", input);
    TmuxPane pane(folder);
    ASSERT_NO_FATAL_FAILURE(wait_for_first_prompt(pane));

    pane.type("in.ply\r\nout\r\n");

    ASSERT_TRUE(pane.wait_for_row(25, prompt_row)) << pane.last_screen();
    Rows rows = dialogue_rows("in.ply", "out");
    rows.push_back("");
    rows.push_back(" in.ply > out.wrl & out.iv & out.stl");
    rows.push_back(" NO tristrips found!");
    rows.resize(24);
    rows.push_back(prompt_row);
    EXPECT_EQ(pane.screen(), rows);
    EXPECT_EQ(folder.files_beside_the_program(), example_converted("in.ply", input));
    pane.type("q");
    expect_terminal_restored(pane);
}

TEST(TerminalMode, ATerminalThatRefusesRawModeEndsTheProgramBeforeTheRun) {
    // The program starts in a process group of its own, in the background, whose parent has
    // gone (an orphaned group): the terminal refuses it every change of settings with EIO. (A
    // shell gives a command it starts with & no stdin of its own: /dev/tty is the pane.)
    // Before, the run went on in cooked mode, every key echoed and held until Enter.
    ProgramFolder folder;
    folder.write_file("in.ply", example_face_file());
    const std::string in_orphaned_group =
        "set -m; sh -c '(sleep 0.5; ../program/plyconv </dev/tty 2>errors; echo $? >code.new; "
        "mv code.new code) &' & wait; "
        "while [ ! -e code ]; do sleep 0.05; done; (exit $(cat code))";
    TmuxPane pane(folder, "", in_orphaned_group);

    ASSERT_TRUE(pane.wait_for_program_end()) << pane.last_screen();
    EXPECT_EQ(pane.exit_code(), "1");
    EXPECT_EQ(file_bytes(folder.pane_folder() + "/errors"),
              "plyconv cannot start: the terminal refuses the raw mode in which it reads each key "
              "as it is typed.\n");
    EXPECT_FALSE(pane.settings_before().empty());
    EXPECT_EQ(pane.settings_after(), pane.settings_before());
    EXPECT_EQ(pane.pane_value("#{alternate_on}"), "0");
    for (const std::string& row : pane.screen())
        EXPECT_EQ(row.find(banner_rows[0]), std::string::npos) << row;
    EXPECT_EQ(folder.files_beside_the_program(), (FileBytes{{"in.ply", example_face_file()}}));
}

// A terminal made smaller shifts or cuts what it shows, and one made larger again shows blanks
// where rows were lost: the program draws its whole frame again on every resize. A run goes on
// while the terminal is too small, and its frame is whole once the terminal is 80 x 25 again.
TEST(TerminalMode, ResizeDrawsTheWholeFrameAgain) {
    ProgramFolder folder;
    const std::string input = overflowing_example_file();
    folder.write_file("in.ply", input);
    TmuxPane pane(folder);
    ASSERT_NO_FATAL_FAILURE(wait_for_first_prompt(pane));
    answer_in_ply_and_out(pane);

    // In the box: 80 x 12 cuts it off; back at 80 x 25 it stands whole over the dialogue.
    const Rows names = rows_of_the_run();
    const Rows boxed = with_box(screen_of(names), 28, 26, overflow_box());
    ASSERT_TRUE(pane.wait_for_row(16, boxed[15])) << pane.last_screen();
    pane.resize(80, 12);
    ASSERT_EQ(pane.pane_value("#{pane_width}x#{pane_height}"), "80x12");
    pane.resize(80, 25);
    ASSERT_TRUE(pane.wait_for_row(1, boxed[0])) << pane.last_screen();
    ASSERT_TRUE(pane.wait_for_row(16, boxed[15])) << pane.last_screen();
    EXPECT_EQ(pane.screen(), boxed);
    EXPECT_EQ(pane.cursor().row, 15);
    EXPECT_EQ(pane.cursor().column, 34); // on Yes

    // A key while the terminal is too small still moves the focus; the frame drawn again once
    // it is large enough shows where the focus went.
    pane.resize(80, 12);
    pane.press("Tab");
    pane.resize(80, 25);
    Rows no_in_focus = boxed;
    no_in_focus[14] = boxed_row("", 28, 26, "║     Yes      [ No ]    ║");
    ASSERT_TRUE(pane.wait_for_row(15, no_in_focus[14])) << pane.last_screen();
    ASSERT_TRUE(pane.wait_for_row(1, no_in_focus[0])) << pane.last_screen();
    EXPECT_EQ(pane.screen(), no_in_focus);
    pane.press("Tab");
    ASSERT_TRUE(pane.wait_for_row(15, boxed[14])) << pane.last_screen();

    // Yes: the run goes on to the final prompt.
    pane.press("Enter");
    ASSERT_TRUE(pane.wait_for_row(25, prompt_row)) << pane.last_screen();
    Rows final_screen = names;
    final_screen.push_back(" NO tristrips found!");
    final_screen.resize(24);
    final_screen.push_back(prompt_row);
    ASSERT_EQ(pane.screen(), final_screen);

    // At the final prompt: 80 x 24 scrolls the first banner row away and 80 x 25 leaves row 25
    // blank, until the frame is drawn again.
    pane.resize(80, 24);
    ASSERT_EQ(pane.pane_value("#{pane_width}x#{pane_height}"), "80x24");
    pane.resize(80, 25);
    ASSERT_TRUE(pane.wait_for_row(25, prompt_row)) << pane.last_screen();
    ASSERT_TRUE(pane.wait_for_row(1, final_screen[0])) << pane.last_screen();
    EXPECT_EQ(pane.screen(), final_screen);
    EXPECT_EQ(pane.cursor().row, 25);
    EXPECT_EQ(pane.cursor().column, 26);
    EXPECT_EQ(folder.files_beside_the_program(), example_converted("in.ply", input));

    pane.type("q");
    expect_terminal_restored(pane);
}
