// The two index passes of a strip file: the strip record walked through a window of three
// indices, one triangle line per triangle, and in the first pass one STL facet per triangle.
#include <cstdint>
#include <string>

#include "converter/number_format.h"
#include "converter/record_bound.h"
#include "converter/stages.h"
#include "converter/stl_writer.h"
#include "platform/console/console.h"
#include "platform/file_layer/file_access.h"

namespace {

// The three most recent indices, window_3 the newest.
struct Window {
    std::int32_t window_1 = 0;
    std::int32_t window_2 = 0;
    std::int32_t window_3 = 0;
};

bool holds_marker(const Window& w) {
    return w.window_1 == -1 || w.window_2 == -1 || w.window_3 == -1;
}

// The line of the triangle (p, q, r): three index items, each followed by ", ", then "-1,".
// An index list needs a comma between every two values for an Inventor reader; without the
// one before the -1 every strip file's scene would be refused. Formatted once for both
// temporary files.
struct TriangleLine {
    IndexItem p, q, r;
};

void format_triangle_line(std::int32_t p, std::int32_t q, std::int32_t r, TriangleLine& line) {
    format_index_item(p, line.p);
    format_index_item(q, line.q);
    format_index_item(r, line.r);
}

void write_triangle_line(FileSlot& file, const TriangleLine& line) {
    write_text_items(file, {line.p.text(), ", ", line.q.text(), ", ", line.r.text(), ", -1,"},
                     EndLine::Yes);
}

// A vertex number is the index plus one, the sum wrapping in 32 bits.
double vertex_number(std::int32_t index) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(index) + 1u);
}

// The triangle counter grows in 32 bits, wrapping past 2^31 - 1; the final STL count is the
// number of facets and does not depend on it.
void count_triangle(RunState& run) {
    run.face_count = static_cast<std::int32_t>(static_cast<std::uint32_t>(run.face_count) + 1u);
}

void walk_first_pass(RunState& run) {
    write_stl_first_count(run, strip_first_count_steps);
    run.face_start = run.read_pos;
    check_step(303);

    std::int32_t strip_index_count = 0;
    Window w;
    TriangleLine triangle_line;
    read_int_at(run.input_file, run.read_pos, strip_index_count);
    check_step(305);
    run.read_pos += 4;
    check_step(306);
    read_int_at(run.input_file, run.read_pos, w.window_1);
    check_step(309);
    run.read_pos += 4;
    check_step(310);
    read_int_at(run.input_file, run.read_pos, w.window_2);
    check_step(311);
    run.read_pos += 4;
    check_step(312);
    read_int_at(run.input_file, run.read_pos, w.window_3);
    check_step(313);
    run.read_pos += 4;
    check_step(314);

    // The first triangle is written whatever its indices, in window order like the first
    // triangle after a -1, so the first strip is wound as every later one.
    format_triangle_line(w.window_1, w.window_2, w.window_3, triangle_line);
    write_triangle_line(run.wrl_temp_file, triangle_line);
    check_step(315);
    write_triangle_line(run.iv_temp_file, triangle_line);
    check_step(316);
    count_triangle(run);
    check_step(317);
    run.vertex_a = vertex_number(w.window_1);
    check_step(318);
    run.vertex_b = vertex_number(w.window_2);
    check_step(319);
    run.vertex_c = vertex_number(w.window_3);
    check_step(320);
    write_stl_facet(run, first_strip_triangle_facet_steps, 3); // 321-366
    const bool first_strip_goes_on = !holds_marker(w);
    w.window_1 = w.window_2;
    check_step(369);
    w.window_2 = w.window_3;
    check_step(370);
    // The next complete window is swapped, as after every triangle in window order; a first
    // window that held a -1 began no strip, and the strip behind it starts in window order.
    float swap_next = first_strip_goes_on ? 1 : 0;
    check_step(371);

    // The end test forms the next value in 64 bits, so a count of 2^31 - 1 ends.
    for (std::int64_t strip_index_no = 4; strip_index_no <= strip_index_count;
         ++strip_index_no) { // 373
        if (past_the_records(run, strip_index_count))
            break;
        read_int_at(run.input_file, run.read_pos, w.window_3);
        check_step(374);
        run.read_pos += 4;
        check_step(375);
        const bool triangle = !holds_marker(w);
        if (!triangle) { // 376
            swap_next = 0;
            check_step(377);
        } else if (swap_next == 1) { // 379
            format_triangle_line(w.window_1, w.window_3, w.window_2, triangle_line);
            write_triangle_line(run.wrl_temp_file, triangle_line);
            check_step(380);
            write_triangle_line(run.iv_temp_file, triangle_line);
            check_step(381);
            count_triangle(run);
            check_step(382);
            swap_next = 0;
            check_step(383);
            run.vertex_a = vertex_number(w.window_1);
            check_step(384);
            run.vertex_b = vertex_number(w.window_3);
            check_step(385);
            run.vertex_c = vertex_number(w.window_2);
            check_step(386);
        } else {
            format_triangle_line(w.window_1, w.window_2, w.window_3, triangle_line);
            write_triangle_line(run.wrl_temp_file, triangle_line);
            check_step(388);
            write_triangle_line(run.iv_temp_file, triangle_line);
            check_step(389);
            count_triangle(run);
            check_step(390);
            swap_next = 1;
            check_step(391);
            run.vertex_a = vertex_number(w.window_1);
            check_step(392);
            run.vertex_b = vertex_number(w.window_2);
            check_step(393);
            run.vertex_c = vertex_number(w.window_3);
            check_step(394);
        }
        if (triangle)
            write_stl_facet(run, further_strip_triangle_facet_steps, 3); // 400-445
        w.window_1 = w.window_2;
        check_step(449);
        w.window_2 = w.window_3;
        check_step(450);
    }
}

void walk_second_pass(RunState& run) {
    std::int32_t strip_index_count = 0;
    Window w;
    TriangleLine triangle_line;
    read_int_at(run.input_file, run.read_pos, strip_index_count);
    check_step(537);
    run.read_pos += 4;
    check_step(538);
    read_int_at(run.input_file, run.read_pos, w.window_1);
    check_step(539);
    run.read_pos += 4;
    check_step(540);
    read_int_at(run.input_file, run.read_pos, w.window_2);
    check_step(541);
    run.read_pos += 4;
    check_step(542);
    read_int_at(run.input_file, run.read_pos, w.window_3);
    check_step(543);
    run.read_pos += 4;
    check_step(544);

    format_triangle_line(w.window_1, w.window_2, w.window_3, triangle_line);
    write_triangle_line(run.wrl_temp_file, triangle_line);
    check_step(545);
    write_triangle_line(run.iv_temp_file, triangle_line);
    check_step(546);
    const bool first_strip_goes_on = !holds_marker(w);
    w.window_1 = w.window_2;
    check_step(551);
    w.window_2 = w.window_3;
    check_step(552);
    float swap_next = first_strip_goes_on ? 1 : 0;
    check_step(553);

    for (std::int64_t strip_index_no = 4; strip_index_no <= strip_index_count;
         ++strip_index_no) { // 554
        if (past_the_records(run, strip_index_count))
            break;
        read_int_at(run.input_file, run.read_pos, w.window_3);
        check_step(555);
        run.read_pos += 4;
        check_step(556);
        if (holds_marker(w)) { // 558
            swap_next = 0;
            check_step(559);
        } else if (swap_next == 1) { // 563
            format_triangle_line(w.window_1, w.window_3, w.window_2, triangle_line);
            write_triangle_line(run.wrl_temp_file, triangle_line);
            check_step(564);
            write_triangle_line(run.iv_temp_file, triangle_line);
            check_step(565);
            swap_next = 0;
            check_step(566);
        } else {
            format_triangle_line(w.window_1, w.window_2, w.window_3, triangle_line);
            write_triangle_line(run.wrl_temp_file, triangle_line);
            check_step(571);
            write_triangle_line(run.iv_temp_file, triangle_line);
            check_step(572);
            swap_next = 1;
            check_step(573);
        }
        w.window_1 = w.window_2;
        check_step(579);
        w.window_2 = w.window_3;
        check_step(580);
    }
}

} // namespace

void walk_strip(RunState& run, IndexPass pass) {
    if (pass == IndexPass::First)
        walk_first_pass(run);
    else
        walk_second_pass(run);
}
