// The built program under what its parent and the system impose: a file-size limit, signals
// ignored from the start, and limits that leave no thread for it.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>

#include <string>
#include <vector>

#include "tests/e2e/e2e_support.h"
#include "tests/e2e/examples.h"
#include "tests/mesh_builder.h"
#include "tests/run_transcript.h"

namespace {

// The example's three vertices and its face 0 1 2 repeated face_count times: the STL file
// (50 bytes a face) then outgrows both temporary files (twice " 0 ,  1 ,  2 , -1," and CR LF,
// 40 bytes a face).
std::string repeated_face_file(int face_count) {
    return face_file(example_vertices(), std::vector<std::vector<std::int32_t>>(
                                             static_cast<std::size_t>(face_count), {0, 1, 2}));
}

// The program's folder after a whole conversion of repeated_face_file(face_count).
FileBytes repeated_face_converted(const std::string& input, int face_count) {
    SceneLists lists = example_lists();
    lists.index_lines.assign(static_cast<std::size_t>(face_count), "0, 1, 2, -1,");
    const StlFacet facet = {0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0};
    return {{"in.ply", input},
            {"out.wrl", final_wrl(lists)},
            {"out.iv", final_iv(lists)},
            {"out.stl",
             stl_file_bytes(face_count,
                            std::vector<StlFacet>(static_cast<std::size_t>(face_count), facet))}};
}

// Every file's bytes compared; a difference is told by its file, the sizes and the first
// offset that differs, since a printed diff of half a megabyte would swamp the report.
void expect_same_files(const FileBytes& actual, const FileBytes& expected) {
    std::vector<std::string> actual_names, expected_names;
    for (const auto& file : actual)
        actual_names.push_back(file.first);
    for (const auto& file : expected)
        expected_names.push_back(file.first);
    ASSERT_EQ(actual_names, expected_names);
    for (const auto& file : expected) {
        const std::string& bytes = actual.at(file.first);
        if (bytes == file.second)
            continue;
        std::size_t offset = 0;
        while (offset < bytes.size() && offset < file.second.size() &&
               bytes[offset] == file.second[offset])
            ++offset;
        ADD_FAILURE() << file.first << ": " << bytes.size() << " bytes where " << file.second.size()
                      << " were expected, the first difference at offset " << offset;
    }
}

std::string box(int code, int step, const std::string& message) {
    return "Unhandled Error #" + std::to_string(code) + "\nLine:" + std::to_string(step) + "\n" +
           message + "\nContinue?\n";
}

} // namespace

TEST(FileSizeLimit, EveryByteUpToTheLimitReachesTheStlAndTheRunGoesOn) {
    // Only the STL file outgrows the limit. Its write that crosses the limit fails with EFBIG
    // (75); the final count at 620 and the close at 621 try the bytes left again and fail the
    // same way, and the run goes on to its end.
    struct Case {
        const char* name;
        int face_count;
        unsigned long long limit;
    };
    const Case cases[] = {
        // 600,084 bytes, the temporary files about 480,700: the background writer's second
        // buffer (from 262,144 to 524,288) stops short at the limit.
        {"a buffer of the background writer stops short", 12000, 500000},
        // 300,084 bytes, the temporary files about 240,700: the run's own write of the bytes
        // after the first buffer starts exactly at the limit.
        {"the run's own write starts at the limit", 6000, 262144},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramFolder folder;
        const std::string input = repeated_face_file(c.face_count);
        folder.write_file("in.ply", input);
        ProcessOptions options;
        options.feed = {{"", 0, "in.ply\nout\n"}};
        options.endless_keys = "y";
        options.limits = {{RLIMIT_FSIZE, c.limit}};

        ProcessResult run = run_in_pipe(folder, options);

        EXPECT_EQ(run.exit_code, 0);
        EXPECT_EQ(run.errors, "");
        EXPECT_EQ(run.output, standard_dialogue() + " NO tristrips found!\n" +
                                  box(75, 620, "Path/File access error") +
                                  box(75, 621, "Path/File access error") +
                                  "Press any key to continue\n");
        FileBytes expected = repeated_face_converted(input, c.face_count);
        ASSERT_GT(expected["out.stl"].size(), c.limit);
        expected["out.stl"].resize(c.limit);
        expect_same_files(folder.files_beside_the_program(), expected);
    }
}

TEST(InheritedSignals, AnIgnoredEndSignalStaysIgnored) {
    // Each signal is sent while the overflow box waits. An ignored one is gone when kill()
    // returns, so the answer Yes then goes on to a whole conversion. One that is caught ends the
    // run in the box: there it meets only keys that answer nothing, so the step at which the
    // end request is seen does not depend on when the signal arrives.
    const std::string input = overflowing_example_file();
    const std::string overflow_box = box(6, 159, "Overflow");
    const FileBytes converted = example_converted("in.ply", input);
    const FileBytes ended = {
        {"in.ply", input}, {"TEMP1.TMP", ""}, {"TEMP2.TMP", ""}, {"out.stl", stl_head()}};
    const std::string whole_run =
        standard_dialogue() + overflow_box + " NO tristrips found!\nPress any key to continue\n";
    struct Case {
        const char* name;
        std::vector<int> ignored;
        int sent;
        bool stays_ignored;
    };
    const Case cases[] = {
        {"SIGHUP, as under nohup", {SIGHUP}, SIGHUP, true},
        {"SIGINT, as for a command a script starts with &", {SIGINT}, SIGINT, true},
        {"SIGTERM", {SIGTERM}, SIGTERM, true},
        {"all three", {SIGHUP, SIGINT, SIGTERM}, SIGHUP, true},
        // Only what was ignored stays so: another end signal still ends the run, files closed.
        {"SIGHUP ignored, SIGTERM sent", {SIGHUP}, SIGTERM, false},
        {"nothing ignored, SIGHUP sent", {}, SIGHUP, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProgramFolder folder;
        folder.write_file("in.ply", input);
        ProcessOptions options;
        options.ignored_signals = c.ignored;
        if (c.stays_ignored) {
            options.feed = {{"", 0, "in.ply\nout\n"}, {"Continue?\n", c.sent, "y\n"}};
        } else {
            options.feed = {{"", 0, "in.ply\nout\n"}, {"Continue?\n", c.sent, ""}};
            options.endless_keys = "x";
        }

        ProcessResult run = run_in_pipe(folder, options);

        EXPECT_EQ(run.exit_code, 0);
        EXPECT_EQ(run.errors, "");
        EXPECT_EQ(run.output, c.stays_ignored ? whole_run : standard_dialogue() + overflow_box);
        expect_same_files(folder.files_beside_the_program(), c.stays_ignored ? converted : ended);
    }
}
