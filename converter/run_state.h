// The run state: everything the run holds from one step to the next.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "platform/file_layer/file_access.h"

// Every computation of the run is made in the 80-bit extended format and rounded once to the
// width of the field that receives it.
static_assert(std::numeric_limits<long double>::digits == 64,
              "long double must be the 80-bit extended format");

// Fixed in size but for its texts: nothing in it is allocated per vertex, face or line.
struct RunState {
    std::string input_name; // the first answer, exactly as typed
    std::string base_name;  // the second answer, trimmed of blanks
    std::string wrl_name;
    std::string iv_name;
    std::string stl_name;

    FileSlot input_file;
    FileSlot wrl_temp_file; // "TEMP1.TMP"
    FileSlot iv_temp_file;  // "TEMP2.TMP"
    FileSlot stl_file;

    std::string wrl_comment;   // 80 characters
    std::string iv_comment;    // 80 characters
    std::string stl_head_text; // 80 characters

    double read_pos = 0; // 1-based position of the next read from the input file
    double header_line_no = 0;
    std::string header_line;
    double vertex_count = 0; // 64-bit, so that counts past 2^24 stay exact
    std::int32_t face_count = 0;
    float is_strip_file = 0;
    double vertex_start = 0;
    double face_start = 0;
    double stl_pos = 0; // 1-based position of the next write to the STL file
    double vertex_a = 0, vertex_b = 0, vertex_c = 0; // 1-based vertex numbers of a facet
    double vertex_pos = 0;
    float coord_x = 0, coord_y = 0, coord_z = 0;
    float facet[12] = {}; // facet i is facet[i - 1]: 1-3 the normal, 4-6 A, 7-9 B, 10-12 C
    std::int64_t facets_written = 0;    // the STL count at the end: one per facet begun
    TextLine line_buffer;               // the line the clean-up pass read last; blank until then
    std::vector<char> line_buffer_copy; // holds that line once its reader is closed
};

// Which index pass runs: the first also writes the STL facets.
enum class IndexPass { First, Second };
