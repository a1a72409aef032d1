// The two vertex passes: the coordinate and colour lines of both record layouts.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "converter/record_bound.h"
#include "converter/stages.h"
#include "tests/mesh_builder.h"
#include "tests/run_transcript.h"
#include "tests/stage_files.h"

namespace {

// Runs both passes over the input as the run does, with the fixed lines between them left out.
std::string vertex_text(StageFiles& files) {
    write_coordinate_pass(files.run);
    write_colour_pass(files.run);
    std::string wrl = files.wrl_text();
    EXPECT_EQ(files.iv_text(), wrl);
    return wrl;
}

} // namespace

TEST(VertexPass, WritesOneLineOfEachKindPerRecordInBothLayouts) {
    const TestVertex v = {1.5f, -2.25f, 0, 128, 255, 0};
    struct Case {
        const char* name;
        bool strip;
        std::size_t record_size;
    };
    for (const Case c : {Case{"face file", false, 19}, Case{"strip file", true, 15}}) {
        SCOPED_TRACE(c.name);
        std::string input;
        if (c.strip)
            append_strip_vertex(input, v);
        else
            append_face_vertex(input, v, 0x7fc00000); // the skipped bytes hold a NaN pattern
        StageFiles files(input);
        files.run.vertex_count = 1;
        files.run.is_strip_file = c.strip ? 1 : 0;

        EXPECT_EQ(vertex_text(files), "      1.50000      -2.25000       0.00000,\r\n"
                                      "0.502 1.000 0.000,\r\n");
        EXPECT_EQ(files.run.read_pos, 1 + c.record_size);
    }
}

TEST(VertexPass, CountsRecordsAsTheHeaderGaveThem) {
    const std::string zeros = "      0.00000       0.00000       0.00000,\r\n";
    struct Case {
        const char* name;
        double vertex_count;
        std::size_t records_in_file;
        std::size_t lines_of_each_kind;
    };
    const Case cases[] = {
        {"fraction", 2.5, 3, 2},
        {"negative", -3, 3, 0},
        {"zero", 0, 3, 0},
        {"more than the file holds: zeros", 3, 1, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string input;
        for (std::size_t i = 0; i < c.records_in_file; ++i)
            append_strip_vertex(input, {0, 0, 0, 0, 0, 0});
        StageFiles files(input);
        files.run.vertex_count = c.vertex_count;
        files.run.is_strip_file = 1;

        std::string expected;
        for (std::size_t i = 0; i < c.lines_of_each_kind; ++i)
            expected += zeros;
        for (std::size_t i = 0; i < c.lines_of_each_kind; ++i)
            expected += "0.000 0.000 0.000,\r\n";
        EXPECT_EQ(vertex_text(files), expected);
        EXPECT_EQ(files.run.read_pos, 1 + 15 * c.lines_of_each_kind);
    }
}

TEST(VertexPass, ColourBytesGiveTheirQuotientsToThreeDecimals) {
    std::string input;
    append_strip_vertex(input, {0, 0, 0, 0, 1, 51});
    append_strip_vertex(input, {0, 0, 0, 127, 128, 254});
    StageFiles files(input);
    files.run.vertex_count = 2;
    files.run.is_strip_file = 1;

    const std::string text = vertex_text(files);

    EXPECT_NE(text.find("\r\n0.000 0.004 0.200,\r\n0.498 0.502 0.996,\r\n"), std::string::npos)
        << text;
}

TEST(RecordBound, OnlyCountsAboveTwoToTheTwentyFourStopAtTheEndOfTheFile) {
    // A count past 2^24 no longer reads missing records as zeros, so a damaged header cannot
    // make a pass write without end; records that the file holds are always read.
    std::string input;
    append_strip_vertex(input, {1, 2, 3, 0, 0, 0});
    StageFiles files(input);
    files.run.read_pos = 16; // just past the one record
    EXPECT_FALSE(past_the_records(files.run, 16777216));
    EXPECT_TRUE(past_the_records(files.run, 16777217));
    files.run.read_pos = 15; // the last byte of the record
    EXPECT_FALSE(past_the_records(files.run, 16777217));
}

TEST(VertexPass, CoordinateThatIsNoNumberFailsItsLineInBothFiles) {
    TempWorkingFolder folder;
    std::vector<TestVertex> vertices = {{1.5f, -2.25f, 0, 0, 0, 0},
                                        {1, 2, std::nanf(""), 255, 255, 255}};
    folder.write_file("in.ply", face_file(vertices, {{0, 1, 0}}));

    ScriptedRun result = convert("in.ply\nout\ny\ny\n\n");

    EXPECT_EQ(result.transcript,
              standard_dialogue() + " NO tristrips found!\n" +
                  "Unhandled Error #5\nLine:230\nIllegal function call\nContinue?\n"
                  "Unhandled Error #5\nLine:231\nIllegal function call\nContinue?\n"
                  "Press any key to continue\n");
    // The fields of x and y, each with its blank, run on into the extra point.
    const std::vector<std::string> wrl = crlf_lines(folder.read_file("out.wrl"));
    ASSERT_GT(wrl.size(), 12u);
    EXPECT_EQ(wrl[8], "1.50000 -2.25000 0.00000,");
    EXPECT_EQ(wrl[9], "1.00000 2.00000 0 0 0");
    EXPECT_EQ(wrl[10], "]");
    EXPECT_EQ(crlf_lines(folder.read_file("out.iv"))[9], "1.00000 2.00000 0 0 0");
}
