// The built program as a whole process in pipe mode: keys on stdin, the transcript on stdout,
// the exit code and every byte of every file in the program's folder.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"
#include "tests/e2e/examples.h"
#include "tests/mesh_builder.h"
#include "tests/run_transcript.h"

namespace {

// What every run shows however it ends: exit code 0, nothing on stderr, the working folder it
// was started in untouched (names resolve in the program's folder).
void expect_clean_exit(const ProgramFolder& folder, const ProcessResult& run) {
    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(names_in_folder(folder.elsewhere_folder()), std::set<std::string>{});
}

} // namespace

TEST(PipeMode, ConvertsTheExampleFaceFile) {
    // A key script written on another system ends its lines with CR LF: the same run.
    struct Case {
        const char* name;
        std::string keys;
    };
    const Case cases[] = {
        {"LF", "in.ply\nout\n\n"},
        {"CR LF", "in.ply\r\nout\r\n\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramFolder folder;
        const std::string input = example_face_file();
        folder.write_file("in.ply", input);

        ProcessResult run = run_in_pipe(folder, c.keys);

        expect_clean_exit(folder, run);
        EXPECT_EQ(run.output, standard_dialogue() + " NO tristrips found!\n"
                                                    "Press any key to continue\n");
        EXPECT_EQ(folder.files_beside_the_program(), example_converted("in.ply", input));
        EXPECT_EQ(crlf_lines(folder.read_file("out.wrl")).size(), 32u);
        EXPECT_EQ(crlf_lines(folder.read_file("out.iv")).size(), 32u);
    }
}

TEST(PipeMode, ConvertsAStripFile) {
    // One strip 0 1 2 3: the triangles (0, 1, 2) and then (1, 3, 2).
    ProgramFolder folder;
    const std::string input = strip_file({{0, 0, 0, 255, 0, 0},
                                          {1, 0, 0, 0, 255, 0},
                                          {0, 1, 0, 0, 0, 255},
                                          {1.5f, -2.25f, 0.5f, 128, 51, 1}},
                                         {0, 1, 2, 3});
    folder.write_file("in.ply", input);

    ProcessResult run = run_in_pipe(folder, "in.ply\nout\n\n");

    expect_clean_exit(folder, run);
    // The strip header has no face line.
    EXPECT_EQ(run.output, standard_dialogue() + " FACE not found!\n"
                                                " Found tristrips FACE not needed!\n"
                                                "Press any key to continue\n");
    const SceneLists lists = {
        {"0.00000 0.00000 0.00000,", "1.00000 0.00000 0.00000,", "0.00000 1.00000 0.00000,",
         "1.50000 -2.25000 0.50000,"},
        {"1.000 0.000 0.000,", "0.000 1.000 0.000,", "0.000 0.000 1.000,", "0.502 0.200 0.004,"},
        // A triangle line ends as a face line does, so that Inventor readers take the list.
        {"0, 1, 2, -1,", "1, 3, 2, -1,"},
    };
    // Normals (A - C) x (B - C): for (0, 1, 2) U = (0, -1, 0), W = (1, -1, 0), so (+0, +0, 1);
    // for (1, 3, 2) U = (1, -1, 0), W = (1.5, -3.25, 0.5), so (-0.5, -0.5, -1.75).
    // The count is the header's face count, 0, plus the two triangles.
    const std::string stl =
        stl_file_bytes(2, {{0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0},
                           {-0.5f, -0.5f, -1.75f, 1, 0, 0, 1.5f, -2.25f, 0.5f, 0, 1, 0}});
    EXPECT_EQ(folder.files_beside_the_program(), (FileBytes{{"in.ply", input},
                                                            {"out.wrl", final_wrl(lists)},
                                                            {"out.iv", final_iv(lists)},
                                                            {"out.stl", stl}}));
}

// A flat strip grid from make_mesh turns counter-clockwise seen from +z in every row, so every
// facet's normal must point up: the first strip, row 0, is wound as every later one.
TEST(PipeMode, StripGridFacetsAllFaceUp) {
    if (make_mesh_path().empty())
        GTEST_SKIP() << "no make_mesh in this build";
    constexpr int width = 6, height = 4; // cells; one strip of 2 * width triangles per row
    ProgramFolder folder;
    const ProcessResult made =
        run_process({make_mesh_path(), "--layout", "strip", "--grid", std::to_string(width),
                     std::to_string(height), folder.program_folder() + "/grid.ply"},
                    "", folder.elsewhere_folder());
    ASSERT_EQ(made.exit_code, 0) << made.errors;

    ProcessResult run = run_in_pipe(folder, "grid.ply\nout\n\n");

    expect_clean_exit(folder, run);
    const std::string stl = folder.read_file("out.stl");
    constexpr int facet_count = 2 * width * height;
    ASSERT_EQ(stl.size(), 84u + 50u * facet_count);
    EXPECT_EQ(int_at(stl, 80), facet_count);
    // Per row of cells, the facets whose normal is not (0, 0, +z).
    std::vector<int> not_up(height, 0);
    for (int k = 0; k < facet_count; ++k) {
        const std::vector<float> facet = facet_floats(stl, k);
        if (!(facet[0] == 0 && facet[1] == 0 && facet[2] > 0))
            ++not_up[k / (2 * width)];
    }
    EXPECT_EQ(not_up, std::vector<int>(height, 0));
}

TEST(PipeMode, EarlyEndLeavesEmptyTemporaryFilesAndTheStlHead) {
    ProgramFolder folder;
    const std::string input = face_file(example_vertices(), {});
    folder.write_file("in.ply", input);

    ProcessResult run = run_in_pipe(folder, "in.ply\nout\n\n");

    expect_clean_exit(folder, run);
    EXPECT_EQ(run.output, standard_dialogue() + " FACE not found!\n NO tristrips found!\n"
                                                "CAN NOT PROCESS FILE\n"
                                                "Press any key to continue\n");
    EXPECT_EQ(
        folder.files_beside_the_program(),
        (FileBytes{
            {"in.ply", input}, {"TEMP1.TMP", ""}, {"TEMP2.TMP", ""}, {"out.stl", stl_head()}}));
}

TEST(PipeMode, FailureBoxAnswers) {
    const std::string overflowing = overflowing_example_file();
    const std::string example = example_face_file();
    const std::string overflow_box = "Unhandled Error #6\nLine:159\nOverflow\nContinue?\n";
    struct Case {
        const char* name;
        std::string input;
        std::string keys;
        std::string transcript;
        FileBytes files; // every file beside the program, the input included
    };
    const Case cases[] = {
        {"Yes goes on to a complete conversion", overflowing, "in.ply\nout\ny\n",
         standard_dialogue() + overflow_box + " NO tristrips found!\nPress any key to continue\n",
         example_converted("in.ply", overflowing)},
        // No ends inside the scan: the STL file keeps its head, nothing is deleted.
        {"No ends at once",
         overflowing,
         "in.ply\nout\nn\n",
         standard_dialogue() + overflow_box,
         {{"in.ply", overflowing}, {"TEMP1.TMP", ""}, {"TEMP2.TMP", ""}, {"out.stl", stl_head()}}},
        // The STL open fails, so its head cannot be written either; no folder is made.
        {"missing folder, Yes then No",
         example,
         "in.ply\nnowhere/out\ny\nn\n",
         answers("in.ply", "nowhere/out") +
             "Unhandled Error #76\nLine:102\nPath not found\nContinue?\n"
             " in.ply > nowhere/out.wrl & nowhere/out.iv & nowhere/out.stl\n"
             "Unhandled Error #52\nLine:115\nBad file name or number\nContinue?\n",
         {{"in.ply", example}, {"TEMP1.TMP", ""}, {"TEMP2.TMP", ""}}},
        // An empty name opens nothing: the scan's first read fails, and its bound ends it.
        {"empty first answer, Yes twice",
         example,
         "\nout\ny\ny\n\n",
         answers("", "out") + "Unhandled Error #53\nLine:99\nFile not found\nContinue?\n"
                              "  > out.wrl & out.iv & out.stl\n"
                              "Unhandled Error #52\nLine:118\nBad file name or number\nContinue?\n"
                              " end_header not found!\nCAN NOT PROCESS FILE\n"
                              "Press any key to continue\n",
         {{"in.ply", example}, {"TEMP1.TMP", ""}, {"TEMP2.TMP", ""}, {"out.stl", stl_head()}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramFolder folder;
        folder.write_file("in.ply", c.input);

        ProcessResult run = run_in_pipe(folder, c.keys);

        expect_clean_exit(folder, run);
        EXPECT_EQ(run.output, c.transcript);
        EXPECT_EQ(folder.files_beside_the_program(), c.files);
    }
}

TEST(PipeMode, EndOfKeysEndsTheRunWithExitCodeZero) {
    // The end of stdin is the end request during an answer or the final wait, and No in a box.
    const std::string example = example_face_file();
    struct Case {
        const char* name;
        std::string keys;
        std::string transcript;
        FileBytes files;
    };
    const Case cases[] = {
        // The row of the unfinished answer never ends, so it is not written.
        {"during the first answer", "in.p", lines_of(banner_rows), {{"in.ply", example}}},
        {"in a failure box",
         "in.ply\nnowhere/out\n",
         answers("in.ply", "nowhere/out") +
             "Unhandled Error #76\nLine:102\nPath not found\nContinue?\n",
         {{"in.ply", example}, {"TEMP1.TMP", ""}, {"TEMP2.TMP", ""}}},
        // The run is over by then: its files are complete.
        {"in the final wait", "in.ply\nout\n",
         standard_dialogue() + " NO tristrips found!\nPress any key to continue\n",
         example_converted("in.ply", example)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramFolder folder;
        folder.write_file("in.ply", example);

        ProcessResult run = run_in_pipe(folder, c.keys);

        expect_clean_exit(folder, run);
        EXPECT_EQ(run.output, c.transcript);
        EXPECT_EQ(folder.files_beside_the_program(), c.files);
    }
}
