// The two index passes of a face file: one index line per face into both temporary files,
// and in the first pass one STL facet per face.
#include <cstdint>

#include "converter/number_format.h"
#include "converter/record_bound.h"
#include "converter/stages.h"
#include "converter/stl_writer.h"
#include "platform/console/console.h"
#include "platform/file_layer/file_access.h"

namespace {

void write_first_face_pass(RunState& run) {
    write_stl_first_count(run, face_first_count_steps);
    run.face_start = run.read_pos;
    check_step(458);

    std::uint8_t count_byte = 0;
    std::int32_t index = 0; // a failed read keeps the index read before
    IndexItem item;
    // 64 bits, so that a count of 2^31 - 1 ends without the counter wrapping.
    for (std::int64_t face_no = 1; face_no <= run.face_count; ++face_no) { // 460
        if (past_the_records(run, run.face_count))
            break;
        read_byte_at(run.input_file, run.read_pos, count_byte);
        check_step(461);
        run.read_pos += 1;
        check_step(462);
        const float n = count_byte;
        check_step(464);
        for (float k = 1; k <= n; k += 1) { // 466
            read_int_at(run.input_file, run.read_pos, index);
            check_step(467);
            run.read_pos += 4;
            check_step(468);
            format_index_item(index, item);
            write_text_items(run.wrl_temp_file, {item.text(), ", "}, EndLine::No);
            check_step(469);
            write_text_items(run.iv_temp_file, {item.text(), ", "}, EndLine::No);
            check_step(470);
            // A vertex number is the index plus one; the fourth and later indices set none.
            if (k == 1)
                run.vertex_a = static_cast<double>(index) + 1;
            check_step(471);
            if (k == 2)
                run.vertex_b = static_cast<double>(index) + 1;
            check_step(472);
            if (k == 3)
                run.vertex_c = static_cast<double>(index) + 1;
            check_step(473);
        }
        write_text_items(run.wrl_temp_file, {"-1,"}, EndLine::Yes);
        check_step(475);
        write_text_items(run.iv_temp_file, {"-1,"}, EndLine::Yes);
        check_step(476);
        write_stl_facet(run, face_facet_steps, n < 3 ? static_cast<int>(n) : 3); // 479-521
    }
}

void write_second_face_pass(RunState& run) {
    std::uint8_t count_byte = 0;
    std::int32_t index = 0;
    IndexItem item;
    for (std::int64_t face_no = 1; face_no <= run.face_count; ++face_no) { // 586
        if (past_the_records(run, run.face_count))
            break;
        read_byte_at(run.input_file, run.read_pos, count_byte);
        check_step(587);
        run.read_pos += 1;
        check_step(588);
        const float n = count_byte;
        check_step(590);
        for (float k = 1; k <= n; k += 1) { // 592
            read_int_at(run.input_file, run.read_pos, index);
            check_step(593);
            run.read_pos += 4;
            check_step(594);
            format_index_item(index, item);
            write_text_items(run.wrl_temp_file, {item.text(), ", "}, EndLine::No);
            check_step(595);
            write_text_items(run.iv_temp_file, {item.text(), ", "}, EndLine::No);
            check_step(596);
        }
        write_text_items(run.wrl_temp_file, {"-1,"}, EndLine::Yes);
        check_step(601);
        write_text_items(run.iv_temp_file, {"-1,"}, EndLine::Yes);
        check_step(602);
    }
}

} // namespace

void write_face_pass(RunState& run, IndexPass pass) {
    if (pass == IndexPass::First)
        write_first_face_pass(run);
    else
        write_second_face_pass(run);
}
