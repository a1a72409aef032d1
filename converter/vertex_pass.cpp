// The two vertex passes: one coordinate line, then one colour line, per vertex record, into
// both temporary files.
#include <cstdint>
#include <string>

#include "converter/number_format.h"
#include "converter/record_bound.h"
#include "converter/stages.h"
#include "platform/console/console.h"
#include "platform/file_layer/failure.h"
#include "platform/file_layer/file_access.h"

namespace {

// Appends a coordinate line to file. A line that could not be formatted (a value that is no
// finite number) goes out as far as it was built, without its line end, and the step reports
// code 5 for it: the write's own failure, if any, gives way.
void write_coordinate_line(FileSlot& file, const std::string& line, bool whole) {
    if (whole) {
        write_text_items(file, {line}, EndLine::Yes);
        return;
    }
    write_text_items(file, {line}, EndLine::No);
    clear_failure();
    raise_failure(Failure::IllegalFunctionCall);
}

} // namespace

void write_coordinate_pass(RunState& run) {
    run.vertex_start = run.read_pos;
    check_step(213);
    float skip;                   // from z to the start of the next record
    if (run.is_strip_file == 1) { // 215
        skip = 7;                 // 4 for z + 3 for the colour
        check_step(216);
    } else {
        skip = 11; // 4 for z + 4 skipped + 3 for the colour
        check_step(218);
    }

    float read_value = 0;
    std::string line;
    // A 64-bit counter: a 32-bit float stops counting at 2^24.
    for (std::uint64_t record_no = 1; static_cast<double>(record_no) <= run.vertex_count;
         ++record_no) { // 220
        if (past_the_records(run, run.vertex_count))
            break;
        read_float_at(run.input_file, run.read_pos, read_value);
        check_step(221);
        run.coord_x = read_value;
        check_step(222);
        run.read_pos += 4;
        check_step(223);
        read_float_at(run.input_file, run.read_pos, read_value);
        check_step(224);
        run.coord_y = read_value;
        check_step(225);
        run.read_pos += 4;
        check_step(226);
        read_float_at(run.input_file, run.read_pos, read_value);
        check_step(227);
        run.coord_z = read_value;
        check_step(228);
        run.read_pos += skip;
        check_step(229);

        // Formatted once; both files receive the same text, and a failure is reported twice.
        const bool whole = format_coordinate_line(run.coord_x, run.coord_y, run.coord_z, line);
        write_coordinate_line(run.wrl_temp_file, line, whole);
        check_step(230);
        write_coordinate_line(run.iv_temp_file, line, whole);
        check_step(231);
    }
}

void write_colour_pass(RunState& run) {
    run.read_pos = run.vertex_start;
    check_step(250);
    float skip;                   // from z to the red byte
    if (run.is_strip_file == 1) { // 252
        skip = 4;                 // 4 for z
        check_step(253);
    } else {
        skip = 8; // 4 for z + 4 skipped
        check_step(255);
    }

    std::uint8_t byte = 0;
    std::string line;
    for (std::uint64_t record_no = 1; static_cast<double>(record_no) <= run.vertex_count;
         ++record_no) { // 257
        if (past_the_records(run, run.vertex_count))
            break;
        run.read_pos += 4;
        check_step(260);
        run.read_pos += 4;
        check_step(263);
        run.read_pos += skip;
        check_step(266);
        // A colour value is the byte over 255, formed in the extended format and rounded
        // once to a 32-bit float.
        read_byte_at(run.input_file, run.read_pos, byte);
        check_step(267);
        run.coord_x = static_cast<float>(static_cast<long double>(byte) / 255);
        check_step(269);
        run.read_pos += 1;
        check_step(270);
        read_byte_at(run.input_file, run.read_pos, byte);
        check_step(271);
        run.coord_y = static_cast<float>(static_cast<long double>(byte) / 255);
        check_step(273);
        run.read_pos += 1;
        check_step(274);
        read_byte_at(run.input_file, run.read_pos, byte);
        check_step(275);
        run.coord_z = static_cast<float>(static_cast<long double>(byte) / 255);
        check_step(277);
        run.read_pos += 1;
        check_step(278);

        // A colour byte divided by 255 is always finite: the line is always whole.
        format_colour_line(run.coord_x, run.coord_y, run.coord_z, line);
        write_text_items(run.wrl_temp_file, {line}, EndLine::Yes);
        check_step(280);
        write_text_items(run.iv_temp_file, {line}, EndLine::Yes);
        check_step(281);
    }
}
