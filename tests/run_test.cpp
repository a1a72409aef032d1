// The whole run in pipe mode: the dialogue, the names, the opens, the three files and the ends.
#include <gtest/gtest.h>

#include <string>

#include "converter/stages.h"
#include "tests/example_files.h"
#include "tests/fault_injection.h"
#include "tests/mesh_builder.h"
#include "tests/run_transcript.h"
#include "tests/test_support.h"

TEST(Run, ConvertsTheExampleFaceFile) {
    TempWorkingFolder folder;
    const std::string input = example_face_file();
    folder.write_file("in.ply", input);

    ScriptedRun result = convert("in.ply\nout\n\n");

    EXPECT_EQ(result.end, RunEnd::KeyAfterPrompt);
    EXPECT_EQ(result.transcript, dialogue("in.ply", "out", " in.ply > out.wrl & out.iv & out.stl") +
                                     " NO tristrips found!\nPress any key to continue\n");
    EXPECT_EQ(result.screen[14], " NO tristrips found!");
    EXPECT_EQ(result.screen[15], "");
    EXPECT_EQ(result.screen[24], "Press any key to continue");

    EXPECT_EQ(folder.read_file("out.wrl"), final_wrl(example_lists()));
    EXPECT_EQ(folder.read_file("out.iv"), final_iv(example_lists()));

    const std::string stl = example_stl();
    EXPECT_EQ(stl.size(), 134u);
    EXPECT_EQ(folder.read_file("out.stl"), stl);

    EXPECT_FALSE(folder.file_exists("TEMP1.TMP"));
    EXPECT_FALSE(folder.file_exists("TEMP2.TMP"));
    EXPECT_EQ(folder.read_file("in.ply"), input);
}

TEST(Run, NamesComeFromTheAnswers) {
    struct Case {
        const char* name;
        std::string first_answer;  // as typed
        std::string input_name;    // the file the run opens
        std::string second_answer; // as typed
        std::string names_row;     // as the transcript shows it
        std::string wrl_name;
    };
    const Case cases[] = {
        {"second answer trimmed", "in.ply", "in.ply", "  cube  ",
         " in.ply > cube.wrl & cube.iv & cube.stl", "cube.wrl"},
        {"first answer kept as typed", " in.ply ", " in.ply ", "out",
         "  in.ply  > out.wrl & out.iv & out.stl", "out.wrl"},
        {"quoted first answer with a comma", "\"in,1.ply\"", "in,1.ply", "out",
         " in,1.ply > out.wrl & out.iv & out.stl", "out.wrl"},
        {"empty base name", "in.ply", "in.ply", "", " in.ply > .wrl & .iv & .stl", ".wrl"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempWorkingFolder folder;
        folder.write_file(c.input_name, face_file(example_vertices(), {{0, 1, 2}}));

        ScriptedRun result = convert(c.first_answer + "\n" + c.second_answer + "\n\n");

        EXPECT_EQ(result.transcript, dialogue(c.first_answer, c.second_answer, c.names_row) +
                                         " NO tristrips found!\nPress any key to continue\n");
        EXPECT_EQ(folder.read_file(c.wrl_name), final_wrl(example_lists()));
    }
}

TEST(Run, NamesRowStartsANewRowForANameThatNoLongerFits) {
    TempWorkingFolder folder;
    const std::string name(70, 'n');
    folder.write_file(name, face_file(example_vertices(), {{0, 1, 2}}));

    ScriptedRun result = convert(name + "\nout\n\n");

    // " ", the name and " > " fill columns 1 to 74; "out.wrl" would pass column 80.
    EXPECT_NE(result.transcript.find("\n " + name + " >\nout.wrl & out.iv & out.stl\n"),
              std::string::npos)
        << result.transcript;
}

TEST(Run, EarlyEndLeavesEmptyTemporaryFilesAndTheStlHead) {
    TempWorkingFolder folder;
    folder.write_file("in.ply", face_file(example_vertices(), {}));
    folder.write_file("out.wrl", "older world");

    ScriptedRun result = convert("in.ply\nout\n\n");

    EXPECT_EQ(result.end, RunEnd::KeyAfterPrompt);
    EXPECT_EQ(result.transcript, dialogue("in.ply", "out", " in.ply > out.wrl & out.iv & out.stl") +
                                     " FACE not found!\n NO tristrips found!\n"
                                     "CAN NOT PROCESS FILE\nPress any key to continue\n");
    EXPECT_EQ(folder.read_file("TEMP1.TMP"), "");
    EXPECT_EQ(folder.read_file("TEMP2.TMP"), "");
    EXPECT_EQ(folder.read_file("out.stl"), stl_head());
    EXPECT_EQ(folder.read_file("out.wrl"), "older world");
    EXPECT_FALSE(folder.file_exists("out.iv"));
}

TEST(Run, ReplacesAnOlderLongerStlWhole) {
    TempWorkingFolder folder;
    folder.write_file("in.ply", face_file(example_vertices(), {{0, 1, 2}}));
    folder.write_file("out.stl", std::string(1000, 'x'));

    convert("in.ply\nout\n\n");

    EXPECT_EQ(folder.read_file("out.stl").size(), 134u);
}

TEST(Run, MissingInputIsCreatedEmptyAndEndsAtTheScanBound) {
    TempWorkingFolder folder;

    ScriptedRun result = convert("none.ply\nout\n\n");

    EXPECT_EQ(result.transcript,
              dialogue("none.ply", "out", " none.ply > out.wrl & out.iv & out.stl") +
                  " end_header not found!\nCAN NOT PROCESS FILE\nPress any key to continue\n");
    EXPECT_TRUE(folder.file_exists("none.ply"));
    EXPECT_EQ(folder.read_file("none.ply"), "");
    EXPECT_EQ(folder.read_file("out.stl"), stl_head());
}

TEST(Run, EmptyFirstAnswerFailsTheInputOpen) {
    TempWorkingFolder folder;

    ScriptedRun result = convert("\nout\ny\ny\n\n");

    // The input stays closed, so the scan's first read fails too before its bound ends it.
    EXPECT_EQ(result.end, RunEnd::KeyAfterPrompt);
    EXPECT_EQ(result.transcript, answers("", "out") +
                                     "Unhandled Error #53\nLine:99\nFile not found\nContinue?\n"
                                     "  > out.wrl & out.iv & out.stl\n"
                                     "Unhandled Error #52\nLine:118\nBad file name or number\n"
                                     "Continue?\n"
                                     " end_header not found!\nCAN NOT PROCESS FILE\n"
                                     "Press any key to continue\n");
}

TEST(Run, MissingFolderFailsTheStlOpenThenItsHead) {
    TempWorkingFolder folder;
    folder.write_file("in.ply", face_file(example_vertices(), {{0, 1, 2}}));

    ScriptedRun result = convert("in.ply\nnowhere/out\ny\nn\n");

    EXPECT_EQ(result.end, RunEnd::AnswerNo);
    EXPECT_EQ(result.transcript,
              answers("in.ply", "nowhere/out") +
                  "Unhandled Error #76\nLine:102\nPath not found\nContinue?\n"
                  " in.ply > nowhere/out.wrl & nowhere/out.iv & nowhere/out.stl\n"
                  "Unhandled Error #52\nLine:115\nBad file name or number\nContinue?\n");
    // No closes every file with what it holds and deletes nothing.
    EXPECT_EQ(folder.read_file("TEMP1.TMP"), "");
    EXPECT_TRUE(folder.file_exists("TEMP2.TMP"));
}

TEST(Run, EndOfKeysDuringAnAnswerEndsTheRunWithoutFiles) {
    TempWorkingFolder folder;

    ScriptedRun result = convert("in.ply\n");

    EXPECT_EQ(result.end, RunEnd::EndRequest);
    EXPECT_EQ(result.transcript.find("Press any key"), std::string::npos);
    EXPECT_FALSE(folder.file_exists("TEMP1.TMP"));
}

TEST(Run, BytesThatCannotReachTheirFileAtTheEndAreReported) {
    // At the early end only the STL head is still buffered; a full medium refuses it.
    TempWorkingFolder folder;
    folder.write_file("in.ply", face_file(example_vertices(), {}));
    FaultPlan plan;
    plan.call = SystemCall::Pwrite;
    plan.error = ENOSPC;
    plan.persist = true;
    FaultGuard guard(plan);

    ScriptedRun result = convert("in.ply\nout\ny\n\n");

    EXPECT_EQ(result.end, RunEnd::KeyAfterPrompt);
    EXPECT_EQ(result.transcript,
              standard_dialogue() + " FACE not found!\n NO tristrips found!\nCAN NOT PROCESS FILE\n"
                                    "Unhandled Error #75\nLine:186\nPath/File access error\n"
                                    "Continue?\nPress any key to continue\n");
    EXPECT_TRUE(guard.reached());
}
