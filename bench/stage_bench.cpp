// stage_bench: the hot stages alone, on a face file of a grid of 400 x 400 cells (160,801
// vertices, 320,000 triangles) from a fixed seed, written once to a temporary folder: the two
// vertex passes, the two face passes with their STL facets, and the clean-up pass of one
// temporary text (26 MB, more than the caches hold).
//
// Before anything is timed, each stage's output is checked once against a plain rebuild: the
// lines by the snprintf formatting of tests/number_format_reference.h, the facet corners by the
// vertices themselves, the clean-up by string searches. So a fast wrong answer cannot pass.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "converter/run_state.h"
#include "converter/stages.h"
#include "platform/file_layer/file_access.h"
#include "tests/number_format_reference.h"
#include "tests/temp_folder.h"

namespace {

constexpr int grid_width = 400;
constexpr int grid_height = 400;
constexpr int vertex_count = (grid_width + 1) * (grid_height + 1);
constexpr int face_count = 2 * grid_width * grid_height;

struct Vertex {
    float x, y, z;
    std::uint8_t red, green, blue;
};

struct Mesh {
    std::vector<Vertex> vertices;
    std::vector<std::int32_t> corners; // three per face
};

// Vertex (i, j) has the index j * (width + 1) + i and moves off the grid by multiples of 1/32.
Mesh make_mesh() {
    std::mt19937 generator(20240601);
    std::uniform_int_distribution<int> step(-16, 16);
    std::uniform_int_distribution<int> byte(0, 255);
    Mesh mesh;
    for (int j = 0; j <= grid_height; ++j)
        for (int i = 0; i <= grid_width; ++i) {
            Vertex v;
            v.x = static_cast<float>(i) + static_cast<float>(step(generator)) / 32;
            v.y = static_cast<float>(j) + static_cast<float>(step(generator)) / 32;
            v.z = static_cast<float>(step(generator)) / 32;
            v.red = static_cast<std::uint8_t>(byte(generator));
            v.green = static_cast<std::uint8_t>(byte(generator));
            v.blue = static_cast<std::uint8_t>(byte(generator));
            mesh.vertices.push_back(v);
        }
    for (int j = 0; j < grid_height; ++j)
        for (int i = 0; i < grid_width; ++i) {
            const std::int32_t a = j * (grid_width + 1) + i;
            const std::int32_t b = a + 1;
            const std::int32_t c = b + grid_width + 1;
            const std::int32_t d = a + grid_width + 1;
            mesh.corners.insert(mesh.corners.end(), {a, b, c, a, c, d});
        }
    return mesh;
}

void append_bytes(std::string& bytes, const void* data, std::size_t size) {
    bytes.append(static_cast<const char*>(data), size);
}

// The vertex records and the face records of a face file, without a header: the vertex
// records start at position 1.
std::string face_file_bytes(const Mesh& mesh) {
    std::string bytes;
    const std::uint32_t skipped = 0;
    for (const Vertex& v : mesh.vertices) {
        append_bytes(bytes, &v.x, 4);
        append_bytes(bytes, &v.y, 4);
        append_bytes(bytes, &v.z, 4);
        append_bytes(bytes, &skipped, 4);
        append_bytes(bytes, &v.red, 1);
        append_bytes(bytes, &v.green, 1);
        append_bytes(bytes, &v.blue, 1);
    }
    for (std::size_t k = 0; k < mesh.corners.size(); k += 3) {
        const std::uint8_t three = 3;
        append_bytes(bytes, &three, 1);
        append_bytes(bytes, &mesh.corners[k], 12);
    }
    return bytes;
}

const TempFolder& folder() {
    static const TempFolder made;
    return made;
}

const Mesh& mesh() {
    static const Mesh made = make_mesh();
    return made;
}

// A run state as the run has it after the header scan of the face file.
void open_stage_files(RunState& run) {
    open_byte_file(run.input_file, folder().name("in.ply"), EmptyFirst::No);
    open_text_writer(run.wrl_temp_file, folder().name("TEMP1.TMP"));
    open_text_writer(run.iv_temp_file, folder().name("TEMP2.TMP"));
    open_byte_file(run.stl_file, folder().name("out.stl"), EmptyFirst::Yes);
    run.read_pos = 1;
    run.vertex_start = 1;
    run.vertex_count = vertex_count;
    run.face_count = face_count;
    run.is_strip_file = 0;
    run.stl_pos = 81; // after the head
}

void run_vertex_passes(RunState& run) {
    write_coordinate_pass(run);
    write_colour_pass(run);
}

void run_face_passes(RunState& run) {
    run.read_pos = run.vertex_start + 19.0 * vertex_count;
    write_face_pass(run, IndexPass::First);
    run.read_pos = run.face_start;
    write_face_pass(run, IndexPass::Second);
}

void stop(const char* what) {
    std::fprintf(stderr, "stage_bench: %s differs from its reference\n", what);
    std::exit(1);
}

std::string reference_vertex_text() {
    std::string text;
    for (const Vertex& v : mesh().vertices) {
        append_reference_coordinate_field(v.x, text);
        text += ' ';
        append_reference_coordinate_field(v.y, text);
        text += ' ';
        append_reference_coordinate_field(v.z, text);
        text += ",\r\n";
    }
    for (const Vertex& v : mesh().vertices) {
        for (std::uint8_t byte : {v.red, v.green, v.blue}) {
            append_reference_colour_field(static_cast<float>(static_cast<long double>(byte) / 255),
                                          text);
            text += ' ';
        }
        text.back() = ',';
        text += "\r\n";
    }
    return text;
}

std::string reference_face_lines() {
    std::string lines;
    const std::vector<std::int32_t>& corners = mesh().corners;
    for (std::size_t k = 0; k < corners.size(); k += 3) {
        for (std::size_t c = k; c < k + 3; ++c) {
            append_reference_index_item(corners[c], lines);
            lines += ", ";
        }
        lines += "-1,\r\n";
    }
    return lines;
}

// Every facet: 50 bytes after the count at offset 80, its corners the vertices' coordinates
// and its two attribute bytes zero. The normal is the facet normal's own test's business.
bool facets_match(const std::string& stl) {
    const std::vector<std::int32_t>& corners = mesh().corners;
    if (stl.size() != 84 + 50 * static_cast<std::size_t>(face_count)) // 84 = head + count
        return false;
    for (std::size_t f = 0; f < static_cast<std::size_t>(face_count); ++f) {
        const char* facet = stl.data() + 84 + 50 * f;
        for (int corner = 0; corner < 3; ++corner) {
            const Vertex& v = mesh().vertices[corners[3 * f + corner]];
            const float xyz[3] = {v.x, v.y, v.z};
            if (std::memcmp(facet + 12 + 12 * corner, xyz, 12) != 0)
                return false;
        }
        if (facet[48] != 0 || facet[49] != 0)
            return false;
    }
    return true;
}

// The clean-up rules by plain string searches, line by line.
std::string reference_clean_up(const std::string& text) {
    std::string cleaned;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find("\r\n", start);
        std::string line = text.substr(start, end - start);
        start = end + 2;
        line.erase(0, line.find_first_not_of(' ') == std::string::npos
                          ? line.size()
                          : line.find_first_not_of(' '));
        line.erase(line.find_last_not_of(' ') + 1);
        for (std::size_t at; (at = line.find("  ")) != std::string::npos;)
            line.erase(at, 1);
        for (std::size_t at; (at = line.find(" ,")) != std::string::npos;)
            line.erase(at, 1);
        cleaned += line + "\r\n";
    }
    return cleaned;
}

// Writes the input file, runs every pass once and checks what each wrote.
void prepare_and_check() {
    make_file(folder().name("in.ply"), face_file_bytes(mesh()));
    RunState run;
    open_stage_files(run);
    run_vertex_passes(run);
    close_all_files();
    if (file_bytes(folder().name("TEMP1.TMP")) != reference_vertex_text())
        stop("the text of the vertex passes");

    RunState all;
    open_stage_files(all);
    run_vertex_passes(all);
    run_face_passes(all);
    close_all_files();
    const std::string face_lines = reference_face_lines();
    const std::string temporary_text = reference_vertex_text() + face_lines + face_lines;
    if (file_bytes(folder().name("TEMP1.TMP")) != temporary_text ||
        file_bytes(folder().name("TEMP2.TMP")) != temporary_text)
        stop("the text of the face passes");
    if (!facets_match(file_bytes(folder().name("out.stl"))))
        stop("the STL file of the first face pass");

    RunState cleaning;
    clean_up_text_file(cleaning, folder().name("TEMP1.TMP"), folder().name("out.wrl"),
                       wrl_clean_up_steps);
    if (file_bytes(folder().name("out.wrl")) != reference_clean_up(temporary_text))
        stop("the text of the clean-up pass");
}

void count(benchmark::State& state, const char* what, double per_iteration,
           std::int64_t bytes_per_iteration) {
    state.counters[what] =
        benchmark::Counter(per_iteration, benchmark::Counter::kIsIterationInvariantRate);
    state.SetBytesProcessed(state.iterations() * bytes_per_iteration);
}

std::int64_t file_bytes(const char* name) {
    return static_cast<std::int64_t>(std::filesystem::file_size(folder().name(name)));
}

// Both vertex passes into both temporary texts, with the opens and the closes that flush them.
void time_vertex_passes(benchmark::State& state) {
    for (auto _ : state) {
        RunState run;
        open_stage_files(run);
        run_vertex_passes(run);
        close_all_files();
    }
    count(state, "vertices_per_second", vertex_count,
          file_bytes("TEMP1.TMP") + file_bytes("TEMP2.TMP"));
}

// Both face passes: the index lines into both texts and the STL facets. The vertex passes run
// outside the timed part, so each round writes where a run would.
void time_face_passes(benchmark::State& state) {
    std::int64_t bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        RunState run;
        open_stage_files(run);
        run_vertex_passes(run);
        const std::int64_t before =
            static_cast<std::int64_t>(run.wrl_temp_file.position + run.iv_temp_file.position);
        state.ResumeTiming();
        run_face_passes(run);
        bytes = static_cast<std::int64_t>(run.wrl_temp_file.position + run.iv_temp_file.position) -
                before;
        close_all_files();
    }
    count(state, "faces_per_second", face_count, bytes + file_bytes("out.stl"));
}

// The clean-up pass of one temporary text of all passes into its final file.
void time_clean_up(benchmark::State& state) {
    {
        RunState run;
        open_stage_files(run);
        run_vertex_passes(run);
        run_face_passes(run);
        close_all_files();
    }
    for (auto _ : state) {
        RunState run;
        clean_up_text_file(run, folder().name("TEMP1.TMP"), folder().name("out.wrl"),
                           wrl_clean_up_steps);
    }
    count(state, "lines_per_second", 2.0 * vertex_count + 2.0 * face_count,
          file_bytes("TEMP1.TMP"));
}

} // namespace

int main(int argc, char** argv) {
    prepare_and_check();
    benchmark::RegisterBenchmark("vertex_passes", time_vertex_passes)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("face_passes", time_face_passes)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("clean_up", time_clean_up)->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
