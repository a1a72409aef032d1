// The built program fed more keys than it takes, in pipe mode: keys that never end while a big
// mesh converts, a long answer without a line feed, and the end signals while the keys wait.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"
#include "tests/e2e/examples.h"
#include "tests/mesh_builder.h"
#include "tests/run_transcript.h"

namespace {

// A run fed keys without end holds at most a full key queue more than a calm run of the same
// build: a few KiB. The allowance is for what the allocator and the threads' stacks vary by.
constexpr long memory_allowance_kib = 4 * 1024;

// A flat grid of width x height cells in the face layout, every vertex magenta. Vertex (i, j) is
// number j(width + 1) + i at (i, j, 0); cell (i, j), row by row, gives the faces (a, b, c) and
// (a, c, d) of its corners a = (i, j), b = (i + 1, j), c = (i + 1, j + 1), d = (i, j + 1).
struct Grid {
    int width;
    int height;
};

int vertex_number(const Grid& grid, int i, int j) {
    return j * (grid.width + 1) + i;
}

std::string grid_file(const Grid& grid) {
    const std::size_t vertex_count = std::size_t(grid.width + 1) * std::size_t(grid.height + 1);
    const std::size_t face_count = 2 * std::size_t(grid.width) * std::size_t(grid.height);
    std::string bytes = face_header(vertex_count, face_count);
    for (int j = 0; j <= grid.height; ++j)
        for (int i = 0; i <= grid.width; ++i)
            append_face_vertex(bytes, {float(i), float(j), 0, 255, 0, 255});
    for (int j = 0; j < grid.height; ++j) {
        for (int i = 0; i < grid.width; ++i) {
            const int a = vertex_number(grid, i, j), b = vertex_number(grid, i + 1, j),
                      c = vertex_number(grid, i + 1, j + 1), d = vertex_number(grid, i, j + 1);
            append_face(bytes, {a, b, c});
            append_face(bytes, {a, c, d});
        }
    }
    return bytes;
}

SceneLists grid_lists(const Grid& grid) {
    SceneLists lists;
    for (int j = 0; j <= grid.height; ++j) {
        for (int i = 0; i <= grid.width; ++i) {
            lists.points.push_back(std::to_string(i) + ".00000 " + std::to_string(j) +
                                   ".00000 0.00000,");
            lists.colours.push_back("1.000 0.000 1.000,");
        }
    }
    for (int j = 0; j < grid.height; ++j) {
        for (int i = 0; i < grid.width; ++i) {
            const std::string a = std::to_string(vertex_number(grid, i, j));
            const std::string b = std::to_string(vertex_number(grid, i + 1, j));
            const std::string c = std::to_string(vertex_number(grid, i + 1, j + 1));
            const std::string d = std::to_string(vertex_number(grid, i, j + 1));
            lists.index_lines.push_back(a + ", " + b + ", " + c + ", -1,");
            lists.index_lines.push_back(a + ", " + c + ", " + d + ", -1,");
        }
    }
    return lists;
}

// Normals (A - C) x (B - C) with z = 0 everywhere: for (a, b, c) U = (-1, -1, 0) and
// W = (0, -1, 0), so (-1 * 0 - -1 * 0, 0 * 0 - -1 * 0, -1 * -1 - -1 * 0) = (+0, +0, 1); for
// (a, c, d) U = (0, -1, 0) and W = (1, 0, 0), so (-1 * 0 - 0 * 0, 0 * 1 - 0 * 0, 0 * 0 - -1 * 1)
// = (-0, +0, 1).
std::string grid_stl(const Grid& grid) {
    std::vector<StlFacet> facets;
    for (int j = 0; j < grid.height; ++j) {
        for (int i = 0; i < grid.width; ++i) {
            const float x = float(i), y = float(j);
            facets.push_back({0.0f, 0.0f, 1, x, y, 0, x + 1, y, 0, x + 1, y + 1, 0});
            facets.push_back({-0.0f, 0.0f, 1, x, y, 0, x + 1, y + 1, 0, x, y + 1, 0});
        }
    }
    return stl_file_bytes(static_cast<std::int32_t>(facets.size()), facets);
}

// The program's folder after a whole conversion of the grid from in.ply into out.
FileBytes grid_converted(const Grid& grid, const std::string& input) {
    const SceneLists lists = grid_lists(grid);
    return {{"in.ply", input},
            {"out.wrl", final_wrl(lists)},
            {"out.iv", final_iv(lists)},
            {"out.stl", grid_stl(grid)}};
}

void expect_clean_exit(const ProgramFolder& folder, const ProcessResult& run) {
    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(names_in_folder(folder.elsewhere_folder()), std::set<std::string>{});
}

// A child's peak counts this process's own resident memory at the fork, so the tests that
// compare peaks hold no big buffer while a child runs: inputs and keys go to files first.
void write_grid(const ProgramFolder& folder, const Grid& grid) {
    folder.write_file("in.ply", grid_file(grid));
}

void expect_peak_memory_near(const ProcessResult& hostile, const ProcessResult& calm) {
    // The sanitizers' own bookkeeping varies by more than the allowance.
    if (built_with_sanitizers)
        return;
    EXPECT_LE(hostile.peak_memory_kib, calm.peak_memory_kib + memory_allowance_kib)
        << "a calm run peaks at " << calm.peak_memory_kib << " KiB";
}

// Keys of many megabytes: head, then unit count times, then tail, written a block at a time.
struct KeyFile {
    std::string head;
    std::string unit;
    std::size_t count;
    std::string tail;
};

void write_key_file(const std::string& path, const KeyFile& keys) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << keys.head;
    const std::size_t units_per_block = 4096;
    const std::string block = repeated_text(keys.unit, units_per_block);
    std::size_t left = keys.count;
    for (; left >= units_per_block; left -= units_per_block)
        file << block;
    file << repeated_text(keys.unit, left) << keys.tail;
}

// A file cut short anywhere: empty, part of its first line, or more.
void expect_start_of(const std::string& file, const std::string& first_line) {
    const std::size_t size = std::min(file.size(), first_line.size());
    EXPECT_EQ(file.substr(0, size), first_line.substr(0, size));
}

// plyconv < path, started from elsewhere/: a file as its stdin, pipe mode.
ProcessResult run_with_key_file(const ProgramFolder& folder, const std::string& path) {
    return run_process(
        {"sh", "-c", "exec \"$0\" < \"$1\"", folder.program_folder() + "/plyconv", path},
        folder.elsewhere_folder(), ProcessOptions{});
}

} // namespace

TEST(EndlessKeys, KeysThatNeverEndLeaveTheConversionWhole) {
    // (printf 'in.ply\nout\n'; exec yes y) | plyconv: the keys come far faster than the run
    // takes them, and it takes none while it converts (a few hundred ms for this grid).
    const Grid grid = {500, 500};
    ProgramFolder folder;
    write_grid(folder, grid);
    ProcessOptions options;
    options.feed = {{"", 0, "in.ply\nout\n"}};
    // As yes(1) writes them: 8 KiB at a time.
    options.endless_keys = repeated_text("y\n", 4096);
    ProgramFolder calm_folder;
    write_grid(calm_folder, grid);

    ProcessResult run = run_in_pipe(folder, options);
    ProcessResult calm = run_in_pipe(calm_folder, "in.ply\nout\n\n");

    expect_clean_exit(folder, run);
    // The first y after the prompt ends the run.
    EXPECT_EQ(run.output, standard_dialogue() + " NO tristrips found!\n"
                                                "Press any key to continue\n");
    expect_peak_memory_near(run, calm);
    expect_same_files(folder.files_beside_the_program(), grid_converted(grid, grid_file(grid)));
}

TEST(EndlessKeys, LongAnswerWithoutALineFeed) {
    // Four million keys before the first Enter, each taken in its turn: none may be lost, and
    // none held beyond the few the run has not reached yet.
    const std::size_t pair_count = 2'000'000;
    const std::string input = example_face_file();
    struct Case {
        const char* name;
        KeyFile keys;
        std::string transcript;
        FileBytes files;
    };
    const Case cases[] = {
        // Each x is typed and taken back: one lost key changes the answer. The end of the keys
        // then ends the final wait.
        {"typed and taken back, then the answers",
         {"in.ply", "x\b", pair_count, "\nout\n"},
         standard_dialogue() + " NO tristrips found!\nPress any key to continue\n",
         example_converted("in.ply", input)},
        // The answer keeps its first 255 characters, and the rows it fills end as it runs on:
        // "? " and 78 characters, then 80 and 80. The end of the keys ends the run there.
        {"never ended",
         {"", "aa", pair_count, ""},
         lines_of(banner_rows) + "? " + std::string(78, 'a') + "\n" + std::string(80, 'a') + "\n" +
             std::string(80, 'a') + "\n",
         {{"in.ply", input}}},
    };
    ProgramFolder calm_folder;
    calm_folder.write_file("in.ply", input);
    ProcessResult calm = run_in_pipe(calm_folder, "in.ply\nout\n\n");
    ASSERT_EQ(calm.exit_code, 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramFolder folder;
        folder.write_file("in.ply", input);
        // pane/ has no use in pipe mode: the keys stay out of the folders the run may touch.
        const std::string key_path = folder.pane_folder() + "/keys";
        write_key_file(key_path, c.keys);

        ProcessResult run = run_with_key_file(folder, key_path);

        expect_clean_exit(folder, run);
        EXPECT_EQ(run.output, c.transcript);
        EXPECT_EQ(folder.files_beside_the_program(), c.files);
        expect_peak_memory_near(run, calm);
    }
}

TEST(EndlessKeys, EndSignalsEndTheRunWhileKeysWait) {
    // The keys fill the queue as soon as the answers are taken, so the reader is waiting for
    // room when the signal comes during the conversion: the run must still end at the next
    // step, with its files closed as they stand and nothing deleted.
    const Grid grid = {500, 500};
    const std::string input = grid_file(grid);
    const std::string stl = grid_stl(grid);
    struct Case {
        const char* name;
        int signal;
    };
    const Case cases[] = {{"Ctrl+C", SIGINT}, {"terminal gone", SIGHUP}, {"SIGTERM", SIGTERM}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramFolder folder;
        folder.write_file("in.ply", input);
        ProcessOptions options;
        // 64 KiB of keys, more than the queue and the pipe hold together, then keys without
        // end, so that stdin never ends by itself.
        options.feed = {{"", 0, "in.ply\nout\n" + repeated_text("y\n", 32 * 1024)},
                        {" NO tristrips found!\n", c.signal, ""}};
        options.endless_keys = "y\n";

        ProcessResult run = run_in_pipe(folder, options);

        expect_clean_exit(folder, run);
        EXPECT_EQ(run.output, standard_dialogue() + " NO tristrips found!\n");
        EXPECT_EQ(
            names_in_folder(folder.program_folder()),
            (std::set<std::string>{"in.ply", "TEMP1.TMP", "TEMP2.TMP", "out.stl", "plyconv"}));
        EXPECT_TRUE(folder.read_file("in.ply") == input);
        // The signal may come before the first line of the texts is written, or after.
        expect_start_of(folder.read_file("TEMP1.TMP"), "#VRML V2.0 utf8");
        expect_start_of(folder.read_file("TEMP2.TMP"), "#Inventor V2.1 ascii");
        // The head is written before the scan, the facets from offset 84 on, the count at 80
        // only at the end.
        const std::string written = folder.read_file("out.stl");
        ASSERT_GE(written.size(), 80u);
        EXPECT_EQ(written.substr(0, 80), stl_head());
        if (written.size() > 84) {
            EXPECT_TRUE(written.substr(84) == stl.substr(84, written.size() - 84));
        }
    }
}
