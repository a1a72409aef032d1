// The built program started with a standard descriptor closed, or with a transcript that cannot
// be written.
#include <gtest/gtest.h>

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
