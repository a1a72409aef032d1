// The worked example and the final files a conversion makes: the fixed lines of the .wrl and the
// .iv around the lists of a mesh, and the STL head, count and facets. Whole runs in this process
// and whole-process tests compare against the same texts.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/mesh_builder.h"

// The lists of one mesh as they stand in both final text files.
struct SceneLists {
    std::vector<std::string> points;      // one coordinate line per vertex, "0 0 0" not included
    std::vector<std::string> colours;     // one colour line per vertex
    std::vector<std::string> index_lines; // one line per face or triangle
};

inline void append_lines(std::vector<std::string>& lines, const std::vector<std::string>& more) {
    lines.insert(lines.end(), more.begin(), more.end());
}

inline std::string final_wrl(const SceneLists& lists) {
    std::vector<std::string> lines = {
        "#VRML V2.0 utf8",
        "# Convert BINARY .ply to .wrl (vrml) . by Morvantellis . morvantellis.example",
        "",
        "Shape {",
        "geometry IndexedFaceSet {",
        "solid FALSE",
        "coord Coordinate {",
        "point [",
    };
    append_lines(lines, lists.points);
    append_lines(lines, {"0 0 0", "]", "}", "colorPerVertex TRUE", "color Color {", "color ["});
    append_lines(lines, lists.colours);
    append_lines(lines, {"]", "}", "solid FALSE", "creaseAngle 0.5", "coordIndex ["});
    append_lines(lines, lists.index_lines);
    append_lines(lines, {"]", "colorIndex ["});
    append_lines(lines, lists.index_lines);
    append_lines(lines, {"]", "}", "}"});
    return crlf_text(lines);
}

inline std::string final_iv(const SceneLists& lists) {
    std::vector<std::string> lines = {
        "#Inventor V2.1 ascii",
        "# Convert BINARY .ply to .iv (Inventor) by Morvantellis morvantellis.example",
        "",
        "Separator {",
        "LightModel { model PHONG }",
        "ShapeHints { creaseAngle 0.5 }",
        "Coordinate3 {",
        "point [",
    };
    append_lines(lines, lists.points);
    append_lines(lines,
                 {"0 0 0", "]", "}", "Material {", "ambientColor 0.1 0.1 0.1", "diffuseColor ["});
    append_lines(lines, lists.colours);
    append_lines(lines, {"]", "}", "MaterialBinding { value PER_VERTEX_INDEXED }",
                         "IndexedFaceSet {", "coordIndex ["});
    append_lines(lines, lists.index_lines);
    append_lines(lines, {"]", "materialIndex ["});
    append_lines(lines, lists.index_lines);
    append_lines(lines, {"]", "}", "}"});
    return crlf_text(lines);
}

// 80 bytes: the head text, then blanks.
inline std::string stl_head() {
    std::string head =
        "Convert .ply > .stl (Stereolithography) by Morvantellis morvantellis.example";
    head.resize(80, ' ');
    return head;
}

// Normal x, y, z, then corners A, B and C.
using StlFacet = std::array<float, 12>;

// The head, the 32-bit count at offset 80, then 50 bytes per facet: twelve floats and two zero
// attribute bytes.
inline std::string stl_file_bytes(std::int32_t count, const std::vector<StlFacet>& facets) {
    std::string bytes = stl_head();
    bytes += int_bytes(count);
    for (const StlFacet& facet : facets) {
        for (float value : facet)
            bytes += float_bytes(value);
        bytes += std::string(2, '\0');
    }
    return bytes;
}

// The face file of the example: three vertices, red, green and blue, and the one face 0 1 2.
inline std::string example_face_file() {
    return face_file(example_vertices(), {{0, 1, 2}});
}

// The lists of both final files of the example.
inline SceneLists example_lists() {
    return {{"0.00000 0.00000 0.00000,", "1.00000 0.00000 0.00000,", "0.00000 1.00000 0.00000,"},
            {"1.000 0.000 0.000,", "0.000 1.000 0.000,", "0.000 0.000 1.000,"},
            {"0, 1, 2, -1,"}};
}

// (A - C) x (B - C) for A = (0, 0, 0), B = (1, 0, 0), C = (0, 1, 0) is (+0, +0, 1).
inline std::string example_stl() {
    return stl_file_bytes(1, {{0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0}});
}
