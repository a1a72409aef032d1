// The built program and the bell (byte 7) in pipe mode: in the type line of a header, typed
// among other keys, and an end request during its pause. A bell pauses for 250 ms; before
// that was once a bell, so these runs took minutes and now end at once. A run that hangs is
// killed after a minute, which fails them.
#include <gtest/gtest.h>

#include <signal.h>

#include <string>

#include "tests/e2e/e2e_support.h"
#include "tests/e2e/examples.h"
#include "tests/mesh_builder.h"
#include "tests/run_transcript.h"

namespace {

// The example face file with its format line replaced by type_line.
std::string file_with_type_line(const std::string& type_line) {
    const std::string format = "format binary_little_endian 1.0\n";
    std::string bytes = example_face_file();
    bytes.replace(bytes.find(format), format.size(), type_line + "\n");
    return bytes;
}

// "format ascii 1.0" with bell_count bells before each of its words and after the last: the
// format is refused, so the scan prints the line.
std::string ringing_type_line(std::size_t bell_count) {
    const std::string bells(bell_count, '\a');
    return "format " + bells + "ascii" + bells + " 1.0" + bells;
}

const std::string refused_type = "This program only reads little endian binary 'ply' files\n"
                                 "This file is of type:\n";
// The rows after the type line up to the end of the run.
const std::string after_type_line = " VERTEX not found!\n FACE not found!\n NO tristrips found!\n"
                                    "CAN NOT PROCESS FILE\nPress any key to continue\n";

} // namespace

TEST(Bells, AHeaderLineOfBellsPausesOnceAndShowsWhatItDid) {
    // 3,000 bells: 12 and a half minutes once. The rows and the files are those of the same
    // line without its bells, which draw nothing.
    ProgramFolder quiet;
    quiet.write_file("in.ply", file_with_type_line("format ascii 1.0"));
    const ProcessResult quiet_run = run_in_pipe(quiet, "in.ply\nout\n\n");

    ProgramFolder folder;
    const std::string input = file_with_type_line(ringing_type_line(1000));
    folder.write_file("in.ply", input);

    const ProcessResult run = run_in_pipe(folder, "in.ply\nout\n\n");

    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(run.output,
              standard_dialogue() + refused_type + "format ascii 1.0\n" + after_type_line);
    EXPECT_EQ(run.output, quiet_run.output);
    FileBytes expected = quiet.files_beside_the_program();
    expected["in.ply"] = input;
    expect_same_files(folder.files_beside_the_program(), expected);
}

TEST(Bells, SigintDuringTheBellsEndsTheRunAtOnce) {
    // SIGINT is sent once the row before the type line is out. The run ends at the check
    // before the type line, or at the one after it (the row is printed whole, and the signal
    // ends its bells' pause), or, when the signal comes after the pause, at a later check; it
    // never waits behind the bells.
    ProgramFolder folder;
    const std::string input = file_with_type_line(ringing_type_line(1000));
    folder.write_file("in.ply", input);
    ProcessOptions options;
    options.feed = {{"", 0, "in.ply\nout\n"}, {"This file is of type:\n", SIGINT, ""}};
    options.endless_keys = "\a"; // the keys never end, so only the signal ends the run

    const ProcessResult run = run_in_pipe(folder, options);

    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.errors, "");
    const std::string before_type_line = standard_dialogue() + refused_type;
    const std::string whole_run = before_type_line + "format ascii 1.0\n" + after_type_line;
    ASSERT_GE(run.output.size(), before_type_line.size());
    EXPECT_EQ(run.output, whole_run.substr(0, run.output.size()));
    EXPECT_EQ(folder.read_file("in.ply"), input);
}

TEST(Bells, BellsPastedAmongTheKeysDoNotHoldThem) {
    // A bell with further keys already waiting only rings: 7,000 of them among the answers, a
    // half hour of pauses once, give the run of the answers alone.
    const std::string bells(1000, '\a');
    std::string keys;
    for (char key : std::string("in.ply\nout\n"))
        keys += bells + key;
    keys += "\n";
    ProgramFolder folder;
    const std::string input = example_face_file();
    folder.write_file("in.ply", input);

    const ProcessResult run = run_in_pipe(folder, keys);

    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(run.output,
              standard_dialogue() + " NO tristrips found!\nPress any key to continue\n");
    EXPECT_EQ(folder.files_beside_the_program(), example_converted("in.ply", input));
}
