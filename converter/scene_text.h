// The fixed lines of the VRML and Inventor texts and their two comment texts.
#pragma once

#include <string>

#include "converter/run_state.h"

// The VRML comment text before the contact address; 55 characters, ending in one blank.
inline constexpr const char* wrl_comment_start =
    "Convert BINARY .ply to .wrl (vrml) . by Morvantellis . ";

// "Convert BINARY .ply to .iv (Inventor) by Morvantellis  ", the contact address, blanks to 80.
std::string make_iv_comment();
