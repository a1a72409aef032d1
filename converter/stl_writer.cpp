// The binary STL file: the head before the header scan, the first count before the facets,
// one 50-byte facet per face or triangle, and the final count at offset 80.
#include "converter/stl_writer.h"

#include <string_view>

#include "converter/stages.h"
#include "platform/console/console.h"
#include "platform/file_layer/file_access.h"

namespace {

// The distance from one vertex record to the next: in a strip file 15 = 12 for x, y, z + 3 for
// the colour; in a face file 19 = 12 for x, y, z + 4 skipped + 3 for the colour.
double vertex_stride(const RunState& run) {
    return run.is_strip_file == 1 ? 15 : 19;
}

} // namespace

std::string make_stl_head_text() {
    std::string text = "Convert .ply > .stl (Stereolithography) by Morvantellis ";
    text += contact_address;
    text.resize(80, ' '); // blanks after a short text, the cut after a long one
    return text;
}

void write_stl_head(RunState& run) {
    write_text_at(run.stl_file, run.stl_pos, run.stl_head_text);
    check_step(115);
    run.stl_pos += 80;
    check_step(116);
}

void write_stl_first_count(RunState& run, const FirstCountSteps& steps) {
    write_int_at(run.stl_file, run.stl_pos, run.face_count);
    check_step(steps.write);
    run.stl_pos += 4;
    check_step(steps.move);
}

void write_stl_final_count(RunState& run) {
    run.stl_pos = 81;
    check_step(619);
    // The count of the facets that follow it, whatever the header said of the faces.
    std::int32_t count = static_cast<std::int32_t>(static_cast<std::uint32_t>(run.facets_written));
    write_int_at(run.stl_file, run.stl_pos, count);
    check_step(620);
}

void write_stl_facet(RunState& run, const FacetSteps& steps, int corner_count) {
    const double numbers[3] = {
        run.vertex_a,
        corner_count >= 2 ? run.vertex_b : run.vertex_a,
        corner_count >= 3 ? run.vertex_c : (corner_count >= 2 ? run.vertex_b : run.vertex_a),
    };
    for (int corner = 0; corner < 3; ++corner) {
        const CornerSteps& corner_steps = steps.corners[corner];
        float* coordinates = &run.facet[3 + 3 * corner];
        if (corner_count == 0) {
            // A face without indices gives a degenerate facet of zeros, never another face's.
            coordinates[0] = coordinates[1] = coordinates[2] = 0;
            continue;
        }
        // Exact in the extended format for every vertex number a 32-bit index gives.
        run.vertex_pos = static_cast<double>((static_cast<long double>(numbers[corner]) - 1) *
                                                 vertex_stride(run) +
                                             static_cast<long double>(run.vertex_start));
        check_step(corner_steps.position);
        read_float_at(run.input_file, run.vertex_pos, run.coord_x);
        check_step(corner_steps.read_x);
        run.vertex_pos += 4;
        check_step(corner_steps.move_to_y);
        read_float_at(run.input_file, run.vertex_pos, run.coord_y);
        check_step(corner_steps.read_y);
        run.vertex_pos += 4;
        check_step(corner_steps.move_to_z);
        read_float_at(run.input_file, run.vertex_pos, run.coord_z);
        check_step(corner_steps.read_z);
        coordinates[0] = run.coord_x;
        check_step(corner_steps.copy_x);
        coordinates[1] = run.coord_y;
        check_step(corner_steps.copy_y);
        coordinates[2] = run.coord_z;
        check_step(corner_steps.copy_z);
    }

    float normal[3];
    facet_normal(&run.facet[3], &run.facet[6], &run.facet[9], normal);
    check_step(steps.normal.compute);
    run.facet[0] = normal[0];
    check_step(steps.normal.copy[0]);
    run.facet[1] = normal[1];
    check_step(steps.normal.copy[1]);
    run.facet[2] = normal[2];
    check_step(steps.normal.copy[2]);

    ++run.facets_written;
    // Copied out of the table, so that the 36 checks of the loop find their numbers in
    // registers: through the reference each check loaded its number even when it had nothing
    // to do.
    const FloatSteps each_float = steps.each_float;
    for (int i = 1; i <= 12; ++i) {
        float value = run.facet[i - 1];
        check_step(each_float.take);
        write_float_at(run.stl_file, run.stl_pos, value);
        check_step(each_float.write);
        run.stl_pos += 4;
        check_step(each_float.move);
    }

    // The position moves on first, so the next facet starts 50 bytes on even if this fails.
    const double attribute_pos = run.stl_pos;
    run.stl_pos += 2;
    write_text_at(run.stl_file, attribute_pos, std::string_view("\0\0", 2));
    check_step(steps.attribute_bytes);
}

void facet_normal(const float a[3], const float b[3], const float c[3], float normal[3]) {
    // [690-695] 32-bit float differences, each rounded to nearest.
    const float ux = a[0] - c[0];
    const float uy = a[1] - c[1];
    const float uz = a[2] - c[2];
    const float wx = b[0] - c[0];
    const float wy = b[1] - c[1];
    const float wz = b[2] - c[2];
    // [696-698] A product of two 32-bit floats is exact in the extended format; the difference
    // is rounded once to its 64-bit significand, then once more to a 32-bit float.
    using Wide = long double;
    normal[0] = static_cast<float>(Wide(uy) * Wide(wz) - Wide(wy) * Wide(uz));
    normal[1] = static_cast<float>(Wide(uz) * Wide(wx) - Wide(ux) * Wide(wz));
    normal[2] = static_cast<float>(Wide(ux) * Wide(wy) - Wide(uy) * Wide(wx));
}
