// The built program started with a standard descriptor closed, or with a transcript that cannot
// be written.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"
#include "tests/e2e/examples.h"
#include "tests/mesh_builder.h"
#include "tests/run_transcript.h"

TEST(ClosedDescriptor, ReadsAsNoKeysOrTakesEveryByte) {
    // Each closed descriptor stands for /dev/null. Before, the keyboard's own pipe took the
    // lowest closed number: with stdin or stdout closed the run waited on its own pipe for good,
    // which only the guard's timeout ended.
    const std::string input = example_face_file();
    const std::string converted_transcript =
        standard_dialogue() + " NO tristrips found!\nPress any key to continue\n";
    struct Case {
        const char* name;
        std::vector<int> closed;
        std::string output;
        bool converts; // else the keys end at the first prompt and no file is opened
    };
    const Case cases[] = {
        {"stdin: no keys at all", {STDIN_FILENO}, lines_of(banner_rows), false},
        {"stdout: the transcript goes nowhere", {STDOUT_FILENO}, "", true},
        {"stderr", {STDERR_FILENO}, converted_transcript, true},
        {"all three", {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}, "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramFolder folder;
        folder.write_file("in.ply", input);
        ProcessOptions options;
        options.feed = {{"", 0, "in.ply\nout\n\n"}};
        options.closed_descriptors = c.closed;

        ProcessResult run = run_in_pipe(folder, options);

        EXPECT_FALSE(run.timed_out);
        EXPECT_EQ(run.exit_code, 0);
        EXPECT_EQ(run.errors, "");
        EXPECT_EQ(run.output, c.output);
        expect_same_files(folder.files_beside_the_program(),
                          c.converts ? example_converted("in.ply", input)
                                     : FileBytes{{"in.ply", input}});
    }
}

TEST(UnwritableTranscript, SaysSoOnStderrAndEndsWithExitCode1) {
    // Before, the run ended as if nobody read it any more: silently, with exit code 0.
    const std::string input = example_face_file();
    const std::string transcript = standard_dialogue();
    struct Case {
        const char* name;
        bool to_dev_full; // else a file of its own under the file-size limit
        unsigned long long limit;
        const char* reason;
        FileBytes files;
    };
    const Case cases[] = {
        // The first row fails: nothing is opened.
        {"/dev/full", true, 0, "No space left on device", {{"in.ply", input}}},
        // The names row crosses the limit: the three outputs are open by then, and are closed
        // empty, as the run ends before the STL's head.
        {"a file under RLIMIT_FSIZE",
         false,
         transcript.size() - 10,
         "File too large",
         {{"in.ply", input}, {"TEMP1.TMP", ""}, {"TEMP2.TMP", ""}, {"out.stl", ""}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramFolder folder;
        folder.write_file("in.ply", input);
        const std::string transcript_path = folder.pane_folder() + "/transcript";
        ProcessOptions options;
        options.feed = {{"", 0, "in.ply\nout\n\n"}};
        options.output_path = c.to_dev_full ? "/dev/full" : transcript_path;
        if (!c.to_dev_full)
            options.limits = {{RLIMIT_FSIZE, c.limit}};

        ProcessResult run = run_in_pipe(folder, options);

        EXPECT_FALSE(run.timed_out);
        EXPECT_EQ(run.exit_code, 1);
        EXPECT_EQ(run.errors,
                  std::string("plyconv ended its run: it could not write its output (") + c.reason +
                      "). Its files hold what was written before.\n");
        if (!c.to_dev_full) {
            // Every byte up to the limit.
            EXPECT_EQ(file_bytes(transcript_path), transcript.substr(0, c.limit));
        }
        expect_same_files(folder.files_beside_the_program(), c.files);
    }
}

TEST(UnwritableTranscript, AReaderThatWentAwayEndsTheRunQuietly) {
    // `plyconv | head` once head has gone: nobody reads the run any more, which is the end
    // request and no failure of the program's. The reader is gone before the program starts, so
    // the banner's first row fails; the shell's stderr gets the program's exit code.
    ProgramFolder folder;
    const std::string input = example_face_file();
    folder.write_file("in.ply", input);

    ProcessResult run = run_process({"sh", "-c", "(sleep 0.5; \"$0\"; echo $? >&2) | true",
                                     folder.program_folder() + "/plyconv"},
                                    "in.ply\nout\n\n", folder.elsewhere_folder());

    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.errors, "0\n");
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(folder.files_beside_the_program(), (FileBytes{{"in.ply", input}}));
}
