// A run state with its four files open in a temporary folder, for calling one stage directly.
#pragma once

#include <string>

#include "converter/run_state.h"
#include "platform/file_layer/file_access.h"
#include "tests/test_support.h"

struct StageFiles {
    TempWorkingFolder folder;
    RunState run;

    // The input file holds input; the vertex records start at vertex_start.
    explicit StageFiles(const std::string& input, double vertex_start = 1) {
        folder.write_file("in.ply", input);
        open_byte_file(run.input_file, "in.ply", EmptyFirst::No);
        open_text_writer(run.wrl_temp_file, "TEMP1.TMP");
        open_text_writer(run.iv_temp_file, "TEMP2.TMP");
        open_byte_file(run.stl_file, "out.stl", EmptyFirst::Yes);
        run.read_pos = vertex_start;
        run.vertex_start = vertex_start;
        run.stl_pos = 81; // after the head, as the first index pass finds it
    }
    ~StageFiles() { close_all_files(); }

    std::string wrl_text() {
        close_file(run.wrl_temp_file);
        return folder.read_file("TEMP1.TMP");
    }
    std::string iv_text() {
        close_file(run.iv_temp_file);
        return folder.read_file("TEMP2.TMP");
    }
    std::string stl_bytes() {
        close_file(run.stl_file);
        return folder.read_file("out.stl");
    }
};
