// The stages of the run, in the order the run calls them. Each takes the run state and checks
// its own numbered steps.
#pragma once

#include <string>

#include "converter/run_state.h"
#include "converter/step_tables.h"

// The text that stands in the banner, in both comment lines and in the STL head text.
inline constexpr const char* contact_address = "morvantellis.example";

void run_converter();

void write_stl_head(RunState& run);
void scan_header(RunState& run);
void write_heads(RunState& run);
void write_coordinate_pass(RunState& run);
void write_point_list_ends(RunState& run);
void write_colour_pass(RunState& run);
void write_colour_list_ends(RunState& run);
void walk_strip(RunState& run, IndexPass pass);
void write_face_pass(RunState& run, IndexPass pass);
void write_index_list_middles(RunState& run);
void write_tails(RunState& run);
void write_stl_final_count(RunState& run);
void clean_up_text_file(RunState& run, const std::string& temp_name, const std::string& final_name,
                        const CleanUpSteps& steps);
