// A temporary text with a line far longer than any the run writes, read back by the built
// program: the line reaches the final file whole and cleaned, in the memory of a normal run.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <string>

#include "tests/e2e/e2e_support.h"
#include "tests/e2e/examples.h"
#include "tests/run_transcript.h"

namespace {

// Every "Unhandled Error #N" caption of a transcript, one a line.
std::string captions_in(const std::string& transcript) {
    std::string captions;
    for (std::size_t at = transcript.find("Unhandled Error #"); at != std::string::npos;
         at = transcript.find("Unhandled Error #", at + 1))
        captions += transcript.substr(at, transcript.find('\n', at) - at + 1);
    return captions;
}

} // namespace

TEST(LongLine, ReachesTheFinalFileWholeInTheMemoryOfANormalRun) {
    // TEMP1.TMP is read-only for the user, so step 100 is refused and the clean-up pass reads
    // back the file that is there: one line of 24 MB, blanks and commas throughout. It is
    // written a unit at a time: a child's peak memory counts this process's at the fork.
    const std::size_t unit_count = 4'000'000;
    const std::string example = example_face_file();

    ProgramFolder normal;
    normal.write_file("in.ply", example);
    ProcessOptions options;
    options.unprivileged = true;
    // Yes to every box (some forty of them), then the final key.
    options.feed = {{"", 0, "in.ply\nout\n" + repeated_text("y\n", 200)}};
    const ProcessResult normal_run = run_in_pipe(normal, options);
    ASSERT_EQ(normal_run.exit_code, 0);

    ProgramFolder folder;
    folder.write_file("in.ply", example);
    {
        std::ofstream temporary(folder.program_folder() + "/TEMP1.TMP", std::ios::binary);
        temporary << "  ";
        for (std::size_t i = 0; i < unit_count; ++i)
            temporary << "a  b ,";
        temporary << "   \r\n";
    }
    ::chmod((folder.program_folder() + "/TEMP1.TMP").c_str(), 0444);

    const ProcessResult run = run_in_pipe(folder, options);

    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.errors, "");
    const std::string start = answers("in.ply", "out") +
                              "Unhandled Error #70\nLine:100\nPermission denied\nContinue?\n"
                              " in.ply > out.wrl & out.iv & out.stl\n"
                              " NO tristrips found!\n"
                              "Unhandled Error #52\nLine:192\n";
    EXPECT_EQ(run.output.substr(0, start.size()), start);
    // After the refused open, only the writes to the closed slot fail.
    const std::string captions = captions_in(run.output);
    EXPECT_EQ(captions.substr(0, 20), "Unhandled Error #70\n");
    EXPECT_EQ(captions.find("Unhandled Error #", 20), captions.find("Unhandled Error #52\n", 20));
    EXPECT_EQ(captions.find_first_not_of("Unhandled Error #52\n", 20), std::string::npos);
    EXPECT_EQ(run.output.substr(run.output.size() - 26), "Press any key to continue\n");

    FileBytes expected = example_converted("in.ply", example);
    expected["out.wrl"] = repeated_text("a b,", unit_count) + "\r\n";
    expect_same_files(folder.files_beside_the_program(), expected);
    // The line is held a segment at a time: a few hundred KiB, not the 24 MB of the line.
    if (built_with_sanitizers)
        return;
    EXPECT_LT(run.peak_memory_kib, normal_run.peak_memory_kib + 8 * 1024);
}
