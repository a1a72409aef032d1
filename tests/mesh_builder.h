// Tiny PLY meshes built byte by byte inside the tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tests/byte_values.h"

struct TestVertex {
    float x, y, z;
    std::uint8_t red, green, blue;
};

// A header of the face layout: counts and properties as a PLY reader expects them.
inline std::string face_header(std::size_t vertex_count, std::size_t face_count) {
    return "ply\nformat binary_little_endian 1.0\nelement vertex " + std::to_string(vertex_count) +
           "\nproperty float x\nproperty float y\nproperty float z\nproperty float intensity\n"
           "property uchar red\nproperty uchar green\nproperty uchar blue\nelement face " +
           std::to_string(face_count) + "\nproperty list uchar int vertex_indices\nend_header\n";
}

inline std::string strip_header(std::size_t vertex_count) {
    return "ply\nformat binary_little_endian 1.0\nelement vertex " + std::to_string(vertex_count) +
           "\nproperty float x\nproperty float y\nproperty float z\n"
           "property uchar red\nproperty uchar green\nproperty uchar blue\n"
           "element tristrips 1\nproperty list int int vertex_indices\nend_header\n";
}

// 19 bytes: x, y, z, four skipped bytes, red, green, blue.
inline void append_face_vertex(std::string& bytes, const TestVertex& v, std::uint32_t skipped = 0) {
    bytes += float_bytes(v.x);
    bytes += float_bytes(v.y);
    bytes += float_bytes(v.z);
    bytes += int_bytes(static_cast<std::int32_t>(skipped));
    bytes += static_cast<char>(v.red);
    bytes += static_cast<char>(v.green);
    bytes += static_cast<char>(v.blue);
}

// 15 bytes: x, y, z, red, green, blue.
inline void append_strip_vertex(std::string& bytes, const TestVertex& v) {
    bytes += float_bytes(v.x);
    bytes += float_bytes(v.y);
    bytes += float_bytes(v.z);
    bytes += static_cast<char>(v.red);
    bytes += static_cast<char>(v.green);
    bytes += static_cast<char>(v.blue);
}

inline void append_face(std::string& bytes, const std::vector<std::int32_t>& indices) {
    bytes += static_cast<char>(indices.size());
    for (std::int32_t index : indices)
        bytes += int_bytes(index);
}

inline std::string face_file(const std::vector<TestVertex>& vertices,
                             const std::vector<std::vector<std::int32_t>>& faces) {
    std::string bytes = face_header(vertices.size(), faces.size());
    for (const TestVertex& v : vertices)
        append_face_vertex(bytes, v);
    for (const std::vector<std::int32_t>& face : faces)
        append_face(bytes, face);
    return bytes;
}

inline std::string strip_file(const std::vector<TestVertex>& vertices,
                              const std::vector<std::int32_t>& indices) {
    std::string bytes = strip_header(vertices.size());
    for (const TestVertex& v : vertices)
        append_strip_vertex(bytes, v);
    bytes += int_bytes(static_cast<std::int32_t>(indices.size()));
    for (std::int32_t index : indices)
        bytes += int_bytes(index);
    return bytes;
}

// The three vertices of the example: red, green and blue corners of a right triangle.
inline std::vector<TestVertex> example_vertices() {
    return {{0, 0, 0, 255, 0, 0}, {1, 0, 0, 0, 255, 0}, {0, 1, 0, 0, 0, 255}};
}

// The lines of a text file as written: each followed by CR LF.
inline std::string crlf_text(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line + "\r\n";
    return text;
}

// Splits text at CR LF; a text that ends with CR LF gives no empty last line.
inline std::vector<std::string> crlf_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

// The twelve floats of facet k (from 0) of an STL file's bytes: normal, A, B, C.
inline std::vector<float> facet_floats(const std::string& stl, std::size_t k) {
    std::vector<float> values(12);
    std::memcpy(values.data(), stl.data() + 84 + 50 * k, 48);
    return values;
}
