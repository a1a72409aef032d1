// The strip walk: the window of three indices, the alternating order and the markers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "converter/stages.h"
#include "tests/mesh_builder.h"
#include "tests/run_transcript.h"
#include "tests/stage_files.h"

namespace {

// One strip record after a pad record and eight vertices; vertex i stands at (i, i * i, 1),
// and the pad record just before vertex 0 at (-7, -8, -9).
struct StripWalk {
    std::string lines;
    std::string stl;
    std::int32_t face_count;
    double read_pos_after_first;
};

StripWalk walk(const std::vector<std::int32_t>& record, std::int32_t header_face_count = 0,
               bool append_count = true) {
    std::string input;
    append_strip_vertex(input, {-7, -8, -9, 0, 0, 0});
    for (int i = 0; i < 8; ++i)
        append_strip_vertex(input, {float(i), float(i * i), 1, 0, 0, 0});
    if (append_count)
        input += int_bytes(static_cast<std::int32_t>(record.size()));
    for (std::int32_t index : record)
        input += int_bytes(index);
    StageFiles files(input, 16);
    files.run.is_strip_file = 1;
    files.run.face_count = header_face_count;
    files.run.read_pos = 16 + 15 * 8;

    walk_strip(files.run, IndexPass::First);
    const std::string first_lines = files.wrl_text();
    StripWalk result;
    result.read_pos_after_first = files.run.read_pos;
    open_text_writer(files.run.wrl_temp_file, "TEMP1.TMP");
    files.run.read_pos = files.run.face_start;
    walk_strip(files.run, IndexPass::Second);
    EXPECT_EQ(files.wrl_text(), first_lines); // the second pass writes the same lines
    result.lines = first_lines;
    result.stl = files.stl_bytes();
    result.face_count = files.run.face_count;
    return result;
}

std::vector<float> corners(const std::vector<int>& vertex_indices) {
    std::vector<float> values;
    for (int i : vertex_indices) {
        if (i == -1)
            values.insert(values.end(), {-7, -8, -9});
        else
            values.insert(values.end(), {float(i), float(i * i), 1});
    }
    return values;
}

std::vector<std::vector<float>> all_corners(const std::string& stl) {
    std::vector<std::vector<float>> facets;
    for (std::size_t k = 0; 84 + 50 * k < stl.size(); ++k) {
        std::vector<float> all = facet_floats(stl, k);
        facets.emplace_back(all.begin() + 3, all.end());
    }
    return facets;
}

} // namespace

TEST(StripWalk, OneStripAlternatesItsOrder) {
    StripWalk result = walk({0, 1, 2, 3, 4, 5});

    EXPECT_EQ(result.lines, " 0 ,  1 ,  2 , -1,\r\n"
                            " 1 ,  3 ,  2 , -1,\r\n"
                            " 2 ,  3 ,  4 , -1,\r\n"
                            " 3 ,  5 ,  4 , -1,\r\n");
    EXPECT_EQ(result.face_count, 4);
    EXPECT_EQ(int_at(result.stl, 80), 0); // the first count is the header's face count
    EXPECT_EQ(all_corners(result.stl),
              (std::vector<std::vector<float>>{corners({0, 1, 2}), corners({1, 3, 2}),
                                               corners({2, 3, 4}), corners({3, 5, 4})}));
}

// The first strip is wound as the strip behind the marker: both start in window order.
TEST(StripWalk, MarkerSeparatesStripsWoundAlike) {
    StripWalk result = walk({0, 1, 2, 3, -1, 4, 5, 6, 7}, 5);

    EXPECT_EQ(result.lines, " 0 ,  1 ,  2 , -1,\r\n"
                            " 1 ,  3 ,  2 , -1,\r\n"
                            " 4 ,  5 ,  6 , -1,\r\n"
                            " 5 ,  7 ,  6 , -1,\r\n");
    EXPECT_EQ(result.face_count, 9);
    EXPECT_EQ(int_at(result.stl, 80), 5);
    EXPECT_EQ(all_corners(result.stl),
              (std::vector<std::vector<float>>{corners({0, 1, 2}), corners({1, 3, 2}),
                                               corners({4, 5, 6}), corners({5, 7, 6})}));
}

TEST(StripWalk, FirstTriangleIsAlwaysWritten) {
    struct Case {
        const char* name;
        std::vector<std::int32_t> record;
        std::string lines;
        std::vector<std::vector<float>> facets;
    };
    const Case cases[] = {
        {"three indices", {0, 1, 2}, " 0 ,  1 ,  2 , -1,\r\n", {corners({0, 1, 2})}},
        {"a marker among the first three",
         {0, 1, -1, 2, 3},
         " 0 ,  1 , -1 , -1,\r\n",
         {corners({0, 1, -1})}},
        // The strip behind a leading marker starts in window order, as behind any marker.
        {"a marker first",
         {-1, 0, 1, 2, 3},
         "-1 ,  0 ,  1 , -1,\r\n 0 ,  1 ,  2 , -1,\r\n 1 ,  3 ,  2 , -1,\r\n",
         {corners({-1, 0, 1}), corners({0, 1, 2}), corners({1, 3, 2})}},
        {"a record ending in a marker and two in a row",
         {0, 1, 2, -1, -1, 3, 4, 5},
         " 0 ,  1 ,  2 , -1,\r\n 3 ,  4 ,  5 , -1,\r\n",
         {corners({0, 1, 2}), corners({3, 4, 5})}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        StripWalk result = walk(c.record);
        EXPECT_EQ(result.lines, c.lines);
        EXPECT_EQ(all_corners(result.stl), c.facets);
    }
}

TEST(StripWalk, ShortRecordsReadOnPastTheirEnd) {
    // A count of 0 at the very end of the file reads three zero indices.
    StripWalk empty = walk({}, 0);
    EXPECT_EQ(empty.lines, " 0 ,  0 ,  0 , -1,\r\n");
    EXPECT_EQ(all_corners(empty.stl), (std::vector<std::vector<float>>{corners({0, 0, 0})}));
    // A count of 3 reads 16 bytes and nothing after them.
    StripWalk three = walk({3, 0, 1, 2, 7, 7}, 0, false);
    EXPECT_EQ(three.lines, " 0 ,  1 ,  2 , -1,\r\n");
    EXPECT_EQ(three.read_pos_after_first, 16 + 15 * 8 + 16);
}
