// Blank handling shared by the run and the header scan.
#pragma once

#include <string>

// Removes the blanks (byte 32, and no other) at both ends of text.
void trim_blanks(std::string& text);
