// The fixed lines of the VRML and Inventor texts: the heads, the ends and middles of the lists,
// and the tails. Each step writes one line to one temporary file.
#include "converter/scene_text.h"

#include <string_view>

#include "converter/stages.h"
#include "platform/console/console.h"
#include "platform/file_layer/file_access.h"

namespace {

void write_line(FileSlot& file, std::string_view text) {
    write_text_items(file, {text}, EndLine::Yes);
}

} // namespace

std::string make_iv_comment() {
    std::string text = "Convert BINARY .ply to .iv (Inventor) by Morvantellis  ";
    text += contact_address;
    text.resize(80, ' ');
    return text;
}

void write_heads(RunState& run) {
    write_line(run.wrl_temp_file, "#VRML V2.0 utf8 ");
    check_step(192);
    // Two texts: when the comment fails after "# ", the next line continues this one.
    write_text_items(run.wrl_temp_file, {"# ", run.wrl_comment}, EndLine::Yes);
    check_step(193);
    write_line(run.wrl_temp_file, " ");
    check_step(194);
    write_line(run.wrl_temp_file, "Shape {");
    check_step(195);
    write_line(run.wrl_temp_file, "  geometry IndexedFaceSet {");
    check_step(196);
    write_line(run.wrl_temp_file, "    solid FALSE");
    check_step(197);
    write_line(run.wrl_temp_file, "    coord Coordinate {");
    check_step(198);
    write_line(run.wrl_temp_file, "      point [");
    check_step(199);

    write_line(run.iv_temp_file, "#Inventor V2.1 ascii ");
    check_step(203);
    write_text_items(run.iv_temp_file, {"# ", run.iv_comment}, EndLine::Yes);
    check_step(204);
    write_line(run.iv_temp_file, " ");
    check_step(205);
    write_line(run.iv_temp_file, "Separator {");
    check_step(206);
    write_line(run.iv_temp_file, "   LightModel { model PHONG }");
    check_step(208);
    write_line(run.iv_temp_file, "   ShapeHints { creaseAngle 0.5 }");
    check_step(209);
    write_line(run.iv_temp_file, "   Coordinate3 {");
    check_step(210);
    write_line(run.iv_temp_file, "     point    [");
    check_step(211);
}

void write_point_list_ends(RunState& run) {
    // The extra point closes each point list without a comma.
    write_line(run.wrl_temp_file, "0 0 0");
    check_step(234);
    write_line(run.wrl_temp_file, "]");
    check_step(235);
    write_line(run.wrl_temp_file, "}");
    check_step(236);
    write_line(run.wrl_temp_file, "colorPerVertex TRUE");
    check_step(238);
    write_line(run.wrl_temp_file, "color Color {");
    check_step(239);
    write_line(run.wrl_temp_file, "color [");
    check_step(240);

    write_line(run.iv_temp_file, "0 0 0");
    check_step(242);
    write_line(run.iv_temp_file, "]");
    check_step(243);
    write_line(run.iv_temp_file, "}");
    check_step(244);
    write_line(run.iv_temp_file, "Material {");
    check_step(246);
    write_line(run.iv_temp_file, "ambientColor 0.1 0.1 0.1");
    check_step(247);
    write_line(run.iv_temp_file, "diffuseColor [");
    check_step(248);
}

void write_colour_list_ends(RunState& run) {
    write_line(run.wrl_temp_file, "]");
    check_step(284);
    write_line(run.wrl_temp_file, "}");
    check_step(285);
    write_line(run.iv_temp_file, "]");
    check_step(287);
    write_line(run.iv_temp_file, "}");
    check_step(288);
    write_line(run.wrl_temp_file, "solid FALSE");
    check_step(290);
    write_line(run.wrl_temp_file, "creaseAngle 0.5");
    check_step(291);
    write_line(run.wrl_temp_file, "coordIndex [");
    check_step(292);
    write_line(run.iv_temp_file, "MaterialBinding { value PER_VERTEX_INDEXED }");
    check_step(294);
    write_line(run.iv_temp_file, "  IndexedFaceSet {");
    check_step(295);
    write_line(run.iv_temp_file, "  coordIndex [");
    check_step(296);
}

void write_index_list_middles(RunState& run) {
    write_line(run.wrl_temp_file, "]");
    check_step(528);
    write_line(run.wrl_temp_file, "colorIndex [");
    check_step(529);
    write_line(run.iv_temp_file, "]");
    check_step(530);
    write_line(run.iv_temp_file, "materialIndex [");
    check_step(531);
}

void write_tails(RunState& run) {
    write_line(run.wrl_temp_file, "]");
    check_step(607);
    write_line(run.wrl_temp_file, "}");
    check_step(608);
    write_line(run.wrl_temp_file, "}");
    check_step(609);
    write_line(run.iv_temp_file, "]");
    check_step(611);
    write_line(run.iv_temp_file, "}");
    check_step(612);
    write_line(run.iv_temp_file, "}");
    check_step(613);
}
