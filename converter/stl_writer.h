// The binary STL file: its head text, its two count writes, the facets and their normal.
#pragma once

#include <string>

#include "converter/run_state.h"
#include "converter/step_tables.h"

// "Convert .ply > .stl (Stereolithography) by Morvantellis", a blank, the contact address,
// blanks up to 80 characters.
std::string make_stl_head_text();

// Writes face_count at stl_pos (offset 80) and moves stl_pos past it, with the steps of a strip
// file or a face file.
void write_stl_first_count(RunState& run, const FirstCountSteps& steps);

// Reads the corners by the vertex numbers vertex_a, vertex_b and vertex_c, computes the normal
// and writes the facet at stl_pos. corner_count is how many of the three corners the face
// gives: a missing corner repeats the last given one, and with none the facet is all zeros.
// steps are those of the call site: the first strip triangle, further ones or a face.
void write_stl_facet(RunState& run, const FacetSteps& steps, int corner_count);

// N = (A - C) x (B - C): 32-bit differences, exact products, one rounding of each difference
// of products to the extended format, then to a 32-bit float.
void facet_normal(const float a[3], const float b[3], const float c[3], float normal[3]);
