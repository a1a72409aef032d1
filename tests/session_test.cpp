// Tests of the session through whole sessions in pipe mode: the end request, the ends of the
// run and what each leaves, signals, lost output, and the working folder.
#include "platform/console/session.h"

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/console/console.h"
#include "platform/console/end_request.h"
#include "platform/file_layer/failure.h"
#include "platform/file_layer/file_access.h"
#include "tests/test_support.h"

namespace {

std::string g_answer;

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

TEST(Session, EndRequest) {
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

TEST(Session, EachSessionStartsAfresh) {
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
TEST(Session, EveryEndClosesFilesAndUnwindsTheRun) {
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

TEST(Session, SignalsRaiseTheEndRequest) {
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

TEST(Session, OutputGoneIsTheEndRequest) {
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

TEST(Session, ProgramFolderBecomesTheWorkingFolder) {
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
