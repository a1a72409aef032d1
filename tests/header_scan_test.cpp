// The header scan through whole runs: the messages it prints and whether the run goes on.
#include <gtest/gtest.h>

#include <string>

#include "tests/mesh_builder.h"
#include "tests/run_transcript.h"

namespace {

const std::string props = "property float x\nproperty float y\nproperty float z\n";
const char* const no_strips = " NO tristrips found!\n";
const char* const cannot = "CAN NOT PROCESS FILE\n";
const char* const press = "Press any key to continue\n";

} // namespace

TEST(HeaderScan, PrintsWhatItFoundAndStopsWhereItMust) {
    struct Case {
        const char* name;
        std::string header;   // the whole input file
        std::string messages; // the transcript after the names row
    };
    const Case cases[] = {
        {"face file", face_header(8, 12), std::string(no_strips) + press},
        {"strip file without a face line",
         "ply\nformat binary_little_endian 1.0\nelement vertex 8\nelement tristrips 1\n"
         "end_header\n",
         std::string(" FACE not found!\n Found tristrips FACE not needed!\n") + press},
        {"strip file without vertices",
         "ply\nformat binary_little_endian 1.0\nelement vertex 0\nelement tristrips 1\n"
         "end_header\n",
         std::string(" VERTEX not found!\n FACE not found!\n Found tristrips FACE not needed!\n") +
             press},
        {"no faces", face_header(8, 0),
         std::string(" FACE not found!\n") + no_strips + cannot + press},
        {"two blanks before the count",
         "ply\nformat binary_little_endian 1.0\nelement vertex  8\nelement face 12\nend_header\n",
         std::string(no_strips) + press},
        {"two blanks after element",
         "ply\nformat binary_little_endian 1.0\nelement  vertex 8\nelement face 12\nend_header\n",
         std::string(" VERTEX not found!\n") + no_strips + cannot + press},
        {"vertex line without a count",
         "ply\nformat binary_little_endian 1.0\nelement vertex\nelement face 1\nend_header\n",
         std::string(" VERTEX not found!\n") + no_strips + cannot + press},
        {"any character in columns 8 and 15",
         "ply\nformat binary_little_endian 1.0\nelement_vertex_8\nelement face 1\nend_header\n",
         std::string(no_strips) + press},
        {"element lines on the first two lines are not counted",
         "element vertex 8\nelement face 12\nend_header\n",
         std::string("Can not read this type of file\nHeader does not have 'ply' as 1st line\n"
                     "This program only reads little endian binary 'ply' files\n"
                     "This file is of type:\nelement face 12\n"
                     " VERTEX not found!\n FACE not found!\n") +
             no_strips + cannot + press},
        {"a later vertex line replaces the count, even with 0",
         "ply\nformat binary_little_endian 1.0\nelement vertex 8\nelement vertex 0\n"
         "element face 1\nend_header\n",
         std::string(" VERTEX not found!\n") + no_strips + cannot + press},
        {"first line in capitals",
         "PLY\nformat binary_little_endian 1.0\nelement vertex 1\nelement face 1\nend_header\n",
         std::string("Can not read this type of file\nHeader does not have 'ply' as 1st line\n") +
             no_strips + press},
        {"first line with blanks around it",
         "  ply \nformat binary_little_endian 1.0\nelement vertex 1\nelement face 1\nend_header\n",
         std::string(no_strips) + press},
        {"big-endian file",
         "ply\nformat binary_big_endian 1.0\nelement vertex 8\nelement face 12\nend_header\n",
         std::string("This program only reads little endian binary 'ply' files\n"
                     "This file is of type:\nformat binary_big_endian 1.0\n"
                     " VERTEX not found!\n FACE not found!\n") +
             no_strips + cannot + press},
        {"second line of exactly 27 characters",
         "ply\nformat binary_little_endian\nelement vertex 1\nelement face 1\nend_header\n",
         std::string(no_strips) + press},
        {"end_header as the first line", "end_header\n",
         std::string(" VERTEX not found!\n FACE not found!\n") + no_strips + cannot + press},
        // The strip record follows the second line: a count of 3 and three indices 0.
        {"strip marker on the second line goes on after the format test",
         std::string("ply\nelement tristrips 1\n") + std::string("\3\0\0\0", 4) +
             std::string(12, '\0'),
         std::string("This program only reads little endian binary 'ply' files\n"
                     "This file is of type:\nelement tristrips 1\n"
                     " VERTEX not found!\n FACE not found!\n Found tristrips FACE not needed!\n") +
             press},
        {"end_header with blanks around it",
         "ply\nformat binary_little_endian 1.0\nelement vertex 1\nelement face 1\n end_header  \n",
         std::string(no_strips) + press},
        // The scan's bound: no line can end any more.
        {"end_header followed by a tab",
         "ply\nformat binary_little_endian 1.0\nelement vertex 1\nelement face 1\nend_header\t\n",
         std::string(" end_header not found!\n") + cannot + press},
        {"CR LF line ends",
         "ply\r\nformat binary_little_endian 1.0\r\nelement vertex 1\r\nelement face 1\r\n"
         "end_header\r\n",
         std::string("Can not read this type of file\nHeader does not have 'ply' as 1st line\n"
                     " end_header not found!\n") +
             cannot + press},
        {"header cut short", "ply\nformat binary_little_endian 1.0\nelement vert",
         std::string(" end_header not found!\n") + cannot + press},
        {"empty input", "", std::string(" end_header not found!\n") + cannot + press},
        // The row of the type line ends at its CR, and the row end after it leaves an empty row.
        {"type line ending in a CR", "ply\nformat ascii 1.0\r\nend_header\n",
         std::string("This program only reads little endian binary 'ply' files\n"
                     "This file is of type:\nformat ascii 1.0\n\n"
                     " VERTEX not found!\n FACE not found!\n") +
             no_strips + cannot + press},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempWorkingFolder folder;
        folder.write_file("in.ply", c.header);

        ScriptedRun result = convert("in.ply\nout\n\n");

        EXPECT_EQ(result.end, RunEnd::KeyAfterPrompt);
        EXPECT_EQ(result.transcript, standard_dialogue() + c.messages);
        EXPECT_EQ(folder.read_file("in.ply"), c.header);
    }
}

TEST(HeaderScan, CountTextsGiveTheirCounts) {
    // The face count shows in the STL file: one facet per face of the count.
    struct Case {
        const char* count_text;
        std::size_t facets;
    };
    const Case cases[] = {
        {"12abc", 12}, {"1 000", 1000}, {"1,000", 1}, {"1e3", 1000},     {"2.5", 2},
        {"3.5", 4},    {"&H10", 16},    {"&O17", 15}, {"4294967301", 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.count_text);
        TempWorkingFolder folder;
        folder.write_file("in.ply",
                          "ply\nformat binary_little_endian 1.0\nelement vertex 1\nelement face " +
                              std::string(c.count_text) + "\nend_header\n");

        convert("in.ply\nout\n\n");

        EXPECT_EQ(folder.read_file("out.stl").size(), 84 + 50 * c.facets);
    }
}

TEST(HeaderScan, OverflowingBasedCountFailsWithOverflowAndCountsZero) {
    TempWorkingFolder folder;
    folder.write_file("in.ply", "ply\nformat binary_little_endian 1.0\nelement vertex 1\n"
                                "element face &H11111111111111111\nend_header\n");

    ScriptedRun result = convert("in.ply\nout\ny\n\n");

    EXPECT_EQ(result.transcript, standard_dialogue() +
                                     "Unhandled Error #6\nLine:165\nOverflow\nContinue?\n"
                                     " FACE not found!\n" +
                                     no_strips + cannot + press);
}

TEST(HeaderScan, LongHeaderLineEndsAtTheBound) {
    TempWorkingFolder folder;
    const std::string input = "ply\nformat binary_little_endian 1.0\ncomment " +
                              std::string(100000, 'x') + "\nend_header\n";
    folder.write_file("in.ply", input);

    ScriptedRun result = convert("in.ply\nout\n\n");

    EXPECT_EQ(result.transcript, standard_dialogue() + " end_header not found!\n" + cannot + press);
    EXPECT_EQ(folder.read_file("out.stl").size(), 80u);
}
