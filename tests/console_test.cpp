// Tests of the console calls through whole sessions in pipe mode: rows, answers, the end of the
// run, the step check and the failure box, as the transcript and the screen show them.
#include "platform/console/console.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/console/session.h"
#include "platform/file_layer/failure.h"
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
