// Every failure the run's steps can show, provoked through whole runs: the box of each, what Yes
// goes on to leave in the files, and what No closes them with.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "tests/example_files.h"
#include "tests/example_steps.h"
#include "tests/failure_box_lines.h"
#include "tests/fault_injection.h"
#include "tests/mesh_builder.h"
#include "tests/run_transcript.h"
#include "tests/test_support.h"

namespace {

std::vector<Box>& operator+=(std::vector<Box>& boxes, const std::vector<Box>& more) {
    boxes.insert(boxes.end(), more.begin(), more.end());
    return boxes;
}

std::vector<Box> operator+(std::vector<Box> boxes, const std::vector<Box>& more) {
    return boxes += more;
}

std::string padded(std::string text) {
    text.resize(80, ' ');
    return text;
}

// The raw opening lines of "TEMP1.TMP" (steps 192 to 199) and of "TEMP2.TMP" (203 to 211).
const std::string raw_wrl_head =
    "#VRML V2.0 utf8 \r\n# " +
    padded("Convert BINARY .ply to .wrl (vrml) . by Morvantellis . morvantellis.example") +
    "\r\n \r\nShape {\r\n  geometry IndexedFaceSet {\r\n    solid FALSE\r\n"
    "    coord Coordinate {\r\n      point [\r\n";
const std::string raw_iv_head =
    "#Inventor V2.1 ascii \r\n# " +
    padded("Convert BINARY .ply to .iv (Inventor) by Morvantellis  morvantellis.example") +
    "\r\n \r\nSeparator {\r\n   LightModel { model PHONG }\r\n"
    "   ShapeHints { creaseAngle 0.5 }\r\n   Coordinate3 {\r\n     point    [\r\n";

// The vertex lines of the example, raw: coordinates, then colours after the lines between.
const std::string raw_example_coordinates = "      0.00000       0.00000       0.00000,\r\n"
                                            "      1.00000       0.00000       0.00000,\r\n"
                                            "      0.00000       1.00000       0.00000,\r\n";
const std::string raw_example_colours =
    "1.000 0.000 0.000,\r\n0.000 1.000 0.000,\r\n0.000 0.000 1.000,\r\n";

// The raw "TEMP1.TMP" of the example up to its first index list, and the whole of it.
const std::string raw_example_wrl_to_index_list =
    raw_wrl_head + raw_example_coordinates +
    "0 0 0\r\n]\r\n}\r\ncolorPerVertex TRUE\r\ncolor Color {\r\ncolor [\r\n" + raw_example_colours +
    "]\r\n}\r\nsolid FALSE\r\ncreaseAngle 0.5\r\ncoordIndex [\r\n";
const std::string raw_example_wrl =
    raw_example_wrl_to_index_list +
    " 0 ,  1 ,  2 , -1,\r\n]\r\ncolorIndex [\r\n 0 ,  1 ,  2 , -1,\r\n]\r\n}\r\n}\r\n";

// The whole raw "TEMP2.TMP" of the example.
const std::string raw_example_iv =
    raw_iv_head + raw_example_coordinates +
    "0 0 0\r\n]\r\n}\r\nMaterial {\r\nambientColor 0.1 0.1 0.1\r\ndiffuseColor [\r\n" +
    raw_example_colours +
    "]\r\n}\r\nMaterialBinding { value PER_VERTEX_INDEXED }\r\n  IndexedFaceSet {\r\n"
    "  coordIndex [\r\n 0 ,  1 ,  2 , -1,\r\n]\r\nmaterialIndex [\r\n 0 ,  1 ,  2 , -1,\r\n]\r\n"
    "}\r\n}\r\n";

FaultPlan no_fault() {
    FaultPlan plan;
    plan.fail_at = 0; // the guard only counts
    return plan;
}

enum class LastAnswer { Yes, No };

enum class Holds {
    Nothing,      // no such file
    Folder,       // the folder the case made stays
    Bytes,        // exactly these bytes
    Reference,    // what a run of the same input without a fault leaves under this name
    ReferenceBut, // the same with the first in_place_of replaced by bytes
};

struct FileCheck {
    const char* name;
    Holds holds;
    std::string bytes = {};
    std::string in_place_of = {};
};

// What a run of input with the answers in.ply and out leaves, without faults.
std::map<std::string, std::string> reference_files(const std::string& input) {
    TempWorkingFolder folder;
    folder.write_file("in.ply", input);
    const ScriptedRun result = convert("in.ply\nout\n\n");
    EXPECT_EQ(boxes_in(result.transcript), "");
    return {{"out.wrl", folder.read_file("out.wrl")},
            {"out.iv", folder.read_file("out.iv")},
            {"out.stl", folder.read_file("out.stl")}};
}

bool is_folder(const TempWorkingFolder& folder, const std::string& name) {
    struct stat info;
    return ::stat((folder.path() + "/" + name).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void make_folder(const TempWorkingFolder& folder, const std::string& name) {
    ASSERT_EQ(::mkdir((folder.path() + "/" + name).c_str(), 0755), 0) << name;
}

void expect_files(const TempWorkingFolder& folder, const std::vector<FileCheck>& checks,
                  const std::map<std::string, std::string>& reference) {
    for (const FileCheck& check : checks) {
        SCOPED_TRACE(check.name);
        switch (check.holds) {
        case Holds::Nothing:
            EXPECT_FALSE(folder.file_exists(check.name));
            break;
        case Holds::Folder:
            EXPECT_TRUE(is_folder(folder, check.name));
            break;
        case Holds::Bytes:
            EXPECT_TRUE(folder.file_exists(check.name));
            EXPECT_EQ(folder.read_file(check.name), check.bytes);
            break;
        case Holds::Reference:
            EXPECT_EQ(folder.read_file(check.name), reference.at(check.name));
            break;
        case Holds::ReferenceBut: {
            std::string expected = reference.at(check.name);
            const std::size_t at = expected.find(check.in_place_of);
            ASSERT_NE(at, std::string::npos);
            expected.replace(at, check.in_place_of.size(), check.bytes);
            EXPECT_EQ(folder.read_file(check.name), expected);
            break;
        }
        }
    }
}

std::string keys_for(const std::string& first_answer, const std::string& second_answer,
                     std::size_t box_count, LastAnswer last) {
    std::string keys = first_answer + "\n" + second_answer + "\n";
    for (std::size_t i = 0; i + (last == LastAnswer::No ? 1 : 0) < box_count; ++i)
        keys += "y\n";
    if (last == LastAnswer::No)
        keys += "n\n";
    return keys + "\n"; // the key after "Press any key to continue"
}

struct Case {
    const char* name;
    std::string input;                                   // in.ply, unless prepare makes it
    void (*prepare)(const TempWorkingFolder&) = nullptr; // folders in the way of a name
    std::string first_answer = "in.ply";
    std::string second_answer = "out";
    FaultPlan fault = no_fault();
    std::vector<Box> boxes; // every box answered Yes, but the last one as last says
    LastAnswer last = LastAnswer::Yes;
    std::vector<FileCheck> files;
    const char* shown = nullptr; // a row the transcript shows as well
};

void run_case(const Case& c) {
    SCOPED_TRACE(c.name);
    bool needs_reference = false;
    for (const FileCheck& check : c.files)
        needs_reference = needs_reference || check.holds == Holds::Reference ||
                          check.holds == Holds::ReferenceBut;
    const std::map<std::string, std::string> reference =
        needs_reference ? reference_files(c.input) : std::map<std::string, std::string>();
    TempWorkingFolder folder;
    if (c.prepare != nullptr)
        c.prepare(folder);
    else
        folder.write_file("in.ply", c.input);

    ScriptedRun result;
    {
        FaultGuard guard(c.fault);
        result = convert(keys_for(c.first_answer, c.second_answer, c.boxes.size(), c.last));
    }

    EXPECT_EQ(boxes_in(result.transcript), box_lines(c.boxes));
    const bool key_wait = result.transcript.find("Press any key to continue") != std::string::npos;
    if (c.last == LastAnswer::No) {
        EXPECT_EQ(result.end, RunEnd::AnswerNo);
        EXPECT_FALSE(key_wait);
        // No ends the run in the box's own step: nothing follows the box.
        const std::string box = box_lines({c.boxes.back()});
        EXPECT_EQ(result.transcript.substr(result.transcript.size() - box.size()), box);
    } else {
        EXPECT_EQ(result.end, RunEnd::KeyAfterPrompt);
        EXPECT_TRUE(key_wait);
    }
    if (c.shown != nullptr) {
        EXPECT_NE(result.transcript.find(std::string("\n") + c.shown + "\n"), std::string::npos)
            << result.transcript;
    }
    if (c.prepare == nullptr) {
        EXPECT_EQ(folder.read_file("in.ply"), c.input);
    }
    expect_files(folder, c.files, reference);
}

// What the early end after a failed input open leaves: the scan finds no byte.
const std::vector<FileCheck> early_end_files = {
    {"TEMP1.TMP", Holds::Bytes, ""},
    {"TEMP2.TMP", Holds::Bytes, ""},
    {"out.stl", Holds::Bytes, stl_head()},
    {"out.wrl", Holds::Nothing},
    {"out.iv", Holds::Nothing},
};

} // namespace

TEST(FailurePaths, OpensOfTheRunFailWithTheirCodes) {
    const std::string input = example_face_file();
    const Case cases[] = {
        {"99: the input name names a folder",
         input,
         [](const TempWorkingFolder& f) { make_folder(f, "in.ply"); },
         "in.ply",
         "out",
         no_fault(),
         // The input stays closed: the scan's first read fails, then its bound ends it.
         {{53, 99}, {52, 118}},
         LastAnswer::Yes,
         early_end_files,
         " end_header not found!"},
        {"99: the input's folder is missing",
         input,
         nullptr,
         "nowhere/in.ply",
         "out",
         no_fault(),
         {{76, 99}, {52, 118}},
         LastAnswer::Yes,
         {{"nowhere", Holds::Nothing},
          {"TEMP1.TMP", Holds::Bytes, ""},
          {"out.stl", Holds::Bytes, stl_head()}}},
        // All three attempts are refused: reading and writing, reading, writing.
        {"99: the input refused, then No",
         input,
         nullptr,
         "in.ply",
         "out",
         failing(SystemCall::Open, 1, EACCES, 3),
         {{70, 99}},
         LastAnswer::No,
         {{"TEMP1.TMP", Holds::Nothing}, {"out.stl", Holds::Nothing}}},
        {"99: the input's device unavailable",
         input,
         nullptr,
         "in.ply",
         "out",
         failing(SystemCall::Open, 1, ENXIO, 3),
         {{68, 99}, {52, 118}},
         LastAnswer::Yes,
         early_end_files},
        // Every write to the missing VRML text fails under its own step; the clean-up pass
        // finds no file and writes the 80 blanks of the line buffer as one empty line.
        {"100: TEMP1.TMP is a folder",
         input,
         [](const TempWorkingFolder& f) {
             f.write_file("in.ply", example_face_file());
             make_folder(f, "TEMP1.TMP");
         },
         "in.ply",
         "out",
         no_fault(),
         std::vector<Box>{{53, 100}} + boxes_of(52, example_wrl_write_steps()) +
             std::vector<Box>{{53, 623}, {52, 627}, {52, 648}, {53, 681}},
         LastAnswer::Yes,
         {{"TEMP1.TMP", Holds::Folder},
          {"TEMP2.TMP", Holds::Nothing},
          {"out.wrl", Holds::Bytes, "\r\n"},
          {"out.iv", Holds::Reference},
          {"out.stl", Holds::Reference}}},
        // The second clean-up call finds the line buffer holding the last line of the VRML text.
        {"101: TEMP2.TMP is a folder",
         input,
         [](const TempWorkingFolder& f) {
             f.write_file("in.ply", example_face_file());
             make_folder(f, "TEMP2.TMP");
         },
         "in.ply",
         "out",
         no_fault(),
         std::vector<Box>{{53, 101}} + boxes_of(52, example_iv_write_steps()) +
             std::vector<Box>{{53, 652}, {52, 656}, {52, 677}, {53, 682}},
         LastAnswer::Yes,
         {{"TEMP1.TMP", Holds::Nothing},
          {"TEMP2.TMP", Holds::Folder},
          {"out.wrl", Holds::Reference},
          {"out.iv", Holds::Bytes, "}\r\n"},
          {"out.stl", Holds::Reference}}},
        // Opens: 99 the input, 100 TEMP1.TMP. No TEMP1.TMP is ever made, so the clean-up pass
        // and the deletion do not find it.
        {"100: TEMP1.TMP refused",
         input,
         nullptr,
         "in.ply",
         "out",
         failing(SystemCall::Open, 2, EACCES),
         std::vector<Box>{{70, 100}} + boxes_of(52, example_wrl_write_steps()) +
             boxes_of(53, {623}) + boxes_of(52, {627, 648}) + boxes_of(53, {681}),
         LastAnswer::Yes,
         {{"TEMP1.TMP", Holds::Nothing},
          {"out.wrl", Holds::Bytes, "\r\n"},
          {"out.iv", Holds::Reference},
          {"out.stl", Holds::Reference}}},
        // No at the first write to the missing Inventor text: the VRML text holds its head,
        // the STL file its head, both closed with what they hold.
        {"101: TEMP2.TMP's device unavailable, then No",
         input,
         nullptr,
         "in.ply",
         "out",
         failing(SystemCall::Open, 3, ENXIO),
         {{68, 101}, {52, 203}},
         LastAnswer::No,
         {{"TEMP1.TMP", Holds::Bytes, raw_wrl_head},
          {"TEMP2.TMP", Holds::Nothing},
          {"out.stl", Holds::Bytes, stl_head()}}},
        {"102: the STL file refused",
         input,
         nullptr,
         "in.ply",
         "out",
         failing(SystemCall::Open, 4, EACCES),
         std::vector<Box>{{70, 102}} + boxes_of(52, example_stl_write_steps()),
         LastAnswer::Yes,
         {{"out.stl", Holds::Nothing},
          {"out.wrl", Holds::Reference},
          {"out.iv", Holds::Reference},
          {"TEMP1.TMP", Holds::Nothing},
          {"TEMP2.TMP", Holds::Nothing}}},
        // The final files' folder is missing too: their opens fail, and so does every line.
        {"102: the outputs' folder is missing",
         input,
         nullptr,
         "in.ply",
         "nowhere/out",
         no_fault(),
         std::vector<Box>{{76, 102}} + boxes_of(52, example_stl_write_steps()) +
             boxes_of(76, {624}) + boxes_of(52, repeated_step(647, 32)) + boxes_of(76, {653}) +
             boxes_of(52, repeated_step(676, 32)),
         LastAnswer::Yes,
         {{"nowhere", Holds::Nothing}, {"TEMP1.TMP", Holds::Nothing}}},
    };
    for (const Case& c : cases)
        run_case(c);
}

// An output under the name of the input emptied the file being converted. Each such open now
// fails with 55 and the input keeps every byte; the run goes on as after any failed open.
TEST(FailurePaths, OpensOfTheInputAsAnOutputFail) {
    const std::string input = example_face_file();
    const Case cases[] = {
        {"102: the STL file is the input",
         input,
         [](const TempWorkingFolder& f) { f.write_file("same.stl", example_face_file()); },
         "same.stl",
         "same",
         no_fault(),
         std::vector<Box>{{55, 102}} + boxes_of(52, example_stl_write_steps()),
         LastAnswer::Yes,
         {{"same.stl", Holds::Bytes, input}, {"TEMP1.TMP", Holds::Nothing}}},
        // The input is never deleted either, so it stays under the temporary name.
        {"100 and 681: TEMP1.TMP is the input",
         input,
         [](const TempWorkingFolder& f) { f.write_file("TEMP1.TMP", example_face_file()); },
         "TEMP1.TMP",
         "out",
         no_fault(),
         std::vector<Box>{{55, 100}} + boxes_of(52, example_wrl_write_steps()) +
             std::vector<Box>{{55, 681}},
         LastAnswer::Yes,
         {{"TEMP1.TMP", Holds::Bytes, input},
          {"TEMP2.TMP", Holds::Nothing},
          {"out.iv", Holds::Reference},
          {"out.stl", Holds::Reference}}},
        // After the input's close at 615; No keeps both temporary texts.
        {"653: the final Inventor file is the input, then No",
         input,
         [](const TempWorkingFolder& f) { f.write_file("mesh.iv", example_face_file()); },
         "mesh.iv",
         "mesh",
         no_fault(),
         {{55, 653}},
         LastAnswer::No,
         {{"mesh.iv", Holds::Bytes, input},
          {"TEMP1.TMP", Holds::Bytes, raw_example_wrl},
          {"TEMP2.TMP", Holds::Bytes, raw_example_iv}}},
    };
    for (const Case& c : cases)
        run_case(c);
}

// The input is the run's own, not the process's: the next run may write the file that the run
// before it read.
TEST(FailurePaths, NextRunMayWriteWhatTheRunBeforeRead) {
    TempWorkingFolder folder;
    const std::string input = example_face_file();
    folder.write_file("in.ply", input);
    folder.write_file("same.stl", input);
    const ScriptedRun reading = convert(keys_for("same.stl", "same", 1, LastAnswer::No));
    EXPECT_EQ(boxes_in(reading.transcript), box_lines({{55, 102}}));

    const ScriptedRun writing = convert("in.ply\nsame\n\n");

    EXPECT_EQ(boxes_in(writing.transcript), "");
    EXPECT_EQ(writing.end, RunEnd::KeyAfterPrompt);
    EXPECT_EQ(folder.read_file("same.stl"), reference_files(input).at("out.stl"));
}

TEST(FailurePaths, ReadsAndValuesFailWithTheirCodes) {
    const std::string input = example_face_file();
    // A header of exactly 65,536 bytes, so that the first vertex record starts a read block of
    // its own: the scan's reads and the vertex pass's reach the system apart.
    std::string long_header = face_header(3, 1);
    // 9 = "comment " and the line end.
    const std::size_t comment_x_count = 65536 - long_header.size() - 9;
    long_header.insert(long_header.find("element vertex"),
                       "comment " + std::string(comment_x_count, 'x') + "\n");
    std::string long_input = long_header;
    append_face_vertex(long_input, {5, 6, 7, 0, 0, 0});
    append_face_vertex(long_input, {1, 0, 0, 0, 0, 0});
    append_face_vertex(long_input, {0, 1, 0, 0, 0, 255});
    append_face(long_input, {0, 1, 2});

    // A facet's corner read falls below position 1 and keeps the values read last: those of
    // the colour pass, 0, 0 and 255/255 of the last vertex.
    std::string facet_of_kept_values = stl_head();
    facet_of_kept_values += int_bytes(1);
    for (float value : {1.f, 1.f, 1.f, 0.f, 0.f, 1.f, 1.f, 0.f, 0.f, 0.f, 1.f, 0.f})
        facet_of_kept_values += float_bytes(value);
    facet_of_kept_values += std::string(2, '\0');
    std::string strip_head_and_count = stl_head();
    strip_head_and_count += int_bytes(0);

    const Case cases[] = {
        // The first byte reads as the 0 the byte buffer held, so the first line is no "ply".
        {"118: the first header byte refused",
         input,
         nullptr,
         "in.ply",
         "out",
         failing(SystemCall::Pread, 1, EACCES),
         {{70, 118}},
         LastAnswer::Yes,
         {{"out.wrl", Holds::Reference},
          {"out.iv", Holds::Reference},
          {"out.stl", Holds::Reference}},
         "Header does not have 'ply' as 1st line"},
        // The x of the first record keeps the 0 that the read value held; y and z read again.
        {"221: a coordinate read fails",
         long_input,
         nullptr,
         "in.ply",
         "out",
         failing(SystemCall::Pread, 2, EIO),
         {{75, 221}},
         LastAnswer::Yes,
         {{"out.wrl", Holds::ReferenceBut, "0.00000 6.00000 7.00000,", "5.00000 6.00000 7.00000,"},
          {"out.iv", Holds::ReferenceBut, "0.00000 6.00000 7.00000,", "5.00000 6.00000 7.00000,"},
          {"out.stl", Holds::Reference}}},
        {"480: a facet corner below position 1",
         face_file(example_vertices(), {{-1000000, 1, 2}}),
         nullptr,
         "in.ply",
         "out",
         no_fault(),
         {{63, 480}, {63, 482}, {63, 484}},
         LastAnswer::Yes,
         {{"out.stl", Holds::Bytes, facet_of_kept_values}, {"TEMP1.TMP", Holds::Nothing}}},
        // No in the first triangle's facet: the STL file holds its head and the first count,
        // the VRML text the triangle's line.
        {"325: a strip corner below position 1, then No",
         strip_file(example_vertices(), {-1000000, 1, 2}),
         nullptr,
         "in.ply",
         "out",
         no_fault(),
         {{63, 325}},
         LastAnswer::No,
         {{"out.stl", Holds::Bytes, strip_head_and_count},
          {"TEMP1.TMP", Holds::Bytes,
           raw_example_wrl_to_index_list + "-1000000 ,  1 ,  2 , -1,\r\n"},
          {"out.wrl", Holds::Nothing}}},
        // The count is 0 after the failure, so there are no vertices.
        {"159: an overflowing based vertex count, then No",
         "ply\nformat binary_little_endian 1.0\nelement vertex &H11111111111111111\n"
         "element face 1\nend_header\n",
         nullptr,
         "in.ply",
         "out",
         no_fault(),
         {{6, 159}},
         LastAnswer::No,
         {{"TEMP1.TMP", Holds::Bytes, ""},
          {"TEMP2.TMP", Holds::Bytes, ""},
          {"out.stl", Holds::Bytes, stl_head()}}},
        // The line goes out as far as it was built, without its line end; No comes before the
        // Inventor text gets it.
        {"230: a coordinate that is no number, then No",
         face_file({{1.5f, -2.25f, std::nanf(""), 0, 0, 0}}, {{0, 0, 0}}),
         nullptr,
         "in.ply",
         "out",
         no_fault(),
         {{5, 230}},
         LastAnswer::No,
         {{"TEMP1.TMP", Holds::Bytes, raw_wrl_head + "      1.50000      -2.25000 "},
          {"TEMP2.TMP", Holds::Bytes, raw_iv_head},
          {"out.stl", Holds::Bytes, stl_head()}}},
        // The line's own failure is the one reported, even where its write fails too.
        {"230: a coordinate that is no number for a VRML text that did not open",
         face_file({{1.5f, -2.25f, std::nanf(""), 0, 0, 0}}, {{0, 0, 0}}),
         [](const TempWorkingFolder& f) {
             f.write_file("in.ply",
                          face_file({{1.5f, -2.25f, std::nanf(""), 0, 0, 0}}, {{0, 0, 0}}));
             make_folder(f, "TEMP1.TMP");
         },
         "in.ply",
         "out",
         no_fault(),
         std::vector<Box>{{53, 100}} + boxes_of(52, {192, 193, 194, 195, 196, 197, 198, 199}) +
             std::vector<Box>{{5, 230}, {5, 231}},
         LastAnswer::No,
         {{"TEMP1.TMP", Holds::Folder},
          {"TEMP2.TMP", Holds::Bytes, raw_iv_head + "      1.50000      -2.25000 "},
          {"out.stl", Holds::Bytes, stl_head()}}},
    };
    for (const Case& c : cases)
        run_case(c);
}

TEST(FailurePaths, WritesFailWithTheirCodes) {
    const std::string input = example_face_file();
    // The writes reach the system when the files close: the temporary files at 616 and 617,
    // the STL file at 620 (the final count is no continuation of the facets) and 621, the
    // final files at 650 and 679. Each finds the medium as the case leaves it.
    const std::vector<FileCheck> all_empty = {
        {"out.wrl", Holds::Bytes, ""}, {"out.iv", Holds::Bytes, ""},  {"out.stl", Holds::Bytes, ""},
        {"TEMP1.TMP", Holds::Nothing}, {"TEMP2.TMP", Holds::Nothing},
    };
    FaultPlan full_medium = failing_from(SystemCall::Pwrite, 1, ENOSPC);
    full_medium.kind = FaultKind::FullMedium;
    full_medium.short_size = 100;

    const Case cases[] = {
        // A medium that turns read-only: the temporary files keep nothing, so each clean-up
        // pass finds nothing to read and writes one empty line, which is refused in turn. The
        // STL bytes refused at 620 stay pending, and its close at 621 is refused once more.
        {"a read-only medium from the first write",
         input,
         nullptr,
         "in.ply",
         "out",
         failing_from(SystemCall::Pwrite, 1, EROFS),
         {{70, 616}, {70, 617}, {70, 620}, {70, 621}, {62, 627}, {70, 650}, {62, 656}, {70, 679}},
         LastAnswer::Yes,
         all_empty},
        // The medium takes the first 100 bytes of "TEMP1.TMP", its first two lines, and no
        // more: the VRML text has those two lines to clean, the Inventor text none.
        {"a full medium",
         input,
         nullptr,
         "in.ply",
         "out",
         full_medium,
         {{75, 616}, {75, 617}, {75, 620}, {75, 621}, {75, 650}, {62, 656}, {75, 679}},
         LastAnswer::Yes,
         all_empty},
        // No closes the other files with every byte they were given.
        {"616: a refused write, then No",
         input,
         nullptr,
         "in.ply",
         "out",
         failing(SystemCall::Pwrite, 1, EIO),
         {{75, 616}},
         LastAnswer::No,
         {{"TEMP2.TMP", Holds::Bytes, raw_example_iv},
          {"out.stl", Holds::Reference},
          {"out.wrl", Holds::Nothing}}},
    };
    for (const Case& c : cases)
        run_case(c);
}

TEST(FailurePaths, CleanUpPassAndDeletionsFailWithTheirCodes) {
    const std::string input = example_face_file();
    // The opens of a run: 1 the input, 2 and 3 the temporary files, 4 the STL file, 5 and 6
    // the VRML text read back and its final file, 7 and 8 the same for the Inventor text.
    // The reads: 1 and 2 fill the input's read block (the second finds its end), 3 and 4 the
    // first block of "TEMP1.TMP", 5 and 6 that of "TEMP2.TMP".
    const Case cases[] = {
        // The look at the first byte fails, so the slot is open; the first line read fails as
        // well and the line buffer's 80 blanks go out as an empty line; then every line.
        {"623 and 627: TEMP1.TMP cannot be read",
         input,
         nullptr,
         "in.ply",
         "out",
         failing(SystemCall::Pread, 3, EIO, 2),
         {{75, 623}, {75, 627}},
         LastAnswer::Yes,
         {{"out.wrl", Holds::ReferenceBut, "\r\n#VRML", "#VRML"},
          {"out.iv", Holds::Reference},
          {"TEMP1.TMP", Holds::Nothing}}},
        // The same in the second call: the line buffer holds the VRML text's last line.
        {"652 and 656: TEMP2.TMP cannot be read",
         input,
         nullptr,
         "in.ply",
         "out",
         failing(SystemCall::Pread, 5, EACCES, 2),
         {{70, 652}, {70, 656}},
         LastAnswer::Yes,
         {{"out.wrl", Holds::Reference},
          {"out.iv", Holds::ReferenceBut, "}\r\n#Inventor", "#Inventor"},
          {"TEMP2.TMP", Holds::Nothing}}},
        // The whole temporary text is read, and every line written to the closed final file
        // fails; the folder in the way stays.
        {"624: the final VRML file is a folder",
         input,
         [](const TempWorkingFolder& f) {
             f.write_file("in.ply", example_face_file());
             make_folder(f, "out.wrl");
         },
         "in.ply",
         "out",
         no_fault(),
         std::vector<Box>{{53, 624}} + boxes_of(52, repeated_step(647, 32)),
         LastAnswer::Yes,
         {{"out.wrl", Holds::Folder},
          {"out.iv", Holds::Reference},
          {"out.stl", Holds::Reference},
          {"TEMP1.TMP", Holds::Nothing}}},
        // An older file of the final name stays as it was.
        {"653: the final Inventor file refused",
         input,
         [](const TempWorkingFolder& f) {
             f.write_file("in.ply", example_face_file());
             f.write_file("out.iv", "older scene");
         },
         "in.ply",
         "out",
         failing(SystemCall::Open, 8, EACCES),
         std::vector<Box>{{70, 653}} + boxes_of(52, repeated_step(676, 32)),
         LastAnswer::Yes,
         {{"out.iv", Holds::Bytes, "older scene"},
          {"out.wrl", Holds::Reference},
          {"TEMP2.TMP", Holds::Nothing}}},
        {"653: the final Inventor file's device unavailable, then No",
         input,
         nullptr,
         "in.ply",
         "out",
         failing(SystemCall::Open, 8, ENXIO),
         {{68, 653}},
         LastAnswer::No,
         {{"out.iv", Holds::Nothing},
          {"out.wrl", Holds::Reference},
          {"TEMP1.TMP", Holds::Bytes, raw_example_wrl},
          {"TEMP2.TMP", Holds::Bytes, raw_example_iv}}},
        // The temporary files stay with their raw texts.
        {"681 and 682: the deletions refused",
         input,
         nullptr,
         "in.ply",
         "out",
         failing(SystemCall::Unlink, 1, EACCES, 2),
         {{55, 681}, {55, 682}},
         LastAnswer::Yes,
         {{"TEMP1.TMP", Holds::Bytes, raw_example_wrl},
          {"TEMP2.TMP", Holds::Bytes, raw_example_iv},
          {"out.wrl", Holds::Reference},
          {"out.iv", Holds::Reference}}},
        {"682: TEMP2.TMP gone before its deletion",
         input,
         nullptr,
         "in.ply",
         "out",
         failing(SystemCall::Unlink, 2, ENOENT),
         {{53, 682}},
         LastAnswer::Yes,
         {{"TEMP1.TMP", Holds::Nothing}, {"TEMP2.TMP", Holds::Bytes, raw_example_iv}}},
    };
    for (const Case& c : cases)
        run_case(c);
}

// The final files of a large mesh reach the system while the clean-up pass writes them, not
// only as they close, so the writes of 647 and 676 meet the medium themselves.
TEST(FailurePaths, FullMediumInTheCleanUpPassKeepsWhatFit) {
    // 30,000 vertices make final texts of about 1.4 MB each.
    const std::vector<TestVertex> vertices(30000, TestVertex{1, 2, 3, 1, 2, 3});
    const std::string input = strip_file(vertices, {0, 1, 2});
    const std::map<std::string, std::string> reference = reference_files(input);
    ASSERT_GT(reference.at("out.wrl").size(), 1000000u);

    // The writes before the clean-up pass: a run that ends at its first open (the fifth).
    int writes_before_cleanup = 0;
    {
        TempWorkingFolder folder;
        folder.write_file("in.ply", input);
        FaultGuard guard(failing(SystemCall::Open, 5, EACCES));
        const ScriptedRun result = convert("in.ply\nout\nn\n");
        ASSERT_EQ(boxes_in(result.transcript), box_lines({{70, 623}}));
        writes_before_cleanup = guard.calls(SystemCall::Pwrite);
    }

    TempWorkingFolder folder;
    folder.write_file("in.ply", input);
    FaultPlan full_medium = failing_from(SystemCall::Pwrite, writes_before_cleanup + 1, ENOSPC);
    full_medium.kind = FaultKind::FullMedium;
    full_medium.short_size = 1000;
    ScriptedRun result;
    {
        FaultGuard guard(full_medium);
        result = convert(keys_for("in.ply", "out", 5, LastAnswer::No));
    }

    // Once the write buffer is full and the medium refuses it, every line's write fails in
    // turn (647), as a refused write would without the buffer; No then ends the run.
    EXPECT_EQ(boxes_in(result.transcript),
              box_lines({{75, 647}, {75, 647}, {75, 647}, {75, 647}, {75, 647}}));
    EXPECT_EQ(result.end, RunEnd::AnswerNo);
    EXPECT_EQ(folder.read_file("out.wrl"), reference.at("out.wrl").substr(0, 1000));
    EXPECT_EQ(folder.read_file("out.stl"), reference.at("out.stl"));
    EXPECT_EQ(folder.read_file("in.ply"), input);
}

// A write the system refuses once must not drop the bytes still buffered from earlier steps
// that nothing refused. The final count (620) is no continuation of the facets, so its write
// first puts the head, the first count and the facet into the file, after the two temporary
// files (616, 617).
// Refusing that one call once left an empty STL file; only the count's own four bytes may be
// lost, and offset 80 keeps the count that the first index pass wrote.
TEST(FailurePaths, RefusedFinalCountKeepsWhatTheFirstPassWrote) {
    const std::string input = example_face_file();
    const std::map<std::string, std::string> reference = reference_files(input);
    TempWorkingFolder folder;
    folder.write_file("in.ply", input);
    ScriptedRun result;
    {
        FaultGuard guard(failing(SystemCall::Pwrite, 3, EACCES));
        result = convert(keys_for("in.ply", "out", 1, LastAnswer::Yes));
    }

    EXPECT_EQ(boxes_in(result.transcript), box_lines({{70, 620}}));
    EXPECT_EQ(folder.read_file("out.stl"), reference.at("out.stl"));
}
