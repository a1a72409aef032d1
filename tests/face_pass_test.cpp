// The face passes: index lines of every face in both temporary files and one facet per face.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "converter/stages.h"
#include "tests/mesh_builder.h"
#include "tests/run_transcript.h"
#include "tests/stage_files.h"

namespace {

// Vertex i stands at (i, i * i, 1): no three of them on one line.
std::string face_vertices(int count) {
    std::string bytes;
    for (int i = 0; i < count; ++i)
        append_face_vertex(bytes, {float(i), float(i * i), 1, 0, 0, 0});
    return bytes;
}

std::vector<float> corners(const std::vector<int>& vertex_indices) {
    std::vector<float> values;
    for (int i : vertex_indices)
        values.insert(values.end(), {float(i), float(i * i), 1});
    return values;
}

std::vector<float> corners_of(const std::string& stl, std::size_t k) {
    std::vector<float> all = facet_floats(stl, k);
    return std::vector<float>(all.begin() + 3, all.end());
}

} // namespace

TEST(FacePass, WritesEachFaceLineTwiceAndOneFacetPerFace) {
    std::string input = face_vertices(8);
    const std::vector<std::vector<std::int32_t>> faces = {
        {0, 1, 2}, {4, 5, 6, -5}, {}, {7}, {0, 1, 2, 3},
    };
    for (const std::vector<std::int32_t>& face : faces)
        append_face(input, face);
    StageFiles files(input);
    files.run.face_count = 5;
    files.run.read_pos = files.run.vertex_start + 19 * 8;

    write_face_pass(files.run, IndexPass::First);
    EXPECT_EQ(files.run.read_pos, 1 + 19 * 8 + 13 + 17 + 1 + 5 + 17);
    files.run.read_pos = files.run.face_start;
    write_face_pass(files.run, IndexPass::Second);

    const std::string lines = " 0 ,  1 ,  2 , -1,\r\n"
                              " 4 ,  5 ,  6 , -5 , -1,\r\n"
                              "-1,\r\n"
                              " 7 , -1,\r\n"
                              " 0 ,  1 ,  2 ,  3 , -1,\r\n";
    EXPECT_EQ(files.wrl_text(), lines + lines);
    EXPECT_EQ(files.iv_text(), lines + lines);

    const std::string stl = files.stl_bytes();
    ASSERT_EQ(stl.size(), 84u + 5 * 50);
    EXPECT_EQ(int_at(stl, 80), 5);
    EXPECT_EQ(corners_of(stl, 0), corners({0, 1, 2}));
    // The fourth index of a face stands in its lines only.
    EXPECT_EQ(corners_of(stl, 1), corners({4, 5, 6}));
    // A face without indices gives a facet of zeros; one index repeats its corner.
    EXPECT_EQ(facet_floats(stl, 2), std::vector<float>(12, 0.f));
    EXPECT_EQ(corners_of(stl, 3), corners({7, 7, 7}));
    EXPECT_EQ(corners_of(stl, 4), corners({0, 1, 2}));
    EXPECT_EQ(std::string(stl.data() + 84 + 48, 2), std::string(2, '\0'));
}

TEST(FacePass, VertexNumbersCarryOverFromFaceToFace) {
    std::string input = face_vertices(8);
    append_face(input, {0, 1, 2});
    append_face(input, {5, 6});
    StageFiles files(input);
    files.run.face_count = 2;
    files.run.read_pos = 1 + 19 * 8;

    write_face_pass(files.run, IndexPass::First);

    EXPECT_EQ(files.run.vertex_a, 6);
    EXPECT_EQ(files.run.vertex_b, 7);
    EXPECT_EQ(files.run.vertex_c, 3);
    // The facet of the two-index face repeats its last corner.
    EXPECT_EQ(corners_of(files.stl_bytes(), 1), corners({5, 6, 6}));
}

TEST(FacePass, MissingFacesReadAsEmptyFaces) {
    std::string input = face_vertices(3);
    append_face(input, {0, 1, 2});
    StageFiles files(input);
    files.run.face_count = 3;
    files.run.read_pos = 1 + 19 * 3;

    write_face_pass(files.run, IndexPass::First);

    EXPECT_EQ(files.wrl_text(), " 0 ,  1 ,  2 , -1,\r\n-1,\r\n-1,\r\n");
    const std::string stl = files.stl_bytes();
    ASSERT_EQ(stl.size(), 84u + 3 * 50);
    EXPECT_EQ(facet_floats(stl, 2), std::vector<float>(12, 0.f));
}

TEST(FacePass, StlCountIsTheNumberOfFacetsWritten) {
    // A negative face count gives no face, and the count must say so.
    struct Case {
        const char* name;
        std::string header;
        std::size_t facets;
    };
    const Case cases[] = {
        {"negative face count",
         face_header(3, 0).replace(face_header(3, 0).find("face 0"), 6, "face -1"), 0},
        {"face count as given", face_header(3, 1), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempWorkingFolder folder;
        std::string input = c.header;
        for (const TestVertex& v : example_vertices())
            append_face_vertex(input, v);
        append_face(input, {0, 1, 2});
        folder.write_file("in.ply", input);

        convert("in.ply\nout\n\n");

        const std::string stl = folder.read_file("out.stl");
        ASSERT_EQ(stl.size(), 84 + 50 * c.facets);
        EXPECT_EQ(int_at(stl, 80), static_cast<std::int32_t>(c.facets));
    }
}
