// Tests of the console calls through whole sessions in pipe mode: rows, answers, the end of the
// run, the step check and the failure box, as the transcript and the screen show them.
#include "platform/console/console.h"

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/console/session.h"
#include "platform/file_layer/failure.h"
#include "platform/file_layer/file_access.h"
#include "tests/test_support.h"

namespace {

std::string repeat(char c, int count) {
    return std::string(static_cast<std::size_t>(count), c);
}

std::vector<std::string> first_rows(const ScriptedRun& result, int count) {
    return std::vector<std::string>(result.screen.begin(), result.screen.begin() + count);
}

std::string g_answer;
std::string g_second_answer;

void answer_twice() {
    input_answer(g_answer);
    check_step(87);
    input_answer(g_second_answer);
    check_step(89);
    end_run(684);
}

void print_rows_and_end() {
    print_row({"Software by ", "someone"});
    check_step(77);
    print_row({});
    check_step(82);
    print_row({" trailing blanks go   "});
    check_step(83);
    print_row({repeat('a', 59), repeat('b', 30)});
    check_step(84);
    print_row({repeat('c', 100)});
    check_step(85);
    print_row({"header\r"});
    check_step(86);
    end_run(684);
}

} // namespace

TEST(Console, PrintRowTranscriptAndScreen) {
    ScriptedRun result = run_scripted("\n", print_rows_and_end);
    EXPECT_EQ(result.end, RunEnd::KeyAfterPrompt);
    EXPECT_EQ(result.transcript, "Software by someone\n"
                                 "\n"
                                 " trailing blanks go\n" +
                                     repeat('a', 59) + "\n" + repeat('b', 30) + "\n" +
                                     repeat('c', 80) + "\n" + repeat('c', 20) + "\n" +
                                     "header\n"
                                     "\n"
                                     "Press any key to continue\n");
    EXPECT_EQ(first_rows(result, 9),
              (std::vector<std::string>{"Software by someone", "", " trailing blanks go",
                                        repeat('a', 59), repeat('b', 30), repeat('c', 80),
                                        repeat('c', 20), "header", ""}));
    EXPECT_EQ(result.screen[24], "Press any key to continue");
}

// Each case types its keys as the first answer and Enter; "z\n" answers the second prompt.
TEST(Console, LineEditorAndAnswerRule) {
    struct Case {
        const char* name;
        std::string keys;
        std::string value;
        std::string row; // the answer's row on the screen
    };
    const Case cases[] = {
        {"a comma is refused", "ab,c", "abc", "? abc"},
        {"a quoted answer keeps its comma", "\"a,b\"", "a,b", "? \"a,b\""},
        {"nothing may follow the closing quote", "\"a,b\"x ,", "a,b", "? \"a,b\""},
        {"a quoted answer without its closing quote", "\"a,b", "a,b", "? \"a,b"},
        {"two quotes give the empty text", "\"\"", "", "? \"\""},
        {"a quote after a blank is an ordinary character", " \"x", " \"x", "?  \"x"},
        {"a quote inside an answer is ordinary, a comma still refused", "a\"b,\"", "a\"b\"",
         "? a\"b\""},
        {"blanks are kept", "  in.ply  ", "  in.ply  ", "?   in.ply"},
        {"Backspace drops the last character", "abx\bc", "abc", "? abc"},
        {"Backspace on an empty answer does nothing", "\b\bq", "q", "? q"},
        {"a comma is refused again once the opening quote is gone", "\"a,\b\b\bx,", "x", "? x"},
        {"Tab after three characters adds five blanks", "abc\tx", "abc     x", "? abc     x"},
        {"Tab after eight characters adds eight blanks", "abcdefgh\tx", "abcdefgh        x",
         "? abcdefgh        x"},
        {"Tab after a closing quote is refused", "\"a\"\t", "a", "? \"a\""},
        {"bytes that would move the cursor are ignored",
         "a\x0b\x0c\x1c\x1d\x1e\x1f"
         "b",
         "ab", "? ab"},
        {"7 types nothing",
         "a\x07"
         "b",
         "ab", "? ab"},
        {"a cursor key byte sequence is typed as it stands in pipe mode", "\x1b[A", "\x1b[A",
         "? \x1b[A"},
        {"Enter alone gives the empty text", "", "", "?"},
        {"CR LF is one Enter", "ab\r", "ab", "? ab"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g_answer = "not set";
        g_second_answer = "not set";
        ScriptedRun result = run_scripted(c.keys + "\nz\n\n", answer_twice);
        EXPECT_EQ(result.end, RunEnd::KeyAfterPrompt);
        EXPECT_EQ(g_answer, c.value);
        EXPECT_EQ(g_second_answer, "z");
        EXPECT_EQ(result.screen[0], c.row);
        EXPECT_EQ(result.screen[1], "? z");
        EXPECT_EQ(result.transcript, c.row + "\n? z\nPress any key to continue\n");
    }
}

TEST(Console, LongAnswersRunOnAndStopAt255Characters) {
    struct Case {
        const char* name;
        std::string keys;
        std::string value;
        std::vector<std::string> rows; // rows 1 to 5
    };
    // 78 = 80 columns less "? ". 255 = 78 + 80 + 80 + 17.
    const std::string full = repeat('a', 254) + "c";
    const Case cases[] = {
        {"100 characters run on into the next row",
         repeat('a', 100),
         repeat('a', 100),
         {"? " + repeat('a', 78), repeat('a', 22), "? z", "", ""}},
        {"the 256th character is ignored",
         full + "b",
         full,
         {"? " + repeat('a', 78), repeat('a', 80), repeat('a', 80), repeat('a', 16) + "c", "? z"}},
        {"Backspace after the 256th removes the 255th",
         full + "b\b",
         repeat('a', 254),
         {"? " + repeat('a', 78), repeat('a', 80), repeat('a', 80), repeat('a', 16), "? z"}},
        {"Backspace at the start of a row goes back to the row above",
         repeat('a', 79) + "\b",
         repeat('a', 78),
         {"? " + repeat('a', 78), "? z", "", "", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedRun result = run_scripted(c.keys + "\nz\n\n", answer_twice);
        EXPECT_EQ(g_answer, c.value);
        EXPECT_EQ(first_rows(result, 5), c.rows);
    }
}

TEST(Console, LongAnswerTranscript) {
    ScriptedRun result = run_scripted(repeat('a', 100) + "\nz\n\n", answer_twice);
    // The wrap into the second row writes the first, the Enter writes the second.
    EXPECT_EQ(result.transcript, "? " + repeat('a', 78) + "\n" + repeat('a', 22) +
                                     "\n? z\nPress any key to continue\n");
}

namespace {

void print_three_rows_and_end() {
    print_row({"one"});
    check_step(5);
    print_row({"two"});
    check_step(6);
    print_row({"three"});
    check_step(7);
    end_run(684);
}

void print_thirty_rows_and_end() {
    for (int i = 1; i <= 30; ++i) {
        print_row({"row ", std::to_string(i)});
        check_step(5);
    }
    end_run(684);
}

} // namespace

TEST(Console, EndRunShowsThePromptAloneOnRow25) {
    ScriptedRun result = run_scripted("x", print_three_rows_and_end);
    EXPECT_EQ(result.end, RunEnd::KeyAfterPrompt);
    EXPECT_EQ(first_rows(result, 3), (std::vector<std::string>{"one", "two", "three"}));
    for (int row = 4; row <= 24; ++row)
        EXPECT_EQ(result.screen[static_cast<std::size_t>(row - 1)], "") << "row " << row;
    EXPECT_EQ(result.screen[24], "Press any key to continue");
    // The row end that blanks row 25 writes nothing.
    EXPECT_EQ(result.transcript, "one\ntwo\nthree\nPress any key to continue\n");

    result = run_scripted("x", print_thirty_rows_and_end);
    EXPECT_EQ(result.screen[0], "row 7");
    EXPECT_EQ(result.screen[23], "row 30");
    EXPECT_EQ(result.screen[24], "Press any key to continue");
}

TEST(Console, EndRunWaitEnds) {
    struct Case {
        const char* name;
        std::string keys;
        RunEnd end;
    };
    const Case cases[] = {
        {"any key", "q", RunEnd::KeyAfterPrompt},
        {"Enter", "\n", RunEnd::KeyAfterPrompt},
        {"keys typed before the prompt count in pipe mode", "abc", RunEnd::KeyAfterPrompt},
        {"the end of the keys is the end request", "", RunEnd::EndRequest},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedRun result = run_scripted(c.keys, print_three_rows_and_end);
        EXPECT_EQ(result.end, c.end);
        EXPECT_EQ(result.transcript, "one\ntwo\nthree\nPress any key to continue\n");
    }
}

namespace {

void fail_twice_in_one_step() {
    print_row({"before"});
    check_step(98);
    raise_failure(Failure::PathNotFound);
    raise_failure(Failure::FileNotFound);
    check_step(99);
    print_row({"after"});
    check_step(100);
    end_run(684);
}

} // namespace

TEST(Console, FailureBoxInPipeMode) {
    const std::string box = "Unhandled Error #76\nLine:99\nPath not found\nContinue?\n";
    struct Case {
        const char* name;
        std::string keys;
        RunEnd end;
        std::string transcript;
    };
    const Case cases[] = {
        {"y goes on", "y\n", RunEnd::KeyAfterPrompt,
         "before\n" + box + "after\nPress any key to continue\n"},
        {"Y goes on", "Y\n", RunEnd::KeyAfterPrompt,
         "before\n" + box + "after\nPress any key to continue\n"},
        {"other keys are ignored", "\nx\t q y\n", RunEnd::KeyAfterPrompt,
         "before\n" + box + "after\nPress any key to continue\n"},
        {"n ends at once", "n\n", RunEnd::AnswerNo, "before\n" + box},
        {"N ends at once", "xN", RunEnd::AnswerNo, "before\n" + box},
        {"the end of the keys is No", "", RunEnd::AnswerNo, "before\n" + box},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedRun result = run_scripted(c.keys, fail_twice_in_one_step);
        EXPECT_EQ(result.end, c.end);
        EXPECT_EQ(result.transcript, c.transcript);
    }
}

namespace {

void fail_with_unknown_code() {
    raise_failure(static_cast<Failure>(99));
    check_step(684);
    end_run(684);
}

void fail_and_keep_going() {
    raise_failure(Failure::BadFileNameOrNumber);
    print_row({"not printed"});
    input_answer(g_answer);
    check_step(115);
    input_answer(g_answer);
    check_step(116);
    end_run(684);
}

} // namespace

TEST(Console, FailureBoxMessages) {
    ScriptedRun result = run_scripted("y\n", fail_with_unknown_code);
    EXPECT_EQ(result.transcript, "Unhandled Error #99\nLine:684\nUnprintable error\nContinue?\n"
                                 "Press any key to continue\n");
}

TEST(Console, PendingFailureSilencesTheRestOfTheStep) {
    g_answer = "untouched";
    // The keys after y are the answer of step 116: step 115's answer took none of them.
    ScriptedRun result = run_scripted("yabc\n\n", fail_and_keep_going);
    EXPECT_EQ(result.end, RunEnd::KeyAfterPrompt);
    EXPECT_EQ(g_answer, "abc");
    EXPECT_EQ(result.transcript, "Unhandled Error #52\nLine:115\nBad file name or number\n"
                                 "Continue?\n? abc\nPress any key to continue\n");
    EXPECT_EQ(result.screen[0], "? abc");
}

namespace {

void request_end_with_failure_pending() {
    print_row({"first"});
    raise_end_request();
    raise_failure(Failure::PathNotFound);
    check_step(99);
    print_row({"never"});
    end_run(684);
}

void answer_once() {
    print_row({"prompt"});
    check_step(86);
    input_answer(g_answer);
    check_step(87);
    end_run(684);
}

} // namespace

TEST(Console, EndRequest) {
    struct Case {
        const char* name;
        std::string keys;
        void (*run)();
        std::string transcript;
    };
    const Case cases[] = {
        {"at a step check, before the pending failure", "y\n", request_end_with_failure_pending,
         "first\n"},
        {"the end of the keys during an answer", "ab", answer_once, "prompt\n"},
        {"the end of the keys right at the answer", "", answer_once, "prompt\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedRun result = run_scripted(c.keys, c.run);
        EXPECT_EQ(result.end, RunEnd::EndRequest);
        EXPECT_EQ(result.transcript, c.transcript);
    }
}

TEST(Console, EachSessionStartsAfresh) {
    ScriptedRun first = run_scripted("", request_end_with_failure_pending);
    EXPECT_EQ(first.end, RunEnd::EndRequest);
    // Neither the end request nor the pending failure nor the screen of the first session
    // reaches the second.
    ScriptedRun second = run_scripted("ok\nz", answer_once);
    EXPECT_EQ(second.end, RunEnd::KeyAfterPrompt);
    EXPECT_EQ(g_answer, "ok");
    EXPECT_EQ(second.transcript, "prompt\n? ok\nPress any key to continue\n");
    EXPECT_EQ(second.screen[0], "prompt");
}

namespace {

bool g_destructor_ran = false;

struct NotesItsEnd {
    ~NotesItsEnd() { g_destructor_ran = true; }
};

FileSlot g_written_file;

void write_then_fail() {
    NotesItsEnd guard;
    open_text_writer(g_written_file, "kept.txt");
    check_step(100);
    write_text_items(g_written_file, {"line one"}, EndLine::Yes);
    check_step(101);
    raise_failure(Failure::PermissionDenied);
    check_step(102);
    write_text_items(g_written_file, {"line two"}, EndLine::Yes);
    check_step(103);
    end_run(684);
}

} // namespace

// Every end leaves through stop_run: the run's stack is unwound and every file is closed with
// what was written to it.
TEST(Console, EveryEndClosesFilesAndUnwindsTheRun) {
    struct Case {
        const char* name;
        std::string keys;
        RunEnd end;
        std::string file;
    };
    const Case cases[] = {
        {"No", "n", RunEnd::AnswerNo, "line one\r\n"},
        {"the end of the keys in the box", "", RunEnd::AnswerNo, "line one\r\n"},
        {"the key after the prompt", "yx", RunEnd::KeyAfterPrompt, "line one\r\nline two\r\n"},
        {"the end of the keys after the prompt", "y", RunEnd::EndRequest,
         "line one\r\nline two\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempWorkingFolder folder;
        g_destructor_ran = false;
        ScriptedRun result = run_scripted(c.keys, write_then_fail);
        EXPECT_EQ(result.end, c.end);
        EXPECT_TRUE(g_destructor_ran);
        EXPECT_FALSE(g_written_file.is_open);
        EXPECT_EQ(folder.read_file("kept.txt"), c.file);
    }
}

namespace {

int g_signal_to_raise = 0;

void signal_then_step() {
    print_row({"first"});
    check_step(5);
    ::raise(g_signal_to_raise);
    check_step(6);
    print_row({"never"});
    end_run(684);
}

} // namespace

TEST(Console, SignalsRaiseTheEndRequest) {
    for (int signal_number : {SIGHUP, SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal_number);
        g_signal_to_raise = signal_number;
        ScriptedRun result = run_scripted("x", signal_then_step);
        EXPECT_EQ(result.end, RunEnd::EndRequest);
        EXPECT_EQ(result.transcript, "first\n");
        // Outside a session the signal does what it did before.
        struct sigaction action;
        ::sigaction(signal_number, nullptr, &action);
        EXPECT_EQ(action.sa_handler, SIG_DFL);
    }
}

namespace {

void print_into_closed_output() {
    print_row({"nobody reads this"});
    check_step(5);
    print_row({"never"});
    check_step(6);
    end_run(684);
}

} // namespace

TEST(Console, OutputGoneIsTheEndRequest) {
    // Without the session's own care a write to a closed pipe would kill the test program.
    ::signal(SIGPIPE, SIG_DFL);
    int key_pipe[2];
    int output_pipe[2];
    ASSERT_EQ(::pipe(key_pipe), 0);
    ASSERT_EQ(::pipe(output_pipe), 0);
    ::close(output_pipe[0]);
    SessionOptions options;
    options.mode = FrontEndMode::Pipe;
    options.key_fd = key_pipe[0];
    options.output_fd = output_pipe[1];
    EXPECT_EQ(run_session(options, print_into_closed_output), RunEnd::EndRequest);
    EXPECT_EQ(screen_row(1), "nobody reads this");
    EXPECT_EQ(screen_row(2), "");
    for (int fd : {key_pipe[0], key_pipe[1], output_pipe[1]})
        ::close(fd);
}

TEST(Console, ProgramFolderBecomesTheWorkingFolder) {
    TempWorkingFolder folder; // puts the working folder back afterwards
    enter_program_folder();
    char program[4096] = {};
    ASSERT_GT(::readlink("/proc/self/exe", program, sizeof program - 1), 0);
    std::string expected(program);
    expected.resize(expected.rfind('/'));
    char working[4096] = {};
    ASSERT_NE(::getcwd(working, sizeof working), nullptr);
    EXPECT_EQ(std::string(working), expected);
}
