// The converter's main routine: the whole run as one sequence of numbered steps, from the
// banner to the key wait at the end.
#include <cfenv>
#include <fpu_control.h>

#include "converter/blanks.h"
#include "converter/scene_text.h"
#include "converter/stages.h"
#include "converter/stl_writer.h"
#include "platform/console/console.h"
#include "platform/file_layer/file_access.h"

namespace {

// Every computation of the run: the full 64-bit significand of the extended format, rounding to
// nearest with ties to even. The x87 unit starts so on Linux; setting it keeps it so.
void set_arithmetic_precision() {
    fpu_control_t control;
    _FPU_GETCW(control);
    control = (control & ~(_FPU_EXTENDED | _FPU_RC_ZERO)) | _FPU_EXTENDED | _FPU_RC_NEAREST;
    _FPU_SETCW(control);
    std::fesetround(FE_TONEAREST);
}

} // namespace

void run_converter() {
    set_arithmetic_precision();
    RunState run;

    run.wrl_comment = wrl_comment_start;
    check_step(71);
    run.wrl_comment += contact_address;
    check_step(72);
    run.wrl_comment.resize(80, ' ');
    check_step(73);
    run.iv_comment = make_iv_comment();
    check_step(74);
    run.stl_head_text = make_stl_head_text();
    check_step(75);

    print_row({"Software by Morvantellis ", contact_address});
    check_step(77);
    print_row({"Input files and output files must be 8 characters prefix "});
    check_step(78);
    print_row({"and 3 character suffix (DOS standard). "});
    check_step(79);
    print_row({" Beta software use at your own risk."});
    check_step(80);
    print_row({});
    check_step(82);
    print_row({" This program will only read BINARY ply files "});
    check_step(83);
    print_row({" it will NOT read ASCII ply files. The output will"});
    check_step(84);
    print_row({" be 3 files: one VRML, one Inventor and one STL "});
    check_step(85);
    print_row({" ENTER BINARY PLY (.PLY) file: "});
    check_step(86);
    input_answer(run.input_name);
    check_step(87);
    print_row({" Enter name of ouput 3D file (Do not put extension) "});
    check_step(88);
    input_answer(run.base_name);
    check_step(89);
    trim_blanks(run.base_name);
    check_step(91);
    run.wrl_name = run.base_name + ".wrl";
    check_step(93);
    run.iv_name = run.base_name + ".iv";
    check_step(94);
    run.stl_name = run.base_name + ".stl";
    check_step(95);
    print_row({});
    check_step(97);

    open_byte_file(run.input_file, run.input_name, EmptyFirst::No);
    check_step(99);
    open_text_writer(run.wrl_temp_file, "TEMP1.TMP");
    check_step(100);
    open_text_writer(run.iv_temp_file, "TEMP2.TMP");
    check_step(101);
    open_byte_file(run.stl_file, run.stl_name, EmptyFirst::Yes);
    check_step(102);
    print_row({" ", run.input_name, " > ", run.wrl_name, " & ", run.iv_name, " & ", run.stl_name});
    check_step(104);

    run.read_pos = 1;
    check_step(107);
    run.line_buffer = TextLine{}; // blank
    check_step(108);
    run.header_line_no = 1;
    check_step(109);
    run.vertex_count = 0;
    check_step(110);
    run.face_count = 0;
    check_step(111);
    run.stl_pos = 1;
    check_step(112);
    run.is_strip_file = 0;
    check_step(113);

    write_stl_head(run);         // 115-116
    scan_header(run);            // 118-186; ends the run itself when the file cannot be converted
    write_heads(run);            // 192-211
    write_coordinate_pass(run);  // 213-231
    write_point_list_ends(run);  // 234-248
    write_colour_pass(run);      // 250-281
    write_colour_list_ends(run); // 284-296

    bool strip_file = run.is_strip_file == 1;
    check_step(298);
    if (strip_file)
        walk_strip(run, IndexPass::First); // 300-450
    else
        write_face_pass(run, IndexPass::First); // 455-521

    write_index_list_middles(run); // 528-531
    run.read_pos = run.face_start;
    check_step(533);

    strip_file = run.is_strip_file == 1;
    check_step(535);
    if (strip_file)
        walk_strip(run, IndexPass::Second); // 537-580
    else
        write_face_pass(run, IndexPass::Second); // 586-602

    write_tails(run); // 607-613
    close_file(run.input_file);
    check_step(615);
    close_file(run.wrl_temp_file);
    check_step(616);
    close_file(run.iv_temp_file);
    check_step(617);
    write_stl_final_count(run); // 619-620
    close_file(run.stl_file);
    check_step(621);

    clean_up_text_file(run, "TEMP1.TMP", run.wrl_name, wrl_clean_up_steps); // 623-650
    clean_up_text_file(run, "TEMP2.TMP", run.iv_name, iv_clean_up_steps);   // 652-679
    delete_file("TEMP1.TMP");
    check_step(681);
    delete_file("TEMP2.TMP");
    check_step(682);
    end_run(684);
}
