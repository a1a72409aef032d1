// Damaged and odd PLY inputs through whole runs: each ends as the header scan, the passes and
// their bounds say, and the input file is never changed.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "tests/fault_injection.h"
#include "tests/mesh_builder.h"
#include "tests/run_transcript.h"
#include "tests/test_support.h"

namespace {

const char* const cannot_process = " end_header not found!\nCAN NOT PROCESS FILE\n";
const char* const press = "Press any key to continue\n";

// What one run of input into out left: the transcript after the names row and the files.
struct Outcome {
    RunEnd end = RunEnd::EndRequest;
    std::string messages;
    std::string wrl, iv, stl, temp1, temp2;
    bool wrl_exists = false, temp1_exists = false, temp2_exists = false;
    std::string input_after;
};

Outcome convert_input(const std::string& input, const std::string& yes_answers = "") {
    TempWorkingFolder folder;
    folder.write_file("in.ply", input);
    const ScriptedRun result = convert("in.ply\nout\n" + yes_answers + "\n");
    Outcome outcome;
    outcome.end = result.end;
    const std::string dialogue = standard_dialogue();
    outcome.messages = result.transcript.rfind(dialogue, 0) == 0
                           ? result.transcript.substr(dialogue.size())
                           : "(no dialogue) " + result.transcript;
    outcome.wrl = folder.read_file("out.wrl");
    outcome.iv = folder.read_file("out.iv");
    outcome.stl = folder.read_file("out.stl");
    outcome.temp1 = folder.read_file("TEMP1.TMP");
    outcome.temp2 = folder.read_file("TEMP2.TMP");
    outcome.wrl_exists = folder.file_exists("out.wrl");
    outcome.temp1_exists = folder.file_exists("TEMP1.TMP");
    outcome.temp2_exists = folder.file_exists("TEMP2.TMP");
    outcome.input_after = folder.read_file("in.ply");
    return outcome;
}

// The early end: both temporary files empty, the STL file its head, no final text file.
void expect_early_end(const Outcome& outcome) {
    EXPECT_TRUE(outcome.temp1_exists && outcome.temp1.empty());
    EXPECT_TRUE(outcome.temp2_exists && outcome.temp2.empty());
    EXPECT_EQ(outcome.stl.size(), 80u);
    EXPECT_FALSE(outcome.wrl_exists);
}

// The facet count at offset 80, and that as many 50-byte facets follow it.
void expect_facets(const Outcome& outcome, std::int32_t count) {
    ASSERT_EQ(outcome.stl.size(), 84 + 50 * static_cast<std::size_t>(count));
    EXPECT_EQ(int_at(outcome.stl, 80), count);
}

std::string example_face_file() {
    return face_file(example_vertices(), {{0, 1, 2}, {2, 1, 0, 1}});
}

std::string example_strip_file() {
    return strip_file(
        {{0, 0, 0, 1, 2, 3}, {1, 0, 0, 4, 5, 6}, {0, 1, 0, 7, 8, 9}, {1, 1, 0, 0, 0, 0}},
        {0, 1, 2, 3, -1, 1, 2, 3});
}

enum class Layout { Face, Strip };

// A header of the first two lines, the count lines given, the strip marker for a strip file.
std::string header_with(const std::string& count_lines, Layout layout) {
    return "ply\nformat binary_little_endian 1.0\n" + count_lines +
           (layout == Layout::Strip ? "element tristrips 1\n" : "") + "end_header\n";
}

} // namespace

// A read past the end of the input gives zero bytes, so a file cut at any length converts as
// the same file with zeros in place of what was cut; cut in the header, it ends early.
TEST(BadInput, EveryPrefixEndsAsTheFileWithZerosInPlaceOfWhatWasCut) {
    struct Case {
        const char* name;
        std::string file;
        std::size_t header_size;
    };
    const Case cases[] = {
        {"face file", example_face_file(), face_header(3, 2).size()},
        {"strip file", example_strip_file(), strip_header(4).size()},
    };
    for (const Case& c : cases) {
        for (std::size_t length = 0; length <= c.file.size(); ++length) {
            SCOPED_TRACE(std::string(c.name) + " cut to " + std::to_string(length) + " bytes");
            const std::string prefix = c.file.substr(0, length);
            const Outcome cut = convert_input(prefix);
            EXPECT_EQ(cut.end, RunEnd::KeyAfterPrompt);
            EXPECT_EQ(cut.input_after, prefix);
            EXPECT_EQ(cut.messages.find("Unhandled Error"), std::string::npos) << cut.messages;
            if (length < c.header_size) {
                EXPECT_EQ(cut.messages, std::string(cannot_process) + press);
                expect_early_end(cut);
                continue;
            }
            const Outcome padded =
                convert_input(prefix + std::string(c.file.size() - length, '\0'));
            EXPECT_EQ(cut.messages, padded.messages);
            EXPECT_EQ(cut.wrl, padded.wrl);
            EXPECT_EQ(cut.iv, padded.iv);
            EXPECT_EQ(cut.stl, padded.stl);
            EXPECT_FALSE(cut.temp1_exists || cut.temp2_exists);
        }
    }
}

TEST(BadInput, EndsAsTheScanThePassesAndTheirBoundsSay) {
    // The example's vertex records and its face, without a header.
    std::string example_body;
    for (const TestVertex& v : example_vertices())
        append_face_vertex(example_body, v);
    append_face(example_body, {0, 1, 2});
    const std::string example_counts = "element vertex 3\nelement face 1\n";
    const std::string no_strips = " NO tristrips found!\n";
    const std::string strips = " FACE not found!\n Found tristrips FACE not needed!\n";
    const std::string early = std::string(cannot_process) + press;

    std::string vertex_records_cut = header_with(example_counts, Layout::Face);
    append_face_vertex(vertex_records_cut, {1, 2, 3, 10, 20, 30});
    vertex_records_cut += float_bytes(4); // the second record ends after its x

    std::string faces_cut = face_file(example_vertices(), {{0, 1, 2}});
    faces_cut.replace(faces_cut.find("element face 1"), 14, "element face 2");
    faces_cut += '\3';
    faces_cut += int_bytes(2);
    faces_cut += std::string("\1\0", 2); // the second index ends after two bytes

    std::string strip_cut = strip_header(4);
    for (int i = 0; i < 4; ++i)
        append_strip_vertex(strip_cut, {0, 0, 0, 0, 0, 0});
    strip_cut += int_bytes(6);
    for (std::int32_t index : {0, 1, 2, 3})
        strip_cut += int_bytes(index);
    strip_cut += std::string("\4\0", 2); // the fifth index ends after two bytes

    // The third record is all zeros: of a vertex count of 2.5 only two are records, and the
    // third's 19 zero bytes are faces of count 0.
    std::string fractional = header_with("element vertex 2.5\nelement face 3.5\n", Layout::Face);
    append_face_vertex(fractional, {1, 0, 0, 0, 0, 0});
    append_face_vertex(fractional, {0, 1, 0, 0, 0, 0});
    append_face_vertex(fractional, {0, 0, 0, 0, 0, 0});

    std::string strip_without_vertices =
        header_with("element vertex &H11111111111111111\n", Layout::Strip);
    for (std::int32_t value : {3, 0, 0, 0})
        strip_without_vertices += int_bytes(value);

    std::string negative_strip_count = strip_header(3);
    for (const TestVertex& v : example_vertices())
        append_strip_vertex(negative_strip_count, v);
    for (std::int32_t value : {-5, 0, 1, 2})
        negative_strip_count += int_bytes(value);

    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float infinity = std::numeric_limits<float>::infinity();
    const std::string number_boxes =
        "Unhandled Error #5\nLine:230\nIllegal function call\nContinue?\n"
        "Unhandled Error #5\nLine:231\nIllegal function call\nContinue?\n";

    struct Case {
        const char* name;
        std::string input;
        std::string messages; // the transcript after the names row
        std::int32_t facets;  // -1: the early end
        std::vector<std::pair<std::size_t, std::string>> wrl_lines; // numbered from 1
        std::string yes_answers = {};
    };
    const Case cases[] = {
        // The header.
        {"cut in the header",
         "ply\nformat binary_little_endian 1.0\nelement vertex 3\nelem",
         early,
         -1,
         {}},
        {"no end_header line",
         "ply\nformat binary_little_endian 1.0\n" + example_counts + example_body,
         early,
         -1,
         {}},
        {"CR LF line ends",
         "ply\r\nformat binary_little_endian 1.0\r\nelement vertex 3\r\nelement face 1\r\n"
         "end_header\r\n" +
             example_body,
         "Can not read this type of file\nHeader does not have 'ply' as 1st line\n" + early,
         -1,
         {}},
        {"a big-endian format line",
         "ply\nformat binary_big_endian 1.0\n" + example_counts + "end_header\n" + example_body,
         "This program only reads little endian binary 'ply' files\nThis file is of type:\n"
         "format binary_big_endian 1.0\n VERTEX not found!\n FACE not found!\n" +
             no_strips + "CAN NOT PROCESS FILE\n" + press,
         -1,
         {}},
        {"a first line of 100,000 characters",
         std::string(100000, 'x') + "\n" + header_with(example_counts, Layout::Face) + example_body,
         early,
         -1,
         {}},
        // Records missing from the file read as zeros.
        {"vertex records cut short",
         vertex_records_cut,
         no_strips + press,
         1,
         {{9, "1.00000 2.00000 3.00000,"},
          {10, "4.00000 0.00000 0.00000,"},
          {11, "0.00000 0.00000 0.00000,"},
          {18, "0.039 0.078 0.118,"},
          {19, "0.000 0.000 0.000,"},
          {26, "-1,"},
          {29, "-1,"}}},
        {"faces cut short",
         faces_cut,
         no_strips + press,
         2,
         {{26, "0, 1, 2, -1,"}, {27, "2, 1, 0, -1,"}, {30, "0, 1, 2, -1,"}, {31, "2, 1, 0, -1,"}}},
        {"strip record cut short",
         strip_cut,
         strips + press,
         4,
         {{28, "0, 1, 2, -1,"}, {29, "1, 3, 2, -1,"}, {30, "2, 3, 4, -1,"}, {31, "3, 0, 4, -1,"}}},
        // Counts.
        {"a negative vertex count",
         header_with("element vertex -5\nelement face 1\n", Layout::Face) + '\3' +
             std::string(12, '\0'), // the face 0 0 0
         no_strips + press,
         1,
         {{8, "point ["},
          {9, "0 0 0"},
          {10, "]"},
          {14, "color ["},
          {15, "]"},
          {20, "0, 0, 0, -1,"}}},
        {"fractional counts",
         fractional,
         no_strips + press,
         4,
         {{9, "1.00000 0.00000 0.00000,"},
          {10, "0.00000 1.00000 0.00000,"},
          {11, "0 0 0"},
          {24, "-1,"},
          {27, "-1,"},
          {28, "]"}}},
        {"based counts",
         header_with("element vertex &H3\nelement face &O1\n", Layout::Face) + example_body,
         no_strips + press,
         1,
         {{11, "0.00000 1.00000 0.00000,"}, {26, "0, 1, 2, -1,"}}},
        // The low 32 bits of 2^31 are -2^31: no face at all.
        {"a face count of 2^31",
         header_with("element vertex 3\nelement face 2147483648\n", Layout::Face) + example_body,
         no_strips + press,
         0,
         {{25, "coordIndex ["}, {26, "]"}, {27, "colorIndex ["}, {28, "]"}}},
        {"a face count of 1e30",
         header_with("element vertex 3\nelement face 1e30\n", Layout::Face) + example_body,
         " FACE not found!\n" + no_strips + "CAN NOT PROCESS FILE\n" + press,
         -1,
         {}},
        {"a negative strip count", negative_strip_count, strips + press, 1, {{26, "0, 1, 2, -1,"}}},
        {"an overflowing based vertex count in a strip file",
         strip_without_vertices,
         "Unhandled Error #6\nLine:159\nOverflow\nContinue?\n VERTEX not found!\n" + strips + press,
         1,
         {{8, "point ["}, {9, "0 0 0"}, {20, "0, 0, 0, -1,"}},
         "y\n"},
        // Coordinates: each line that fails goes out without its line end, so the lines of the
        // three records and the extra point make one line.
        {"coordinates that are no number or infinite",
         face_file({{nan, 0, 0, 0, 0, 0}, {0, infinity, 0, 0, 0, 0}, {0, 0, -infinity, 0, 0, 0}},
                   {{0, 1, 2}}),
         no_strips + number_boxes + number_boxes + number_boxes + press,
         1,
         {{8, "point ["}, {9, "0.00000 0.00000 0.00000 0 0 0"}, {10, "]"}},
         "y\ny\ny\ny\ny\ny\n"},
        // Indices are never compared with the vertex count.
        {"an index past the vertex count",
         face_file(example_vertices(), {{0, 1, 5}}),
         no_strips + press,
         1,
         {{26, "0, 1, 5, -1,"}}},
        {"a negative index",
         face_file(example_vertices(), {{-1, 0, 1}}),
         no_strips + press,
         1,
         {{26, "-1, 0, 1, -1,"}}},
        {"strip indices negative and past the vertex count",
         strip_file(example_vertices(), {0, -7, 9}),
         strips + press,
         1,
         {{26, "0, -7, 9, -1,"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome outcome = convert_input(c.input, c.yes_answers);
        EXPECT_EQ(outcome.end, RunEnd::KeyAfterPrompt);
        EXPECT_EQ(outcome.input_after, c.input);
        EXPECT_EQ(outcome.messages, c.messages);
        if (c.facets < 0) {
            expect_early_end(outcome);
            continue;
        }
        expect_facets(outcome, c.facets);
        EXPECT_FALSE(outcome.temp1_exists || outcome.temp2_exists);
        const std::vector<std::string> lines = crlf_lines(outcome.wrl);
        for (const auto& [number, text] : c.wrl_lines) {
            ASSERT_LE(number, lines.size());
            EXPECT_EQ(lines[number - 1], text) << "line " << number;
        }
    }
}

TEST(BadInput, OddCornersGoIntoTheFacetBitForBit) {
    const float nan = float_from_bits(0x7fc00000);
    const float infinity = float_from_bits(0x7f800000);
    const float minus_infinity = float_from_bits(0xff800000);
    // Vertex number 0 reads the 19 bytes before the first record: the end of the header,
    // "indices\nend_header\n", whose first twelve make x, y and z.
    const char* header_end = "indices\nend_header\n";
    std::uint32_t header_bits[3];
    std::memcpy(header_bits, header_end, sizeof header_bits);

    struct Case {
        const char* name;
        std::vector<TestVertex> vertices;
        std::vector<std::int32_t> face;
        std::vector<std::uint32_t> corner_bits; // A, B, C: nine floats
        std::string yes_answers;
    };
    const Case cases[] = {
        {"coordinates that are no number or infinite",
         {{nan, 0, 0, 0, 0, 0}, {0, infinity, 0, 0, 0, 0}, {0, 0, minus_infinity, 0, 0, 0}},
         {0, 1, 2},
         {0x7fc00000, 0, 0, 0, 0x7f800000, 0, 0, 0, 0xff800000},
         "y\ny\ny\ny\ny\ny\n"},
        {"index -1 reads the end of the header",
         example_vertices(),
         {-1, 0, 1},
         {header_bits[0], header_bits[1], header_bits[2], 0, 0, 0, bits_of(1), 0, 0},
         ""},
        {"an index past the end of the file reads zeros",
         example_vertices(),
         {1, 2, 1000},
         {bits_of(1), 0, 0, 0, bits_of(1), 0, 0, 0, 0},
         ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome outcome = convert_input(face_file(c.vertices, {c.face}), c.yes_answers);
        expect_facets(outcome, 1);
        const std::vector<float> facet = facet_floats(outcome.stl, 0);
        for (std::size_t i = 0; i < 9; ++i)
            EXPECT_EQ(bits_of(facet[3 + i]), c.corner_bits[i]) << "corner float " << i;
    }
    // The normal of NaN and infinite corners is not a number, as the arithmetic gives it.
    const Outcome odd =
        convert_input(face_file(cases[0].vertices, {cases[0].face}), cases[0].yes_answers);
    const std::vector<float> facet = facet_floats(odd.stl, 0);
    EXPECT_TRUE(std::isnan(facet[0]) && std::isnan(facet[1]) && std::isnan(facet[2]));
}

// Above a count of 2^24 the loops stop at the first record that starts past the end of the
// input, so that a damaged count cannot make a tiny file write without end (reading 2^24 zero
// records first wrote about 1.5 GB). A medium that is full after 4 MB would stop a loop that
// runs on at its first box.
TEST(BadInput, CountsAboveTwoToTheTwentyFourStopAtTheEndOfTheFile) {
    std::string vertex_count = strip_file(example_vertices(), {0, 1, 2});
    vertex_count.replace(vertex_count.find("element vertex 3"), 16, "element vertex 16777217");
    std::string face_count = face_file(example_vertices(), {{0, 1, 2}});
    face_count.replace(face_count.find("element face 1"), 14, "element face 16777217");
    std::string strip_count = strip_file(example_vertices(), {0, 1, 2});
    strip_count.replace(strip_count.size() - 16, 4, std::string("\1\0\0\1", 4)); // 2^24 + 1

    for (const std::string& input : {vertex_count, face_count, strip_count}) {
        FaultPlan full_medium;
        full_medium.call = SystemCall::Pwrite;
        full_medium.kind = FaultKind::FullMedium;
        full_medium.persist = true;
        full_medium.error = ENOSPC;
        full_medium.short_size = 4 << 20;
        FaultGuard guard(full_medium);
        const Outcome outcome = convert_input(input, "n\n");

        EXPECT_EQ(outcome.end, RunEnd::KeyAfterPrompt);
        EXPECT_EQ(outcome.messages.find("Unhandled Error"), std::string::npos) << outcome.messages;
        EXPECT_LT(outcome.wrl.size(), 4096u);
    }
}
